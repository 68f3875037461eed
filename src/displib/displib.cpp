#include "displib/displib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "common/rowblocks.h"

namespace edgeseg {

namespace {

// A colour as the word that its pixel's bytes form in memory: blue, green and
// red in bytes 0 to 2, byte 3 clear. Built and applied through memcpy, so the
// byte order of the machine does not matter.
using Colour = std::uint32_t;

constexpr Colour ColourWord(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  return std::endian::native == std::endian::little
             ? Colour{blue} | Colour{green} << 8 | Colour{red} << 16
             : Colour{blue} << 24 | Colour{green} << 16 | Colour{red} << 8;
}

constexpr std::array<Colour, 256> MakeMapColours() {
  std::array<Colour, 256> colours{};
  for (int i = 0; i < 256; ++i) colours[i] = ColourWord(ColorMap.blue[i], ColorMap.green[i], ColorMap.red[i]);
  return colours;
}
constexpr std::array<Colour, 256> kMapColours = MakeMapColours();

// Writes bytes 0 to 2 of the pixel in one word and keeps its spare byte 3.
void PutColour(std::uint8_t* pixel, Colour colour) {
  constexpr Colour kSpare = ~ColourWord(0xFF, 0xFF, 0xFF);
  Colour word;
  std::memcpy(&word, pixel, sizeof word);
  word = (word & kSpare) | colour;
  std::memcpy(pixel, &word, sizeof word);
}

void PrepareBitmap(TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  if (bitmap.Height() != H) bitmap.SetBitmapHeight(H);
  if (bitmap.Width() != W) bitmap.SetBitmapWidth(W);
  if (!bitmap.IsPixelFormat32()) bitmap.EnsurePixelFormat32();
}

// The colour index of a sample seen through the window: v is formed in
// double and only then rounded to float; the floor, not the nearest integer,
// picks the colour, and anything below 0 (NaN included) takes colour 0.
std::uint8_t WindowIndex(double sample, float scale, float offset) {
  float v = static_cast<float>(sample * scale - static_cast<double>(offset));
  if (v > 255.0f) v = 255.0f;
  if (!(v >= 0.0f)) v = 0.0f;
  return static_cast<std::uint8_t>(v);
}

}  // namespace

SampleWindow MakeSampleWindow(std::int32_t low, std::int32_t high) {
  float span = static_cast<float>(std::int64_t{high} - low);
  if (span == 0.0f) span = 1.0f;
  const float scale = 255.0f / span;
  const auto offset = static_cast<float>(static_cast<double>(low) * scale);
  // A sample's colour depends on its value alone: one table entry per
  // possible value replaces the arithmetic per pixel.
  SampleWindow window{std::vector<std::uint8_t>(65536)};
  for (std::size_t v = 0; v < window.indexOf.size(); ++v) {
    window.indexOf[v] = WindowIndex(static_cast<double>(v), scale, offset);
  }
  return window;
}

void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    std::int32_t low, std::int32_t high) {
  RenderWindowed(samples, bitmap, W, H, MakeSampleWindow(low, high));
}

void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    const SampleWindow& window) {
  PrepareBitmap(bitmap, W, H);
  const std::uint8_t* const indexOf = window.indexOf.data();
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint8_t* pixel = bitmap.RowPixels(y).data();
    const std::uint16_t* row = samples + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    for (std::int32_t x = 0; x < W; ++x, pixel += 4) PutColour(pixel, kMapColours[indexOf[row[x]]]);
  }
}

void RenderWindowedFloat(const float* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                         float low, float high) {
  PrepareBitmap(bitmap, W, H);
  float span = high - low;
  if (span == 0.0f) span = 1.0f;
  const float scale = 255.0f / span;
  const float offset = low * scale;
  if (W <= 0) return;
  // The indices first, in a loop the compiler can vectorise, then the
  // colours. The indices are taken a block of rows at a time, so that short
  // rows get the vector loop too.
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t blockRows = BlockRows(width);
  std::vector<std::uint8_t> index(blockRows * width);
  ForEachRowBlock(0, static_cast<std::size_t>(std::max(H, 0)), blockRows, [&](std::size_t y0, std::size_t rows) {
    const float* block = samples + y0 * width;
    const std::size_t count = rows * width;
    for (std::size_t i = 0; i < count; ++i) index[i] = WindowIndex(block[i], scale, offset);
    for (std::size_t r = 0; r < rows; ++r) {
      std::uint8_t* pixel = bitmap.RowPixels(static_cast<std::int32_t>(y0 + r)).data();
      const std::uint8_t* rowIndex = index.data() + r * width;
      for (std::size_t x = 0; x < width; ++x, pixel += 4) PutColour(pixel, kMapColours[rowIndex[x]]);
    }
  });
}

void RenderLabels(const std::uint16_t* labels, TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  PrepareBitmap(bitmap, W, H);
  std::array<Colour, 16> colours{};
  for (int k = 0; k < 16; ++k) colours[k] = ColourWord(LabelPalette[k][0], LabelPalette[k][1], LabelPalette[k][2]);
  constexpr Colour kBlack = ColourWord(0, 0, 0);  // label 0
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint8_t* pixel = bitmap.RowPixels(y).data();
    const std::uint16_t* row = labels + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    // A select rather than a branch per pixel, so the loop vectorises.
    for (std::int32_t x = 0; x < W; ++x, pixel += 4) PutColour(pixel, row[x] == 0 ? kBlack : colours[row[x] & 15]);
  }
}

}  // namespace edgeseg
