#pragma once
// Mask operations on Image16 buffers (row-major 16-bit samples, sample
// (x, y) at y*W + x) and the labelling of regions.

#include <cstdint>

namespace edgeseg {

// Every frame sample (first and last row, first and last column) that is 0
// becomes key; non-zero frame samples keep their value.
void SetBorderZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key);

// Every sample equal to key becomes 0. A key of 0 does nothing.
void ClearValue(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key);

// Carries a cell mask ((W-1) x (H-1), read) to the pixel grid (W x H,
// written whole): an inner pixel is 1 when the four cells that share it as a
// corner are all non-zero, else 0; frame pixels are 0.
void CellMaskToPixelMask(std::uint16_t* pixelMask, const std::uint16_t* cellMask, std::int32_t W,
                         std::int32_t H);

// Replaces, in place, every 8-connected region of one non-zero value by its
// final label: regions of minSize pixels or fewer become 0, the others are
// numbered 1, 2, 3... in scan order of their first pixels. Pixels of
// different values never join. Neighbours outside the image do not match,
// so the last pixel of a row is no neighbour of the first of the next.
// Returns the number of label replacements an eager merging scan makes (one
// for each matching neighbour whose label differs from the smallest one
// found, duplicates included; at most 2^31 - 1, where it stops counting).
// Throws if more than 65535 regions survive,
// since their labels would not fit in 16 bits; the image is then unchanged.
// Scratch memory is a few words per column and three per provisional label
// (its parent, its size and its final label), whatever the height.
std::int32_t LabelRegions(std::uint16_t* image, std::int32_t W, std::int32_t H,
                          std::uint32_t minSize);

// Sets every entry of labels[0..lastIndex] that equals oldLabel to newLabel.
// A lastIndex of -1 changes nothing.
// LabelRegions does not call it: it merges labels through a union-find. It
// stays as the unit's named operation, the merge step of a plain eager-
// merging scan, which rewrites every earlier label at each merge. Such a
// scan, written in the tests over 32-bit labels, is the model that
// LabelRegions is checked against, labels and replacement count alike.
void ReplaceLabel(std::uint16_t* labels, std::int32_t lastIndex, std::uint16_t oldLabel,
                  std::uint16_t newLabel);

}  // namespace edgeseg
