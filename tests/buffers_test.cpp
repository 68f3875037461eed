#include "buffers/buffers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <new>

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

// In sanitizer builds an overrun of one byte is reported, also where the
// buffer is a mapping whose last page has room to spare.
TEST(ObtainBufferDeathTest, AByteWrittenPastTheEndIsReported) {
  if (!EDGESEG_ADDRESS_SANITIZER) GTEST_SKIP() << "only sanitizer builds see overruns";
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{4095}, std::size_t{4096},
                                  std::size_t{4097}, 4 * kMiB + 1}) {
    EXPECT_DEATH(
        {
          auto buffer = ObtainBuffer<char>(count);
          static_cast<volatile char*>(buffer.get())[count] = 1;
        },
        "AddressSanitizer")
        << count;
  }
}

}  // namespace
