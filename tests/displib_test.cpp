#include "displib/displib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "functionsfloat/functionsfloat.h"
#include "forms_support.h"
#include "test_support.h"

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

// Every sum of squares at and beside each breakpoint, and the two ends, gets
// from the breakpoints the colour that RenderWindowedFloat gives its
// gradient, for windows from runs and adversarial ones.
TEST(RenderWindowedGradient, BreakpointsHoldTheWindowAroundEachStep) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float low, high;
    bool exact;
  } windows[] = {
      {0.0f, 5792.6187f, true},                     // 12-bit samples' extremes
      {1.4142135f, 4095.0f, true},                  // from the least nonzero gradient
      {0.0f, 92681.9f, true},                       // the whole range
      {1000.0f, 1000.0f, true},                     // one value: span 1
      {1000.0f, std::nextafter(1000.0f, inf), true},  // narrower than a step of the gradient
      {0.0f, 1e-30f, true},                         // a scale near the float limit
      {4000.0f, 20.0f, true},                       // low > high counts downwards
      {-50.0f, 30.0f, true},
      {-inf, 10.0f, true},                          // scale 0, offset NaN: all colour 0
      {std::numeric_limits<float>::quiet_NaN(), 10.0f, false},
      {0.0f, std::numeric_limits<float>::denorm_min(), false},  // scale infinite
  };
  for (const auto& w : windows) {
    const GradientWindow window = MakeGradientWindow(w.low, w.high);
    ASSERT_EQ(window.exact, w.exact) << w.low << " .. " << w.high;
    if (!window.exact) continue;
    std::vector<std::uint64_t> sums = {0, kMaxSumOfSquares};
    for (const std::uint64_t s : window.from) {
      for (const std::uint64_t near : {s - 1, s, s + 1}) {
        if (s > 0 && near <= kMaxSumOfSquares) sums.push_back(near);
      }
    }
    std::vector<float> gradients;
    for (const std::uint64_t s : sums) gradients.push_back(GradientOfSumOfSquares(s));
    TBitmap bitmap;
    RenderWindowedFloat(gradients.data(), bitmap, static_cast<std::int32_t>(gradients.size()), 1, w.low, w.high);
    const auto pixels = bitmap.RowPixels(0);
    for (std::size_t i = 0; i < sums.size(); ++i) {
      const auto count = std::ranges::count_if(window.from, [&](std::uint64_t f) { return f <= sums[i]; });
      std::uint8_t colour[4];
      std::memcpy(colour, &window.colourOfCount[static_cast<std::size_t>(count)], 4);
      ASSERT_TRUE(std::equal(colour, colour + 3, &pixels[4 * i])) << w.low << " .. " << w.high << ", s = " << sums[i];
    }
  }
}

// The gradient picture from the breakpoints is the float gradient's through
// RenderWindowedFloat, whole bitmaps and a band, in every form, on random
// images whose differences span from a few steps to the whole 16-bit range.
class GradientForms : public test::ForcedForm {};

TEST_P(GradientForms, DrawWhatTheFloatGradientDraws) {
  const test::ShapeRange shapes[] = {
      {2, 40, 2, 60, 80}, {41, 300, 2, 9, 20}, {2, 5, 500, 3000, 6}, {4097, 5000, 2, 3, 2}};
  test::ForEachRandomShape(shapes, [](std::mt19937& random, std::int32_t W, std::int32_t H, std::uint32_t seed) {
    const std::vector<std::uint16_t> image = test::RandomGradientSamples(random, W, H);
    std::vector<float> gradient(static_cast<std::size_t>(W - 1) * (H - 1));
    ComputeRobertsGradient(gradient.data(), image.data(), W, H);
    const float low = *std::ranges::min_element(gradient);
    const float high = *std::ranges::max_element(gradient);
    for (const auto& [l, h] : {std::pair{low, high}, {high, low}, {high / 3, high / 3 + 0.5f}}) {
      const GradientWindow window = MakeGradientWindow(l, h);
      TBitmap plain;
      RenderWindowedFloat(gradient.data(), plain, W - 1, H - 1, l, h);
      TBitmap whole;
      RenderWindowedGradient(image.data(), W, 0, H - 1, whole, window);
      const std::int32_t first = (H - 1) / 3;
      TBitmap band;
      RenderWindowedGradient(image.data(), W, first, H - 1 - first, band, window);
      ASSERT_EQ(whole.Height(), H - 1);
      for (std::int32_t y = 0; y < H - 1; ++y) {
        ASSERT_TRUE(std::ranges::equal(whole.RowPixels(y), plain.RowPixels(y)))
            << "seed " << seed << ", window " << l << " .. " << h << ", row " << y;
        if (y >= first) {
          ASSERT_TRUE(std::ranges::equal(band.RowPixels(y - first), plain.RowPixels(y))) << "seed " << seed;
        }
      }
    }
  });
}

EDGESEG_INSTANTIATE_FOR_EACH_FORM(GradientForms);

// Every form paints each label its palette entry and keeps each pixel's
// spare byte, at every row length up to a few vectors.
class PaletteForms : public test::ForcedForm {};

TEST_P(PaletteForms, PaintEachLabelItsEntry) {
  std::mt19937 random(7);
  for (std::int32_t W = 1; W <= 70; ++W) {
    std::vector<std::uint16_t> labels(static_cast<std::size_t>(W) * 2);
    for (auto& v : labels) v = random() % 3 == 0 ? 0 : static_cast<std::uint16_t>(random());
    TBitmap bitmap;
    RenderLabels(labels.data(), bitmap, W, 2);
    for (std::int32_t y = 0; y < 2; ++y) {
      for (std::int32_t x = 0; x < W; ++x) bitmap.RowPixels(y)[4 * x + 3] = static_cast<std::uint8_t>(x + 1);
    }
    RenderLabels(labels.data(), bitmap, W, 2);
    for (std::int32_t y = 0; y < 2; ++y) {
      for (std::int32_t x = 0; x < W; ++x) {
        const std::uint16_t label = labels[static_cast<std::size_t>(y * W + x)];
        const auto& entry = LabelPalette[label & 15];
        const Rgb expected = label == 0 ? Rgb{0, 0, 0} : Rgb{entry[2], entry[1], entry[0]};
        ASSERT_EQ(ColourAt(bitmap, x, y), expected) << "width " << W << ", label " << label;
        ASSERT_EQ(bitmap.RowPixels(y)[4 * x + 3], x + 1) << "width " << W;
      }
    }
  }
}

EDGESEG_INSTANTIATE_FOR_EACH_FORM(PaletteForms);

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
