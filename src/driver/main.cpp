#include "driver/driver.h"
#include "fileio/fileio.h"

int main(int argc, char** argv) {
  edgeseg::PrepareForOutput();
  return edgeseg::RunSegmentation(argc, argv);
}
