#include "fileio/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>

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

void ReadAll(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, data, std::min(size, kMaxTransfer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) throw std::runtime_error("cannot read input file");
    data += got;
    size -= static_cast<std::size_t>(got);
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
  // O_NONBLOCK keeps the open of a named pipe without a writer from waiting.
  FileDescriptor file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) throw std::runtime_error("cannot open input file");
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) throw std::runtime_error("cannot stat input file");
  // A length that does not fit this process's address space cannot be held.
  if (info.st_size < 0 || static_cast<std::uintmax_t>(info.st_size) > std::numeric_limits<std::size_t>::max()) {
    throw std::bad_alloc();
  }
  FileBytes bytes;
  bytes.size = static_cast<std::size_t>(info.st_size);
  bytes.data = ObtainBuffer<char>(bytes.size);
  ReadAll(file.get(), bytes.data.get(), bytes.size);
  return bytes;
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
