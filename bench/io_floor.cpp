// The I/O floor: what a run costs when it does nothing but its input and
// output. Reads the input once, whole, the way edgeseg reads it, then writes
// four files of the given sizes under the names edgeseg uses.
//
//   io_floor INPUT OUTBASE LABEL_BYTES IN_BMP_BYTES REG_BMP_BYTES GRAD_BMP_BYTES

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool ReadAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, data, size);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteFile(const std::string& name, const char* data, std::size_t size) {
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (ok && size > 0) {
    const ssize_t put = ::write(fd, data, size);
    ok = put > 0;
    if (ok) {
      data += put;
      size -= static_cast<std::size_t>(put);
    }
  }
  return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s INPUT OUTBASE LABEL_BYTES IN_BMP_BYTES REG_BMP_BYTES GRAD_BMP_BYTES\n", argv[0]);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto size = static_cast<std::size_t>(info.st_size);
  const auto input = std::make_unique_for_overwrite<char[]>(size);
  if (!ReadAll(fd, input.get(), size) || ::close(fd) != 0) {
    std::perror(argv[1]);
    return 1;
  }

  const std::string base = argv[2];
  const std::string names[4] = {base, base + "_In.bmp", base + "_Reg.bmp", base + "_Grad.bmp"};
  std::size_t sizes[4];
  for (int i = 0; i < 4; ++i) sizes[i] = std::strtoull(argv[3 + i], nullptr, 10);
  // One buffer, filled once, serves every file: the floor counts producing
  // the output bytes once, not four times.
  const std::size_t largest = *std::max_element(sizes, sizes + 4);
  const auto output = std::make_unique_for_overwrite<char[]>(largest);
  std::memset(output.get(), size > 0 ? input[size / 2] : '0', largest);
  for (int i = 0; i < 4; ++i) {
    if (!WriteFile(names[i], output.get(), sizes[i])) {
      std::perror(names[i].c_str());
      return 1;
    }
  }
  return 0;
}
