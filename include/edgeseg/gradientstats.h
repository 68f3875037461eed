#pragma once
// The statistics record of a gradient image, as a run computes it: what the
// threshold is chosen from, and what the gradient picture is windowed to.

#include <array>
#include <cstdint>

namespace edgeseg {

inline constexpr int kHistogramBins = 4096;

// Statistics of the inner samples (all but a one-sample frame) of a float
// image. minValue and maxValue start from the corner sample (0, 0) although
// it lies on the frame. Bin k holds values in [k, k+1); bin 4095 holds every
// value of 4095 or more. lowBin, highBin and peakBin are bin indices held as
// whole-number floats. stdDev is a NaN when rounding left the variance
// below zero.
struct GradientStats {
  float minValue = 0;
  float maxValue = 0;
  float mean = 0;
  float stdDev = 0;
  float lowBin = 0;        // first bin where the cumulative count exceeds 1 %
  float highBin = 0;       // first bin where the cumulative count reaches 99 %
  std::int32_t peakCount = 0;
  float peakBin = 0;       // lowest bin holding peakCount
  std::int32_t sampleCount = 0;
  std::array<std::int32_t, kHistogramBins> histogram{};
};

}  // namespace edgeseg
