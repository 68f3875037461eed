#include "textimagelib/textimagelib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fileio/fileio.h"

namespace {

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// A digit run of any length at pos: leading zeros count for nothing, any
// other run past 2147483647 is an error however long it is, so the value is
// checked digit by digit.
std::uint32_t ParseDigitRun(const char*& pos, const char* end) {
  std::int64_t value = 0;
  for (; pos != end && IsDigit(*pos); ++pos) {
    value = value * 10 + (*pos - '0');
    if (value > 2147483647) throw std::runtime_error("value out of range");
  }
  return static_cast<std::uint32_t>(value);
}

// Eight bytes as one little-endian word: the first byte is the lowest.
std::uint64_t LoadEight(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The length (0 to 8) of the digit run that starts the eight bytes in v.
int DigitRunLength(std::uint64_t v) {
  // A byte is a digit when its high nibble is 3 and its low nibble is below
  // 10; both tests leave 0 in a digit's byte and never carry across bytes.
  const std::uint64_t highNot3 = (v & 0xF0F0F0F0F0F0F0F0) ^ 0x3030303030303030;
  const std::uint64_t lowOver9 = ((v & 0x0F0F0F0F0F0F0F0F) + 0x0606060606060606) & 0xF0F0F0F0F0F0F0F0;
  const std::uint64_t notDigit = highNot3 | lowOver9;
  const std::uint64_t flags =
      (((notDigit & 0x7F7F7F7F7F7F7F7F) + 0x7F7F7F7F7F7F7F7F) | notDigit) & 0x8080808080808080;
  return flags == 0 ? 8 : std::countr_zero(flags) / 8;
}

// The value of the first `length` (1 to 7) bytes of v, all digits: they move
// to the top, zero bytes (the digit 0) fill in below, and three multiplies
// combine the eight digits pairwise.
std::uint32_t DigitRunValue(std::uint64_t v, int length) {
  v = (v << (8 * (8 - length))) & 0x0F0F0F0F0F0F0F0F;
  v = (v * 10) + (v >> 8);
  v = (((v & 0x000000FF000000FF) * 0x000F424000000064) + (((v >> 16) & 0x000000FF000000FF) * 0x0000271000000001)) >> 32;
  return static_cast<std::uint32_t>(v);
}

// Bit i is set when byte i of the 64 bytes at p is a digit.
std::uint64_t DigitBits(const char* p) {
#if defined(__SSE2__)
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // Subtracting '0' + 128 (wrapping) takes exactly the digits to -128..-119.
    const __m128i moved = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>('0' + 128)));
    const __m128i digit = _mm_cmplt_epi8(moved, _mm_set1_epi8(static_cast<char>(-128 + 10)));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(digit))} << (16 * i);
  }
  return bits;
#else
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{IsDigit(p[i])} << i;
  return bits;
#endif
}

// The same for the last, shorter block of the data: bytes past its end
// count as separators.
std::uint64_t DigitBitsOfTail(const char* p, std::size_t size) {
  char block[64] = {};
  std::memcpy(block, p, size);
  return DigitBits(block);
}

// Bit i is set when byte i of the 64 bytes at p is a line feed.
std::uint64_t LineFeedBits(const char* p) {
#if defined(__SSE2__)
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i feed = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(feed))} << (16 * i);
  }
  return bits;
#else
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{p[i] == '\n'} << i;
  return bits;
#endif
}

// The number of set bits, without a library call on machines whose base
// instruction set has no population count.
int CountBits(std::uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555;
  v = (v & 0x3333333333333333) + ((v >> 2) & 0x3333333333333333);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0F;
  return static_cast<int>((v * 0x0101010101010101) >> 56);
}

// Reads the number whose first digit is at pos and moves pos past it. A run
// shorter than eight digits with eight bytes to look at is read from one
// word without a branch per digit; anything else digit by digit.
std::uint32_t ReadNumber(const char*& pos, const char* end) {
  if constexpr (std::endian::native == std::endian::little) {
    if (end - pos >= 8) {
      const std::uint64_t word = LoadEight(pos);
      const int length = DigitRunLength(word);
      if (length < 8) {
        pos += length;
        return DigitRunValue(word, length);
      }
    }
  }
  return ParseDigitRun(pos, end);
}

}  // namespace

bool ScanTextImageSize(const std::string& name, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadWholeFile(name);
  return ScanTextImageSize(std::span<const char>(file.data.get(), file.size), width, height);
}

bool ScanTextImageSize(std::span<const char> text, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  if (text.empty()) return true;

  // Only the lines ended before the first NUL byte belong to the image.
  const char* const data = text.data();
  const auto* nul = static_cast<const char*>(std::memchr(data, '\0', text.size()));
  const char* const limit = nul != nullptr ? nul : data + text.size();

  // Blocks of 64 bytes become bit masks of digits and line feeds; a number
  // begins at a digit whose previous byte is not one, so the numbers of a
  // line are the starts between its line feeds, counted a word at a time.
  // A line costs a few instructions, however short. Width and height are
  // signed 32-bit: a count past that is an error, not a size that wraps.
  const auto size = static_cast<std::size_t>(limit - data);
  std::int32_t lineWidth = 0;
  std::int32_t lines = 0;
  std::int64_t count = 0;  // numbers begun on the line so far
  std::uint64_t digitBefore = 0;  // 1 when the byte before the block is a digit
  for (std::size_t at = 0; at < size; at += 64) {
    std::uint64_t digits = 0;
    std::uint64_t feeds = 0;
    if (size - at >= 64) {
      digits = DigitBits(data + at);
      feeds = LineFeedBits(data + at);
    } else {
      char block[64] = {};  // NUL bytes: neither digits nor line feeds
      std::memcpy(block, data + at, size - at);
      digits = DigitBits(block);
      feeds = LineFeedBits(block);
    }
    std::uint64_t starts = digits & ~((digits << 1) | digitBefore);
    digitBefore = digits >> 63;
    for (; feeds != 0; feeds &= feeds - 1) {
      const std::uint64_t before = (feeds & (~feeds + 1)) - 1;  // the bits below this line feed
      count += CountBits(starts & before);
      starts &= ~before;
      if (lines == kMaxTextImageSide) throw std::runtime_error("more than 2^31 - 1 lines");
      if (count > kMaxTextImageSide) throw std::runtime_error("more than 2^31 - 1 numbers on a line");
      if (lines > 0 && count != lineWidth) return false;
      lineWidth = static_cast<std::int32_t>(count);
      count = 0;
      ++lines;
    }
    count += CountBits(starts);
  }
  width = lineWidth;
  height = lines;
  return true;
}

bool ReadTextImage(const std::string& name, std::uint16_t* image, std::int32_t W, std::int32_t H) {
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadWholeFile(name);
  return ReadTextImage(std::span<const char>(file.data.get(), file.size), image, W, H);
}

bool ReadTextImage(std::span<const char> text, std::uint16_t* image, std::int32_t W, std::int32_t H) {
  const std::int64_t n = static_cast<std::int64_t>(W) * H;
  // The numbers' first digits are found 64 bytes at a time, as the digits
  // not preceded by a digit; reading a number then needs nothing from the
  // one before it, so the reads of consecutive numbers overlap.
  const char* const data = text.data();
  const char* const end = data + text.size();
  bool endsInNumber = false;  // the last number read ends the data
  std::uint64_t digitBefore = 0;  // 1 when the byte before the block is a digit
  std::int64_t k = 0;
  for (const char* block = data; k < n && block < end; block += 64) {
    const auto left = static_cast<std::size_t>(end - block);
    const std::uint64_t digits = left >= 64 ? DigitBits(block) : DigitBitsOfTail(block, left);
    std::uint64_t starts = digits & ~((digits << 1) | digitBefore);
    digitBefore = digits >> 63;
    for (; starts != 0 && k < n; starts &= starts - 1) {
      const int offset = std::countr_zero(starts);
      const char* pos = block + offset;
      // The digit bits give the run's length when it ends inside the block
      // (the shift brings in zeros, which read as digits).
      const std::uint64_t nonDigitsFrom = ~digits >> offset;
      const int length = nonDigitsFrom == 0 ? 64 : std::countr_zero(nonDigitsFrom);
      std::uint32_t value = 0;
      if (std::endian::native == std::endian::little && length < 8 && end - pos >= 8) {
        value = DigitRunValue(LoadEight(pos), length);
        pos += length;
      } else {
        value = ReadNumber(pos, end);
      }
      image[k++] = static_cast<std::uint16_t>(std::min<std::uint32_t>(value, 65535));
      endsInNumber = pos == end;
    }
  }
  // Out of numbers: data that ends in a digit ends the reading quietly; data
  // that ends in separators leaves the next value empty, which is an error.
  if (k < n && !endsInNumber) throw std::runtime_error("missing value");
  return k == n;
}
