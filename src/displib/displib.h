#pragma once
// Colour rendering of images into a TBitmap. Every renderer first sizes the
// bitmap to W x H (height before width) and switches it to 32 bits, then
// writes bytes 0-2 (blue, green, red) of every pixel and never byte 3.

#include <array>
#include <cstdint>
#include <vector>

#include "bitmap/bitmap.h"

namespace edgeseg {

// 256 colours from dark blue through cyan, yellow and red to dark red. Each
// channel is a tent: min(255, max(0, 383 - 4*|i - c|)) with its centre c at
// 191 for red, 127 for green and 63 for blue.
struct ColorTable {
  std::array<std::uint8_t, 256> red;
  std::array<std::uint8_t, 256> green;
  std::array<std::uint8_t, 256> blue;
};

constexpr std::uint8_t TentChannel(int i, int centre) {
  const int distance = i < centre ? centre - i : i - centre;
  const int v = 383 - 4 * distance;
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

constexpr ColorTable MakeColorMap() {
  ColorTable table{};
  for (int i = 0; i < 256; ++i) {
    table.red[i] = TentChannel(i, 191);
    table.green[i] = TentChannel(i, 127);
    table.blue[i] = TentChannel(i, 63);
  }
  return table;
}

inline constexpr ColorTable ColorMap = MakeColorMap();

// 16 label colours in pixel byte order: blue, green, red, spare (0).
// Entries 0 and 14 hold the same colour.
inline constexpr std::array<std::array<std::uint8_t, 4>, 16> LabelPalette = {{
    {0, 255, 196, 0},    // 0
    {0, 0, 255, 0},      // 1 red
    {0, 255, 0, 0},      // 2 green
    {255, 0, 0, 0},      // 3 blue
    {255, 255, 0, 0},    // 4
    {255, 0, 255, 0},    // 5
    {0, 255, 255, 0},    // 6
    {0, 128, 255, 0},    // 7
    {128, 0, 255, 0},    // 8
    {0, 255, 128, 0},    // 9
    {128, 255, 0, 0},    // 10
    {255, 0, 128, 0},    // 11
    {255, 128, 0, 0},    // 12
    {0, 196, 255, 0},    // 13
    {0, 255, 196, 0},    // 14
    {255, 0, 196, 0},    // 15
}};

// Maps the window [low, high] of the W*H samples linearly onto the colour
// map: index floor(v) of v = s*scale - low*scale, scale = 255/(high - low)
// (a span of 0 counts as 1), clamped to 0..255; a NaN maps to 0.
void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    std::int32_t low, std::int32_t high);

// The colour index that the window [low, high] gives each 16-bit value, as
// above: a picture drawn a band of rows at a time makes it once.
struct SampleWindow {
  std::vector<std::uint8_t> indexOf;  // 65536 entries, one per value
};
SampleWindow MakeSampleWindow(std::int32_t low, std::int32_t high);

// RenderWindowed through a window made beforehand.
void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    const SampleWindow& window);
void RenderWindowedFloat(const float* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                         float low, float high);

// The window [low, high] of RenderWindowedFloat, seen from the Roberts
// gradient's sum of squares s (GradientOfSumOfSquares in functionsfloat.h)
// rather than from the gradient: a picture drawn a band of rows at a time
// makes it once. When the window's scale 255/span is finite, the colour
// index is a monotone function of the gradient (the gradient times the
// scale is exact in double, and each later rounding and the clamp keep the
// order), and so of s. from[k-1] is then the smallest s whose index, counted
// the window's way up (255 - index when the scale is negative), is at least
// k, or kMaxSumOfSquares + 1 when there is none; a cell's count is the
// number of k with s >= from[k-1], found by comparisons alone.
// colourByKey holds the colour word of each key of a float sum of squares
// (its exponent and top mantissa bits), or a word with its spare byte set
// where a breakpoint falls inside the key's range of s or the sum may be
// inexact, and the cell is counted by the breakpoints. When the scale is
// infinite or NaN, exact is false and nothing else is set: such a window is
// drawn from the float gradient.
struct GradientWindow {
  bool exact = false;
  std::array<std::uint64_t, 255> from{};
  std::array<std::uint32_t, 256> colourOfCount{};  // the colour word of each count
  std::vector<std::uint32_t> colourByKey;
};
GradientWindow MakeGradientWindow(float low, float high);

// Draws the cells of rows firstRow to firstRow + rows - 1 of the Roberts
// gradient of the W x H samples through an exact window into the bitmap,
// sized to (W-1) x rows: byte for byte what RenderWindowedFloat draws from
// ComputeRobertsGradient's values for those rows. Requires window.exact and
// 0 <= firstRow, firstRow + rows <= H - 1.
void RenderWindowedGradient(const std::uint16_t* samples, std::int32_t W, std::int32_t firstRow, std::int32_t rows,
                            TBitmap& bitmap, const GradientWindow& window);

// Label 0 is black; any other label takes LabelPalette[label mod 16].
void RenderLabels(const std::uint16_t* labels, TBitmap& bitmap, std::int32_t W, std::int32_t H);

}  // namespace edgeseg
