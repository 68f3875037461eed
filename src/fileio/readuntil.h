#pragma once
// What every platform's file access shares: the one way ReadFileUpToNul
// reads, and the most one read or write moves. The platforms differ only in
// how a file is opened, sized, read from and written to.

#include <cstddef>
#include <cstdint>
#include <functional>

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

}  // namespace edgeseg
