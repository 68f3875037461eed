#include "functionsfloat/functionsfloat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <random>
#include <vector>

#include "test_support.h"

using namespace edgeseg;

namespace {

float RootOf(double sumOfSquares) { return static_cast<float>(std::sqrt(sumOfSquares)); }

TEST(ComputeRobertsGradient, CellsLieBetweenPixelsInRowOrder) {
  // 4 x 3 image: each cell's two diagonals differ in a way unique to it.
  const std::vector<std::uint16_t> image = {
      0, 3, 0,     9,
      4, 0, 0,     0,
      0, 0, 65535, 1,
  };
  std::vector<float> gradient(6, -1.0f);
  ComputeRobertsGradient(gradient.data(), image.data(), 4, 3);
  // Row 0: b = -1; a = 3; b = 9. Row 1: a = 4; a = -65535; a = -1 with b = -65535.
  const std::vector<float> expected = {1.0f, 3.0f, 9.0f, 4.0f, 65535.0f, RootOf(1.0 + 65535.0 * 65535)};
  EXPECT_EQ(gradient, expected);
}

TEST(ComputeRobertsGradient, SumOfSquaresPastTwoToThe32IsExact) {
  const std::vector<std::uint16_t> image = {65535, 0, 65535, 0};
  float g = 0;
  ComputeRobertsGradient(&g, image.data(), 2, 2);
  EXPECT_EQ(g, RootOf(2.0 * 65535 * 65535));  // not 0 - 65535 squared twice in 32 bits
}

// Rows short enough to go in blocks, across several blocks, and rows long
// enough to be their own range; one spare float after the gradient. The
// samples' range decides how the roots are taken: below 2048 every sum of
// squares is exact in float, with 12 bits some ranges are not, with 16 bits
// nearly none is, and one large step in an otherwise flat image makes just
// its range go in double.
TEST(ComputeRobertsGradient, EveryShapeAndRangeGivesTheRootsOfDoubleSums) {
  for (const auto& [W, H] : {std::pair{2, 5000}, {3, 3000}, {4, 1500}, {31, 300}, {32, 40}, {700, 9}}) {
    for (const std::uint32_t bits : {11u, 12u, 16u, 0u}) {
      std::vector<std::uint16_t> image(static_cast<std::size_t>(W) * H);
      std::uint32_t state = static_cast<std::uint32_t>(W * 131 + H + bits);
      for (auto& v : image) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<std::uint16_t>(bits == 0 ? 1000 + (state >> 31) : (state >> 16) >> (16 - bits));
      }
      if (bits == 0) image[image.size() / 2] = 65535;
      const std::size_t cells = static_cast<std::size_t>(W - 1) * (H - 1);
      std::vector<float> expected(cells + 1, -1.0f);
      for (std::int32_t y = 0; y + 1 < H; ++y) {
        for (std::int32_t x = 0; x + 1 < W; ++x) {
          const double a = std::int32_t{image[y * W + x]} - image[(y + 1) * W + x + 1];
          const double b = std::int32_t{image[y * W + x + 1]} - image[(y + 1) * W + x];
          expected[static_cast<std::size_t>(y) * (W - 1) + x] = RootOf(a * a + b * b);
        }
      }
      std::vector<float> gradient(cells + 1, -1.0f);
      ComputeRobertsGradient(gradient.data(), image.data(), W, H);
      EXPECT_EQ(gradient, expected) << W << " x " << H << ", " << bits << " bits";
      // A range of rows at a time, as the run computes it: ranges of one
      // row, of a few, and ending on the last row.
      for (const std::int32_t rows : {1, 7, H - 1}) {
        std::vector<float> ranges(cells + 1, -1.0f);
        for (std::int32_t first = 0; first < H - 1; first += rows) {
          const std::int32_t end = std::min(first + rows, H - 1);
          ComputeRobertsGradient(ranges.data() + static_cast<std::size_t>(first) * (W - 1), image.data(), W, H, first,
                                 end);
        }
        EXPECT_EQ(ranges, expected) << W << " x " << H << ", " << bits << " bits, " << rows << " rows at a time";
      }
    }
  }
}

// What the float roots rest on: below 2^24 the float root of an integer is
// its double root rounded to float, for every integer.
TEST(ComputeRobertsGradient, FloatRootsOfIntegersBelow2To24AreRoundedDoubleRoots) {
  std::uint32_t differing = 0;
  for (std::uint32_t v = 0; v < (1u << 24); ++v) {
    const auto f = static_cast<float>(v);
    differing += std::sqrt(f) != static_cast<float>(std::sqrt(static_cast<double>(v))) ? 1 : 0;
  }
  EXPECT_EQ(differing, 0u);
}

TEST(ComputeRobertsGradient, SingleRowOrColumnWritesNothing) {
  const std::vector<std::uint16_t> image = {1, 2, 3};
  float sentinel = -1.0f;
  ComputeRobertsGradient(&sentinel, image.data(), 3, 1);
  ComputeRobertsGradient(&sentinel, image.data(), 1, 3);
  EXPECT_EQ(sentinel, -1.0f);
}

// A w x h float image with the given inner samples and frame value.
std::vector<float> WithFrame(std::int32_t w, std::int32_t h, float frame, const std::vector<float>& inner) {
  std::vector<float> image(static_cast<std::size_t>(w) * h, frame);
  std::size_t i = 0;
  for (std::int32_t y = 1; y + 1 < h; ++y) {
    for (std::int32_t x = 1; x + 1 < w; ++x) image[static_cast<std::size_t>(y) * w + x] = inner[i++];
  }
  return image;
}

// Every field of a record, so that whole records compare in one check.
auto FieldsOf(const GradientStats& s) {
  return std::tie(s.minValue, s.maxValue, s.mean, s.stdDev, s.lowBin, s.highBin, s.peakCount, s.peakBin,
                  s.sampleCount, s.histogram);
}

TEST(ComputeGradientStats, ConstantImageFallsIntoBinZero) {
  const std::vector<float> image(5 * 4, 0.0f);
  GradientStats expected;
  expected.peakCount = 6;
  expected.sampleCount = 6;
  expected.histogram[0] = 6;
  EXPECT_EQ(FieldsOf(ComputeGradientStats(image.data(), 5, 4)), FieldsOf(expected));
}

TEST(ComputeGradientStats, ExtremesStartFromTheCornerButFrameIsNotCounted) {
  // One inner sample; the frame holds 100 everywhere but the corner.
  std::vector<float> image = WithFrame(3, 3, 100.0f, {7.5f});
  image[0] = 2.0f;
  GradientStats s = ComputeGradientStats(image.data(), 3, 3);
  EXPECT_EQ(s.minValue, 2.0f);
  EXPECT_EQ(s.maxValue, 7.5f);
  EXPECT_EQ(s.sampleCount, 1);
  EXPECT_EQ(s.mean, 7.5f);
  EXPECT_EQ(s.histogram[7], 1);

  image[0] = 50.0f;
  s = ComputeGradientStats(image.data(), 3, 3);
  EXPECT_EQ(s.minValue, 7.5f);
  EXPECT_EQ(s.maxValue, 50.0f);
}

TEST(ComputeGradientStats, BinEdges) {
  const std::vector<float> inner = {4095.0f, 4095.5f, 90000.0f, 4094.99f, 0.99f, 1.0f};
  const std::vector<float> image = WithFrame(8, 3, 0.0f, inner);
  const GradientStats s = ComputeGradientStats(image.data(), 8, 3);
  EXPECT_EQ(s.histogram[4095], 3);
  EXPECT_EQ(s.histogram[4094], 1);
  EXPECT_EQ(s.histogram[0], 1);
  EXPECT_EQ(s.histogram[1], 1);
}

TEST(ComputeGradientStats, PercentileAndPeakBins) {
  // 100 samples: one in bin 0 (exactly 1 %, not more), 98 in bin 3, one in
  // bin 9: 99 % is reached at bin 3.
  std::vector<float> inner(100, 3.5f);
  inner[0] = 0.5f;
  inner[99] = 9.0f;
  GradientStats s = ComputeGradientStats(WithFrame(12, 12, 0.0f, inner).data(), 12, 12);
  EXPECT_EQ(s.lowBin, 3.0f);
  EXPECT_EQ(s.highBin, 3.0f);
  EXPECT_EQ(s.peakBin, 3.0f);
  EXPECT_EQ(s.peakCount, 98);

  // Two bins with the largest count: the lower one is the peak.
  std::vector<float> tie(100, 8.0f);
  for (int i = 0; i < 50; ++i) tie[i] = 6.0f;
  s = ComputeGradientStats(WithFrame(12, 12, 0.0f, tie).data(), 12, 12);
  EXPECT_EQ(s.peakBin, 6.0f);
  EXPECT_EQ(s.peakCount, 50);
  EXPECT_EQ(s.lowBin, 6.0f);
  EXPECT_EQ(s.highBin, 8.0f);
}

TEST(ComputeGradientStats, MeanAndStdDevOfTheInnerSamples) {
  // The frame holds 100: any frame sample in the sums would move the mean.
  struct Case {
    const char* what;
    std::int32_t w;
    std::int32_t h;
    std::vector<float> inner;
    float mean;
    float stdDev;
  };
  const std::vector<Case> cases = {
      // Variance 7.5 - 2.5^2 = 1.25 over n; over n - 1 it would be 5/3.
      {"population deviation", 4, 4, {1, 2, 3, 4}, 2.5f, 1.11803401f},
      // 4/3 rounds to 1.33333337f; 2 - its square is 0.22222212, whose root
      // is 0.471404403, where sqrt(2/9) would give 0.471404523.
      {"variance against the float mean", 5, 3, {1, 1, 2}, 1.33333337f, 0.471404403f},
      // 2^24 + 3 in double; a float sum would stay at 2^24 and give a mean
      // of 4194304. The variance is 3 * 2^44 - 2^23 - 0.25.
      {"sums in double", 4, 4, {16777216, 1, 1, 1}, 4194305.0f, 7264747.0f},
      {"equal samples: variance exactly 0", 6, 3, {2, 2, 2, 2}, 2.0f, 0.0f},
  };
  for (const Case& c : cases) {
    const std::vector<float> image = WithFrame(c.w, c.h, 100.0f, c.inner);
    testing::internal::CaptureStderr();
    const GradientStats s = ComputeGradientStats(image.data(), c.w, c.h);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.what;
    EXPECT_EQ(s.mean, c.mean) << c.what;
    EXPECT_EQ(s.stdDev, c.stdDev) << c.what;
  }
}

// Rows given a few at a time give the statistics of the whole image, bit
// for bit: also a mean and variance that rounding leaves just below zero
// (a ramp's gradient), where any other order of the sums could differ.
TEST(GradientStatsAccumulator, RowsInRangesGiveTheWholeImagesStatistics) {
  for (const auto& [w, h] : {std::pair{3, 3}, {5, 9}, {40, 33}, {257, 6}}) {
    std::vector<float> noise(static_cast<std::size_t>(w) * h);
    std::uint32_t state = static_cast<std::uint32_t>(w * 31 + h);
    for (auto& v : noise) {
      state = state * 1664525u + 1013904223u;
      v = static_cast<float>(state >> 12) / 64.0f;
    }
    std::vector<float> ramp(noise.size(), RootOf(2.0));
    for (const std::vector<float>* image : {&noise, &ramp}) {
      testing::internal::CaptureStderr();
      const GradientStats whole = ComputeGradientStats(image->data(), w, h);
      for (const std::int32_t rows : {1, 2, 5}) {
        GradientStatsAccumulator accumulator(w, h);
        for (std::int32_t first = 0; first < h; first += rows) {
          accumulator.AddRows(image->data() + static_cast<std::size_t>(first) * w, std::min(rows, h - first));
        }
        const GradientStats ranges = accumulator.Finish();
        EXPECT_EQ(std::memcmp(&ranges, &whole, sizeof whole), 0) << w << " x " << h << ", " << rows << " rows";
      }
      testing::internal::GetCapturedStderr();
    }
  }
}

TEST(ComputeGradientStats, NoInnerSamplesThrows) {
  const std::vector<float> image(9, 1.0f);
  for (const auto& [w, h] : {std::pair{2, 4}, {4, 2}, {3, 0}, {0, 3}}) {
    EXPECT_THROW(ComputeGradientStats(image.data(), w, h), std::runtime_error) << w << "x" << h;
  }
}

TEST(ComputeGradientStats, NegativeVarianceIsReportedAndTheRunGoesOn) {
  // Every inner sample is sqrt(2) as a float, as in the gradient of a ramp.
  // Rounding leaves the variance of 81 such samples below zero, of 64 not.
  const float root2 = static_cast<float>(std::sqrt(2.0));
  struct Case {
    std::int32_t size;
    bool reported;
  };
  for (const Case c : {Case{11, true}, Case{10, false}}) {
    const std::vector<float> image(static_cast<std::size_t>(c.size) * c.size, root2);
    testing::internal::CaptureStderr();
    const GradientStats s = ComputeGradientStats(image.data(), c.size, c.size);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(report, c.reported ? "\r\nsqrt: DOMAIN error\r\n" : "") << c.size;
    EXPECT_EQ(std::isnan(s.stdDev), c.reported) << c.size;
    EXPECT_EQ(s.mean, root2);
    EXPECT_EQ(s.histogram[1], (c.size - 2) * (c.size - 2));
    EXPECT_EQ(s.peakBin, 1.0f);
  }
}

TEST(BinarizeGradient, MarksSamplesStrictlyAboveTheThreshold) {
  const std::vector<float> gradient = {0.0f, 8.0f, 8.001f, 100.0f, 7.99f, 8.0f};
  std::vector<std::uint16_t> mask(6, 7);
  BinarizeGradient(mask.data(), gradient.data(), 3, 2, 8.0f);
  EXPECT_EQ(mask, (std::vector<std::uint16_t>{0, 0, 1, 1, 0, 0}));
}

// From the sums of squares alone, the mask is BinarizeGradient's of the
// float gradient, short rows and wide, with differences small and up to the
// whole 16-bit range (sums past 2^24), at thresholds just around gradient
// values, between them, above them all, negative and NaN.
TEST(BinarizeRobertsGradient, MarksWhatTheFloatGradientMarks) {
  const test::ShapeRange shapes[] = {{2, 40, 2, 60, 60}, {41, 300, 2, 9, 20}, {4097, 5000, 2, 3, 2}};
  test::ForEachRandomShape(shapes, [](std::mt19937& random, std::int32_t W, std::int32_t H, std::uint32_t seed) {
    const std::vector<std::uint16_t> image = test::RandomGradientSamples(random, W, H);
    std::vector<float> gradient(static_cast<std::size_t>(W - 1) * (H - 1));
    ComputeRobertsGradient(gradient.data(), image.data(), W, H);
    const float some = gradient[random() % gradient.size()];
    for (const float threshold : {some, std::nextafter(some, 0.0f), std::nextafter(some, 1e30f), some + 0.5f,
                                  -1.0f, 1e30f, std::numeric_limits<float>::quiet_NaN()}) {
      std::vector<std::uint16_t> expected(gradient.size());
      BinarizeGradient(expected.data(), gradient.data(), W - 1, H - 1, threshold);
      std::vector<std::uint16_t> mask(gradient.size(), 7);
      BinarizeRobertsGradient(mask.data(), image.data(), W, H, 0, H - 1, threshold);
      ASSERT_EQ(mask, expected) << "seed " << seed << ", threshold " << threshold;
    }
  });
}

}  // namespace
