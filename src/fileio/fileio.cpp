#include "fileio/fileio.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "fileio/readuntil.h"

namespace edgeseg {

// Pieces given at once are pieces given one by one; an empty one among them
// is passed over, since only the end may give an empty piece.
void WriteWholeFile(const std::string& name,
                    std::initializer_list<std::span<const std::byte>> pieces) {
  auto piece = pieces.begin();
  WriteFileInPieces(name, [&piece, &pieces]() -> std::span<const std::byte> {
    while (piece != pieces.end() && piece->empty()) ++piece;
    return piece == pieces.end() ? std::span<const std::byte>{} : *piece++;
  });
}

std::span<const char> BeforeFirstNul(std::span<const char> text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul == nullptr ? text : text.first(static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
}

std::string TemporaryName(const std::string& name, const std::string& suffix) {
  const std::size_t slash = name.find_last_of('/');
  return TemporaryNameAt(name, slash == std::string::npos ? 0 : slash + 1, suffix);
}

namespace {

// Each read asks for at most this much, and its bytes are searched for a
// NUL while they are still in the cache; an input that begins with a NUL
// (a sparse hole, /dev/zero) costs one piece.
constexpr std::size_t kPiece = std::size_t{1} << 20;

// The most that a claimed length reserves before its bytes have arrived: a
// sparse file of terabytes reserves no more than this for its first piece.
constexpr std::size_t kFirstReservation = std::size_t{64} << 20;

// The room for a buffer that must hold needed bytes: the claimed length
// when that is enough (one buffer of a file's length, whatever the first
// reservation was), else twice what is needed, so that a pipe's bytes are
// moved a bounded number of times.
std::size_t RoomFor(std::size_t needed, std::size_t hint) {
  if (hint >= needed) return hint;
  if (needed > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
  return 2 * needed;
}

}  // namespace

FileBytes ReadUntilEndOrNul(std::uintmax_t sizeHint, const ReadSome& readSome) {
  const auto hint = static_cast<std::size_t>(std::min<std::uintmax_t>(sizeHint, std::numeric_limits<std::size_t>::max()));
  std::size_t room = std::min(hint, kFirstReservation);
  FileBytes bytes;
  bytes.data = ObtainBuffer<char>(room);
  // A full buffer reads a small probe before it grows: a file of exactly
  // its claimed length then takes no room beyond it.
  char probe[4096];
  for (;;) {
    const bool full = bytes.size == room;
    char* const into = full ? probe : bytes.data.get() + bytes.size;
    const std::size_t got = readSome(into, full ? sizeof probe : std::min(room - bytes.size, kPiece));
    if (got == 0) break;
    if (full) {
      room = RoomFor(bytes.size + got, hint);
      GrowBuffer(bytes.data, room, bytes.size);
      std::memcpy(bytes.data.get() + bytes.size, probe, got);
    }
    const std::size_t kept = BeforeFirstNul({bytes.data.get() + bytes.size, got}).size();
    bytes.size += kept;
    if (kept < got) break;
  }
  return bytes;
}

}  // namespace edgeseg
