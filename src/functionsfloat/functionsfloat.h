#pragma once
// The gradient of an image, its statistics and its binarisation.
//
// The gradient lives on the grid of cells between the pixels: for a W x H
// image it measures (W-1) x (H-1), and cell (x, y) is the 2 x 2 block of
// pixels whose top-left pixel is (x, y). A GradientImage is a row-major
// array of 32-bit floats of that size.

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "edgeseg/gradientstats.h"

namespace edgeseg {

// The gradient of a cell is a function of s = a*a + b*b alone (a and b as
// below, so 0 <= s <= kMaxSumOfSquares < 2^33), non-decreasing in s. Below
// 2^24 every integer is a float, a sum of squares below it is exact in float
// too, and its float square root is the float nearest the exact root; above,
// the sum is exact in double and its root is rounded to float. Both are the
// float nearest the exact root where both apply: double has more than twice
// float's precision plus two bits, so the second rounding cannot move a
// square root. The gradient code takes these two roots, and the gradient
// picture finds its colours' bounds over s through GradientOfSumOfSquares.
inline constexpr std::uint64_t kMaxSumOfSquares = std::uint64_t{2} * 65535 * 65535;
inline constexpr float kExactFloatSquares = 16777216.0f;  // 2^24

// The root of a sum of squares below 2^24, computed in float.
inline float RootOfExactFloatSquares(float squares) { return std::sqrt(squares); }

// The root of any sum of squares, computed in double.
inline float RootOfDoubleSquares(double squares) { return static_cast<float>(std::sqrt(squares)); }

inline float GradientOfSumOfSquares(std::uint64_t s) {
  return s < static_cast<std::uint64_t>(kExactFloatSquares) ? RootOfExactFloatSquares(static_cast<float>(s))
                                     : RootOfDoubleSquares(static_cast<double>(s));
}

// The sum of squares of the cell whose top-left sample is at p, in an image
// of the given width (a and b as below): in float, as the gradient forms it
// first (exact below 2^24), and exactly.
inline float FloatSquaresOfCell(const std::uint16_t* p, std::size_t width) {
  const auto a = static_cast<float>(std::int32_t{p[0]} - p[width + 1]);
  const auto b = static_cast<float>(std::int32_t{p[1]} - p[width]);
  return a * a + b * b;
}
inline std::uint64_t ExactSumOfSquares(const std::uint16_t* p, std::size_t width) {
  const std::int64_t a = std::int32_t{p[0]} - p[width + 1];
  const std::int64_t b = std::int32_t{p[1]} - p[width];
  return static_cast<std::uint64_t>(a * a + b * b);
}

// Writes the Roberts-cross magnitude sqrt(a*a + b*b), with
// a = I(x,y) - I(x+1,y+1) and b = I(x+1,y) - I(x,y+1), rounded to nearest,
// for the cell rows firstRow to endRow - 1 of the W x H image, into gradient
// ((endRow - firstRow) * (W-1) floats, row firstRow first). A cell's value
// depends on its four pixels alone, so a gradient computed a range of rows
// at a time, or again, is the same bit for bit; nothing holds it whole.
// Requires 0 <= firstRow <= endRow <= H - 1.
void ComputeRobertsGradient(float* gradient, const std::uint16_t* image, std::int32_t W,
                            std::int32_t H, std::int32_t firstRow, std::int32_t endRow);

// The whole gradient, (W-1)*(H-1) floats.
inline void ComputeRobertsGradient(float* gradient, const std::uint16_t* image, std::int32_t W,
                                   std::int32_t H) {
  if (W >= 2 && H >= 2) ComputeRobertsGradient(gradient, image, W, H, 0, H - 1);
}

// The statistics of a w x h float image taken a range of rows at a time, in
// order, so that the image need never be held whole: Finish gives what
// ComputeGradientStats gives for the whole image, bit for bit, since each
// sum takes the samples one by one in the same row order.
class GradientStatsAccumulator {
 public:
  // Throws when there are no inner samples (w < 3 or h < 3), where the mean
  // would be 0/0.
  GradientStatsAccumulator(std::int32_t w, std::int32_t h);

  // Takes the next count rows of the image (count * w floats).
  void AddRows(const float* rows, std::int32_t count);

  // The statistics of every row added. The variance is taken against the
  // mean rounded to float and is not clamped: when rounding leaves it below
  // zero, stdDev is a NaN (VarianceBelowZero) and nothing else changes.
  // Nothing is printed: the caller reports it (WriteDomainErrorReport).
  GradientStats Finish() const;

 private:
  std::int32_t w_;
  std::int32_t h_;
  std::int32_t nextRow_ = 0;
  double sum_ = 0;
  double sumSquares_ = 0;
  float lowest_ = 0;
  float highest_ = 0;
  std::array<std::int32_t, kHistogramBins> histogram_{};
};

// Statistics of the whole w x h float image, as the accumulator gives them;
// a variance below zero is reported on standard error at once. A run takes
// the accumulator; this stays as the whole-image form the tests and the
// chain's fuzz target hold it to.
GradientStats ComputeGradientStats(const float* gradient, std::int32_t w, std::int32_t h);

// Whether rounding left the variance of these statistics below zero: the
// one case in which stdDev is a NaN.
bool VarianceBelowZero(const GradientStats& stats);

// The domain error report of a variance below zero,
// "\r\nsqrt: DOMAIN error\r\n", on standard error.
void WriteDomainErrorReport();

// mask[i] = 1 where gradient[i] > threshold, else 0, for all w*h samples,
// frame included: the plain form that BinarizeRobertsGradient, which a run
// takes, is held to.
void BinarizeGradient(std::uint16_t* mask, const float* gradient, std::int32_t w,
                      std::int32_t h, float threshold);

// The smallest sum of squares s for which reached(s) holds, or
// kMaxSumOfSquares + 1 when none does, by bisection; reached must never
// turn false as s grows, as a test of the gradient against a bound never
// does.
template <class Reached>
std::uint64_t FirstSumWhere(Reached reached) {
  std::uint64_t lo = 0;
  std::uint64_t hi = kMaxSumOfSquares + 1;
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    if (reached(mid)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return lo;
}

// The smallest sum of squares whose gradient exceeds threshold: a cell's
// gradient exceeds the threshold exactly when its sum of squares reaches
// this one.
inline std::uint64_t FirstSumAbove(float threshold) {
  return FirstSumWhere([threshold](std::uint64_t s) { return GradientOfSumOfSquares(s) > threshold; });
}

// BinarizeGradient of the Roberts gradient of the cell rows firstRow to
// endRow - 1, bit for bit, from each cell's sum of squares against
// FirstSumAbove(threshold): no square root, and no gradient held. mask
// takes (endRow - firstRow) * (W-1) samples. Requires
// 0 <= firstRow <= endRow <= H - 1.
void BinarizeRobertsGradient(std::uint16_t* mask, const std::uint16_t* image, std::int32_t W, std::int32_t H,
                             std::int32_t firstRow, std::int32_t endRow, float threshold);

}  // namespace edgeseg
