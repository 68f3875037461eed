#pragma once
// One segmentation run: edgeseg INPUT OUTBASE.

#include <cstdint>
#include <string>

namespace edgeseg {

// Throws std::runtime_error when a W x H image (W, H at least 0) has more
// pixels than a run takes (kMaxImagePixels). The product is formed in 64
// bits.
void CheckImageSize(std::int32_t W, std::int32_t H);

// Runs the whole tool and returns the exit status: 0 on success, -1 after a
// failed argument, input or format check ("To few parameters", "Input file
// does not exists", "Wrong input file format"), -2 after any error during
// the run ("Execution error"). Messages go to standard output with no line
// end; nothing is printed on success.
int RunSegmentation(int argc, const char* const* argv);

// How a run ended: its exit status and the message the command prints for
// it (empty on success).
struct RunOutcome {
  int status;
  std::string message;
};

// The run behind RunSegmentation once it has its two names, printing
// nothing on standard output: the outcome is the caller's to report. The
// domain report still goes to standard error as the statistics call for
// it; the progress line is drawn there only when showProgress is true and
// standard error is a terminal. Installs nothing process-wide, so a caller
// that never calls PrepareForOutput (a Python module) keeps its own signal
// handling.
RunOutcome RunSegmentationQuietly(const std::string& inputName, const std::string& baseName, bool showProgress);

}  // namespace edgeseg
