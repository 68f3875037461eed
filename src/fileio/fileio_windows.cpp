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
#include <climits>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "fileio/readuntil.h"

namespace edgeseg {

// Whole-file access through Windows file handles. Handles know no text mode,
// so every byte moves unchanged, and each file is opened without sharing:
// nobody can write to an input while it is read or open an output while it
// is written. Lengths are 64 bits and transfers go piece by piece, so a
// file of any length is read up to its end or its first NUL byte.

namespace {

// ReadFile and WriteFile count in 32 bits; 1 GiB a call stays well inside.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

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

}  // namespace

// Windows has no signals of failing writes: a failed write just reports its
// failure. What it does have is a text mode on the C library's streams,
// which would turn every line feed of the messages and of the domain report
// into a carriage return and a line feed; both streams carry bytes instead.
void PrepareForOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

// No signal of POSIX's kind ends a Windows run, and no progress line is
// drawn.
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

FileBytes ReadWholeFile(const std::string& name) {
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
  // Opened as it is and then emptied, rather than created anew: creating
  // over a hidden or system file fails, and any file of that name is to be
  // replaced.
  FileHandle file = OpenExclusive(name, GENERIC_WRITE, OPEN_ALWAYS);
  if (file.get() == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create output file");
  if (IsDiskFile(file.get()) && !::SetEndOfFile(file.get())) throw std::runtime_error("cannot empty output file");
  for (auto piece = next(); !piece.empty(); piece = next()) WriteAll(file.get(), piece.data(), piece.size());
  if (!file.Close()) throw std::runtime_error("cannot close output file");
}

}  // namespace edgeseg
