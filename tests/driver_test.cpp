#include "driver/driver.h"

#include <gtest/gtest.h>

#include <map>

namespace {

GradientStats StatsWith(const std::map<int, std::int32_t>& counts, int peakBin) {
  GradientStats stats;
  for (const auto& [bin, count] : counts) stats.histogram[bin] = count;
  stats.peakBin = static_cast<float>(peakBin);
  stats.peakCount = stats.histogram[peakBin];
  return stats;
}

struct ThresholdCase {
  const char* what;
  std::map<int, std::int32_t> counts;
  int peakBin;
  float threshold;
};

TEST(SelectGradientThreshold, FirstBinFromThePeakBelowBinZero) {
  const std::vector<ThresholdCase> cases = {
      {"equal count does not stop", {{0, 10}, {5, 50}, {6, 30}, {7, 10}, {8, 9}}, 5, 8.0f},
      {"constant image", {{0, 100}}, 0, 1.0f},
      {"peak at bin 0", {{0, 60}, {1, 60}, {2, 59}}, 0, 2.0f},
      {"bin 0 empty: first empty bin from the peak", {{3, 40}, {4, 20}, {6, 5}}, 3, 5.0f},
      {"bin 0 empty, no empty bin above the peak", {{4095, 7}}, 4095, 4095.0f},
      {"bin 0 not empty, nothing below it", {{0, 1}, {4095, 7}}, 4095, 4095.0f},
  };
  for (const ThresholdCase& c : cases) {
    EXPECT_EQ(SelectGradientThreshold(StatsWith(c.counts, c.peakBin)), c.threshold) << c.what;
  }
}

}  // namespace
