// edgeseg_forced FORM INPUT OUTBASE: the command with one form of the fast
// kernels forced (plain, sse2, sse4.1, avx2, avx512), so that whole runs of
// every form can be compared byte for byte (bench/compare_builds.py
// --forced). A form this build lacks or the processor does not run is
// refused with status 2 before anything is read. Test-only: never installed.

#include <cstdio>
#include <string>

#include "common/cpu.h"
#include "driver/driver.h"
#include "fileio/fileio.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: edgeseg_forced FORM INPUT OUTBASE\n");
    return 2;
  }
  const std::string name = argv[1];
  for (const edgeseg::Form form : edgeseg::BuiltForms()) {
    if (name != edgeseg::FormName(form)) continue;
    if (!edgeseg::ProcessorRuns(form)) {
      std::fprintf(stderr, "edgeseg_forced: this processor does not run %s\n", argv[1]);
      return 2;
    }
    edgeseg::ForceFormForTesting(form);
    edgeseg::PrepareForOutput();
    // The command sees its own name and the rest, as edgeseg would.
    argv[1] = argv[0];
    return edgeseg::RunSegmentation(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "edgeseg_forced: no form %s in this build\n", argv[1]);
  return 2;
}
