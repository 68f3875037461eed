#include "buffers/buffers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>
#include <utility>

using namespace edgeseg;

namespace {

// Sizes on both sides of a page and of the point where buffers start to be
// aligned for huge pages: each buffer must take a write to its last element
// and release cleanly.
TEST(ObtainBuffer, EveryElementIsWritable) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4097},
                                  4 * kMiB - 1, 4 * kMiB, 4 * kMiB + 1, 9 * kMiB + 3}) {
    auto buffer = ObtainBuffer<std::uint8_t>(count);
    ASSERT_NE(buffer.get(), nullptr) << count;
    if (count > 0) {
      buffer[0] = 1;
      buffer[count - 1] = 2;
      EXPECT_EQ(buffer[0] + buffer[count - 1], count == 1 ? 4 : 3) << count;
    }
    buffer.reset();
  }
  auto words = ObtainBuffer<std::uint32_t>(3 * (std::size_t{1} << 20));
  words[3 * (std::size_t{1} << 20) - 1] = 0xDEADBEEF;
  EXPECT_EQ(words[3 * (std::size_t{1} << 20) - 1], 0xDEADBEEFu);
}

TEST(ObtainBuffer, SizesThatCannotBeHadThrow) {
  EXPECT_THROW(ObtainBuffer<std::uint32_t>(std::numeric_limits<std::size_t>::max() / 2), std::bad_array_new_length);
  EXPECT_THROW(ObtainBuffer<std::uint8_t>(std::numeric_limits<std::size_t>::max() - 10), std::bad_alloc);
  EXPECT_THROW(ObtainBuffer<std::uint8_t>(std::size_t{1} << 62), std::bad_alloc);
}

// A grown buffer keeps its first bytes and takes a write to its last one,
// from an empty one up, across the point of huge-page alignment.
TEST(GrowBuffer, KeepsTheKeptElements) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  const std::pair<std::size_t, std::size_t> cases[] = {
      {0, 1}, {1, 4096}, {4096, 8193}, {100, 5 * kMiB}, {5 * kMiB, 64 * kMiB + 3}};
  for (const auto& [from, to] : cases) {
    auto buffer = ObtainBuffer<std::uint8_t>(from);
    for (std::size_t i = 0; i < from; ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 1);
    GrowBuffer(buffer, to, from);
    buffer[to - 1] = 0xAB;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < from; ++i) differing += buffer[i] != static_cast<std::uint8_t>(i * 7 + 1);
    EXPECT_EQ(differing, 0u) << from << " to " << to;
    EXPECT_EQ(buffer[to - 1], 0xAB) << from << " to " << to;
  }
}

// In sanitizer builds a read or a write one byte past a buffer is reported
// as an access to poisoned memory, whatever the buffer's size: also where
// it fills its last page exactly and the next page could belong to another
// mapping, and after the buffer has grown. A crash on an unmapped page is
// no such report.
TEST(ObtainBufferDeathTest, AByteWrittenPastTheEndIsReported) {
  if (!EDGESEG_ADDRESS_SANITIZER) GTEST_SKIP() << "only sanitizer builds see overruns";
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                                  std::size_t{4097}, std::size_t{8192}, 2 * kMiB, 4 * kMiB, 4 * kMiB + 1}) {
    EXPECT_DEATH(
        {
          auto buffer = ObtainBuffer<char>(count);
          static_cast<volatile char*>(buffer.get())[count] = 1;
        },
        "use-after-poison")
        << "write, " << count;
    EXPECT_DEATH(
        {
          auto buffer = ObtainBuffer<char>(count);
          static_cast<void>(static_cast<volatile char*>(buffer.get())[count]);
        },
        "use-after-poison")
        << "read, " << count;
    EXPECT_DEATH(
        {
          auto buffer = ObtainBuffer<char>(0);
          GrowBuffer(buffer, count, 0);
          static_cast<void>(static_cast<volatile char*>(buffer.get())[count]);
        },
        "use-after-poison")
        << "read after growing, " << count;
  }
}

}  // namespace
