#pragma once
// Shared by the fuzz targets. A failed check prints where it failed and
// aborts, so libFuzzer keeps the input and a replay run fails.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(condition) ((condition) ? void(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

// Reads fields from the front of the fuzz input; past its end every byte is
// 0, so every input, the empty one included, describes a complete case.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint16_t U16() {
    const std::uint16_t low = Byte();
    return static_cast<std::uint16_t>(low | Byte() << 8);
  }
  std::uint32_t U32() {
    const std::uint32_t low = U16();
    return low | std::uint32_t{U16()} << 16;
  }
  // A value from low to high inclusive, from one byte.
  int SmallInRange(int low, int high) { return low + Byte() % (high - low + 1); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// A file of this process for the operations that take a file name; on a
// memory file system where there is one, and removed at a normal exit.
class ScratchFile {
 public:
  explicit ScratchFile(const std::string& stem) {
    const std::filesystem::path dir = std::filesystem::is_directory("/dev/shm")
                                          ? std::filesystem::path("/dev/shm")
                                          : std::filesystem::temp_directory_path();
    name_ = (dir / ("edgeseg_fuzz_" + stem + "_" + std::to_string(::getpid()))).string();
  }
  ~ScratchFile() {
    std::error_code ignored;
    std::filesystem::remove(name_, ignored);
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Name() const { return name_; }
  void Write(std::string_view bytes) const {
    std::ofstream(name_, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read() const {
    std::ifstream in(name_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  std::string name_;
};

}  // namespace fuzz
