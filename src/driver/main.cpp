#include "driver/driver.h"
#include "fileio/fileio.h"

int main(int argc, char** argv) {
  PrepareForOutput();
  return RunSegmentation(argc, argv);
}
