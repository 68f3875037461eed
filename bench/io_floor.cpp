// The I/O floor: what a run costs when it does nothing but its input and
// output, with every advantage the tool has. Reads the input once, up to its
// first NUL byte, through the tool's own file access (ReadFileUpToNul: reads
// of at most 1 MiB each into one buffer, sized from the file's length when
// that is known), then writes four files of the given sizes under the names
// edgeseg uses, from one buffer filled once.
//
//   io_floor INPUT OUTBASE LABEL_BYTES IN_BMP_BYTES REG_BMP_BYTES GRAD_BMP_BYTES

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <span>
#include <string>

#include "buffers/buffers.h"
#include "fileio/fileio.h"

using namespace edgeseg;

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s INPUT OUTBASE LABEL_BYTES IN_BMP_BYTES REG_BMP_BYTES GRAD_BMP_BYTES\n", argv[0]);
    return 2;
  }
  try {
    const FileBytes input = ReadFileUpToNul(argv[1]);
    const std::string base = argv[2];
    const std::string names[4] = {base, base + "_In.bmp", base + "_Reg.bmp", base + "_Grad.bmp"};
    std::size_t sizes[4];
    for (int i = 0; i < 4; ++i) sizes[i] = std::strtoull(argv[3 + i], nullptr, 10);
    // One buffer, filled once, serves every file: the floor counts producing
    // the output bytes once, not four times.
    const std::size_t largest = *std::max_element(sizes, sizes + 4);
    const auto output = ObtainBuffer<std::byte>(largest);
    std::memset(output.get(), input.size > 0 ? input.data[input.size / 2] : '0', largest);
    for (int i = 0; i < 4; ++i) WriteWholeFile(names[i], {std::span<const std::byte>(output.get(), sizes[i])});
  } catch (const std::exception& error) {
    std::fprintf(stderr, "io_floor: %s\n", error.what());
    return 1;
  }
  return 0;
}
