#include "displib/displib.h"

namespace {

void PrepareBitmap(TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  if (bitmap.Height() != H) bitmap.SetBitmapHeight(H);
  if (bitmap.Width() != W) bitmap.SetBitmapWidth(W);
  if (!bitmap.IsPixelFormat32()) bitmap.EnsurePixelFormat32();
}

// v is formed in double and only then rounded to float; the floor, not the
// nearest integer, picks the colour.
template <class Sample>
void RenderThroughWindow(const Sample* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                         float scale, float offset) {
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint8_t* pixel = bitmap.RowPixels(y).data();
    const Sample* row = samples + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    for (std::int32_t x = 0; x < W; ++x, pixel += 4) {
      float v = static_cast<float>(static_cast<double>(row[x]) * scale - static_cast<double>(offset));
      if (v > 255.0f) v = 255.0f;
      if (!(v >= 0.0f)) v = 0.0f;
      const int index = static_cast<int>(v);
      pixel[0] = ColorMap.blue[index];
      pixel[1] = ColorMap.green[index];
      pixel[2] = ColorMap.red[index];
    }
  }
}

}  // namespace

void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    std::int32_t low, std::int32_t high) {
  PrepareBitmap(bitmap, W, H);
  float span = static_cast<float>(std::int64_t{high} - low);
  if (span == 0.0f) span = 1.0f;
  const float scale = 255.0f / span;
  const auto offset = static_cast<float>(static_cast<double>(low) * scale);
  RenderThroughWindow(samples, bitmap, W, H, scale, offset);
}

void RenderWindowedFloat(const float* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                         float low, float high) {
  PrepareBitmap(bitmap, W, H);
  float span = high - low;
  if (span == 0.0f) span = 1.0f;
  const float scale = 255.0f / span;
  const float offset = low * scale;
  RenderThroughWindow(samples, bitmap, W, H, scale, offset);
}

void RenderLabels(const std::uint16_t* labels, TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  PrepareBitmap(bitmap, W, H);
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint8_t* pixel = bitmap.RowPixels(y).data();
    const std::uint16_t* row = labels + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    for (std::int32_t x = 0; x < W; ++x, pixel += 4) {
      const std::uint16_t label = row[x];
      const auto& colour = LabelPalette[label & 15];
      const std::uint8_t black = label == 0 ? 0 : 0xFF;
      pixel[0] = colour[0] & black;
      pixel[1] = colour[1] & black;
      pixel[2] = colour[2] & black;
    }
  }
}
