#pragma once
// edgeseg as a library: the analysis a run of the command makes, on an image
// held in memory, and its three pictures as RGB bytes. The calls keep no
// state between them and share none, install no signal handler and print
// nothing, so any number may run at once on different images. Link the
// CMake target edgeseg::edgeseg (find_package(edgeseg)).

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "edgeseg/gradientstats.h"

namespace edgeseg {

// What the calls throw for an image they cannot segment; what() names the
// cause. Memory that cannot be obtained is std::bad_alloc.
struct Error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a segmentation found: the count of regions (labels 1 to regions),
// the gradient threshold chosen, the gradient's statistics, and whether
// rounding left their variance below zero (statistics.stdDev is then a NaN;
// the command reports it as "sqrt: DOMAIN error" on standard error).
struct Result {
  std::int32_t regions;
  float threshold;
  GradientStats statistics;
  bool varianceBelowZero;
};

// Segments a width x height image of 16-bit samples, row y at image + y *
// rowStride (in samples, >= width), into labels (width * height samples,
// row-major, caller-owned): 0 for the background, 1 to regions for the
// regions in the order of their first pixel, the numbers of the command's
// label file. Reads image only; the caller must not change it during the
// call. Throws Error for a side of 3 or less, more than 2^31 - 1 pixels, a
// stride below the width, or more than 65535 regions (its text names the
// cause).
Result Segment(const std::uint16_t* image, std::int32_t width, std::int32_t height, std::ptrdiff_t rowStride,
               std::uint16_t* labels);

enum class Picture { Input, Regions, Gradient };

// Draws one of the three pictures as RGB bytes, top row first, 3 bytes a
// pixel: width x height for Input and Regions, (width - 1) x (height - 1)
// for Gradient (its window is result.statistics' minimum and maximum);
// exactly the pixels of the command's BMP file. image and labels are as
// Segment took and gave them; labels are read for Regions only, result for
// Gradient only. Throws Error for the shapes Segment refuses.
void DrawPicture(Picture which, const std::uint16_t* image, std::int32_t width, std::int32_t height,
                 std::ptrdiff_t rowStride, const std::uint16_t* labels, const Result& result, std::uint8_t* rgb);

}  // namespace edgeseg
