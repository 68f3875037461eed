#include "driver/driver.h"
#include "fileio/fileio.h"

int main(int argc, char** argv) {
  IgnoreSignalsOfFailingWrites();
  return RunSegmentation(argc, argv);
}
