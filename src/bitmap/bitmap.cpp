#include "bitmap/bitmap.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "fileio/fileio.h"

namespace edgeseg {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
static_assert(kFileHeaderSize + kInfoHeaderSize == kBmpHeaderSize, "the headers are the file header, then the info header");

std::size_t StoreBytes(std::int32_t W, std::int32_t H) {
  // Widths and heights are below 2^31, so 4*W*H stays below 2^64.
  return std::size_t{4} * static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
}

void PutU16LE(std::uint8_t* at, std::uint16_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32LE(std::uint8_t* at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool FitsBmpFile(std::int32_t W, std::int32_t H) { return StoreBytes(W, H) <= 0xFFFFFFFFu - kBmpHeaderSize; }

void CheckBmpFileSize(std::int32_t W, std::int32_t H) {
  if (!FitsBmpFile(W, H)) throw std::runtime_error("picture too large for a BMP file");
}

std::array<std::uint8_t, kBmpHeaderSize> MakeBmpHeader(std::int32_t W, std::int32_t H) {
  CheckBmpFileSize(W, H);
  const auto imageSize = static_cast<std::uint32_t>(StoreBytes(W, H));
  std::array<std::uint8_t, kBmpHeaderSize> header{};
  std::uint8_t* h = header.data();
  // File header: signature, file size, two reserved words, pixel offset.
  h[0] = 'B';
  h[1] = 'M';
  PutU32LE(h + 2, static_cast<std::uint32_t>(kBmpHeaderSize) + imageSize);
  PutU32LE(h + 10, static_cast<std::uint32_t>(kBmpHeaderSize));
  // Information header: its size, the picture's size (a positive height
  // means bottom-up rows), one plane, 32 bits a pixel, no compression.
  h += kFileHeaderSize;
  PutU32LE(h + 0, kInfoHeaderSize);
  PutU32LE(h + 4, static_cast<std::uint32_t>(W));
  PutU32LE(h + 8, static_cast<std::uint32_t>(H));
  PutU16LE(h + 12, 1);
  PutU16LE(h + 14, 32);
  PutU32LE(h + 16, 0);
  PutU32LE(h + 20, imageSize);
  // Resolution and colour counts stay 0.
  return header;
}

void TBitmap::SetBitmapWidth(std::int32_t newWidth) { Resize(newWidth, height_); }

void TBitmap::SetBitmapHeight(std::int32_t newHeight) { Resize(width_, newHeight); }

void TBitmap::EnsurePixelFormat32() { pixelFormat32_ = true; }

void TBitmap::Resize(std::int32_t newWidth, std::int32_t newHeight) {
  if (newWidth < 0 || newHeight < 0) throw std::runtime_error("negative bitmap size");
  if (newWidth == width_ && newHeight == height_) return;
  if (store_ && newWidth > 0 && newHeight > 0 && newWidth <= width_ && newHeight <= height_) {
    // Shrinking keeps the top-left part: it moves down into the store it
    // already has, bottom row first, each row to an address no later than
    // its old one, so no row is overwritten before it has moved.
    const std::int32_t droppedRows = height_ - newHeight;
    if (newWidth == width_) {
      // The kept rows lie together: one move, however many rows there are.
      std::memmove(store_.get(), store_.get() + StoreBytes(width_, droppedRows), StoreBytes(width_, newHeight));
    } else {
      for (std::int32_t r = 0; r < newHeight; ++r) {
        std::memmove(store_.get() + StoreBytes(newWidth, r), store_.get() + StoreBytes(width_, r + droppedRows),
                     StoreBytes(newWidth, 1));
      }
    }
    width_ = newWidth;
    height_ = newHeight;
    return;
  }
  Buffer<std::uint8_t> store;
  if (newWidth > 0 && newHeight > 0) {
    const std::size_t bytes = StoreBytes(newWidth, newHeight);
    store = ObtainBuffer<std::uint8_t>(bytes);
    // White with the spare byte 0, one pixel and then by doubling copies.
    constexpr std::uint8_t kWhite[4] = {255, 255, 255, 0};
    std::memcpy(store.get(), kWhite, sizeof kWhite);
    for (std::size_t filled = sizeof kWhite; filled < bytes; filled *= 2) {
      std::memcpy(store.get() + filled, store.get(), std::min(filled, bytes - filled));
    }
    if (store_) {
      const std::size_t keptRowBytes = std::size_t{4} * std::min(width_, newWidth);
      const std::int32_t keptRows = std::min(height_, newHeight);
      for (std::int32_t y = 0; y < keptRows; ++y) {
        const std::uint8_t* from = store_.get() + StoreBytes(width_, height_ - 1 - y);
        std::uint8_t* to = store.get() + StoreBytes(newWidth, newHeight - 1 - y);
        std::memcpy(to, from, keptRowBytes);
      }
    }
  }
  width_ = newWidth;
  height_ = newHeight;
  store_ = std::move(store);
}

void TBitmap::ThrowRowOutOfRange() { throw std::runtime_error("bitmap row out of range"); }

std::span<const std::uint8_t> TBitmap::Pixels() const {
  if (!store_) return {};
  return {store_.get(), StoreBytes(width_, height_)};
}

void TBitmap::SaveBmpFile(const std::string& name) const {
  if (!store_) {
    WriteWholeFile(name, {});
    return;
  }
  const auto header = MakeBmpHeader(width_, height_);
  WriteWholeFile(name, {std::as_bytes(std::span(header)),
                        std::as_bytes(std::span(store_.get(), StoreBytes(width_, height_)))});
}

void SaveBmpFileInBands(const std::string& name, std::int32_t W, std::int32_t H, std::int32_t bandRows,
                        const DrawBand& draw) {
  const auto header = MakeBmpHeader(W, H);
  if (bandRows < 1) throw std::runtime_error("empty picture band");
  TBitmap band;
  std::int32_t end = H;  // the rows from end down are drawn
  // The next band up, empty after the top one; a band must be drawn only
  // once the one before it has been written, since they share one bitmap.
  const auto nextBand = [&]() -> std::span<const std::byte> {
    if (end == 0 || W == 0) return {};
    const std::int32_t rows = std::min(bandRows, end);
    end -= rows;
    draw(end, rows, band);
    if (band.Width() != W || band.Height() != rows) throw std::runtime_error("picture band of another size");
    return std::as_bytes(band.Pixels());
  };
  // The first band before the file is opened, so that a draw that gives
  // bands of another size fails before anything is written.
  const std::span<const std::byte> first = nextBand();
  int pieces = 0;
  WriteFileInPieces(name, [&]() -> std::span<const std::byte> {
    switch (pieces++) {
      case 0:
        return std::as_bytes(std::span(header));
      case 1:
        return first;
      default:
        return nextBand();
    }
  });
}

}  // namespace edgeseg
