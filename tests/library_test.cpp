// The library's face against the command: Segment's labels and
// DrawPicture's pixels are the files the command writes, on every golden
// case and on seeded images of odd sizes handed over with rows longer than
// the image; and every shape the library refuses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <tuple>
#include <span>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "edgeseg/edgeseg.h"
#include "fileio/fileio.h"
#include "test_support.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

using namespace edgeseg;

namespace {

namespace fs = std::filesystem;

struct Image {
  std::int32_t W = 0;
  std::int32_t H = 0;
  std::vector<std::uint16_t> samples;
};

Image ReadImage(const std::string& name) {
  const FileBytes bytes = ReadFileUpToNul(name);
  const std::span<const char> text(bytes.data.get(), bytes.size);
  Image image;
  ScanTextImageSize(text, image.W, image.H);
  image.samples.resize(static_cast<std::size_t>(image.W) * image.H);
  ReadTextImage(text, image.samples.data(), image.W, image.H);
  return image;
}

// The pixels of a 32-bit BMP file as RGB bytes, top row first.
std::vector<std::uint8_t> RgbOfBmp(const std::string& name) {
  const std::string bmp = test::ReadFile(name);
  std::vector<std::uint8_t> rgb;
  for (std::uint32_t y = 0; y < test::U32At(bmp, 22); ++y) {
    for (std::uint32_t x = 0; x < test::U32At(bmp, 18); ++x) {
      for (const int channel : test::BmpPixel(bmp, x, y)) rgb.push_back(static_cast<std::uint8_t>(channel));
    }
  }
  return rgb;
}

// Segments the image, handed over with rows of stride samples, and draws
// its pictures; all must equal the command's files folder/base*. The labels
// are written as text into dir. Gives what Segment gave.
Result ExpectTheCommandsFiles(const test::ScratchDir& dir, const Image& image, std::ptrdiff_t stride,
                            const fs::path& folder, const std::string& base) {
  const auto W = static_cast<std::size_t>(image.W);
  std::vector<std::uint16_t> rows(static_cast<std::size_t>(stride) * image.H, 0xBEEF);
  for (std::size_t y = 0; y < static_cast<std::size_t>(image.H); ++y) {
    std::memcpy(&rows[y * static_cast<std::size_t>(stride)], &image.samples[y * W], W * 2);
  }
  std::vector<std::uint16_t> labels(W * image.H);
  const Result result = Segment(rows.data(), image.W, image.H, stride, labels.data());
  WriteTextImage(dir / "labels", labels.data(), image.W, image.H);
  EXPECT_TRUE(test::ReadFile(dir / "labels") == test::ReadFile((folder / base).string())) << base << ": labels differ";
  EXPECT_EQ(result.regions, *std::max_element(labels.begin(), labels.end())) << base;
  const std::pair<Picture, const char*> pictures[] = {
      {Picture::Input, "_In.bmp"}, {Picture::Regions, "_Reg.bmp"}, {Picture::Gradient, "_Grad.bmp"}};
  for (const auto& [which, suffix] : pictures) {
    const std::vector<std::uint8_t> expected = RgbOfBmp((folder / (base + suffix)).string());
    std::vector<std::uint8_t> rgb(expected.size());
    DrawPicture(which, rows.data(), image.W, image.H, stride, labels.data(), result, rgb.data());
    EXPECT_TRUE(rgb == expected) << base << suffix << " differs";
  }
  return result;
}

// Including the report of a variance below zero.
TEST(Library, GivesTheCommandsOutputsOnEveryGoldenCase) {
  const test::ScratchDir dir;
  const fs::path golden = fs::path(EDGESEG_SOURCE_DIR) / "tests" / "golden";
  for (const auto& entry : fs::directory_iterator(golden)) {
    if (!entry.is_directory()) continue;
    const std::string name = entry.path().filename().string();
    const fs::path input = fs::exists(entry.path() / "input.txt") ? entry.path() / "input.txt"
                                                                 : fs::path(EDGESEG_SOURCE_DIR) / "examples" / (name + ".txt");
    const Image image = ReadImage(input.string());
    // A variance below zero is the caller's to report: the library prints
    // nothing.
    testing::internal::CaptureStderr();
    const Result result = ExpectTheCommandsFiles(dir, image, image.W, entry.path(), name);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << name;
    EXPECT_EQ(result.varianceBelowZero, fs::exists(entry.path() / "stderr.txt")) << name;
  }
}

TEST(Library, GivesTheCommandsOutputsForRowsLongerThanTheImage) {
  for (const auto& size : {std::tuple{5, 4, 1}, {37, 23, 2}, {101, 67, 3}, {300, 7, 4}, {9, 301, 5}}) {
    const auto [W, H, seed] = size;
    const int offset = seed;  // clang 14's lambdas cannot capture a structured binding
    test::ScratchDir dir;
    test::WriteFile(dir / "in.txt", test::ImageText(W, H, [offset](int x, int y) {
      return (x / 6 + y / 5 + offset) % 3 == 0 ? 2000 + (x * 31 + y * 17 + offset) % 700 : (x * 7 + y * 3 + offset) % 50;
    }));
    ASSERT_EQ(test::RunTool(dir, {dir / "in.txt", dir / "res"}).status, 0) << W << " x " << H;
    const Image image = ReadImage(dir / "in.txt");
    ExpectTheCommandsFiles(dir, image, W + 3, dir.path(), "res");
  }
}

TEST(Library, RefusesWhatItCannotSegment) {
  // 256 x 256 bright 6 x 6 blocks 8 pixels apart: 65536 regions.
  const int side = 256 * 8 + 2;
  std::vector<std::uint16_t> blocks(static_cast<std::size_t>(side) * side);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const std::size_t x = i % side, y = i / side;
    blocks[i] = x >= 2 && y >= 2 && (x - 2) % 8 < 6 && (y - 2) % 8 < 6 && x < side - 2 && y < side - 2 ? 1000 : 0;
  }
  struct Case {
    std::int32_t W, H;
    std::ptrdiff_t stride;
    const char* cause;
  };
  const std::vector<Case> cases = {{3, 10, 3, "side of 3 or less"},
                                   {10, 3, 10, "side of 3 or less"},
                                   {65536, 32768, 65536, "more than 2^31 - 1 pixels"},
                                   {10, 10, 9, "stride below the width"},
                                   {side, side, side, "more than 65535 regions"}};
  std::vector<std::uint16_t> labels(blocks.size());
  for (const Case& c : cases) {
    try {
      Segment(blocks.data(), c.W, c.H, c.stride, labels.data());
      ADD_FAILURE() << c.cause << ": nothing thrown";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(c.cause), std::string::npos) << error.what();
    }
  }
}

}  // namespace
