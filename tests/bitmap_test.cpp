#include "bitmap/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <vector>

#include "test_support.h"

using namespace edgeseg;

namespace {

// Paints pixel (x, y) with blue = 10*x + y, green = 100 + y, red = 200 + x.
void Paint(TBitmap& bitmap) {
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    auto row = bitmap.RowPixels(y);
    for (std::int32_t x = 0; x < bitmap.Width(); ++x) {
      row[4 * x] = static_cast<std::uint8_t>(10 * x + y);
      row[4 * x + 1] = static_cast<std::uint8_t>(100 + y);
      row[4 * x + 2] = static_cast<std::uint8_t>(200 + x);
    }
  }
}

TEST(SaveBmpFile, ThreeByTwoPicture) {
  test::ScratchDir dir;
  TBitmap bitmap;
  bitmap.SetBitmapWidth(3);
  bitmap.SetBitmapHeight(2);
  bitmap.EnsurePixelFormat32();
  Paint(bitmap);
  test::WriteFile(dir / "p.bmp", std::string(500, 'x'));
  bitmap.SaveBmpFile(dir / "p.bmp");
  const std::string file = test::ReadFile(dir / "p.bmp");
  ASSERT_EQ(file.size(), 78u);

  EXPECT_EQ(file.substr(0, 2), "BM");
  const std::vector<std::uint32_t> fields = {test::U32At(file, 2),  test::U32At(file, 6),  test::U32At(file, 10),
                                             test::U32At(file, 14), test::U32At(file, 18), test::U32At(file, 22),
                                             test::U32At(file, 30), test::U32At(file, 34), test::U32At(file, 38),
                                             test::U32At(file, 42), test::U32At(file, 46), test::U32At(file, 50)};
  EXPECT_EQ(fields, (std::vector<std::uint32_t>{78, 0, 54, 40, 3, 2, 0, 24, 0, 0, 0, 0}));
  EXPECT_EQ(test::U16At(file, 26), 1);
  EXPECT_EQ(test::U16At(file, 28), 32);

  // Bottom row (y = 1) first, each pixel blue, green, red, spare 0.
  const std::string expected = {
      1,  101, char(200), 0, 11, 101, char(201), 0, 21, 101, char(202), 0,
      0,  100, char(200), 0, 10, 100, char(201), 0, 20, 100, char(202), 0,
  };
  EXPECT_EQ(file.substr(54), expected);
}

// A picture written in bands is the file of the whole picture: bands of one
// row, of several with a partial one at the top, ending exactly on the last
// row, and larger than the picture.
TEST(SaveBmpFileInBands, WritesTheFileOfTheWholePicture) {
  test::ScratchDir dir;
  for (const auto& size :
       {std::tuple{1, 1, 1}, {1, 9, 2}, {9, 1, 4}, {5, 7, 3}, {5, 6, 3}, {6, 5, 1}, {3, 4, 100}}) {
    // Plain names, not a structured binding, which clang 14's lambdas cannot capture.
    const std::int32_t W = std::get<0>(size);
    const std::int32_t H = std::get<1>(size);
    const std::int32_t bandRows = std::get<2>(size);
    TBitmap whole;
    whole.SetBitmapWidth(W);
    whole.SetBitmapHeight(H);
    Paint(whole);
    whole.SaveBmpFile(dir / "whole.bmp");
    std::vector<std::pair<std::int32_t, std::int32_t>> drawn;
    SaveBmpFileInBands(dir / "bands.bmp", W, H, bandRows, [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
      drawn.emplace_back(first, rows);
      band.SetBitmapWidth(W);
      band.SetBitmapHeight(rows);
      for (std::int32_t y = 0; y < rows; ++y) {
        const auto from = whole.RowPixels(first + y);
        std::copy(from.begin(), from.end(), band.RowPixels(y).begin());
      }
    });
    EXPECT_EQ(test::ReadFile(dir / "bands.bmp"), test::ReadFile(dir / "whole.bmp")) << W << " x " << H;
    // Bottom up, each band drawn once, none larger than asked.
    std::int32_t end = H;
    for (const auto& [first, rows] : drawn) {
      EXPECT_EQ(first + rows, end) << W << " x " << H;
      EXPECT_LE(rows, bandRows);
      end = first;
    }
    EXPECT_EQ(end, 0);
  }
}

// A band of another size than asked fails before anything is written: the
// old file stays, no other file appears, and the band is what fails even
// where no file could be created.
TEST(SaveBmpFileInBands, ABandOfAnotherSizeFailsTheWrite) {
  test::ScratchDir dir;
  test::WriteFile(dir / "p.bmp", "before");
  const auto wrongWidth = [](std::int32_t, std::int32_t rows, TBitmap& band) {
    band.SetBitmapWidth(2);
    band.SetBitmapHeight(rows);
  };
  EXPECT_THROW(SaveBmpFileInBands(dir / "p.bmp", 3, 4, 2, wrongWidth), std::runtime_error);
  EXPECT_EQ(test::ReadFile(dir / "p.bmp"), "before");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
  try {
    SaveBmpFileInBands(dir / "missing/p.bmp", 3, 4, 2, wrongWidth);
    ADD_FAILURE() << "no throw";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "picture band of another size");
  }
}

TEST(SaveBmpFile, NoStoreGivesAnEmptyFile) {
  test::ScratchDir dir;
  for (const auto& [w, h] : {std::pair{0, 0}, {5, 0}, {0, 5}}) {
    TBitmap bitmap;
    bitmap.SetBitmapWidth(w);
    bitmap.SetBitmapHeight(h);
    test::WriteFile(dir / "p.bmp", "old content");
    bitmap.SaveBmpFile(dir / "p.bmp");
    EXPECT_EQ(test::ReadFile(dir / "p.bmp"), "") << w << "x" << h;
  }
}

TEST(MakeBmpHeader, RefusesFilesPast4GiB) {
  // 54 + 4*W*H must fit in 32 bits: 4 * 1073741810 + 54 = 0xFFFFFFFE.
  EXPECT_EQ(test::U32At(std::string(reinterpret_cast<const char*>(MakeBmpHeader(1, 1073741810).data()), 54), 2),
            0xFFFFFFFEu);
  EXPECT_THROW(MakeBmpHeader(1, 1073741811), std::runtime_error);
  EXPECT_THROW(MakeBmpHeader(65536, 65536), std::runtime_error);
  EXPECT_THROW(MakeBmpHeader(2147483647, 2147483647), std::runtime_error);
  // The same bound, asked before any bitmap is sized.
  EXPECT_TRUE(FitsBmpFile(1, 1073741810));
  EXPECT_TRUE(FitsBmpFile(32767, 32768));
  EXPECT_FALSE(FitsBmpFile(1, 1073741811));
  EXPECT_FALSE(FitsBmpFile(32768, 32768));
  EXPECT_FALSE(FitsBmpFile(46340, 46340));
}

TEST(TBitmap, ResizingKeepsTheTopLeftAndFillsWhite) {
  TBitmap bitmap;
  EXPECT_FALSE(bitmap.IsPixelFormat32());
  bitmap.SetBitmapWidth(3);
  EXPECT_EQ(bitmap.Width(), 3);
  EXPECT_EQ(bitmap.Height(), 0);
  bitmap.SetBitmapHeight(3);
  bitmap.EnsurePixelFormat32();
  EXPECT_TRUE(bitmap.IsPixelFormat32());
  Paint(bitmap);

  bitmap.SetBitmapWidth(2);
  bitmap.SetBitmapHeight(4);
  EXPECT_TRUE(bitmap.IsPixelFormat32());
  const std::vector<std::vector<std::uint8_t>> rows = {
      {0, 100, 200, 0, 10, 100, 201, 0},
      {1, 101, 200, 0, 11, 101, 201, 0},
      {2, 102, 200, 0, 12, 102, 201, 0},
      {255, 255, 255, 0, 255, 255, 255, 0},
  };
  for (std::int32_t y = 0; y < 4; ++y) {
    const auto row = bitmap.RowPixels(y);
    EXPECT_EQ(std::vector<std::uint8_t>(row.begin(), row.end()), rows[y]) << "row " << y;
  }

  // Setting the current size again changes nothing, not even white pixels.
  bitmap.RowPixels(3)[0] = 7;
  bitmap.SetBitmapWidth(2);
  bitmap.SetBitmapHeight(4);
  EXPECT_EQ(bitmap.RowPixels(3)[0], 7);
}

// Width first, then height, each shrinking the picture in its own store.
TEST(TBitmap, ShrinkingKeepsTheTopLeft) {
  TBitmap bitmap;
  bitmap.SetBitmapWidth(5);
  bitmap.SetBitmapHeight(4);
  Paint(bitmap);
  bitmap.SetBitmapWidth(4);
  bitmap.SetBitmapHeight(2);
  ASSERT_EQ(bitmap.Width(), 4);
  ASSERT_EQ(bitmap.Height(), 2);
  TBitmap expected;
  expected.SetBitmapWidth(4);
  expected.SetBitmapHeight(2);
  Paint(expected);
  for (std::int32_t y = 0; y < 2; ++y) {
    const auto got = bitmap.RowPixels(y);
    const auto want = expected.RowPixels(y);
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin(), got.end()), std::vector<std::uint8_t>(want.begin(), want.end()))
        << "row " << y;
  }
}

TEST(TBitmap, RowsOutsideThePictureThrow) {
  TBitmap bitmap;
  bitmap.SetBitmapWidth(2);
  bitmap.SetBitmapHeight(2);
  EXPECT_THROW(bitmap.RowPixels(-1), std::runtime_error);
  EXPECT_THROW(bitmap.RowPixels(2), std::runtime_error);
  EXPECT_EQ(bitmap.RowPixels(1).size(), 8u);
  EXPECT_THROW(bitmap.SetBitmapWidth(-1), std::runtime_error);
  EXPECT_EQ(bitmap.Width(), 2);
}

}  // namespace
