#include "textroilib/textroilib.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_support.h"
#include "textimagelib/textimagelib.h"

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

}  // namespace
