#include "driver/progress.h"

#include <algorithm>
#include <array>

namespace edgeseg {

namespace {

struct StageInfo {
  const char* name;
  int startPercent;  // from the micro-benchmarks at 4096 x 4096
};

// A row for each RunStage, in its order.
constexpr std::array<StageInfo, static_cast<std::size_t>(RunStage::kCount)> kStages = {{
    {"reading", 0},
    {"gradient", 22},
    {"closing", 34},
    {"labelling", 46},
    {"writing labels", 52},
    {"writing pictures", 62},
}};
// A stage without its row would have no name.
static_assert(std::ranges::none_of(kStages, [](const StageInfo& stage) { return stage.name == nullptr; }));

// "edgeseg: writing pictures 99%", the longest line; shorter ones are
// padded to it so that no character of a longer one stays behind.
constexpr std::size_t kLineWidth = 29;

// Carriage return, a blank line's width, carriage return.
constexpr std::string_view kEraseText = "\r                             \r";
static_assert(kEraseText.size() == kLineWidth + 2);

}  // namespace

std::string_view ProgressEraseText() { return kEraseText; }

int RunPercent(RunStage stage, int done, int parts) {
  const auto index = static_cast<std::size_t>(stage);
  const int start = kStages[index].startPercent;
  const int end = index + 1 < kStages.size() ? kStages[index + 1].startPercent : 100;
  const int within = parts > 0 ? (end - start) * std::clamp(done, 0, parts) / parts : 0;
  return std::min(start + within, 99);
}

ProgressLine::ProgressLine(Clock clock, Sink sink, double delay)
    : clock_(std::move(clock)), sink_(std::move(sink)), shownFrom_(clock_() + delay) {}

ProgressLine::~ProgressLine() { Erase(); }

void ProgressLine::Show(RunStage stage, int done, int parts) {
  if (!sink_ || clock_() <= shownFrom_) return;
  std::string line = "edgeseg: ";
  line += kStages[static_cast<std::size_t>(stage)].name;
  line += ' ';
  line += std::to_string(RunPercent(stage, done, parts));
  line += '%';
  line.resize(kLineWidth, ' ');
  if (line == drawn_) return;
  sink_("\r" + line);
  drawn_ = std::move(line);
}

void ProgressLine::Erase() {
  if (drawn_.empty()) return;
  sink_(kEraseText);
  drawn_.clear();
}

}  // namespace edgeseg
