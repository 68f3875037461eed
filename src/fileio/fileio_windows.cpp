#include "fileio/fileio.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>

#include "fileio/readuntil.h"

namespace edgeseg {

// Whole-file access through Windows file handles. Handles know no text mode,
// so every byte moves unchanged, and each file is opened without sharing:
// nobody can write to an input while it is read or open an output while it
// is written. Lengths are 64 bits and transfers go piece by piece, so a
// file of any length is read up to its end or its first NUL byte. An output
// on a disk is written under a temporary name beside it and put in its place
// once complete, so that it appears whole or not at all.

namespace {

// The name as Windows' wide functions take it. The names come from main's
// arguments, which Windows hands over in the ANSI code page, so they go back
// through the same page. A name that cannot be converted names nothing.
std::wstring WideName(const std::string& name) {
  if (name.empty() || name.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(name.size());
  const int wideLength = ::MultiByteToWideChar(CP_ACP, 0, name.data(), length, nullptr, 0);
  if (wideLength <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  if (::MultiByteToWideChar(CP_ACP, 0, name.data(), length, wide.data(), wideLength) != wideLength) return {};
  return wide;
}

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }
  // Closes now and reports the result, for writers that must know.
  bool Close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) != 0;
  }

 private:
  HANDLE handle_;
};

// Opens without sharing (share mode 0). An empty or unconvertible name
// opens nothing.
FileHandle OpenExclusive(const std::string& name, DWORD access, DWORD disposition) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return FileHandle(INVALID_HANDLE_VALUE);
  return FileHandle(::CreateFileW(wide.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Only a file on a disk has a length and can be emptied; a device (NUL,
// CON), a pipe or a console has neither.
bool IsDiskFile(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

// Reads what is there, waiting for it as any reader does: 0 at the end,
// which a pipe whose writer has gone reports as a broken pipe.
std::size_t ReadSomeOf(HANDLE handle, char* into, std::size_t room) {
  DWORD got = 0;
  if (!::ReadFile(handle, into, static_cast<DWORD>(std::min(room, kMaxTransfer)), &got, nullptr)) {
    if (::GetLastError() == ERROR_BROKEN_PIPE) return 0;
    throw std::runtime_error("cannot read input file");
  }
  return got;
}

void WriteAll(HANDLE handle, const std::byte* data, std::size_t size) {
  while (size > 0) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min(size, kMaxTransfer));
    if (!::WriteFile(handle, data, want, &put, nullptr) || put == 0) {
      throw std::runtime_error("cannot write output file");
    }
    data += put;
    size -= put;
  }
}

void WritePieces(HANDLE handle, const NextPiece& next) {
  for (auto piece = next(); !piece.empty(); piece = next()) WriteAll(handle, piece.data(), piece.size());
}

// The temporary file being written, for the console control handler, which
// runs on a thread of its own: it is read and changed only under the lock.
// Only the command installs the handler (PrepareForOutput), and only then do
// writes record their temporary file here, so that a library's calls never
// touch it. A fixed buffer, so that the handler never allocates.
SRWLOCK gTemporaryLock = SRWLOCK_INIT;
std::atomic<bool> gHandlerInstalled{false};
wchar_t gTemporary[32768];  // the longest name Windows knows, with its end
bool gTemporaryRecorded = false;

// Holds the lock while the handler is installed, so that the handler sees
// a temporary file either not yet created or created and recorded, never
// between, and never one already put in place.
class TemporaryLock {
 public:
  TemporaryLock() : held_(gHandlerInstalled.load()) {
    if (held_) ::AcquireSRWLockExclusive(&gTemporaryLock);
  }
  ~TemporaryLock() {
    if (held_) ::ReleaseSRWLockExclusive(&gTemporaryLock);
  }
  TemporaryLock(const TemporaryLock&) = delete;
  TemporaryLock& operator=(const TemporaryLock&) = delete;
  // Records name (empty: none) for the handler; a no-op when it is not
  // installed.
  void Record(const std::wstring& name) {
    if (!held_) return;
    gTemporaryRecorded = !name.empty();
    std::copy(name.begin(), name.end(), gTemporary);
    gTemporary[name.size()] = L'\0';
  }

 private:
  bool held_;
};

// Ctrl-C, Ctrl-Break and a closed console window remove the temporary file
// and end the run with the status Windows gives a run ended by Ctrl-C. The
// handler ends the process itself, still holding the lock, rather than
// returning FALSE to the default handler, which would end it a moment later:
// in that moment the main thread could create or put in place another file,
// or print its message. DeleteFileW works on the open file, which shares
// deletion, and the file goes when the process closes it. Windows does not
// call the handler for Ctrl-C when the run was started with it ignored.
BOOL WINAPI RemoveTemporaryAndEnd(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  ::AcquireSRWLockExclusive(&gTemporaryLock);
  if (gTemporaryRecorded) ::DeleteFileW(gTemporary);
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

// The temporary name of an output (TemporaryNameAt), its last component
// starting after the last slash or backslash, or after a drive's colon.
std::wstring TemporaryNameBeside(const std::wstring& name, const std::wstring& suffix) {
  std::size_t start = name.find_last_of(L"\\/");
  start = start == std::wstring::npos ? 0 : start + 1;
  if (start == 0 && name.size() >= 2 && name[1] == L':') start = 2;  // "C:res", the drive's current folder
  return TemporaryNameAt(name, start, suffix);
}

// An output's temporary file: created anew under a random name that no one
// else has, shared with nobody but a deleter, and removed again unless
// PutInPlace succeeds.
class TemporaryFile {
 public:
  // handle() is INVALID_HANDLE_VALUE when no file could be created.
  explicit TemporaryFile(const std::wstring& target) {
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      name_ = TemporaryNameBeside(target, RandomTemporarySuffix<std::wstring>(random));
      if (name_.empty() || name_.size() >= std::size(gTemporary)) return;
      TemporaryLock lock;
      handle_ = ::CreateFileW(name_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      const DWORD error = ::GetLastError();
      if (handle_ != INVALID_HANDLE_VALUE) {
        created_ = true;
        lock.Record(name_);
        return;
      }
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return;
    }
  }
  ~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!created_ || placed_) return;
    TemporaryLock lock;
    ::DeleteFileW(name_.c_str());
    lock.Record({});
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  HANDLE handle() const { return handle_; }

  // Closes the file and puts it in target's place: ReplaceFileW over a file
  // that exists, which gives the new file the old one's ACL and attributes,
  // MoveFileExW to a name that does not. Throws, with the file removed, if
  // that fails; the old file then stays, unless ReplaceFileW failed after
  // moving it aside.
  void PutInPlace(const std::wstring& target, bool replace) {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) throw std::runtime_error("cannot close output file");
    {
      TemporaryLock lock;
      if (replace) {
        placed_ = ::ReplaceFileW(target.c_str(), name_.c_str(), nullptr, 0, nullptr, nullptr) != 0;
        // 1176 and 1177: the old file has gone, or was moved aside under a
        // name of Windows' choosing, and the name is free for the new one.
        const DWORD error = placed_ ? ERROR_SUCCESS : ::GetLastError();
        if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
          placed_ = ::MoveFileExW(name_.c_str(), target.c_str(), 0) != 0;
        }
      } else {
        placed_ = ::MoveFileExW(name_.c_str(), target.c_str(), 0) != 0;
      }
      if (placed_) lock.Record({});
    }
    if (!placed_) throw std::runtime_error("cannot put output file in place");
  }

 private:
  std::wstring name_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  bool created_ = false;
  bool placed_ = false;
};

}  // namespace

// Every temporary file of this build has a name of its own already.
void UseNamedTemporaryFilesOnly(bool) {}

// Windows has no signals of failing writes: a failed write just reports its
// failure. What it does have is a text mode on the C library's streams,
// which would turn every line feed of the messages and of the domain report
// into a carriage return and a line feed; both streams carry bytes instead.
// And the console control handler that removes a temporary file when the
// run is ended from the console.
void PrepareForOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  if (::SetConsoleCtrlHandler(RemoveTemporaryAndEnd, TRUE)) gHandlerInstalled = true;
}

// No progress line is drawn, so there is nothing to erase on Ctrl-C.
void SetSignalEraseText(std::string_view) {}

// No progress line: the Windows build is tested under wine without a
// console, where a line drawn on one could not be checked.
bool StandardErrorIsTerminal() { return false; }

bool IsExistingFile(const std::string& name) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

FileBytes ReadFileUpToNul(const std::string& name) {
  FileHandle file = OpenExclusive(name, GENERIC_READ, OPEN_EXISTING);
  if (file.get() == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open input file");
  // Only a file on a disk claims a length, and it is a hint for the buffer;
  // a device or a pipe is read until it ends.
  std::uintmax_t hint = 0;
  if (IsDiskFile(file.get())) {
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file.get(), &length) || length.QuadPart < 0) {
      throw std::runtime_error("cannot size input file");
    }
    hint = static_cast<std::uintmax_t>(length.QuadPart);
  }
  return ReadUntilEndOrNul(hint, [&file](char* into, std::size_t room) { return ReadSomeOf(file.get(), into, room); });
}

void WriteFileInPieces(const std::string& name, const NextPiece& next) {
  const std::wstring wide = WideName(name);
  if (wide.empty()) throw std::runtime_error("cannot create output file");
  // What the name is, opened as a writer that shares nothing would open it
  // but without emptying it: a file that is read-only, held by another
  // program or a folder refuses, and keeps what it holds. A device (NUL,
  // CON) or a pipe is written through this open, as it has no place to
  // put a new file in.
  FileHandle existing(::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  if (existing.get() == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
    throw std::runtime_error("cannot create output file");
  }
  const bool replace = existing.get() != INVALID_HANDLE_VALUE;
  if (replace && !IsDiskFile(existing.get())) {
    WritePieces(existing.get(), next);
    if (!existing.Close()) throw std::runtime_error("cannot close output file");
    return;
  }
  if (replace && !existing.Close()) throw std::runtime_error("cannot close output file");
  // Never written in place: a folder that takes no new file fails the
  // output rather than risk cutting the old one.
  TemporaryFile temporary(wide);
  if (temporary.handle() == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create temporary file");
  WritePieces(temporary.handle(), next);
  temporary.PutInPlace(wide, replace);
}

}  // namespace edgeseg
