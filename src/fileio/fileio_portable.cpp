#include "fileio/fileio.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>

// Whole-file access through the C++ standard library alone: std::filesystem
// tells what a name is, <cstdio> streams in binary mode move the bytes.

namespace {

namespace fs = std::filesystem;

// Transfers of at most 1 GiB keep every count inside what any C library
// handles in one call.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// What the name is; "not found" also when it cannot be told.
fs::file_status StatusOf(const std::string& name) {
  std::error_code error;
  return fs::status(name, error);
}

class File {
 public:
  File(const std::string& name, const char* mode) : file_(std::fopen(name.c_str(), mode)) {}
  ~File() {
    if (file_ != nullptr) std::fclose(file_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  std::FILE* get() const { return file_; }
  // Closes now and reports whether the buffered bytes reached the file.
  bool Close() {
    std::FILE* const file = file_;
    file_ = nullptr;
    return std::fclose(file) == 0;
  }

 private:
  std::FILE* file_;
};

}  // namespace

// The standard library knows no signals of failing writes to ignore, and
// its streams are as the platform made them.
void PrepareForOutput() {}

// The standard library cannot tell a terminal from a file.
bool StandardErrorIsTerminal() { return false; }

bool IsExistingFile(const std::string& name) {
  const fs::file_status status = StatusOf(name);
  return fs::exists(status) && !fs::is_directory(status);
}

FileBytes ReadWholeFile(const std::string& name) {
  // Only a regular file has a length to read. Anything else that exists (a
  // device, a pipe) reads as empty without being opened, so it cannot block.
  const fs::file_status status = StatusOf(name);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    FileBytes empty;
    empty.data = ObtainBuffer<char>(0);
    return empty;
  }
  File file(name, "rb");
  if (file.get() == nullptr) throw std::runtime_error("cannot open input file");
  std::error_code error;
  const std::uintmax_t length = fs::file_size(name, error);
  if (error) throw std::runtime_error("cannot size input file");
  // A length that does not fit this process's address space cannot be held.
  if (length > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  FileBytes bytes;
  bytes.size = static_cast<std::size_t>(length);
  bytes.data = ObtainBuffer<char>(bytes.size);
  for (std::size_t done = 0; done < bytes.size;) {
    const std::size_t want = std::min(bytes.size - done, kMaxTransfer);
    if (std::fread(bytes.data.get() + done, 1, want, file.get()) != want) {
      throw std::runtime_error("cannot read input file");
    }
    done += want;
  }
  return bytes;
}

void WriteFileInPieces(const std::string& name, const NextPiece& next) {
  // A device or a pipe could block the open or swallow the bytes: only a
  // regular file, or a name not yet taken, is written.
  const fs::file_status status = StatusOf(name);
  if (fs::exists(status) && !fs::is_regular_file(status)) throw std::runtime_error("output is not a regular file");
  File file(name, "wb");
  if (file.get() == nullptr) throw std::runtime_error("cannot create output file");
  for (auto piece = next(); !piece.empty(); piece = next()) {
    for (std::size_t done = 0; done < piece.size();) {
      const std::size_t want = std::min(piece.size() - done, kMaxTransfer);
      if (std::fwrite(piece.data() + done, 1, want, file.get()) != want) {
        throw std::runtime_error("cannot write output file");
      }
      done += want;
    }
  }
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}
