#include "fileio/fileio.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

#include "fileio/readuntil.h"

namespace edgeseg {

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

void WritePieces(std::FILE* file, const NextPiece& next) {
  for (auto piece = next(); !piece.empty(); piece = next()) {
    for (std::size_t done = 0; done < piece.size();) {
      const std::size_t want = std::min(piece.size() - done, kMaxTransfer);
      if (std::fwrite(piece.data() + done, 1, want, file) != want) {
        throw std::runtime_error("cannot write output file");
      }
      done += want;
    }
  }
}

// Whether a file written under a temporary name may replace what the name
// holds: nothing, or a regular file that is no link and has one link. The
// standard library cannot tell who owns it.
bool MayReplace(const std::string& name, fs::file_status& status) {
  std::error_code error;
  status = fs::symlink_status(name, error);
  if (status.type() == fs::file_type::not_found) return true;
  if (error || !fs::is_regular_file(status)) return false;
  const std::uintmax_t links = fs::hard_link_count(name, error);
  return !error && links == 1;
}

// Removes the file it tracks when it goes, unless kept. Made before the file
// is opened, so that it goes after the file is closed.
class RemoveUnlessKept {
 public:
  RemoveUnlessKept() = default;
  ~RemoveUnlessKept() {
    std::error_code ignored;
    if (!name_.empty()) fs::remove(name_, ignored);
  }
  RemoveUnlessKept(const RemoveUnlessKept&) = delete;
  RemoveUnlessKept& operator=(const RemoveUnlessKept&) = delete;
  void Track(const std::string& name) { name_ = name; }
  void Keep() { name_.clear(); }

 private:
  std::string name_;
};

}  // namespace

// No signal is caught: the standard library cannot remove a file from a
// handler.
void SetSignalEraseText(std::string_view) {}

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
  // The name is looked up once, by the open: what it names then (a file, a
  // device, a pipe that waits for its writer) is what is read.
  File file(name, "rb");
  if (file.get() == nullptr) throw std::runtime_error("cannot open input file");
  // The length the opened stream claims, as a hint for the buffer; a stream
  // that cannot seek claims nothing and is read all the same.
  std::uintmax_t hint = 0;
  if (std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long end = std::ftell(file.get());
    hint = end > 0 ? static_cast<std::uintmax_t>(end) : 0;
    if (std::fseek(file.get(), 0, SEEK_SET) != 0) throw std::runtime_error("cannot rewind input file");
  }
  std::clearerr(file.get());
  // A short read is the end of the data, or a failure.
  return ReadUntilEndOrNul(hint, [&file](char* into, std::size_t room) -> std::size_t {
    if (std::feof(file.get())) return 0;
    const std::size_t want = std::min(room, kMaxTransfer);
    const std::size_t got = std::fread(into, 1, want, file.get());
    if (got < want && std::ferror(file.get())) throw std::runtime_error("cannot read input file");
    return got;
  });
}

void WriteFileInPieces(const std::string& name, const NextPiece& next) {
  fs::file_status status;
  if (MayReplace(name, status)) {
    // The standard library has no process id: a random number in its place
    // keeps two runs apart, and the exclusive open ("x") refuses a name
    // that is taken.
    const std::string temporaryName = TemporaryName(name, ".edgeseg-" + std::to_string(std::random_device{}()));
    if (!temporaryName.empty()) {
      RemoveUnlessKept temporary;
      File file(temporaryName, "wbx");
      if (file.get() != nullptr) {
        temporary.Track(temporaryName);
        WritePieces(file.get(), next);
        if (!file.Close()) throw std::runtime_error("cannot close output file");
        std::error_code error;
        if (fs::exists(status)) fs::permissions(temporaryName, status.permissions(), error);
        if (!error) fs::rename(temporaryName, name, error);
        if (error) throw std::runtime_error("cannot rename output file");
        temporary.Keep();
        return;
      }
    }
    // A folder that takes no new file may still hold a writable output.
  }
  // A device or a pipe could block the open or swallow the bytes: only a
  // regular file, or a name not yet taken, is written.
  if (fs::exists(status) && !fs::is_regular_file(status)) throw std::runtime_error("output is not a regular file");
  File file(name, "wb");
  if (file.get() == nullptr) throw std::runtime_error("cannot create output file");
  WritePieces(file.get(), next);
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}

}  // namespace edgeseg
