#pragma once
// A picture of 32-bit pixels (byte 0 blue, 1 green, 2 red, 3 spare, always
// 0 here) that is saved as an uncompressed BMP file.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "buffers/buffers.h"

namespace edgeseg {

inline constexpr std::size_t kBmpHeaderSize = 54;

// True when the BMP file of a W x H picture (W, H at least 0), 54 + 4*W*H
// bytes, fits the header's 32-bit size field: up to 1,073,741,810 pixels.
bool FitsBmpFile(std::int32_t W, std::int32_t H);

// Throws std::runtime_error unless FitsBmpFile(W, H).
void CheckBmpFileSize(std::int32_t W, std::int32_t H);

// The 14-byte file header and the 40-byte information header of a W x H
// 32-bit BI_RGB picture stored bottom-up, little-endian field by field.
// Throws as CheckBmpFileSize does.
std::array<std::uint8_t, kBmpHeaderSize> MakeBmpHeader(std::int32_t W, std::int32_t H);

class TBitmap {
 public:
  TBitmap() = default;

  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  bool IsPixelFormat32() const { return pixelFormat32_; }

  // Resize to newWidth x Height() or Width() x newHeight. An unchanged size
  // does nothing. A size with a 0 in it drops the store. Otherwise the new
  // store is white, with the old picture copied in from the top-left corner.
  // Throws (keeping the bitmap as it was) on a negative size or when the
  // store cannot be obtained.
  void SetBitmapWidth(std::int32_t newWidth);
  void SetBitmapHeight(std::int32_t newHeight);

  // Switches to 32 bits per pixel, keeping the picture.
  void EnsurePixelFormat32();

  // The 4*Width() bytes of row y, counted from the top, in place. Throws
  // unless 0 <= y < Height(). Empty when the width is 0. Inline, since the
  // renderers fetch every row: a narrow picture has millions of them.
  std::span<std::uint8_t> RowPixels(std::int32_t y) {
    if (y < 0 || y >= height_) ThrowRowOutOfRange();
    if (!store_) return {};
    const std::size_t rowBytes = std::size_t{4} * static_cast<std::size_t>(width_);
    return {store_.get() + rowBytes * static_cast<std::size_t>(height_ - 1 - y), rowBytes};
  }

  // The store as it lies, bottom row first, 4*Width()*Height() bytes; empty
  // without a store.
  std::span<const std::uint8_t> Pixels() const;

  // Writes the headers and then the store as it lies (bottom row first),
  // replacing any file of that name; a bitmap without a store gives an empty
  // file. Throws, before creating the file, if the picture is too large for
  // a BMP, and if the file cannot be created or written in full. A run
  // writes its pictures a band at a time (SaveBmpFileInBands); this stays
  // as the whole bitmap's own save.
  void SaveBmpFile(const std::string& name) const;

 private:
  void Resize(std::int32_t newWidth, std::int32_t newHeight);
  [[noreturn]] static void ThrowRowOutOfRange();

  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  // Both formats keep 4 bytes a pixel, so the switch only records the format.
  bool pixelFormat32_ = false;
  Buffer<std::uint8_t> store_;  // bottom row first; null without a size
};

// Draws rows firstRow to firstRow + rows - 1 of a picture into band, sized
// to its width x rows, 32 bits a pixel.
using DrawBand = std::function<void(std::int32_t firstRow, std::int32_t rows, TBitmap& band)>;

// Writes a W x H picture as SaveBmpFile would, without ever holding it
// whole, but for a W or H of 0: then the file is the 54 bytes of the
// headers, where SaveBmpFile writes an empty one. The headers, then bands of at most bandRows rows from the bottom of
// the picture up, each drawn by draw into one small bitmap and written
// (bottom row first) before the next is drawn. Throws before anything is
// written if the picture is too large for a BMP or bandRows is below 1, and
// if the first band comes back in another size than asked: it is drawn and
// checked before the file is opened. A later band of another size, or a
// throw from draw, ends the write as a failed write does (WriteFileInPieces);
// otherwise throws as SaveBmpFile.
void SaveBmpFileInBands(const std::string& name, std::int32_t W, std::int32_t H, std::int32_t bandRows,
                        const DrawBand& draw);

}  // namespace edgeseg
