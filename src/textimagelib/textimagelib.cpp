#include "textimagelib/textimagelib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "fileio/fileio.h"
#include "textimagelib/blockbits.h"

namespace edgeseg {

namespace {

bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Both the scan and the reader look at the text 64 bytes at a time.
constexpr std::size_t kBlockBytes = 64;

// The reader's fast loop rests on two facts. It reads a number of fewer
// than eight digits as one whole 8-byte word from its first digit; such a
// number ends inside its block, so its word ends by the block's 70th byte.
// The loop runs only while a block and a whole word remain, 72 bytes, so
// that no word reaches past the data's end. And a number begins at a digit
// after a non-digit, so a block holds at most one number in two bytes:
// while that many are still wanted, the loop stores a block's numbers
// without counting them.
constexpr std::ptrdiff_t kWordBytes = 8;
constexpr std::ptrdiff_t kFastLoopMargin = static_cast<std::ptrdiff_t>(kBlockBytes) + kWordBytes;
constexpr std::int64_t kMostNumbersInBlock = kBlockBytes / 2;

// A digit run of any length at pos: leading zeros count for nothing, any
// other run past kMaxTextValue is an error however long it is, so the value
// is checked digit by digit.
std::uint32_t ParseDigitRun(const char*& pos, const char* end) {
  std::int64_t value = 0;
  for (; pos != end && IsDigit(*pos); ++pos) {
    value = value * 10 + (*pos - '0');
    if (value > kMaxTextValue) throw std::runtime_error("value out of range");
  }
  return static_cast<std::uint32_t>(value);
}

// A sample holds 16 bits: a larger value is stored as the largest sample.
void StoreSample(std::uint16_t* image, std::int64_t k, std::uint32_t value) {
  image[k] = static_cast<std::uint16_t>(std::min<std::uint32_t>(value, std::numeric_limits<std::uint16_t>::max()));
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

// Two weights in one multiplier: the low one for the pair in the low word,
// the high one for the pair in the high word, so that the upper word of the
// product holds low pair * high weight + high pair * low weight.
constexpr std::uint64_t WeightPair(std::uint64_t high, std::uint64_t low) { return high << 32 | low; }
// Pairs 0 (the most significant) and 2 lie in bytes 0 and 4: 10^6 and 10^2.
constexpr std::uint64_t kWeightsOfPairs0And2 = WeightPair(1000000, 100);
// Pairs 1 and 3, shifted down from bytes 2 and 6: 10^4 and 1.
constexpr std::uint64_t kWeightsOfPairs1And3 = WeightPair(10000, 1);

// The value of the first `length` (1 to 7) bytes of v, all digits: they move
// to the top, zero bytes (the digit 0) fill in below, each even byte then
// takes the two-digit pair it starts, and two multiplies weigh the four
// pairs.
std::uint32_t DigitRunValue(std::uint64_t v, int length) {
  v = (v << (8 * (8 - length))) & 0x0F0F0F0F0F0F0F0F;
  v = (v * 10) + (v >> 8);
  constexpr std::uint64_t kBytes0And4 = 0x000000FF000000FF;
  v = (((v & kBytes0And4) * kWeightsOfPairs0And2) + (((v >> 16) & kBytes0And4) * kWeightsOfPairs1And3)) >> 32;
  return static_cast<std::uint32_t>(v);
}

// The 64 bytes of the block at p, of which `left` lie in the data: the
// block itself when it is whole, else the rest of the data copied into
// spare and followed by NUL bytes, which are neither digits nor line feeds,
// so that the bytes past the data's end read as separators.
const char* WholeBlock(const char* p, std::size_t left, char (&spare)[kBlockBytes]) {
  if (left >= kBlockBytes) return p;
  std::memset(spare, 0, sizeof spare);
  std::memcpy(spare, p, left);
  return spare;
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
    if (end - pos >= kWordBytes) {
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
  for (std::size_t at = 0; at < size; at += kBlockBytes) {
    std::uint64_t digits = 0;
    std::uint64_t feeds = 0;
    // Whole blocks are read in place: reading every block through the
    // pointer that WholeBlock returns made the scan about 15 % slower.
    if (size - at >= kBlockBytes) {
      digits = DigitBits(data + at);
      feeds = LineFeedBits(data + at);
    } else {
      char spare[kBlockBytes];
      const char* const block = WholeBlock(data + at, size - at, spare);
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
  const char* block = data;
  if constexpr (std::endian::native == std::endian::little) {
    // While a block and a word remain and the block's numbers are all
    // wanted (kFastLoopMargin, kMostNumbersInBlock), every number shorter
    // than eight digits is read from one word, and neither the count nor the
    // end of the data needs a test per number. A longer one, or one that
    // goes on past the block, is read digit by digit and may end the data.
    while (end - block >= kFastLoopMargin && n - k >= kMostNumbersInBlock) {
      const std::uint64_t digits = DigitBits(block);
      std::uint64_t starts = digits & ~((digits << 1) | digitBefore);
      digitBefore = digits >> 63;
      for (; starts != 0; starts &= starts - 1) {
        const int offset = std::countr_zero(starts);
        const char* pos = block + offset;
        // The run's length when it ends in the block, else 64 or more: the
        // shift brings in zeros, which read as digits.
        const int length = std::countr_zero(~digits >> offset);
        std::uint32_t value = 0;
        if (length < 8) {
          value = DigitRunValue(LoadEight(pos), length);
        } else {
          value = ParseDigitRun(pos, end);
          endsInNumber = pos == end;
        }
        StoreSample(image, k++, value);
      }
      block += kBlockBytes;
    }
  }
  char spare[kBlockBytes];
  for (; k < n && block < end; block += kBlockBytes) {
    const std::uint64_t digits = DigitBits(WholeBlock(block, static_cast<std::size_t>(end - block), spare));
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
      if (std::endian::native == std::endian::little && length < 8 && end - pos >= kWordBytes) {
        value = DigitRunValue(LoadEight(pos), length);
        pos += length;
      } else {
        value = ReadNumber(pos, end);
      }
      StoreSample(image, k++, value);
      endsInNumber = pos == end;
    }
  }
  // Out of numbers: data that ends in a digit ends the reading quietly; data
  // that ends in separators leaves the next value empty, which is an error.
  if (k < n && !endsInNumber) throw std::runtime_error("missing value");
  return k == n;
}

}  // namespace edgeseg
