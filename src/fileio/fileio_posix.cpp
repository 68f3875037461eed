#include "fileio/fileio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
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

void WritePieces(int fd, const NextPiece& next) {
  for (auto piece = next(); !piece.empty(); piece = next()) WriteAll(fd, piece.data(), piece.size());
}

// The signals that end a run from outside (a key at the terminal, kill, a
// closed terminal) and that leave no temporary file behind.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t CleanupSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kCleanupSignals) sigaddset(&set, signal);
  return set;
}

// What the handler needs, in storage it can read at any moment. Every change
// is made with the signals blocked, so the handler never sees half of one.
char gTemporary[PATH_MAX];
volatile std::sig_atomic_t gTemporaryPublished = 0;
const char* gEraseText = nullptr;
volatile std::sig_atomic_t gEraseLength = 0;

// Holds the cleanup signals back for its lifetime; one that arrives waits
// until the end and is then handled.
class SignalBlock {
 public:
  SignalBlock() {
    const sigset_t set = CleanupSignals();
    ::sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalBlock() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

// Only async-signal-safe calls: remove the temporary file, erase the
// progress line, then end by the same signal with its default action, so
// that the parent sees the signal and not an exit status.
extern "C" void EndBySignal(int signal) {
  if (gTemporaryPublished != 0) ::unlink(gTemporary);
  if (gEraseLength > 0) {
    const ssize_t ignored = ::write(STDERR_FILENO, gEraseText, static_cast<std::size_t>(gEraseLength));
    static_cast<void>(ignored);
  }
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  sigemptyset(&defaults.sa_mask);
  ::sigaction(signal, &defaults, nullptr);
  ::raise(signal);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);  // the raised signal ends the process here
}

// The temporary file of one output: created and published to the handler
// at once, removed again unless Commit renames it over the final name.
class TemporaryFile {
 public:
  // fd() is negative when the file could not be created; errno then tells
  // why.
  explicit TemporaryFile(const std::string& name) : name_(name) {
    if (name_.empty() || name_.size() >= sizeof gTemporary) {
      errno = ENAMETOOLONG;
      return;
    }
    const SignalBlock block;
    fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ < 0 && errno == EEXIST) {
      // Left by a run with this process id that was killed outright: it was
      // ours, and only the open that creates a file anew is safe to use.
      ::unlink(name_.c_str());
      fd_ = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    }
    if (fd_ < 0) return;
    std::memcpy(gTemporary, name_.c_str(), name_.size() + 1);
    gTemporaryPublished = 1;
    published_ = true;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!published_) return;
    const SignalBlock block;
    ::unlink(name_.c_str());
    gTemporaryPublished = 0;
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int fd() const { return fd_; }

  // Closes the file and renames it over finalName; throws, with the file
  // removed, if either fails.
  void Commit(const std::string& finalName) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw std::runtime_error("cannot close output file");
    const SignalBlock block;
    if (::rename(name_.c_str(), finalName.c_str()) != 0) throw std::runtime_error("cannot rename output file");
    gTemporaryPublished = 0;
    published_ = false;
  }

 private:
  std::string name_;
  int fd_ = -1;
  bool published_ = false;  // created and not yet renamed
};

// Writes through whatever the name is, emptying it first, as a file written
// in place is.
void WriteInPlace(const std::string& name, const NextPiece& next) {
  // O_NONBLOCK makes the open of a named pipe without a reader fail instead
  // of waiting forever; the writes themselves block as usual.
  FileDescriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666));
  if (file.get() < 0) throw std::runtime_error("cannot create output file");
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw std::runtime_error("cannot create output file");
  }
  WritePieces(file.get(), next);
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}

// Whether a file written under a temporary name may replace what the name
// holds: nothing, or a plain file of this user's that they may write. A
// link, a shared or foreign file, a device or a pipe is written in place,
// where the kernel's own checks on it apply.
// absent tells whether there is nothing; info describes what there is.
bool MayReplace(const std::string& name, struct stat& info, bool& absent) {
  absent = false;
  if (::lstat(name.c_str(), &info) != 0) {
    absent = errno == ENOENT;
    return absent;
  }
  return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == ::geteuid() &&
         ::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

void PrepareForOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction cleanup {};
  cleanup.sa_handler = EndBySignal;
  cleanup.sa_mask = CleanupSignals();
  for (const int signal : kCleanupSignals) {
    struct sigaction previous {};
    // One ignored from the start (nohup, a script's background job) stays so.
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      ::sigaction(signal, &cleanup, nullptr);
    }
  }
}

void SetSignalEraseText(std::string_view bytes) {
  const SignalBlock block;
  gEraseText = bytes.data();
  gEraseLength = static_cast<std::sig_atomic_t>(bytes.size());
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
  struct stat info {};
  bool absent = false;
  if (MayReplace(name, info, absent)) {
    TemporaryFile temporary(TemporaryName(name, ".edgeseg-" + std::to_string(::getpid())));
    if (temporary.fd() >= 0) {
      if (!absent && ::fchmod(temporary.fd(), info.st_mode & 0777) != 0) {
        throw std::runtime_error("cannot set output permissions");
      }
      WritePieces(temporary.fd(), next);
      temporary.Commit(name);
      return;
    }
    // A full disk would fail the write in place too, after emptying the
    // file; any other refusal (a folder that takes no new file, a name too
    // long) leaves the output to be written in place, or to fail there.
    if (errno == ENOSPC || errno == EDQUOT) throw std::runtime_error("no room for the output");
  }
  WriteInPlace(name, next);
}
