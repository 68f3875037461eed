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
