#include "functions/functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "test_support.h"

using namespace edgeseg;

namespace {

using test::MaskFromRows;
using Mask = std::vector<std::uint16_t>;

TEST(SetBorderZeros, OnlyZerosOnTheFrameTakeTheKey) {
  Mask mask = MaskFromRows({
      "..#.",
      "#...",
      "...#",
  });
  SetBorderZeros(mask.data(), 4, 3, 65535);
  EXPECT_EQ(mask, MaskFromRows({
                      "KK#K",
                      "#..K",
                      "KKK#",
                  }));

  // One row or one column: every sample is on the frame.
  struct Case {
    std::int32_t W, H;
    const char* before;
    const char* after;
  };
  for (const Case& c : {Case{1, 4, ".#..", "K#KK"}, Case{4, 1, "#..#", "#KK#"}, Case{2, 2, ".#7.", "K#7K"}}) {
    Mask m = MaskFromRows({c.before});
    SetBorderZeros(m.data(), c.W, c.H, 65535);
    EXPECT_EQ(m, MaskFromRows({c.after})) << c.W << " x " << c.H;
  }
}

TEST(ClearValue, ClearsTheKeyEverywhereAndAZeroKeyDoesNothing) {
  Mask mask = MaskFromRows({"K#K", "7K."});
  ClearValue(mask.data(), 3, 2, 65535);
  EXPECT_EQ(mask, MaskFromRows({".#.", "7.."}));
  ClearValue(mask.data(), 3, 2, 0);
  EXPECT_EQ(mask, MaskFromRows({".#.", "7.."}));
}

TEST(CellMaskToPixelMask, APixelNeedsAllFourCellsAroundIt) {
  struct Case {
    std::vector<std::string> cells;
    std::vector<std::string> pixels;
  };
  const std::vector<Case> cases = {
      {{"....", ".#..", "...."}, {".....", ".....", ".....", "....."}},  // isolated cell
      {{"....", ".##.", ".##."}, {".....", ".....", "..#..", "....."}},  // 2 x 2 block
      {{"####", "####", "####"}, {".....", ".###.", ".###.", "....."}},  // all set: frame stays 0
      {{"###.", "####", "7##."}, {".....", ".##..", ".##..", "....."}},  // any non-zero counts
  };
  for (const Case& c : cases) {
    const Mask cells = MaskFromRows(c.cells);
    Mask pixels(20, 0xBEEF);
    CellMaskToPixelMask(pixels.data(), cells.data(), 5, 4);
    EXPECT_EQ(pixels, MaskFromRows(c.pixels));
  }
}

TEST(CellMaskToPixelMask, MatchesFourCellsPerPixelOnRandomMasks) {
  // Rows short enough to go many at a time, and rows of a block of their own.
  for (const auto& [W, H] : {std::pair{3, 2000}, {4, 1500}, {5, 900}, {31, 300}, {32, 200}, {90, 40}, {4100, 4}}) {
    std::mt19937 random(static_cast<std::uint32_t>(W * 7919 + H));
    const std::int32_t W1 = W - 1;
    Mask cells(static_cast<std::size_t>(W1) * (H - 1));
    for (auto& v : cells) v = random() % 5 == 0 ? 0 : static_cast<std::uint16_t>(1 + random() % 2);
    Mask expected(static_cast<std::size_t>(W) * H, 0);
    for (std::int32_t y = 1; y + 1 < H; ++y) {
      for (std::int32_t x = 1; x + 1 < W; ++x) {
        const std::int32_t c = (y - 1) * W1 + x - 1;
        expected[y * W + x] = cells[c] != 0 && cells[c + 1] != 0 && cells[c + W1] != 0 && cells[c + W1 + 1] != 0;
      }
    }
    Mask pixels(expected.size(), 0xBEEF);
    CellMaskToPixelMask(pixels.data(), cells.data(), W, H);
    EXPECT_EQ(pixels, expected) << W << " x " << H;
  }
}

// The eager-merge scan: every merge rewrites all earlier labels at once.
// Neighbours outside the image or across a row end do not match.
std::int32_t EagerLabelRegions(Mask& image, std::int32_t W, std::int32_t H, std::uint32_t minSize) {
  const std::int32_t n = W * H;
  std::vector<std::uint32_t> labels(n);
  std::vector<std::uint32_t> relabel(n + 1), size(n + 1, 0);
  std::uint32_t next = 1;
  std::int32_t replacements = 0;
  for (std::int32_t k = 0; k < n; ++k) {
    const std::uint16_t s = image[k];
    if (s == 0) {
      labels[k] = 0;
      continue;
    }
    const std::int32_t x = k % W, y = k / W;
    std::vector<std::uint32_t> found;
    const bool neighbours[] = {x > 0, y > 0 && x + 1 < W, y > 0, y > 0 && x > 0};
    const std::int32_t at[] = {k - 1, k - W + 1, k - W, k - W - 1};
    for (int i = 0; i < 4; ++i) {
      if (neighbours[i] && image[at[i]] == s) found.push_back(labels[at[i]]);
    }
    if (found.empty()) {
      labels[k] = next++;
      continue;
    }
    const std::uint32_t m = *std::min_element(found.begin(), found.end());
    labels[k] = m;
    for (const std::uint32_t e : found) {
      if (e == m) continue;
      std::replace(labels.begin(), labels.begin() + k, e, m);
      ++replacements;
    }
  }
  for (std::int32_t k = 0; k < n; ++k) ++size[labels[k]];
  std::uint32_t newLabel = 1;
  for (std::uint32_t j = 1; j < next; ++j) relabel[j] = size[j] > minSize ? newLabel++ : 0;
  for (std::int32_t k = 0; k < n; ++k) image[k] = static_cast<std::uint16_t>(relabel[labels[k]]);
  return replacements;
}

TEST(LabelRegions, WorkedExample) {
  const Mask mask = MaskFromRows({
      ".......",
      ".#.#...",
      ".###.#.",
      ".....#.",
      ".......",
  });
  struct Case {
    std::uint32_t minSize;
    std::vector<std::string> labels;
  };
  const std::vector<Case> cases = {
      {1, {".......", ".1.1...", ".111.2.", ".....2.", "......."}},
      {2, {".......", ".1.1...", ".111...", ".......", "......."}},
      {10, {".......", ".......", ".......", ".......", "......."}},
  };
  for (const Case& c : cases) {
    Mask image = mask;
    EXPECT_EQ(LabelRegions(image.data(), 7, 5, c.minSize), 1);
    EXPECT_EQ(image, MaskFromRows(c.labels)) << "minimum size " << c.minSize;
  }
}

TEST(LabelRegions, EachDifferingMatchCountsAsAReplacement) {
  // At (3, 3) left and up-left carry label 2 and up-right the smaller label
  // 1, while up does not match: both 2s count, two replacements.
  Mask image = MaskFromRows({
      "......",
      "....#.",
      ".##.#.",
      "..##..",
      "......",
  });
  Mask eager = image;
  EXPECT_EQ(EagerLabelRegions(eager, 6, 5, 0), 2);
  EXPECT_EQ(LabelRegions(image.data(), 6, 5, 0), 2);
  EXPECT_EQ(image, MaskFromRows({"......", "....1.", ".11.1.", "..11..", "......"}));
  EXPECT_EQ(image, eager);
}

TEST(LabelRegions, SizeFilterAndNumbering) {
  struct Case {
    const char* what;
    std::vector<std::string> mask;
    std::uint32_t minSize;
    std::vector<std::string> labels;
  };
  const std::vector<Case> cases = {
      {"empty", {"....", "....", "...."}, 0, {"....", "....", "...."}},
      {"corner touch joins, both diagonals",
       {"......", ".#..#.", "..##..", ".#..#.", "......"}, 0,
       {"......", ".1..1.", "..11..", ".1..1.", "......"}},
      {"values never join", {".....", ".#2#.", "....."}, 0, {".....", ".123.", "....."}},
      {"first pixel's row decides, then column",
       {"......", "....#.", ".#..#.", ".#....", "......"}, 0,
       {"......", "....1.", ".2..1.", ".2....", "......"}},
      {"dropped region leaves no gap",
       {"........", ".#.###..", "........", ".##.....", "........"}, 1,
       {"........", "...111..", "........", ".22.....", "........"}},
      {"10 pixels dropped, 11 kept",
       {"..............", ".##########...", "..............", ".###########..", ".............."}, 10,
       {"..............", "..............", "..............", ".11111111111..", ".............."}},
  };
  for (const Case& c : cases) {
    const auto width = static_cast<std::int32_t>(c.mask[0].size());
    const auto height = static_cast<std::int32_t>(c.mask.size());
    Mask image = MaskFromRows(c.mask);
    LabelRegions(image.data(), width, height, c.minSize);
    EXPECT_EQ(image, MaskFromRows(c.labels)) << c.what;
  }
}

TEST(LabelRegions, NeighboursOutsideTheImageOrAcrossARowEndDoNotMatch) {
  // In a row-major buffer the last pixel of a row and the first of the next
  // lie side by side, so index arithmetic alone would join them.
  struct Case {
    const char* what;
    std::vector<std::string> mask;
    std::vector<std::string> labels;
  };
  const std::vector<Case> cases = {
      {"row end beside the next row's start", {"...#", "#...", "...."}, {"...1", "2...", "...."}},
      {"up-left of a row start is the row end two rows up", {"...#", "....", "#..."}, {"...1", "....", "2..."}},
      {"up-right of a row end is the row's own start", {"....", "#..#"}, {"....", "1..2"}},
      {"up-right of the first row's end", {"#..#", "...."}, {"1..2", "...."}},
      {"the four corners", {"#..#", "....", "#..#"}, {"1..2", "....", "3..4"}},
      {"a region on every edge around an inner one", {"#####", "#...#", "#.#.#", "#...#", "#####"},
       {"11111", "1...1", "1.2.1", "1...1", "11111"}},
      {"every pixel set", {"###", "###"}, {"111", "111"}},
      {"one column", {"#", "#", ".", "#", "2", "2"}, {"1", "1", ".", "2", "3", "3"}},
      {"one row", {"##.#2#"}, {"11.234"}},
      {"one pixel", {"#"}, {"1"}},
  };
  for (const Case& c : cases) {
    const auto width = static_cast<std::int32_t>(c.mask[0].size());
    const auto height = static_cast<std::int32_t>(c.mask.size());
    Mask image = MaskFromRows(c.mask);
    Mask eager = image;
    const std::int32_t eagerCount = EagerLabelRegions(eager, width, height, 0);
    EXPECT_EQ(LabelRegions(image.data(), width, height, 0), eagerCount) << c.what;
    EXPECT_EQ(image, MaskFromRows(c.labels)) << c.what;
    EXPECT_EQ(image, eager) << c.what;
  }
}

TEST(LabelRegions, MatchesTheEagerMergeScanOnRandomMasks) {
  // From 1 x 1 up, wide and tall narrow shapes with rows of zeros between
  // rows of foreground, frames that hold foreground, and several values.
  const test::ShapeRange shapes[] = {
      {1, 5, 1, 5, 200}, {3, 42, 3, 42, 300}, {200, 700, 1, 6, 30}, {1, 5, 300, 2000, 30}};
  test::ForEachRandomShape(shapes, [](std::mt19937& random, std::int32_t W, std::int32_t H, std::uint32_t seed) {
    const std::uint32_t density = random() % 100;
    const std::uint32_t emptyRows = random() % 3 == 0 ? random() % 60 : 0;
    const auto values = static_cast<std::uint16_t>(1 + seed % 3);
    const bool frame = seed % 2 == 0;
    Mask mask(static_cast<std::size_t>(W) * H, 0);
    for (std::int32_t y = 0; y < H; ++y) {
      if (random() % 100 < emptyRows) continue;
      for (std::int32_t x = 0; x < W; ++x) {
        const bool inner = x > 0 && y > 0 && x + 1 < W && y + 1 < H;
        if ((inner || frame) && random() % 100 < density) {
          mask[y * W + x] = static_cast<std::uint16_t>(1 + random() % values);
        }
      }
    }
    const std::uint32_t minSize = random() % 12;
    Mask fast = mask;
    Mask eager = mask;
    const std::int32_t fastCount = LabelRegions(fast.data(), W, H, minSize);
    const std::int32_t eagerCount = EagerLabelRegions(eager, W, H, minSize);
    ASSERT_EQ(fast, eager) << "seed " << seed << ", " << W << " x " << H;
    ASSERT_EQ(fastCount, eagerCount) << "seed " << seed << ", " << W << " x " << H;
  });
}

TEST(LabelRegions, StressShapesMatchTheEagerMergeScan) {
  // Tall narrow segments parted by rows of zeros, staircases that join only
  // through corners, and wide combs whose teeth each start a region that
  // the bar below merges; with two values, so that touching runs of
  // different values stay apart.
  struct Shape {
    const char* what;
    std::int32_t W, H;
    std::uint16_t (*sample)(std::int32_t x, std::int32_t y);
  };
  const Shape shapes[] = {
      {"segments", 4, 3000, [](std::int32_t x, std::int32_t y) { return std::uint16_t(y % 7 != 0 && x == 1 + y / 7 % 2); }},
      {"staircase", 5, 2000, [](std::int32_t x, std::int32_t y) { return std::uint16_t(x == 1 + y % 3); }},
      {"comb", 3000, 6, [](std::int32_t x, std::int32_t y) { return std::uint16_t(y == 4 || x % 2 == 1 ? 1 + x / 1000 : 0); }},
      {"two values side by side", 6, 1500,
       [](std::int32_t x, std::int32_t y) { return std::uint16_t(x == 0 || x == 5 || y % 5 == 0 ? 0 : 1 + x / 3); }},
  };
  for (const Shape& shape : shapes) {
    Mask mask(static_cast<std::size_t>(shape.W) * shape.H);
    for (std::int32_t y = 0; y < shape.H; ++y) {
      for (std::int32_t x = 0; x < shape.W; ++x) mask[y * shape.W + x] = shape.sample(x, y);
    }
    Mask fast = mask;
    Mask eager = mask;
    const std::int32_t fastCount = LabelRegions(fast.data(), shape.W, shape.H, 1);
    EXPECT_EQ(fastCount, EagerLabelRegions(eager, shape.W, shape.H, 1)) << shape.what;
    EXPECT_EQ(fast, eager) << shape.what;
  }
}

// Isolated pixels on every odd row and column: one provisional label each.
Mask IsolatedPixelLattice(std::int32_t side, std::int32_t& count) {
  Mask mask(static_cast<std::size_t>(side) * side, 0);
  count = 0;
  for (std::int32_t y = 1; y + 1 < side; y += 2) {
    for (std::int32_t x = 1; x + 1 < side; x += 2) {
      mask[static_cast<std::size_t>(y) * side + x] = 1;
      ++count;
    }
  }
  return mask;
}

TEST(LabelRegions, MoreThan9999ProvisionalLabelsAreNumberedInScanOrder) {
  std::int32_t count = 0;
  Mask image = IsolatedPixelLattice(251, count);  // 125 x 125 pixels
  ASSERT_GT(count, 9999);
  Mask expected = image;
  std::uint16_t next = 1;
  for (auto& v : expected) {
    if (v != 0) v = next++;
  }
  LabelRegions(image.data(), 251, 251, 0);
  EXPECT_EQ(image, expected);
}

TEST(LabelRegions, CombOfMoreThan9999TeethMergesIntoOneRegion) {
  // Every tooth takes its own provisional label; the bar below merges them.
  const std::int32_t W = 20005;
  const std::int32_t H = 5;
  Mask image(static_cast<std::size_t>(W) * H, 0);
  for (std::int32_t x = 1; x + 1 < W; x += 2) image[W + x] = image[2 * W + x] = 1;
  for (std::int32_t x = 1; x + 1 < W; ++x) image[3 * W + x] = 1;
  Mask expected = image;
  LabelRegions(image.data(), W, H, 10);
  EXPECT_EQ(image, expected);
}

TEST(LabelRegions, MoreThan65535SurvivorsThrowAndLeaveTheImage) {
  std::int32_t count = 0;
  Mask image = IsolatedPixelLattice(513, count);  // 256 x 256 pixels
  ASSERT_EQ(count, 65536);
  const Mask before = image;
  EXPECT_THROW(LabelRegions(image.data(), 513, 513, 0), std::runtime_error);
  EXPECT_EQ(image, before);

  image[static_cast<std::size_t>(511) * 513 + 511] = 0;  // one fewer: fits
  LabelRegions(image.data(), 513, 513, 0);
  EXPECT_EQ(*std::max_element(image.begin(), image.end()), 65535);
}

TEST(ReplaceLabel, RewritesUpToTheLastIndexOnly) {
  Mask labels = {5, 3, 5, 5, 5};
  ReplaceLabel(labels.data(), -1, 5, 1);
  EXPECT_EQ(labels, (Mask{5, 3, 5, 5, 5}));
  ReplaceLabel(labels.data(), 2, 5, 1);
  EXPECT_EQ(labels, (Mask{1, 3, 1, 5, 5}));
}

}  // namespace
