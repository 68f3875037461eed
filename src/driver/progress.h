#pragma once
// One line of progress for long runs, for a user who watches a terminal:
// "\redgeseg: labelling 46%". The driver updates it between operations. It
// appears only once the run has lasted more than a second, always in the
// same width, and is erased (carriage return, spaces, carriage return)
// before anything else is written to the terminal and before the run ends.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "driver/runstage.h"

namespace edgeseg {

// The overall share of a run done when part `done` of the `parts` parts of
// stage has begun, in percent (0 to 99): each stage weighs by its measured
// share of a run's time.
int RunPercent(RunStage stage, int done, int parts);

// The bytes that Erase writes: they remove a drawn line, whatever it shows.
std::string_view ProgressEraseText();

class ProgressLine {
 public:
  // Seconds on a clock that never goes back.
  using Clock = std::function<double()>;
  // Writes text to the terminal at once.
  using Sink = std::function<void(std::string_view)>;

  // A line that draws nothing until `delay` seconds after its creation, and
  // nothing at all without a sink.
  ProgressLine(Clock clock, Sink sink, double delay = 1.0);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Shows the stage and the share of the run done, once the delay is over.
  void Show(RunStage stage, int done = 0, int parts = 1);
  // Removes the line if it is drawn; the next Show draws it again.
  void Erase();

 private:
  Clock clock_;
  Sink sink_;
  double shownFrom_;
  std::string drawn_;  // the text on the terminal, empty when none is
};

}  // namespace edgeseg
