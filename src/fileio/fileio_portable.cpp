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

// What the name is; "not found" also when it cannot be told.
fs::file_status StatusOf(const std::string& name) {
  std::error_code error;
  return fs::status(name, error);
}

class File {
 public:
  explicit File(std::FILE* file) : file_(file) {}
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

// Creates a new file beside target under a random temporary name and gives
// it, open for writing, with its name in created. The exclusive open ("x")
// never takes a name that is there already, whoever put it there: another
// name is drawn instead. The standard library has no process id, and a
// random number keeps runs apart without one. Throws if no file can be
// created.
std::FILE* CreateTemporaryBeside(const std::string& target, std::string& created) {
  std::random_device random;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    created = TemporaryName(target, RandomTemporarySuffix<std::string>(random));
    if (created.empty()) break;
    if (std::FILE* const file = std::fopen(created.c_str(), "wbx")) return file;
    std::error_code error;
    if (!fs::exists(fs::symlink_status(created, error))) break;
  }
  throw std::runtime_error("cannot create temporary file");
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

// Every temporary file of this build has a name of its own already.
void UseNamedTemporaryFilesOnly(bool) {}

// The standard library knows no signals of failing writes to ignore, and
// its streams are as the platform made them.
void PrepareForOutput() {}

// The standard library cannot tell a terminal from a file.
bool StandardErrorIsTerminal() { return false; }

bool IsExistingFile(const std::string& name) {
  const fs::file_status status = StatusOf(name);
  return fs::exists(status) && !fs::is_directory(status);
}

FileBytes ReadFileUpToNul(const std::string& name) {
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
  std::error_code error;
  std::string target = name;
  fs::file_status status = fs::symlink_status(name, error);
  if (fs::is_symlink(status)) {
    // Written through, as the POSIX build does: the file the link leads to
    // is what gets the new bytes, and the link stays a link. That file is
    // replaced whole from beside it, where writing through the link in
    // place would leave it cut by a failure.
    target = fs::canonical(name, error).string();
    status = error ? fs::file_status(fs::file_type::none) : fs::symlink_status(target, error);
  }
  // Only a regular file, or a name not yet taken, is written: a device or
  // a pipe could block the open or swallow the bytes.
  const bool absent = status.type() == fs::file_type::not_found;
  if (!absent && !fs::is_regular_file(status)) throw std::runtime_error("output is not a regular file");
  if (!absent) {
    // Opened for update, which neither creates nor empties: a file this
    // user may not write is refused as it would be in place, and stays.
    File probe(target, "r+b");
    if (probe.get() == nullptr) throw std::runtime_error("cannot write output file");
  }
  if (!absent && fs::hard_link_count(target, error) != 1) {
    // Every link of a shared file must see the new bytes: in place.
    File file(target, "wb");
    if (file.get() == nullptr) throw std::runtime_error("cannot create output file");
    WritePieces(file.get(), next);
    if (!file.Close()) throw std::runtime_error("cannot close output file");
    return;
  }
  // Never in place: an output that cannot be written whole beside its name
  // (no new file in the folder, no inode left) fails and leaves the old one.
  RemoveUnlessKept temporary;
  std::string temporaryName;
  File file(CreateTemporaryBeside(target, temporaryName));
  temporary.Track(temporaryName);
  WritePieces(file.get(), next);
  if (!file.Close()) throw std::runtime_error("cannot close output file");
  // A replaced file keeps its permission bits, but no set-user-ID or
  // set-group-ID bit: those belong to the file they were given to, not to
  // new bytes, as the POSIX build has it.
  std::error_code failed;
  if (!absent) fs::permissions(temporaryName, status.permissions() & fs::perms::all, failed);
  if (!failed) fs::rename(temporaryName, target, failed);
  if (failed) throw std::runtime_error("cannot rename output file");
  temporary.Keep();
}

}  // namespace edgeseg
