#include "driver/driver.h"
#include "driver/chain.h"
#include "driver/progress.h"
#include "driver/threshold.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <stdexcept>
#include <utility>
#include <vector>

using namespace edgeseg;

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

TEST(CheckImageSize, AcceptsUpTo2To31Minus1PixelsInAnyShape) {
  const std::vector<std::pair<std::int32_t, std::int32_t>> accepted = {
      {4, 4}, {46340, 46340}, {2147483647, 1}, {1, 2147483647}, {65535, 32768}};
  for (const auto& [W, H] : accepted) EXPECT_NO_THROW(CheckImageSize(W, H)) << W << " x " << H;
  // 65536 x 65536 wraps to 0 in 32 bits; 46341^2 and 65536 x 32768 pass 2^31 - 1 by little.
  const std::vector<std::pair<std::int32_t, std::int32_t>> refused = {
      {46341, 46341}, {65536, 32768}, {65536, 65536}, {2147483647, 2}, {2147483647, 2147483647}};
  for (const auto& [W, H] : refused) EXPECT_THROW(CheckImageSize(W, H), std::runtime_error) << W << " x " << H;
}

// A clock the test sets, and a stream the test reads.
struct FakeTerminal {
  double now = 0;
  std::string written;
  ProgressLine Line() {
    return ProgressLine([this] { return now; }, [this](std::string_view text) { written += text; });
  }
};

// Every line is drawn in the width of the longest, "edgeseg: writing
// pictures 99%", and the blank that erases it is as wide.
constexpr std::size_t kLineWidth = 29;

std::string Drawn(std::string text) {
  text.resize(kLineWidth, ' ');
  return "\r" + text;
}

TEST(ProgressLine, DrawsAfterASecondInOneWidthAndErasesWhatItDrew) {
  const std::string blank = "\r" + std::string(kLineWidth, ' ') + "\r";
  FakeTerminal terminal;
  {
    ProgressLine line = terminal.Line();
    terminal.now = 0.9;
    line.Show(RunStage::kReading, 1, 3);
    line.Erase();
    EXPECT_EQ(terminal.written, "") << "nothing within the first second";
    terminal.now = 1.5;
    line.Show(RunStage::kReading, 1, 3);
    EXPECT_EQ(terminal.written, Drawn("edgeseg: reading 7%"));
    terminal.written.clear();
    line.Show(RunStage::kReading, 1, 3);
    EXPECT_EQ(terminal.written, "") << "the same line is not drawn twice";
    line.Show(RunStage::kWritingPictures, 2, 3);
    line.Erase();
    line.Erase();
    line.Show(RunStage::kClosing);
    EXPECT_EQ(terminal.written, Drawn("edgeseg: writing pictures 87%") + blank + Drawn("edgeseg: closing 34%"));
    terminal.written.clear();
  }
  EXPECT_EQ(terminal.written, blank) << "erased when it goes";

  ProgressLine silent([] { return 5.0; }, {});
  silent.Show(RunStage::kLabelling);  // no sink: nothing to write to, no crash
}

TEST(RunPercent, RisesThroughEveryStageAndStaysBelow100) {
  int previous = -1;
  for (const RunStage stage : {RunStage::kReading, RunStage::kGradient, RunStage::kClosing, RunStage::kLabelling,
                               RunStage::kWritingLabels, RunStage::kWritingPictures}) {
    for (int done = 0; done < 8; ++done) {
      const int percent = RunPercent(stage, done, 8);
      EXPECT_GE(percent, previous);
      EXPECT_LE(percent, 99);
      previous = percent;
    }
  }
  EXPECT_EQ(RunPercent(RunStage::kReading, 0, 1), 0);
}

// The progress line takes each step's stage from the table: a step whose
// stage came before its predecessor's would send the share back.
TEST(AnalysisSteps, StagesOfTheChainFollowTheRunsOrder) {
  RunStage previous = RunStage::kGradient;
  for (const AnalysisStep& step : kAnalysisSteps) {
    EXPECT_GE(step.stage, previous) << step.name;
    EXPECT_TRUE(step.stage >= RunStage::kGradient && step.stage <= RunStage::kLabelling) << step.name;
    previous = step.stage;
  }
  EXPECT_EQ(kAnalysisSteps.back().stage, RunStage::kLabelling);
}

}  // namespace
