#include "textroilib/textroilib.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "forms_support.h"
#include "test_support.h"
#include "textimagelib/textimagelib.h"

using namespace edgeseg;

namespace {

struct WriteCase {
  std::vector<std::uint16_t> image;
  std::int32_t width;
  std::int32_t height;
  std::string text;
};

TEST(WriteTextImage, WritesRowsOfSpaceSeparatedDecimals) {
  const std::vector<WriteCase> cases = {
      {{0, 1, 12, 0, 0, 65535}, 3, 2, "0 1 12\n0 0 65535\n"},
      {{7, 10, 100}, 1, 3, "7\n10\n100\n"},
      {{0, 0, 0, 0}, 2, 2, "0 0\n0 0\n"},
      {{1000, 9999, 10000}, 3, 1, "1000 9999 10000\n"},
  };
  test::ScratchDir dir;
  for (const WriteCase& c : cases) {
    test::WriteFile(dir / "labels", std::string(200, 'x'));  // longer old file
    EXPECT_EQ(WriteTextImage(dir / "labels", c.image.data(), c.width, c.height), 0);
    EXPECT_EQ(test::ReadFile(dir / "labels"), c.text);
  }
}

TEST(WriteTextImage, TheReaderReadsWhatItWrites) {
  test::ScratchDir dir;
  const std::vector<std::uint16_t> image = {5, 0, 65535, 42, 7, 300};
  WriteTextImage(dir / "labels", image.data(), 2, 3);
  std::int32_t width = 0;
  std::int32_t height = 0;
  ASSERT_TRUE(ScanTextImageSize(dir / "labels", width, height));
  EXPECT_EQ(width, 2);
  EXPECT_EQ(height, 3);
  std::vector<std::uint16_t> back(image.size());
  EXPECT_TRUE(ReadTextImage(dir / "labels", back.data(), width, height));
  EXPECT_EQ(back, image);
}

// The text a plain loop makes: std::to_string of each sample, a space
// between samples and a line feed after each row.
std::string PlainText(const std::vector<std::uint16_t>& image, std::int32_t W, std::int32_t H) {
  std::string text;
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) text += std::to_string(image[y * W + x]) + (x + 1 < W ? " " : "\n");
  }
  return text;
}

// Runs of zeros of every length around the eight written at once, across
// row ends, and values at every digit-count boundary.
TEST(WriteTextImage, MatchesAPlainLoopOnRandomLabelImages) {
  static const std::uint16_t kValues[] = {1, 9, 10, 42, 99, 100, 999, 1000, 4095, 9999, 10000, 65535};
  test::ScratchDir dir;
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    const auto W = static_cast<std::int32_t>(1 + random() % 40);
    const auto H = static_cast<std::int32_t>(1 + random() % 6);
    std::vector<std::uint16_t> image(static_cast<std::size_t>(W) * H, 0);
    for (std::size_t i = 0; i < image.size();) {
      i += random() % 20;  // a run of zeros
      if (i < image.size()) image[i++] = kValues[random() % std::size(kValues)];
    }
    WriteTextImage(dir / "labels", image.data(), W, H);
    ASSERT_EQ(test::ReadFile(dir / "labels"), PlainText(image, W, H)) << "seed " << seed;
  }
}

// The text leaves in pieces of about a megabyte: a piece may end inside a
// row, after a row, or inside a run of zeros, and a row may span pieces.
TEST(WriteTextImage, TextsOfManyPiecesMatchAPlainLoop) {
  const std::pair<std::int32_t, std::int32_t> shapes[] = {{600000, 2}, {3, 200000}, {1, 500001}, {1500, 700}};
  test::ScratchDir dir;
  std::uint32_t seed = 0;
  for (const auto& [W, H] : shapes) {
    std::mt19937 random(++seed);
    std::vector<std::uint16_t> image(static_cast<std::size_t>(W) * H, 0);
    for (auto& v : image) v = random() % 3 == 0 ? 0 : static_cast<std::uint16_t>(random() >> (16 + random() % 16));
    WriteTextImage(dir / "labels", image.data(), W, H);
    ASSERT_EQ(test::ReadFile(dir / "labels"), PlainText(image, W, H)) << W << " x " << H;
  }
}

// Rows of every width up to five vectors of samples, values at every
// digit-count boundary among random ones and zeros, in each form.
class WriterForms : public test::ForcedForm {};

TEST_P(WriterForms, MatchThePlainLoop) {
  static const std::uint16_t kValues[] = {0, 1, 9, 10, 42, 99, 100, 999, 1000, 4095, 9999, 10000, 65535};
  test::ScratchDir dir;
  for (std::uint32_t seed = 1; seed <= 400; ++seed) {
    std::mt19937 random(seed);
    const auto W = static_cast<std::int32_t>(1 + seed % 40);
    const auto H = static_cast<std::int32_t>(1 + random() % 3);
    std::vector<std::uint16_t> image(static_cast<std::size_t>(W) * H);
    for (auto& v : image) {
      v = random() % 2 ? kValues[random() % std::size(kValues)] : static_cast<std::uint16_t>(random());
    }
    WriteTextImage(dir / "labels", image.data(), W, H);
    ASSERT_EQ(test::ReadFile(dir / "labels"), PlainText(image, W, H)) << "seed " << seed;
  }
}

EDGESEG_INSTANTIATE_FOR_EACH_FORM(WriterForms);

}  // namespace

