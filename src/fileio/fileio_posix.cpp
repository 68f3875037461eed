#include "fileio/fileio.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fileio/readuntil.h"

namespace edgeseg {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
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

// ---- Signals -------------------------------------------------------------

// Whether a signal ends the run with cleanup: every one whose default
// action ends the process and that comes from outside (a key at the
// terminal, kill, a closed terminal, a timer, a CPU limit, a real-time
// signal). Not SIGKILL and SIGSTOP, which cannot be caught; not the crash
// signals, after which nothing the process holds can be trusted; not SIGPIPE
// and SIGXFSZ, which are ignored so that a failing write is an error.
bool EndsWithCleanup(int signal) {
  switch (signal) {
    case SIGHUP:
    case SIGINT:
    case SIGQUIT:
    case SIGUSR1:
    case SIGUSR2:
    case SIGALRM:
    case SIGTERM:
    case SIGXCPU:
    case SIGVTALRM:
    case SIGPROF:
    case SIGIO:
#ifdef SIGSTKFLT
    case SIGSTKFLT:
#endif
#ifdef SIGPWR
    case SIGPWR:
#endif
      return true;
    default:
      return signal >= SIGRTMIN && signal <= SIGRTMAX;
  }
}

// The command's handlers and what they need, in storage they can read at
// any moment. Only the command installs them (PrepareForOutput); until then
// the set is empty and no temporary file is published, so that a program
// that calls the library from several threads shares nothing here. Every
// change is made with the signals blocked, so a handler never sees half of
// one. One temporary name at a time: the command writes its outputs one
// after the other.
sigset_t gCleanupSignals;
std::atomic<bool> gHandlersInstalled{false};
int gTemporaryFolder = -1;
char gTemporaryName[NAME_MAX + 1];
volatile std::sig_atomic_t gTemporaryPublished = 0;
const char* gEraseText = nullptr;
volatile std::sig_atomic_t gEraseLength = 0;

// Holds the cleanup signals back for its lifetime; one that arrives waits
// until the end and is then handled.
class SignalBlock {
 public:
  SignalBlock() { ::pthread_sigmask(SIG_BLOCK, &gCleanupSignals, &saved_); }
  ~SignalBlock() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t saved_;
};

// Only async-signal-safe calls: remove the temporary name, erase the
// progress line, then end by the same signal with its default action, so
// that the parent sees the signal and not an exit status.
extern "C" void EndBySignal(int signal) {
  if (gTemporaryPublished != 0) ::unlinkat(gTemporaryFolder, gTemporaryName, 0);
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
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // the raised signal ends the process here
  // The first process of a pid namespace (a container's entry point) never
  // receives a signal that it has no handler for, even its own: it ends as
  // a shell reports a death by that signal.
  ::_exit(128 + signal);
}

// Publishes a temporary name to the handlers, or withdraws it; nothing when
// no handler is installed. Call with the signals blocked.
void PublishTemporary(int folder, const std::string& name) {
  if (!gHandlersInstalled.load(std::memory_order_relaxed)) return;
  gTemporaryPublished = 0;
  std::memcpy(gTemporaryName, name.c_str(), name.size() + 1);
  gTemporaryFolder = folder;
  gTemporaryPublished = 1;
}

void WithdrawTemporary() { gTemporaryPublished = 0; }

// ---- The folder of an output ---------------------------------------------

// The folder an output is made in, held open so that every name is made,
// linked and removed through it: a temporary name stays short, and a
// folder moved during the run keeps nothing behind.
struct OutputFolder {
  explicit OutputFolder(const std::string& path) : fd(-1) {
    const std::size_t slash = path.find_last_of('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) throw std::runtime_error("output name names no file");
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    fd.Reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) throw std::runtime_error("cannot open output folder");
    shared = (info.st_mode & S_ISVTX) != 0 && (info.st_mode & S_IWOTH) != 0;
    // An append-only folder takes new names but never gives one up: a
    // temporary name there could neither be renamed nor removed.
    struct statx attributes {};
    appendOnly = ::statx(fd.get(), "", AT_EMPTY_PATH, 0, &attributes) == 0 &&
                 (attributes.stx_attributes_mask & attributes.stx_attributes & STATX_ATTR_APPEND) != 0;
  }

  FileDescriptor fd;
  std::string folder;  // as the caller named it
  std::string name;    // the output's own name in it
  struct stat info {};
  bool shared = false;  // sticky and writable by all, as /tmp
  bool appendOnly = false;
};

// Whether a symbolic link in the folder may be followed: the kernel's rule
// for protected links, applied whatever the machine says. In a sticky folder
// that everyone may write, only the user and the folder's owner can have
// put a link there that nobody else can swap.
bool MayFollow(const OutputFolder& folder, const struct stat& link) {
  return !folder.shared || link.st_uid == ::geteuid() || link.st_uid == folder.info.st_uid;
}

// ---- The access of a replaced file ---------------------------------------

constexpr const char* kAccessAcl = "system.posix_acl_access";
constexpr const char* kDefaultAcl = "system.posix_acl_default";

// What a replaced file had that its successor must have too, so that
// replacing it gives nobody more or less access than writing it in place
// would: its group, its permission bits and its extended attributes, the
// access ACL among them. Set-id bits and file capabilities are not carried
// over: a write in place clears them too.
struct Access {
  gid_t group = 0;
  mode_t mode = 0;
  std::vector<std::pair<std::string, std::string>> attributes;  // without the ACL
  std::string acl;  // empty without one
};

// The value of one attribute by name; false if it could not be read.
template <class Get>
bool ReadAttribute(const Get& get, std::string& value) {
  for (int tries = 0; tries < 8; ++tries) {
    const ssize_t size = get(nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = get(value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // it grew meanwhile: ask again
  }
  return false;
}

// Reads the access of the regular file path; false if any of it cannot be
// read, and then the output is written in place.
bool ReadAccess(const std::string& path, const struct stat& info, Access& access) {
  access.group = info.st_gid;
  access.mode = info.st_mode & 0777;
  std::string names;
  if (!ReadAttribute([&path](char* into, std::size_t size) { return ::llistxattr(path.c_str(), into, size); }, names)) {
    return errno == ENOTSUP;  // a file system without attributes
  }
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1) {
    const std::string name = names.c_str() + at;
    if (name == "security.capability") continue;
    std::string value;
    const auto get = [&path, &name](char* into, std::size_t size) { return ::lgetxattr(path.c_str(), name.c_str(), into, size); };
    if (!ReadAttribute(get, value)) return false;
    if (name == kAccessAcl) {
      access.acl = value;
    } else {
      access.attributes.emplace_back(name, value);
    }
  }
  return true;
}

// Gives the new file what the replaced one had: its group, its attributes,
// its ACL or none where it had none (an ACL that the folder's default gave
// the new file is removed), and its permission bits. False if any of that
// is not permitted.
bool GiveAccess(int fd, const Access& access) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  if (info.st_gid != access.group && ::fchown(fd, static_cast<uid_t>(-1), access.group) != 0) return false;
  for (const auto& attribute : access.attributes) {
    const char* const name = attribute.first.c_str();
    const std::string& value = attribute.second;
    // One that the new file already has (a security label the folder gave
    // both) needs no permission to keep.
    std::string own;
    const auto get = [fd, name](char* into, std::size_t size) { return ::fgetxattr(fd, name, into, size); };
    if (ReadAttribute(get, own) && own == value) continue;
    if (::fsetxattr(fd, name, value.data(), value.size(), 0) != 0) return false;
  }
  if (!access.acl.empty()) {
    if (::fsetxattr(fd, kAccessAcl, access.acl.data(), access.acl.size(), 0) != 0) return false;
  } else if (::fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
    return false;
  }
  return ::fchmod(fd, access.mode) == 0;
}

// The process's umask, read without changing it (another thread may be
// creating files); 077, the narrowest, when it cannot be read.
mode_t CurrentUmask() {
  mode_t mask = 077;
  if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value & 0777);
        break;
      }
    }
    std::fclose(status);
  }
  return mask;
}

// An access ACL as the kernel derives it from a folder's default ACL for a
// file created with mode 0666: the owner's, the mask's (or without a mask
// the group's) and the others' entries keep only what that mode allows.
// The value is the kernel's: a version word, then entries of a 16-bit tag,
// 16-bit permissions and a 32-bit id, all little-endian.
std::string AclOfNewFile(std::string acl) {
  constexpr std::uint16_t kUserObj = 0x01, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
  constexpr std::size_t kHeader = 4, kEntry = 8;
  const auto tagAt = [&acl](std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(acl[at]) | static_cast<unsigned char>(acl[at + 1]) << 8);
  };
  bool hasMask = false;
  for (std::size_t at = kHeader; at + kEntry <= acl.size(); at += kEntry) hasMask = hasMask || tagAt(at) == kMask;
  for (std::size_t at = kHeader; at + kEntry <= acl.size(); at += kEntry) {
    const std::uint16_t tag = tagAt(at);
    const bool groupBits = tag == kMask || (tag == kGroupObj && !hasMask);
    if (tag == kUserObj || tag == kOther || groupBits) acl[at + 2] = static_cast<char>(acl[at + 2] & 06);
  }
  return acl;
}

// Gives a new file, made 0600 under a name, the access that creating it
// under its final name would have given: the folder's default ACL where it
// has one, else 0666 less the umask.
bool GiveNewFilePermissions(int fd, const OutputFolder& folder) {
  std::string defaults;
  const auto get = [&folder](char* into, std::size_t size) { return ::getxattr(folder.folder.c_str(), kDefaultAcl, into, size); };
  if (ReadAttribute(get, defaults) && !defaults.empty()) {
    const std::string acl = AclOfNewFile(defaults);
    return ::fsetxattr(fd, kAccessAcl, acl.data(), acl.size(), 0) == 0;
  }
  return ::fchmod(fd, 0666 & ~CurrentUmask()) == 0;
}

// ---- Temporary files -----------------------------------------------------

std::atomic<bool> gNamedTemporaryFilesOnly{false};

// A name for a temporary file beside output that no other run can guess:
// a dot, as much of the output's name as fits, ".edgeseg-" and 64 random
// bits. Two runs never share one, even with the same process id (two
// containers writing into one folder).
std::string RandomTemporaryName(const std::string& output) {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    static std::atomic<std::uint64_t> counter{0};
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    bits = (static_cast<std::uint64_t>(now.tv_nsec) ^ static_cast<std::uint64_t>(now.tv_sec) << 30) * 0x9E3779B97F4A7C15u ^
           (static_cast<std::uint64_t>(::getpid()) << 40) ^ counter.fetch_add(1) * 0xBF58476D1CE4E5B9u;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(bits));
  return TemporaryName(output, kTemporaryMark + std::string(hex));
}

// How many taken names a run tries before it gives up; another run's name
// is taken by chance only once in 2^64.
constexpr int kNameTries = 16;

// The file an output is written to before it takes the output's name. Where
// the folder allows, it has no name until it is complete (O_TMPFILE):
// nobody can open it, the folder's default ACL and the umask apply as for
// any new file, and a run that ends in any way leaves nothing. Elsewhere it
// gets a random name, created anew with mode 0600 (never one that was
// there). Whatever name it has is removed again unless it was renamed into
// place; only a file this run created is ever removed.
// What closing the file would report, with the file kept open (it is yet
// to be linked or copied into place): a file system's flush on close, where
// NFS and FUSE report write errors that the writes did not, runs on the
// close of every descriptor of the file, a copy's included.
bool CloseReportsNoError(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  return copy >= 0 && ::close(copy) == 0;
}

class TemporaryFile {
 public:
  explicit TemporaryFile(int folder) : folder_(folder), fd_(-1) {}
  ~TemporaryFile() {
    fd_.Reset(-1);
    RemoveName();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_.get(); }
  bool named() const { return !name_.empty(); }

  // Each returns false, with errno set, when no such file could be made.
  bool CreateUnnamed() {
    // The name is linked through /proc/self/fd, which needs no privilege.
    if (gNamedTemporaryFilesOnly.load() || ::access("/proc/self/fd", X_OK) != 0) {
      errno = EOPNOTSUPP;
      return false;
    }
    fd_.Reset(::openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
    return fd_.get() >= 0;
  }
  bool CreateNamed(const std::string& output) {
    for (int tries = 0; tries < kNameTries; ++tries) {
      const std::string name = RandomTemporaryName(output);
      const SignalBlock block;
      fd_.Reset(::openat(folder_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd_.get() >= 0) {
        Publish(name);
        return true;
      }
      if (errno != EEXIST) return false;
    }
    return false;
  }

  // Gives the complete unnamed file a random name beside output.
  void Name(const std::string& output) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    for (int tries = 0; tries < kNameTries; ++tries) {
      const std::string name = RandomTemporaryName(output);
      const SignalBlock block;
      if (::linkat(AT_FDCWD, self.c_str(), folder_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        Publish(name);
        return;
      }
      if (errno != EEXIST) break;
    }
    throw std::runtime_error("cannot name output file");
  }

  // Links the complete unnamed file under output, a name that must not be
  // taken; false, with errno set, if it cannot be.
  bool LinkAs(const std::string& output) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    return ::linkat(AT_FDCWD, self.c_str(), folder_, output.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }

  // Renames the named file over output; 0, or the errno of the failure.
  int RenameOver(const std::string& output) {
    const SignalBlock block;
    if (::renameat(folder_, name_.c_str(), folder_, output.c_str()) != 0) return errno;
    name_.clear();
    WithdrawTemporary();
    return 0;
  }

  void RemoveName() {
    if (name_.empty()) return;
    const SignalBlock block;
    ::unlinkat(folder_, name_.c_str(), 0);
    name_.clear();
    WithdrawTemporary();
  }

 private:
  void Publish(const std::string& name) {
    name_ = name;
    PublishTemporary(folder_, name_);
  }

  int folder_;
  FileDescriptor fd_;
  std::string name_;  // empty while the file has none of its own
};

// ---- Writing in place ----------------------------------------------------

// Opens the output's name for writing in place, emptied, as a file written
// in place is. O_NONBLOCK makes the open of a named pipe without a reader
// fail instead of waiting forever; the writes themselves block as usual.
int OpenInPlace(const OutputFolder& folder, int follow) {
  const int fd = ::openat(folder.fd.get(), folder.name.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC | follow, 0666);
  if (fd < 0) throw std::runtime_error("cannot create output file");
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot create output file");
  }
  return fd;
}

void WriteInPlace(const OutputFolder& folder, int follow, const NextPiece& next) {
  FileDescriptor file(OpenInPlace(folder, follow));
  WritePieces(file.get(), next);
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}

// Rewrites the output in place from a complete file, for a name that
// cannot be renamed over: a bind-mounted file, a mount point, a name in an
// append-only folder. Only this copy can still be cut short.
void RewriteInPlace(const OutputFolder& folder, int follow, int complete) {
  struct stat info {};
  if (::fstat(complete, &info) != 0) throw std::runtime_error("cannot read output file");
  FileDescriptor file(OpenInPlace(folder, follow));
  off_t offset = 0;
  while (offset < info.st_size) {
    const auto want = static_cast<std::size_t>(std::min<std::uintmax_t>(static_cast<std::uintmax_t>(info.st_size - offset), kMaxTransfer));
    const ssize_t put = ::sendfile(file.get(), complete, &offset, want);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw std::runtime_error("cannot write output file");
  }
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}

}  // namespace

void PrepareForOutput() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction previous {};
    // One ignored from the start (nohup, a script's background job) stays so.
    if (EndsWithCleanup(signal) && ::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
      sigaddset(&set, signal);
    }
  }
  gCleanupSignals = set;
  struct sigaction cleanup {};
  cleanup.sa_handler = EndBySignal;
  cleanup.sa_mask = set;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&set, signal) == 1) ::sigaction(signal, &cleanup, nullptr);
  }
  gHandlersInstalled.store(true);
}

void SetSignalEraseText(std::string_view bytes) {
  const SignalBlock block;
  gEraseText = bytes.data();
  gEraseLength = static_cast<std::sig_atomic_t>(bytes.size());
}

void UseNamedTemporaryFilesOnly(bool namedOnly) { gNamedTemporaryFilesOnly.store(namedOnly); }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

bool IsExistingFile(const std::string& name) {
  struct stat info {};
  return ::stat(name.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

FileBytes ReadFileUpToNul(const std::string& name) {
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

void WriteFileInPieces(const std::string& path, const NextPiece& next) {
  const OutputFolder folder(path);
  struct stat old {};
  const bool exists = ::fstatat(folder.fd.get(), folder.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return WriteInPlace(folder, 0, next);  // the open tells what is wrong
  if (exists && S_ISLNK(old.st_mode)) {
    if (!MayFollow(folder, old)) throw std::runtime_error("output is a link planted by another user");
    return WriteInPlace(folder, 0, next);
  }
  // Nothing else in a shared folder is ever followed: a link put there
  // after the look above is refused by the open.
  const int follow = folder.shared ? O_NOFOLLOW : 0;

  // Only nothing, or a plain file of this user's that they may write, is
  // replaced; a file of several links or another owner, a device or a pipe
  // is written in place, where the kernel's own checks on it apply. So is a
  // file whose group, ACL or attributes the new one could not be given.
  Access access;
  const bool replaceable = !exists || (S_ISREG(old.st_mode) && old.st_nlink == 1 && old.st_uid == ::geteuid() &&
                                       ::faccessat(folder.fd.get(), folder.name.c_str(), W_OK, AT_EACCESS) == 0 &&
                                       ReadAccess(path, old, access));
  if (!replaceable) return WriteInPlace(folder, follow, next);

  TemporaryFile temporary(folder.fd.get());
  // An append-only folder takes no temporary name: only an unnamed file.
  if (!temporary.CreateUnnamed() && (folder.appendOnly || !temporary.CreateNamed(folder.name))) {
    // A full disk would fail the write in place too, after emptying the
    // file; any other refusal (a folder that takes no new file) leaves the
    // output to be written in place, or to fail there.
    if (errno == ENOSPC || errno == EDQUOT) throw std::runtime_error("no room for the output");
    return WriteInPlace(folder, follow, next);
  }
  // An unnamed file can be given its final access at once; one that cannot
  // be given it is written in place instead, before anything is written. A
  // named file keeps mode 0600 until it is complete (an attribute may grant
  // access too); one that cannot be given its access then is copied over
  // the old file in place, which keeps what that file has.
  if (exists && !temporary.named() && !GiveAccess(temporary.fd(), access)) return WriteInPlace(folder, follow, next);
  WritePieces(temporary.fd(), next);
  if (!CloseReportsNoError(temporary.fd())) throw std::runtime_error("cannot close output file");
  if (temporary.named() && !exists && !GiveNewFilePermissions(temporary.fd(), folder)) {
    throw std::runtime_error("cannot set output permissions");
  }
  if (temporary.named() && exists && !GiveAccess(temporary.fd(), access)) {
    temporary.RemoveName();
    return RewriteInPlace(folder, follow, temporary.fd());
  }

  if (folder.appendOnly) {
    if (!exists && temporary.LinkAs(folder.name)) return;
    return RewriteInPlace(folder, follow, temporary.fd());
  }
  if (!temporary.named()) temporary.Name(folder.name);
  const int error = temporary.RenameOver(folder.name);
  if (error == EBUSY || error == EXDEV) {
    temporary.RemoveName();
    return RewriteInPlace(folder, follow, temporary.fd());
  }
  if (error != 0) throw std::runtime_error("cannot rename output file");
}

}  // namespace edgeseg
