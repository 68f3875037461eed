#include "displib/displib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

using namespace edgeseg;

namespace {

using Rgb = std::array<int, 3>;

// Colour of pixel x of row 0 as red, green, blue.
Rgb ColourAt(TBitmap& bitmap, std::int32_t x, std::int32_t y = 0) {
  const auto row = bitmap.RowPixels(y);
  return {row[4 * x + 2], row[4 * x + 1], row[4 * x]};
}

Rgb MapEntry(int index) { return {ColorMap.red[index], ColorMap.green[index], ColorMap.blue[index]}; }

TEST(ColorMap, Breakpoints) {
  const std::vector<std::pair<int, Rgb>> points = {
      {0, {0, 0, 131}},     {31, {0, 0, 255}},    {32, {0, 3, 255}},   {63, {0, 127, 255}},
      {95, {0, 255, 255}},  {96, {3, 255, 251}},  {127, {127, 255, 127}}, {158, {251, 255, 3}},
      {159, {255, 255, 0}}, {191, {255, 127, 0}}, {222, {255, 3, 0}},  {223, {255, 0, 0}},
      {255, {127, 0, 0}},
  };
  for (const auto& [index, rgb] : points) EXPECT_EQ(MapEntry(index), rgb) << index;
}

// Renders one row of samples and gives the colour-map index of each pixel.
template <class Sample, class Bound>
std::vector<int> IndicesOf(const std::vector<Sample>& samples, Bound low, Bound high) {
  TBitmap bitmap;
  const auto width = static_cast<std::int32_t>(samples.size());
  if constexpr (std::is_same_v<Sample, float>) {
    RenderWindowedFloat(samples.data(), bitmap, width, 1, low, high);
  } else {
    RenderWindowed(samples.data(), bitmap, width, 1, low, high);
  }
  std::vector<int> indices;
  for (std::int32_t x = 0; x < width; ++x) {
    int index = 0;
    while (index < 256 && MapEntry(index) != ColourAt(bitmap, x)) ++index;
    indices.push_back(index);
  }
  return indices;
}

TEST(RenderWindowed, TheInputWindowTakesTheFloorOfEachValue) {
  const std::vector<std::uint16_t> samples = {0, 16, 17, 32, 33, 2040, 4079, 4094, 4095, 65535};
  EXPECT_EQ(IndicesOf(samples, 0, 4095), (std::vector<int>{0, 0, 1, 1, 2, 127, 254, 254, 255, 255}));
}

TEST(RenderWindowed, DegenerateAndReversedWindows) {
  // low == high: span 1, so everything up to low is 0 and above it 255.
  const std::vector<std::uint16_t> samples = {0, 99, 100, 101, 5000};
  EXPECT_EQ(IndicesOf(samples, 100, 100), (std::vector<int>{0, 0, 0, 255, 255}));
  // high < low runs backwards: below high is 255, from low up 0.
  const std::vector<std::uint16_t> reversed = {0, 99, 150, 200, 5000};
  EXPECT_EQ(IndicesOf(reversed, 200, 100), (std::vector<int>{255, 255, 127, 0, 0}));
}

TEST(RenderWindowedFloat, NotANumberAndInfinities) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> samples = {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1.5f, 10.0f};
  EXPECT_EQ(IndicesOf(samples, 0.0f, 10.0f), (std::vector<int>{0, 255, 0, 38, 255}));
}

TEST(RenderLabels, PaletteWithBlackBackground) {
  const std::vector<std::uint16_t> labels = {0, 1, 2, 3, 14, 16, 65535};
  TBitmap bitmap;
  RenderLabels(labels.data(), bitmap, 7, 1);
  const std::vector<Rgb> expected = {{0, 0, 0},     {255, 0, 0},   {0, 255, 0}, {0, 0, 255},
                                     {196, 255, 0}, {196, 255, 0}, {196, 0, 255}};
  for (std::int32_t x = 0; x < 7; ++x) EXPECT_EQ(ColourAt(bitmap, x), expected[x]) << "label " << labels[x];
}

TEST(RenderWindowedFloat, ShortRowsRenderAsEachRowAlone) {
  // Short rows take their indices many rows at a time, across several
  // blocks; every row must look as it does as a picture of its own.
  for (const auto& [W, H] : {std::pair{1, 5000}, {3, 3000}, {7, 700}, {5000, 2}}) {
    std::vector<float> samples(static_cast<std::size_t>(W) * H);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>((i * 7919) % 1000) / 3.0f;
    TBitmap whole;
    RenderWindowedFloat(samples.data(), whole, W, H, 10.0f, 300.0f);
    for (std::int32_t y = 0; y < H; y += 97) {
      TBitmap alone;
      RenderWindowedFloat(samples.data() + static_cast<std::size_t>(y) * W, alone, W, 1, 10.0f, 300.0f);
      const auto got = whole.RowPixels(y);
      const auto want = alone.RowPixels(0);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end())) << W << " x " << H << ", row " << y;
    }
  }
}

// A picture drawn a band of rows at a time, as the run draws them, has the
// rows of the picture drawn whole, with every renderer.
TEST(Renderers, BandsOfRowsLookAsTheWholePicture) {
  const std::int32_t W = 37;
  const std::int32_t H = 11;
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(W) * H);
  std::vector<float> floats(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::uint16_t>((i * 7919) % 5000);
    floats[i] = static_cast<float>(samples[i]) / 7.0f;
  }
  const SampleWindow window = MakeSampleWindow(100, 4000);
  using Draw = std::function<void(std::size_t first, std::int32_t rows, TBitmap&)>;
  const std::vector<std::pair<const char*, Draw>> renderers = {
      {"windowed", [&](std::size_t at, std::int32_t rows, TBitmap& b) { RenderWindowed(&samples[at], b, W, rows, window); }},
      {"labels", [&](std::size_t at, std::int32_t rows, TBitmap& b) { RenderLabels(&samples[at], b, W, rows); }},
      {"float", [&](std::size_t at, std::int32_t rows, TBitmap& b) {
         RenderWindowedFloat(&floats[at], b, W, rows, 3.0f, 600.0f);
       }}};
  for (const auto& [what, draw] : renderers) {
    TBitmap whole;
    draw(0, H, whole);
    TBitmap band;
    for (std::int32_t first = 0; first < H; first += 4) {
      const std::int32_t rows = std::min(4, H - first);
      draw(static_cast<std::size_t>(first) * W, rows, band);
      for (std::int32_t y = 0; y < rows; ++y) {
        const auto got = band.RowPixels(y);
        const auto want = whole.RowPixels(first + y);
        ASSERT_TRUE(std::equal(got.begin(), got.end(), want.begin(), want.end())) << what << ", row " << first + y;
      }
    }
  }
  TBitmap direct;
  RenderWindowed(samples.data(), direct, W, H, 100, 4000);
  TBitmap windowed;
  RenderWindowed(samples.data(), windowed, W, H, window);
  for (std::int32_t y = 0; y < H; ++y) {
    ASSERT_TRUE(std::ranges::equal(direct.RowPixels(y), windowed.RowPixels(y))) << "row " << y;
  }
}

TEST(Renderers, SizeTheBitmapAndLeaveTheSpareByte) {
  TBitmap bitmap;
  bitmap.SetBitmapWidth(2);
  bitmap.SetBitmapHeight(3);
  for (std::int32_t y = 0; y < 3; ++y) {
    for (auto& byte : bitmap.RowPixels(y)) byte = 77;
  }
  const std::vector<std::uint16_t> samples = {0, 4095, 1, 2, 3, 0};
  RenderWindowed(samples.data(), bitmap, 2, 3, 0, 4095);
  EXPECT_TRUE(bitmap.IsPixelFormat32());
  EXPECT_EQ(ColourAt(bitmap, 1, 0), MapEntry(255));
  RenderLabels(samples.data(), bitmap, 2, 3);
  for (std::int32_t y = 0; y < 3; ++y) {
    const auto row = bitmap.RowPixels(y);
    EXPECT_EQ(row[3], 77);
    EXPECT_EQ(row[7], 77);
  }

  const float gradient[] = {1.0f, 2.0f};
  RenderWindowedFloat(gradient, bitmap, 1, 2, 1.0f, 2.0f);
  EXPECT_EQ(bitmap.Width(), 1);
  EXPECT_EQ(bitmap.Height(), 2);
  EXPECT_EQ(ColourAt(bitmap, 0, 1), MapEntry(255));

  RenderLabels(samples.data(), bitmap, 0, 4);
  EXPECT_EQ(bitmap.Width(), 0);
  EXPECT_EQ(bitmap.Height(), 4);
}

}  // namespace
