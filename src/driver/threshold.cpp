#include "driver/threshold.h"

#include <algorithm>

namespace edgeseg {

float SelectGradientThreshold(const GradientStats& stats) {
  const std::int32_t reference = stats.histogram[0];
  const int peak = std::clamp(static_cast<int>(stats.peakBin), 0, kHistogramBins - 1);
  for (int k = peak; k < kHistogramBins; ++k) {
    if (stats.histogram[k] < reference) return static_cast<float>(k);
  }
  // No bin fell below bin 0. When bin 0 is empty no bin can; then the first
  // empty bin above the peak still separates the strong gradients.
  if (reference == 0) {
    for (int k = peak; k < kHistogramBins; ++k) {
      if (stats.histogram[k] == 0) return static_cast<float>(k);
    }
  }
  return static_cast<float>(kHistogramBins - 1);
}

}  // namespace edgeseg
