#include "morfologylib/morfologylib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "functions/functions.h"
#include "morfologylib/zerobits.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

using test::MaskFromRows;
using Mask = std::vector<std::uint16_t>;
constexpr std::uint16_t kKey = 65535;

// A mask drawn before and after an in-place operation.
struct PictureCase {
  const char* what;
  std::vector<std::string> before;
  std::vector<std::string> after;
};

// Runs op(mask, W, H) on each case's picture and compares the whole result.
void ExpectEachPicture(const std::vector<PictureCase>& cases,
                       const std::function<void(std::uint16_t*, std::int32_t, std::int32_t)>& op) {
  for (const PictureCase& c : cases) {
    Mask mask = MaskFromRows(c.before);
    op(mask.data(), static_cast<std::int32_t>(c.before[0].size()), static_cast<std::int32_t>(c.before.size()));
    EXPECT_EQ(mask, MaskFromRows(c.after)) << c.what;
  }
}

// Repeated raster passes until one changes nothing.
void NaiveFloodFill(Mask& mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  bool changed = true;
  while (changed) {
    changed = false;
    for (std::int32_t y = 1; y + 1 < H; ++y) {
      for (std::int32_t x = 1; x + 1 < W; ++x) {
        if (mask[y * W + x] != 0) continue;
        bool touches = false;
        for (int dy = -1; dy <= 1; ++dy) {
          for (int dx = -1; dx <= 1; ++dx) touches |= mask[(y + dy) * W + x + dx] == key;
        }
        if (touches) {
          mask[y * W + x] = key;
          changed = true;
        }
      }
    }
  }
}

// A fresh scratch copy, tested against the mask as it was.
void NaiveErode(Mask& mask, std::int32_t W, std::int32_t H) {
  Mask out(mask.size(), 0);
  for (std::int32_t y = 1; y + 1 < H; ++y) {
    for (std::int32_t x = 1; x + 1 < W; ++x) {
      bool full = true;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) full &= mask[(y + dy) * W + x + dx] != 0;
      }
      out[y * W + x] = full ? mask[y * W + x] : 0;
    }
  }
  mask = out;
}

TEST(FloodFillFromBorder, DiagonalGapsLetTheKeyThrough) {
  const std::vector<PictureCase> cases = {
      {"ring closed through edges holds",
       {"KKKKKK", "K####K", "K#..#K", "K####K", "KKKKKK"},
       {"KKKKKK", "K####K", "K#..#K", "K####K", "KKKKKK"}},
      {"ring closed only across a corner leaks",
       {"KKKKKK", "K.###K", "K#..#K", "K####K", "KKKKKK"},
       {"KKKKKK", "KK###K", "K#KK#K", "K####K", "KKKKKK"}},
      {"no key changes nothing",
       {"......", "......", "......"},
       {"......", "......", "......"}},
      {"an inner key seeds too, only through inner zeros",
       {"......", ".#.#..", ".#K#..", "......"},
       {"......", ".#K#..", ".#K#..", "......"}},
  };
  ExpectEachPicture(cases, [](std::uint16_t* m, std::int32_t W, std::int32_t H) { FloodFillFromBorder(m, W, H, kKey); });
}

TEST(FloodFillFromBorder, MatchesRepeatedPassesOnRandomMasks) {
  // From 1 x 1 up, rows longer than one 64-sample word, and narrow masks
  // whose rows are read many at a time, past the end of one such block.
  const test::ShapeRange shapes[] = {{1, 5, 1, 5, 200},      {1, 30, 1, 30, 300},     {60, 200, 3, 12, 60},
                                     {300, 900, 8, 40, 30}, {3, 6, 1100, 2200, 12}};
  test::ForEachRandomShape(shapes, [](std::mt19937& random, std::int32_t W, std::int32_t H, std::uint32_t seed) {
    const std::uint32_t density = random() % 80;
    Mask mask(static_cast<std::size_t>(W) * H);
    for (auto& v : mask) v = random() % 100 < density ? static_cast<std::uint16_t>(1 + random() % 2) : 0;
    // Keys inside as well as on the frame, and frames that stay partly
    // foreground: every sample holding the key seeds.
    if (seed % 4 == 0) {
      for (int k = 0; k < 1 + static_cast<int>(random() % 3); ++k) mask[random() % mask.size()] = kKey;
    }
    if (seed % 2 == 0) SetBorderZeros(mask.data(), W, H, kKey);
    Mask naive = mask;
    FloodFillFromBorder(mask.data(), W, H, kKey);
    NaiveFloodFill(naive, W, H, kKey);
    ASSERT_EQ(mask, naive) << "seed " << seed << ", " << W << " x " << H;
  });
}

TEST(FloodFillFromBorder, StripsJoinedBelowShareTheKeyOfAnyOfThem) {
  // Four strips start apart and join in row 3. The key reaches them only in
  // row 4, after their upper rows were met, or only through the last strip
  // in row 1, before the others joined it; either way all of them fill. The
  // hole on the right stays.
  const std::vector<PictureCase> cases = {
      {"key met last",
       {"############", "#.#.#.#.####", "#.#.#.#.##.#", "#.......##.#", "#######.K###", "############"},
       {"############", "#K#K#K#K####", "#K#K#K#K##.#", "#KKKKKKK##.#", "#######KK###", "############"}},
      {"key met first by the last strip",
       {"#######K####", "#.#.#.#.####", "#.#.#.#.##.#", "#.......##.#", "############"},
       {"#######K####", "#K#K#K#K####", "#K#K#K#K##.#", "#KKKKKKK##.#", "############"}},
  };
  ExpectEachPicture(cases, [](std::uint16_t* m, std::int32_t W, std::int32_t H) { FloodFillFromBorder(m, W, H, kKey); });
}

// Masks named after what they stress, each with the frame keyed.
Mask StressMask(const std::string& kind, std::int32_t W, std::int32_t H) {
  Mask mask(static_cast<std::size_t>(W) * H, 0);
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) {
      std::uint16_t& v = mask[static_cast<std::size_t>(y) * W + x];
      if (kind == "all-one") v = 1;
      if (kind == "isolated-zero lattice") v = x % 2 == 0 || y % 2 == 0;  // a fresh run per zero
      if (kind == "diagonal checkerboard") v = (x + y) % 2;  // one component through corners
      if (kind == "strips joined at the bottom") v = y + 2 < H && x % 2 == 0;
      if (kind == "staggered isolated zeros") v = !(y % 2 == 1 && x % 4 == 1 + (y / 2 % 2) * 2);
    }
  }
  SetBorderZeros(mask.data(), W, H, kKey);
  return mask;
}

TEST(FloodFillFromBorder, StressShapesMatchRepeatedPasses) {
  const std::vector<std::string> kinds = {"all-zero", "all-one", "isolated-zero lattice", "diagonal checkerboard",
                                          "strips joined at the bottom", "staggered isolated zeros"};
  for (const std::string& kind : kinds) {
    for (const auto& [W, H] : {std::pair{41, 37}, {1, 50}, {50, 1}, {3, 2500}, {4, 2500}, {2500, 4}}) {
      Mask mask = StressMask(kind, W, H);
      // Keys inside the inner area too, so that runs look around themselves.
      if (W > 8 && H > 8) mask[static_cast<std::size_t>(H / 2) * W + W / 2] = kKey;
      Mask naive = mask;
      FloodFillFromBorder(mask.data(), W, H, kKey);
      NaiveFloodFill(naive, W, H, kKey);
      ASSERT_EQ(mask, naive) << kind << ", " << W << " x " << H;
    }
  }
}

TEST(FloodFillFromBorder, SpiralCorridorFillsToItsEnd) {
  {
    const std::int32_t side = 61;
    Mask mask = test::SpiralCorridor(side);
    SetBorderZeros(mask.data(), side, side, kKey);
    Mask naive = mask;
    FloodFillFromBorder(mask.data(), side, side, kKey);
    NaiveFloodFill(naive, side, side, kKey);
    EXPECT_EQ(mask, naive);
  }
  // Large enough that repeated passes would take minutes: every corridor
  // sample must hold the key, no zero may remain.
  const std::int32_t side = 2001;
  Mask mask = test::SpiralCorridor(side);
  SetBorderZeros(mask.data(), side, side, kKey);
  FloodFillFromBorder(mask.data(), side, side, kKey);
  EXPECT_EQ(std::count(mask.begin(), mask.end(), 0), 0);
  EXPECT_GT(std::count(mask.begin(), mask.end(), kKey), side * side / 3);
}

// Zeros and near-zeros (1, 0x8000, 0xFFFF: the values a signed or a byte
// comparison would take for 0) at every place of the 16-sample lanes.
TEST(ZeroBits64, PlainAndSse2FormsAgree) {
  std::mt19937 random(11);
  const std::uint16_t likely[] = {0, 0, 1, 0x100, 0x8000, 0xFFFF};
  std::uint16_t samples[64];
  for (int round = 0; round < 20000; ++round) {
    for (int i = 0; i < 64; ++i) {
      samples[i] = round < 64 ? static_cast<std::uint16_t>(i == round ? 0 : 0xFF00)
                              : likely[random() % std::size(likely)];
    }
    if (round < 64) {
      ASSERT_EQ(ZeroBits64Plain(samples), std::uint64_t{1} << round);
    }
#if EDGESEG_HAS_SSE2
    ASSERT_EQ(ZeroBits64Sse2(samples), ZeroBits64Plain(samples)) << "round " << round;
#endif
  }
#if !EDGESEG_HAS_SSE2
  GTEST_SKIP() << "no SSE2 form in this build";
#endif
}

TEST(FillEnclosedZeros, InnerZerosBecomeOne) {
  Mask mask = MaskFromRows({"..K.", ".K..", "...."});
  FillEnclosedZeros(mask.data(), 4, 3);
  EXPECT_EQ(mask, MaskFromRows({"..K.", ".K#.", "...."}));

  // Narrow masks are filled many rows at a time, wide ones a row or two at
  // a time: the zeros of the frame columns stay in both.
  for (const auto& [W, H] : {std::pair{3, 3000}, {5, 2000}, {31, 140}, {32, 130}, {700, 9}, {2049, 3}}) {
    std::mt19937 random(static_cast<std::uint32_t>(W));
    Mask mask(static_cast<std::size_t>(W) * H);
    for (auto& v : mask) v = random() % 3 == 0 ? 7 : 0;
    Mask expected = mask;
    for (std::int32_t y = 1; y + 1 < H; ++y) {
      for (std::int32_t x = 1; x + 1 < W; ++x) expected[y * W + x] = expected[y * W + x] == 0 ? 1 : 7;
    }
    FillEnclosedZeros(mask.data(), W, H);
    EXPECT_EQ(mask, expected) << W << " x " << H;
  }
}

TEST(Erode3x3, KeepsOnlyFullNeighbourhoods) {
  const std::vector<PictureCase> cases = {
      {"3 x 3 keeps the centre", {"###", "###", "###"}, {"...", ".#.", "..."}},
      {"one gap removes the centre", {"###", "##.", "###"}, {"...", "...", "..."}},
      {"too narrow", {"##", "##", "##"}, {"..", "..", ".."}},
      {"centre keeps its own value", {"KKK", "KKK", "#K#"}, {"...", ".K.", "..."}},
      {"key on the frame counts as foreground",
       {"KKKKK", "K###K", "K###K", "K##.K", "KKKKK"},
       {".....", ".###.", ".#...", ".#...", "....."}},
  };
  ExpectEachPicture(cases, Erode3x3);
}

TEST(Erode3x3, MatchesAFreshScratchCopyOnRandomMasks) {
  // Small masks, and shapes whose rows are eroded a block of rows at a
  // time: tall narrow ones over several blocks, one longer than a block.
  const test::ShapeRange shapes[] = {
      {1, 25, 1, 25, 200}, {3, 7, 600, 3000, 20}, {100, 700, 5, 30, 20}, {4000, 5000, 3, 5, 4}};
  test::ForEachRandomShape(shapes, [](std::mt19937& random, std::int32_t W, std::int32_t H, std::uint32_t seed) {
    Mask mask(static_cast<std::size_t>(W) * H);
    for (auto& v : mask) v = random() % 10 < 8 ? static_cast<std::uint16_t>(1 + random() % 3) : 0;
    Mask naive = mask;
    Erode3x3(mask.data(), W, H);
    NaiveErode(naive, W, H);
    ASSERT_EQ(mask, naive) << "seed " << seed << ", " << W << " x " << H;
  });
}

}  // namespace
