#include "fileio/fileio.h"

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

std::string TemporaryName(const std::string& name, const std::string& suffix) {
  // 255 bytes is the name limit of the usual file systems (ext4, XFS, tmpfs,
  // btrfs, APFS); one that allows less fails the create, and then the output
  // is written in place.
  constexpr std::size_t kNameMax = 255;
  const std::size_t slash = name.find_last_of('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  if (start == name.size() || suffix.size() + 1 >= kNameMax) return {};
  const std::size_t room = kNameMax - 1 - suffix.size();
  return name.substr(0, start) + "." + name.substr(start, room) + suffix;
}
