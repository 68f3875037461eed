#include "functionsfloat/functionsfloat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "common/rowblocks.h"

namespace edgeseg {

namespace {

// Negative values cannot come from a gradient; they are counted in bin 0,
// and values from the last bin's on in the last bin.
int BinOf(float v) {
  constexpr float kLastBin = kHistogramBins - 1;
  if (!(v >= 0.0f)) return 0;
  if (v >= kLastBin) return kHistogramBins - 1;
  return static_cast<int>(v);
}

// First bin at which the cumulative count c satisfies reached(c). The full
// count always satisfies it, so a bin is found.
template <class Reached>
int FirstBinWhere(const std::array<std::int32_t, kHistogramBins>& histogram, Reached reached) {
  std::int64_t c = 0;
  for (int k = 0; k < kHistogramBins; ++k) {
    c += histogram[k];
    if (reached(c)) return k;
  }
  return kHistogramBins - 1;
}

// The gradient of the cell whose top-left pixel is at p, in an image of the
// given width, from its exact sum of squares (below 2^34, exact in double).
float RobertsCross(const std::uint16_t* p, std::size_t width) {
  return RootOfDoubleSquares(static_cast<double>(ExactSumOfSquares(p, width)));
}

// The gradients of count cells from the one whose top-left pixel is at top.
// Float arithmetic first, four cells in one instruction; a range in which
// any sum of squares reached 2^24 (differences of more than about 2900) is
// taken again in double.
void CrossRange(float* out, const std::uint16_t* top, std::size_t count, std::size_t width) {
  int inexact = 0;  // an OR, not a maximum, so that the loop vectorises
  for (std::size_t k = 0; k < count; ++k) {
    const float squares = FloatSquaresOfCell(top + k, width);
    inexact |= squares >= kExactFloatSquares ? 1 : 0;
    out[k] = RootOfExactFloatSquares(squares);
  }
  if (inexact == 0) return;
  for (std::size_t k = 0; k < count; ++k) out[k] = RobertsCross(top + k, width);
}

// The mask of count cells from the one whose top-left pixel is at top: 1
// where the sum of squares reaches from (FirstSumAbove), as floats first, as
// the gradient is; a range whose float sums reached 2^24 is taken again
// exactly when from lies above 2^24, the one case in which a rounded sum
// could land on the wrong side.
void BinarizeRange(std::uint16_t* out, const std::uint16_t* top, std::size_t count, std::size_t width,
                   std::uint64_t from) {
  const auto fromAsFloat = static_cast<float>(from);
  int inexact = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const float squares = FloatSquaresOfCell(top + k, width);
    inexact |= squares >= kExactFloatSquares ? 1 : 0;
    out[k] = squares >= fromAsFloat ? 1 : 0;
  }
  if (inexact == 0 || from <= static_cast<std::uint64_t>(kExactFloatSquares)) return;
  for (std::size_t k = 0; k < count; ++k) out[k] = ExactSumOfSquares(top + k, width) >= from ? 1 : 0;
}

// Calls range(out, top, count) to write the values of count cells from the
// one whose top-left pixel is at top, so that the cell rows firstRow to
// endRow - 1 of the image land in order from out on. Short rows go a block
// at a time: the block's top-left pixels as one range into scratch, whose
// last column reads across the row end and is then left out by a pick
// pattern that is the same for every block (a row-by-row copy would cost
// more than the cells for rows of a few samples).
template <class T, class Range>
void ForEachCellRange(T* out, const std::uint16_t* image, std::size_t width, std::size_t first, std::size_t end,
                      Range range) {
  const std::size_t cellWidth = width - 1;
  if (width >= kShortRowWidth) {
    for (std::size_t y = first; y < end; ++y, out += cellWidth) range(out, image + y * width, cellWidth);
    return;
  }
  const std::size_t blockRows = BlockRows(width);
  T cells[kBlockSamples];
  std::uint16_t pick[kBlockSamples];
  for (std::size_t o = 0; o < blockRows * cellWidth; ++o) {
    pick[o] = static_cast<std::uint16_t>(o / cellWidth * width + o % cellWidth);
  }
  ForEachRowBlock(first, end, blockRows, [&](std::size_t y0, std::size_t rows) {
    // The block's very last pixel has no cell and nothing right of it.
    range(cells, image + y0 * width, rows * width - 1);
    for (std::size_t o = 0; o < rows * cellWidth; ++o) *out++ = cells[pick[o]];
  });
}

}  // namespace

void ComputeRobertsGradient(float* gradient, const std::uint16_t* image, std::int32_t W,
                            std::int32_t H, std::int32_t firstRow, std::int32_t endRow) {
  if (W < 2 || H < 2 || firstRow >= endRow) return;
  const std::size_t width = static_cast<std::size_t>(W);
  ForEachCellRange(gradient, image, width, static_cast<std::size_t>(firstRow), static_cast<std::size_t>(endRow),
                   [width](float* out, const std::uint16_t* top, std::size_t count) {
                     CrossRange(out, top, count, width);
                   });
}

void BinarizeRobertsGradient(std::uint16_t* mask, const std::uint16_t* image, std::int32_t W, std::int32_t H,
                             std::int32_t firstRow, std::int32_t endRow, float threshold) {
  if (W < 2 || H < 2 || firstRow >= endRow) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::uint64_t from = FirstSumAbove(threshold);
  ForEachCellRange(mask, image, width, static_cast<std::size_t>(firstRow), static_cast<std::size_t>(endRow),
                   [width, from](std::uint16_t* out, const std::uint16_t* top, std::size_t count) {
                     BinarizeRange(out, top, count, width, from);
                   });
}

GradientStatsAccumulator::GradientStatsAccumulator(std::int32_t w, std::int32_t h) : w_(w), h_(h) {
  if (w < 3 || h < 3) throw std::runtime_error("no inner gradient samples");
}

void GradientStatsAccumulator::AddRows(const float* rows, std::int32_t count) {
  const std::int32_t first = nextRow_;
  nextRow_ += count;
  if (first == 0 && count > 0) {
    // The extremes start from the corner sample, although it lies on the
    // frame.
    lowest_ = rows[0];
    highest_ = rows[0];
  }
  // Plain double sums in row order: the sign of a variance that rounds to
  // just below zero depends on exactly this order and precision. The sums
  // and extremes are kept in locals for the loop, so that it keeps them in
  // registers rather than in the object.
  double sum = sum_;
  double sumSquares = sumSquares_;
  float lowest = lowest_;
  float highest = highest_;
  for (std::int32_t y = std::max(first, 1); y < std::min(nextRow_, h_ - 1); ++y) {
    const float* row = rows + static_cast<std::size_t>(y - first) * static_cast<std::size_t>(w_);
    for (std::int32_t x = 1; x < w_ - 1; ++x) {
      const float v = row[x];
      lowest = v < lowest ? v : lowest;
      highest = v > highest ? v : highest;
      sum += v;
      sumSquares += static_cast<double>(v) * v;
      ++histogram_[BinOf(v)];
    }
  }
  sum_ = sum;
  sumSquares_ = sumSquares;
  lowest_ = lowest;
  highest_ = highest;
}

GradientStats GradientStatsAccumulator::Finish() const {
  GradientStats stats;
  stats.minValue = lowest_;
  stats.maxValue = highest_;
  stats.histogram = histogram_;
  const std::int32_t n = (w_ - 2) * (h_ - 2);
  stats.sampleCount = n;
  stats.mean = static_cast<float>(sum_ / n);
  const double m = stats.mean;
  const double variance = (sumSquares_ - static_cast<double>(n) * m * m) / n;
  stats.stdDev = variance < 0 ? std::numeric_limits<float>::quiet_NaN() : static_cast<float>(std::sqrt(variance));

  const std::int64_t count = n;
  stats.lowBin = static_cast<float>(
      FirstBinWhere(stats.histogram, [count](std::int64_t c) { return 100 * c > count; }));
  stats.highBin = static_cast<float>(
      FirstBinWhere(stats.histogram, [count](std::int64_t c) { return 100 * c >= 99 * count; }));
  for (int k = 0; k < kHistogramBins; ++k) {
    if (stats.histogram[k] > stats.peakCount) {
      stats.peakCount = stats.histogram[k];
      stats.peakBin = static_cast<float>(k);
    }
  }
  return stats;
}

GradientStats ComputeGradientStats(const float* gradient, std::int32_t w, std::int32_t h) {
  GradientStatsAccumulator accumulator(w, h);
  accumulator.AddRows(gradient, h);
  const GradientStats stats = accumulator.Finish();
  if (VarianceBelowZero(stats)) WriteDomainErrorReport();
  return stats;
}

bool VarianceBelowZero(const GradientStats& stats) { return std::isnan(stats.stdDev); }

void WriteDomainErrorReport() { std::fputs("\r\nsqrt: DOMAIN error\r\n", stderr); }

void BinarizeGradient(std::uint16_t* mask, const float* gradient, std::int32_t w,
                      std::int32_t h, float threshold) {
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  for (std::size_t i = 0; i < n; ++i) mask[i] = gradient[i] > threshold ? 1 : 0;
}

}  // namespace edgeseg
