#include <csignal>

#include "driver/driver.h"

int main(int argc, char** argv) {
  // A message written to a pipe whose reader has gone must not end the run
  // by a signal: the write then fails quietly and the exit status still
  // tells what happened. Output files that are pipes fail the same way.
  std::signal(SIGPIPE, SIG_IGN);
  return RunSegmentation(argc, argv);
}
