#include "textroilib/textroilib.h"

#include <array>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>

#include "buffers/buffers.h"
#include "fileio/fileio.h"

namespace {

// The text of eight zero samples inside a row: most of a label image is
// background, and eight of its samples are tested and written at once.
constexpr char kEightZeros[] = "0 0 0 0 0 0 0 0 ";
constexpr std::size_t kEightZerosLength = sizeof kEightZeros - 1;

// The two digits of each value 0 to 99, for writing a number two digits at
// a time.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int v = 0; v < 100; ++v) {
    pairs[2 * v] = static_cast<char>('0' + v / 10);
    pairs[2 * v + 1] = static_cast<char>('0' + v % 10);
  }
  return pairs;
}();

char* AppendDigitPair(char* out, unsigned v) {
  std::memcpy(out, &kDigitPairs[2 * v], 2);
  return out + 2;
}

// The decimal digits of v, with no leading zeros.
char* AppendDecimal(char* out, std::uint16_t sample) {
  unsigned v = sample;
  if (v < 10) {
    *out = static_cast<char>('0' + v);
    return out + 1;
  }
  if (v < 100) return AppendDigitPair(out, v);
  if (v >= 10000) {
    *out++ = static_cast<char>('0' + v / 10000);
    v %= 10000;
    out = AppendDigitPair(out, v / 100);
  } else if (v >= 1000) {
    out = AppendDigitPair(out, v / 100);
  } else {
    *out++ = static_cast<char>('0' + v / 100);
  }
  return AppendDigitPair(out, v % 100);
}

// True when the eight samples from p on are all 0.
bool EightZeros(const std::uint16_t* p) {
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::memcpy(&first, p, sizeof first);
  std::memcpy(&second, p + 4, sizeof second);
  return (first | second) == 0;
}

}  // namespace

std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H) {
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  // Sized exactly, so that a large image asks for no more memory than its
  // text: a digit and a separator per sample, plus the further digits of
  // values from 10 up. The count has no branch, so it vectorises.
  std::size_t length = 2 * n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t v = image[i];
    length += static_cast<std::size_t>((v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000));
  }
  // Every sample is followed by a space, and the last one of each row then
  // has its space turned into a line feed.
  const auto text = ObtainBuffer<char>(length);
  char* out = text.get();
  const std::size_t width = static_cast<std::size_t>(W);
  for (std::int32_t y = 0; y < H; ++y) {
    const std::uint16_t* row = image + static_cast<std::size_t>(y) * width;
    std::size_t x = 0;
    while (x < width) {
      if (width - x >= 8 && EightZeros(row + x)) {
        std::memcpy(out, kEightZeros, kEightZerosLength);
        out += kEightZerosLength;
        x += 8;
        continue;
      }
      out = AppendDecimal(out, row[x++]);
      *out++ = ' ';
    }
    if (W > 0) out[-1] = '\n';
  }
  // A count that disagreed with the formatting would have written past the
  // buffer or left garbage in it: neither may reach the file.
  if (static_cast<std::size_t>(out - text.get()) != length) throw std::runtime_error("label text length mismatch");
  WriteWholeFile(name, {std::as_bytes(std::span(text.get(), length))});
  return 0;
}
