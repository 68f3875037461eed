#include "fileio/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <stdexcept>

#include "fileio/readuntil.h"

namespace {

// Linux moves at most about 2 GiB per call; smaller requests keep every
// transfer well inside that and inside ssize_t.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the result, for writers that must know.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Reads what is there, waiting for it as any reader does: 0 at the end.
std::size_t ReadSomeOf(int fd, char* into, std::size_t room) {
  for (;;) {
    const ssize_t got = ::read(fd, into, std::min(room, kMaxTransfer));
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) throw std::runtime_error("cannot read input file");
  }
}

void WriteAll(int fd, const std::byte* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, std::min(size, kMaxTransfer));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw std::runtime_error("cannot write output file");
    data += put;
    size -= static_cast<std::size_t>(put);
  }
}

}  // namespace

void PrepareForOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool IsExistingFile(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

FileBytes ReadWholeFile(const std::string& name) {
  // A named pipe waits here for its writer, as it would for any reader.
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw std::runtime_error("cannot open input file");
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw std::runtime_error("cannot stat input file");
  // Only a regular file claims a length; it is a hint, not a promise (a
  // file of /sys claims a page and holds less).
  const std::uintmax_t hint = S_ISREG(info.st_mode) && info.st_size > 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
  return ReadUntilEndOrNul(hint, [&file](char* into, std::size_t room) { return ReadSomeOf(file.get(), into, room); });
}

void WriteFileInPieces(const std::string& name, const NextPiece& next) {
  // O_NONBLOCK makes the open of a named pipe without a reader fail instead
  // of waiting forever; the writes themselves block as usual.
  FileDescriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
  if (file.get() < 0) throw std::runtime_error("cannot create output file");
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create output file");
  }
  for (auto piece = next(); !piece.empty(); piece = next()) WriteAll(file.get(), piece.data(), piece.size());
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}
