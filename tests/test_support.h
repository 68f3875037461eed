#pragma once
// Helpers shared by the tests: masks drawn as strings, scratch files, and
// (byte_fields.h) the fields of a file's bytes.

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "byte_fields.h"

namespace test {

// Tells apart the scratch directories of test programs that run at once.
inline int ProcessId() {
#if defined(_WIN32)
  return ::_getpid();
#else
  return ::getpid();
#endif
}

// A range of random mask sizes, and how many masks to draw from it.
struct ShapeRange {
  std::int32_t minW, maxW, minH, maxH;
  std::uint32_t count;
};

// Calls check(random, W, H, seed) for each mask of each range in turn. The
// seeds run 1, 2, ... across the ranges, so a failure's seed names the mask
// that reproduces it; each generator is seeded with it and has drawn W and
// H already. The first fatal failure ends the loop.
template <class Check>
void ForEachRandomShape(std::span<const ShapeRange> ranges, Check check) {
  std::uint32_t seed = 0;
  for (const ShapeRange& range : ranges) {
    for (std::uint32_t i = 0; i < range.count; ++i) {
      std::mt19937 random(++seed);
      const auto W = range.minW + static_cast<std::int32_t>(random() % (range.maxW - range.minW + 1));
      const auto H = range.minH + static_cast<std::int32_t>(random() % (range.maxH - range.minH + 1));
      check(random, W, H, seed);
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
}

// W x H random samples whose differences span from a few steps to the
// whole 16-bit range (a power of two from 4 to 65536 drawn first), for the
// gradient's fast paths, whose sums of squares pass 2^24 only at the top.
inline std::vector<std::uint16_t> RandomGradientSamples(std::mt19937& random, std::int32_t W, std::int32_t H) {
  const std::uint32_t amplitude = std::uint32_t{4} << random() % 15;
  std::vector<std::uint16_t> image(static_cast<std::size_t>(W) * static_cast<std::size_t>(H));
  for (auto& v : image) v = static_cast<std::uint16_t>(random() % amplitude);
  return image;
}

// Rows of characters: '.' is 0, '#' is 1, 'K' is the key 65535, and a digit
// is its value.
inline std::vector<std::uint16_t> MaskFromRows(const std::vector<std::string>& rows) {
  std::vector<std::uint16_t> mask;
  for (const std::string& row : rows) {
    for (const char c : row) {
      mask.push_back(c == '.' ? 0 : c == '#' ? 1 : c == 'K' ? 65535 : static_cast<std::uint16_t>(c - '0'));
    }
  }
  return mask;
}

// A side x side mask of 1s inside a frame of 0s, with one corridor of 0s
// carved from (1, 1) in a square spiral inwards: filling it from the frame
// must follow the whole corridor, turning up and left many times.
inline std::vector<std::uint16_t> SpiralCorridor(std::int32_t side) {
  std::vector<std::uint16_t> mask(static_cast<std::size_t>(side) * side, 0);
  for (std::int32_t y = 1; y + 1 < side; ++y) {
    for (std::int32_t x = 1; x + 1 < side; ++x) mask[y * side + x] = 1;
  }
  const std::int32_t steps[4][2] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  std::int32_t x = 1, y = 1, direction = 0;
  mask[side + 1] = 0;
  for (bool moved = true; moved;) {
    moved = false;
    for (int turn = 0; turn < 2 && !moved; ++turn) {
      const auto [dx, dy] = steps[direction];
      const std::int32_t nx = x + 2 * dx, ny = y + 2 * dy;
      if (nx >= 1 && nx <= side - 2 && ny >= 1 && ny <= side - 2 && mask[ny * side + nx] == 1 &&
          mask[(y + dy) * side + x + dx] == 1) {
        mask[(y + dy) * side + x + dx] = 0;
        mask[ny * side + nx] = 0;
        x = nx;
        y = ny;
        moved = true;
      } else {
        direction = (direction + 1) % 4;
      }
    }
  }
  return mask;
}

// A fresh, empty directory for the running test, removed with its files
// when the test has finished.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("edgeseg_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
             std::to_string(ProcessId()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace test
