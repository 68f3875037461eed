#pragma once
// What every platform's file access shares: the one way ReadFileUpToNul
// reads, the most one read or write moves, and how an output's temporary
// name is made. The platforms differ only in how a file is opened, sized,
// read from and written to, and in where a name's last component starts.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

#include "fileio/fileio.h"

namespace edgeseg {

// Each read or write asks for at most 1 GiB, well inside every limit it
// meets: Linux moves at most about 2 GiB in one call, Windows' ReadFile and
// WriteFile count bytes in 32-bit DWORDs, and any C library's fread and
// fwrite handle that much at once.
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Reads into at most the given room and gives how many bytes arrived: 0 at
// the end of the data. Throws std::runtime_error when the read fails.
using ReadSome = std::function<std::size_t(char* into, std::size_t room)>;

// Reads until the data ends or its first NUL byte arrives; the bytes before
// that NUL are the result. sizeHint (0 when unknown) is the length the file
// claims: a file that holds no NUL and just that length goes into one buffer
// of that length, while one that holds more, or a pipe, makes the buffer
// grow as its bytes arrive. Throws std::bad_alloc when the bytes cannot be
// held.
FileBytes ReadUntilEndOrNul(std::uintmax_t sizeHint, const ReadSome& readSome);

// The longest last component of a name: 255 bytes on the usual file systems
// (ext4, XFS, tmpfs, btrfs, APFS), 255 UTF-16 units on NTFS. One that allows
// less refuses the create, which each build then treats as any other.
inline constexpr std::size_t kNameMax = 255;

// What a temporary name holds between the output's name and its random
// part, and what marks it as this tool's.
inline constexpr char kTemporaryMark[] = ".edgeseg-";

// How many random names the builds that draw from std::random_device try
// when the one drawn is taken.
inline constexpr int kNameAttempts = 100;

// The temporary name of name, whose last component starts at start: the
// folder part, a dot, as much of the last component as kNameMax leaves room
// for, and suffix. Empty when there is no last component or suffix leaves
// no room. String is std::string, or std::wstring on Windows.
template <class String>
String TemporaryNameAt(const String& name, std::size_t start, const String& suffix) {
  if (start == name.size() || suffix.size() + 1 >= kNameMax) return {};
  return name.substr(0, start) + typename String::value_type{'.'} + name.substr(start, kNameMax - 1 - suffix.size()) +
         suffix;
}

// kTemporaryMark and 64 bits from random, in decimal.
template <class String>
String RandomTemporarySuffix(std::random_device& random) {
  const std::uint64_t draw = std::uint64_t{random()} << 32 | random();
  const std::string suffix = kTemporaryMark + std::to_string(draw);
  return String(suffix.begin(), suffix.end());  // ASCII, the same in UTF-16
}

}  // namespace edgeseg
