#include "textimagelib/textimagelib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define EDGESEG_TEST_GUARD_PAGE 1
#endif

#include "buffers/buffers.h"
#include "common/cpu.h"
#include "common/limits.h"
#include "textimagelib/blockbits.h"
#include "forms_support.h"
#include "test_support.h"

using namespace edgeseg;

namespace {

using namespace std::string_literals;

struct ScanCase {
  std::string text;
  bool result;
  std::int32_t width;
  std::int32_t height;
};

TEST(ScanTextImageSize, SizesFromLineStructure) {
  const std::vector<ScanCase> cases = {
      {"", true, 0, 0},
      {"1 2 3\n4 5 6\n", true, 3, 2},
      {"1 2 3\r\n4 5 6\r\n", true, 3, 2},
      {"1 2 3\n4 5 6\n7 8 9", true, 3, 2},     // no line feed: not a row
      {"0 0 0\n", true, 3, 1},
      {"909 0 90\n", true, 3, 1},
      {"-5 3.7\n", true, 3, 1},                // signs and points separate
      {"12\r34\n", true, 2, 1},                // a lone CR ends no line
      {"\xff" "1\x80" "2\n", true, 2, 1},      // high bytes separate
      {"1 2 3", true, 0, 0},
      {"\n\n", true, 0, 2},                    // only blank lines
      {"1 2 3\n4 5 6\n\n", false, 0, 0},       // trailing blank line
      {"1 2 3\n4 5 6\n7 8 9 10\n", false, 0, 0},
      {"1 2 3\n4 5 6\n7 8 9\n1 2 3 4 5", true, 3, 3},
      {"\n1 2\n", false, 0, 0},                // blank first line
      {"1 2 3\n4 5 6\n\0" "7 8\n9\n"s, true, 3, 2},   // NUL ends the text
      {"1 2\n\0" "3 4 5\n"s, true, 2, 1},             // even before bad lines
  };
  test::ScratchDir dir;
  for (const ScanCase& c : cases) {
    test::WriteFile(dir / "in", c.text);
    std::int32_t width = -1;
    std::int32_t height = -1;
    EXPECT_EQ(ScanTextImageSize(dir / "in", width, height), c.result) << c.text;
    EXPECT_EQ(width, c.width) << c.text;
    EXPECT_EQ(height, c.height) << c.text;
  }
}

TEST(ScanTextImageSize, MissingFileOrDirectoryGivesZeroSize) {
  test::ScratchDir dir;
  for (const std::string& name : {dir / "missing", dir / ""}) {
    std::int32_t width = 7;
    std::int32_t height = 7;
    EXPECT_FALSE(ScanTextImageSize(name, width, height));
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
  }
}

struct ReadCase {
  std::string text;
  std::int32_t width;
  std::int32_t height;
  std::vector<std::uint16_t> samples;
};

TEST(ReadTextImage, StoresTheFirstWTimesHNumbersInOrder) {
  const std::vector<ReadCase> cases = {
      {"1 2 3\n4 5 6\n", 3, 2, {1, 2, 3, 4, 5, 6}},
      {"1 2 3\r\n4 5 6\r\n7 8 9", 3, 2, {1, 2, 3, 4, 5, 6}},
      {"65535 65536 2147483647\n", 3, 1, {65535, 65535, 65535}},
      {"0000000000000000042\n", 1, 1, {42}},
      {std::string(1000000, '0') + "1\n", 1, 1, {1}},
      {"-5 3.7\n", 3, 1, {5, 3, 7}},
      // Values that would not convert, but lie beyond the image: never read.
      {"1 2\n3 4\n99999999999", 2, 2, {1, 2, 3, 4}},
      {"1 2\n3 4\n\0" "99999999999\n"s, 2, 2, {1, 2, 3, 4}},
  };
  test::ScratchDir dir;
  for (const ReadCase& c : cases) {
    test::WriteFile(dir / "in", c.text);
    std::vector<std::uint16_t> image(c.samples.size(), 0xBEEF);
    EXPECT_TRUE(ReadTextImage(dir / "in", image.data(), c.width, c.height)) << c.text.substr(0, 40);
    EXPECT_EQ(image, c.samples) << c.text.substr(0, 40);
  }
}

TEST(ReadTextImage, ValuesThatDoNotConvertThrow) {
  const std::vector<std::string> texts = {
      "2147483648\n",
      std::string(1000, '7') + "\n",
      "1 2 \n",  // separators where a third value is needed
  };
  test::ScratchDir dir;
  for (const std::string& text : texts) {
    test::WriteFile(dir / "in", text);
    std::vector<std::uint16_t> image(3);
    EXPECT_THROW(ReadTextImage(dir / "in", image.data(), 3, 1), std::runtime_error) << text.substr(0, 20);
  }
}

TEST(ReadTextImage, DataEndingInANumberLeavesTheRestUntouched) {
  test::ScratchDir dir;
  test::WriteFile(dir / "in", "1 2");
  std::vector<std::uint16_t> image(3, 0xBEEF);
  EXPECT_FALSE(ReadTextImage(dir / "in", image.data(), 3, 1));
  EXPECT_EQ(image, (std::vector<std::uint16_t>{1, 2, 0xBEEF}));

  std::vector<std::uint16_t> untouched(1, 0xBEEF);
  EXPECT_FALSE(ReadTextImage(dir / "missing", untouched.data(), 1, 1));
  EXPECT_EQ(untouched[0], 0xBEEF);
}

// Plain byte-at-a-time versions of both operations, on the bytes in memory.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

ScanCase PlainScan(const std::string& text) {
  std::int32_t count = 0, width = 0, height = 0;
  bool inNumber = false, firstLine = true;
  for (const char c : text) {
    if (IsDigit(c) && !inNumber) ++count;
    inNumber = IsDigit(c);
    if (c == '\n') {
      if (!firstLine && count != width) return {text, false, 0, 0};
      firstLine = false;
      width = count;
      count = 0;
      ++height;
    }
    if (c == '\0') break;
  }
  return {text, true, width, height};
}

// The outcome of reading n samples: "throws", or the result and samples.
std::string PlainRead(const std::string& text, std::size_t n) {
  std::vector<std::uint16_t> image(n, 0xBEEF);
  std::size_t pos = 0, k = 0;
  while (k < n) {
    while (pos < text.size() && !IsDigit(text[pos])) ++pos;
    std::string digits;
    while (pos < text.size() && IsDigit(text[pos])) digits += text[pos++];
    const auto first = digits.find_first_not_of('0');
    if (digits.empty() || (first != std::string::npos && (digits.size() - first > 10 ||
                                                          std::stoll(digits.substr(first)) > 2147483647))) {
      return "throws";
    }
    image[k++] = static_cast<std::uint16_t>(std::min(std::stoll(digits), 65535LL));
    if (pos == text.size()) break;
  }
  return (k == n ? "true" : "false") + testing::PrintToString(image);
}

// Texts mixing every kind of byte, digit runs of every length around the
// 8- and 10-digit marks, and ends that fall anywhere in a number.
std::string RandomText(std::mt19937& random) {
  static const std::string separators = {' ', ' ', ' ', '\n', '\n', '\r', '\0', ',', '-', 'a', '\xff', '\t'};
  std::string text;
  const int tokens = static_cast<int>(random() % 40);
  for (int t = 0; t < tokens; ++t) {
    if (random() % 2 == 0) {
      text += separators[random() % separators.size()];
      continue;
    }
    if (random() % 8 == 0) text.append(random() % 12, '0');
    const int length = 1 + static_cast<int>(random() % (random() % 4 == 0 ? 14 : 5));
    for (int i = 0; i < length; ++i) text += static_cast<char>('0' + random() % 10);
  }
  return text;
}

TEST(ScanTextImageSize, MatchesAPlainByteLoopOnRandomTexts) {
  test::ScratchDir dir;
  for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
    std::mt19937 random(seed);
    const std::string text = RandomText(random);
    test::WriteFile(dir / "in", text);
    ScanCase got{text, false, -1, -1};
    got.result = ScanTextImageSize(dir / "in", got.width, got.height);
    const ScanCase want = PlainScan(text);
    ASSERT_EQ(std::tie(got.result, got.width, got.height), std::tie(want.result, want.width, want.height))
        << "seed " << seed;
    // The bytes in a heap block of their exact size: a read past them is
    // reported in sanitizer builds.
    const std::vector<char> bytes(text.begin(), text.end());
    got.result = ScanTextImageSize(std::span(bytes), got.width, got.height);
    ASSERT_EQ(std::tie(got.result, got.width, got.height), std::tie(want.result, want.width, want.height))
        << "bytes, seed " << seed;
  }
}

// Images of 1 to 40 numbers a line and up to 60 lines, so that lines and
// numbers of every length cross 64-byte boundaries, with now and then a
// line one number short or long, a blank line, a NUL, or digits after the
// last line feed.
std::string RandomImageText(std::mt19937& random) {
  static const std::string separators = {' ', ' ', '\t', ',', '-', '\r', 'x', '\x80'};
  const auto width = static_cast<int>(1 + random() % 40);
  const auto height = static_cast<int>(1 + random() % 60);
  std::string text;
  for (int y = 0; y < height; ++y) {
    const int numbers = random() % 20 == 0 ? width + static_cast<int>(random() % 3) - 1 : width;
    for (int x = 0; x < numbers; ++x) {
      if (x > 0 || random() % 4 == 0) text.append(1 + random() % 3, separators[random() % separators.size()]);
      text.append(1 + random() % (random() % 8 == 0 ? 70 : 5), static_cast<char>('0' + random() % 10));
    }
    if (random() % 3 == 0) text += separators[random() % separators.size()];
    text += random() % 4 == 0 ? "\r\n" : "\n";
    if (random() % 100 == 0) text += '\n';
  }
  if (random() % 8 == 0) text.insert(random() % (text.size() + 1), 1, '\0');
  if (random() % 4 == 0) text.append(random() % 100, '7');
  return text;
}

TEST(ScanTextImageSize, MatchesAPlainByteLoopOnRandomImages) {
  for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
    std::mt19937 random(seed);
    const std::string text = RandomImageText(random);
    const std::vector<char> bytes(text.begin(), text.end());
    ScanCase got{text, false, -1, -1};
    got.result = ScanTextImageSize(std::span(bytes), got.width, got.height);
    const ScanCase want = PlainScan(text);
    ASSERT_EQ(std::tie(got.result, got.width, got.height), std::tie(want.result, want.width, want.height))
        << "seed " << seed;
  }
}

TEST(ReadTextImage, MatchesAPlainByteLoopOnRandomTexts) {
  test::ScratchDir dir;
  for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
    std::mt19937 random(seed);
    const std::string text = RandomText(random);
    const auto n = static_cast<std::int32_t>(random() % 24);
    test::WriteFile(dir / "in", text);
    const std::vector<char> bytes(text.begin(), text.end());
    for (const bool fromFile : {true, false}) {
      // In memory the NUL is a separator like any other; a file is read
      // only up to it.
      const std::string want = PlainRead(fromFile ? text.substr(0, text.find('\0')) : text, static_cast<std::size_t>(n));
      std::vector<std::uint16_t> image(static_cast<std::size_t>(n), 0xBEEF);
      std::string got;
      try {
        const bool stored = fromFile ? ReadTextImage(dir / "in", image.data(), n, 1)
                                     : ReadTextImage(std::span(bytes), image.data(), n, 1);
        got = (stored ? "true" : "false") + testing::PrintToString(image);
      } catch (const std::runtime_error&) {
        got = "throws";
      }
      ASSERT_EQ(got, want) << (fromFile ? "file" : "bytes") << ", seed " << seed;
    }
  }
}

// Long texts, so that reading spends most of its numbers in whole blocks
// far from the end, with runs of digits that cross blocks and end the data.
TEST(ReadTextImage, MatchesAPlainByteLoopOnLongTexts) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < 200 + random() % 4000) text += RandomText(random);
    const auto n = static_cast<std::int32_t>(random() % 1200);
    const std::vector<char> bytes(text.begin(), text.end());
    std::vector<std::uint16_t> image(static_cast<std::size_t>(n), 0xBEEF);
    std::string got;
    try {
      const bool stored = ReadTextImage(std::span(bytes), image.data(), n, 1);
      got = (stored ? "true" : "false") + testing::PrintToString(image);
    } catch (const std::runtime_error&) {
      got = "throws";
    }
    ASSERT_EQ(got, PlainRead(text, static_cast<std::size_t>(n))) << "seed " << seed;
  }
  // A run of zeros long enough to be read digit by digit, to the end of the
  // data, while many numbers are still wanted: the data ends in a number,
  // so reading stops quietly; one separator more and the next value is
  // missing.
  std::string ones;
  for (int i = 0; i < 100; ++i) ones += "1 ";
  std::vector<std::uint16_t> image(200, 0xBEEF);
  const std::string endsInZeros = ones + std::string(200, '0');
  EXPECT_FALSE(ReadTextImage(std::span(endsInZeros), image.data(), 200, 1));
  EXPECT_EQ(image[100], 0);
  EXPECT_EQ(image[101], 0xBEEF);
  const std::string thenASpace = endsInZeros + " ";
  EXPECT_THROW(ReadTextImage(std::span(thenASpace), image.data(), 200, 1), std::runtime_error);
}

// Holds a text so that its last byte is the last one that may be read: on
// POSIX systems an inaccessible page follows it, so a read past the end
// crashes; elsewhere it fills an allocation of its own size, past which
// AddressSanitizer catches a read.
class TextAtTheEdge {
 public:
  explicit TextAtTheEdge(const std::string& text) {
#if EDGESEG_TEST_GUARD_PAGE
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mapSize_ = ((text.size() + page - 1) / page + 1) * page;
    void* map = mmap(nullptr, mapSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::runtime_error("no mapping");
    map_ = static_cast<char*>(map);
    char* const guard = map_ + mapSize_ - page;
    if (mprotect(guard, page, PROT_NONE) != 0) throw std::runtime_error("no guard page");
    bytes_ = guard - text.size();
#else
    owned_ = std::make_unique<char[]>(text.size());
    bytes_ = owned_.get();
#endif
    std::memcpy(bytes_, text.data(), text.size());
    size_ = text.size();
  }
  ~TextAtTheEdge() {
#if EDGESEG_TEST_GUARD_PAGE
    munmap(map_, mapSize_);
#endif
  }
  TextAtTheEdge(const TextAtTheEdge&) = delete;
  TextAtTheEdge& operator=(const TextAtTheEdge&) = delete;
  std::span<const char> Bytes() const { return {bytes_, size_}; }

 private:
#if EDGESEG_TEST_GUARD_PAGE
  char* map_ = nullptr;
  std::size_t mapSize_ = 0;
#else
  std::unique_ptr<char[]> owned_;
#endif
  char* bytes_ = nullptr;
  std::size_t size_ = 0;
};

// The reader takes a number of fewer than eight digits as one 8-byte word
// from its first digit, and stops doing so a block and a word before the
// end. Texts of every length up to a few blocks, filled to the last byte
// with numbers of one length, put a number's first digit at every place of
// the last blocks; more numbers are wanted than the text holds, so no count
// stops the reading early. A word read past the end crashes here.
TEST(ReadTextImage, NeverReadsPastTheEndOfTheData) {
  for (std::size_t digits = 1; digits <= 7; ++digits) {
    for (std::size_t size = digits; size <= 4 * 64 + 8; ++size) {
      std::string text(size, ' ');
      for (std::size_t last = size; last >= digits;) {
        std::fill_n(text.begin() + static_cast<std::ptrdiff_t>(last - digits), digits, '7');
        if (last < digits + 1) break;
        last -= digits + 1;
      }
      const TextAtTheEdge edge(text);
      const auto n = static_cast<std::int32_t>(size);
      std::vector<std::uint16_t> image(size, 0xBEEF);
      const bool stored = ReadTextImage(edge.Bytes(), image.data(), n, 1);
      ASSERT_EQ((stored ? "true" : "false") + testing::PrintToString(image), PlainRead(text, size))
          << digits << "-digit numbers, " << size << " bytes";
    }
  }
}

// Blocks of every byte value at every place, digits and line feeds on both
// sides of each other and of the 16-byte lanes.
TEST(BlockBits, PlainAndSse2FormsAgree) {
  char digits[64];
  std::memset(digits, '5', sizeof digits);
  EXPECT_EQ(DigitBitsPlain(digits), ~std::uint64_t{0});
  EXPECT_EQ(LineFeedBitsPlain(digits), 0u);
#if EDGESEG_HAS_SSE2
  std::mt19937 random(7);
  const std::string likely = "0123456789\n\n /:\x80\xff\0";
  for (int round = 0; round < 20000; ++round) {
    char block[64];
    for (int i = 0; i < 64; ++i) {
      block[i] = round < 256 ? static_cast<char>((round + i) & 0xFF)
                             : random() % 2 ? likely[random() % likely.size()] : static_cast<char>(random());
    }
    ASSERT_EQ(DigitBitsSse2(block), DigitBitsPlain(block)) << "round " << round;
    ASSERT_EQ(LineFeedBitsSse2(block), LineFeedBitsPlain(block)) << "round " << round;
  }
#else
  GTEST_SKIP() << "no SSE2 form in this build";
#endif
}

class EachForm : public test::ForcedForm {};

using BitsOfBlock = std::uint64_t (*)(const char*);
std::pair<BitsOfBlock, BitsOfBlock> KernelsOf(Form form) {
  switch (form) {
#if EDGESEG_HAS_SSE2
    case Form::kSse2:
    case Form::kSse41: return {DigitBitsSse2, LineFeedBitsSse2};
#endif
#if EDGESEG_HAS_X86_FORMS
    case Form::kAvx2: return {DigitBitsAvx2, LineFeedBitsAvx2};
    case Form::kAvx512: return {DigitBitsAvx512, LineFeedBitsAvx512};
#endif
    default: return {DigitBitsPlain, LineFeedBitsPlain};
  }
}

// Every combination of digit, line feed, other byte and NUL over 8 bytes
// (4^8), at the start, across the 16- and 32-byte lanes and at the end of a
// block of seeded random bytes; the full set over one vector is too large.
// Then seeded random blocks of every byte value, likely ones more often.
TEST_P(EachForm, BlockKernelsAgreeWithThePlainOnes) {
  const auto [digitBits, lineFeedBits] = KernelsOf(GetParam());
  std::mt19937 random(11);
  const std::string others = "/:\xb0\xb9\xba\x8a\xff \r";
  char block[64];
  for (const int at : {0, 12, 28, 56}) {
    for (int combination = 0; combination < 1 << 16; ++combination) {
      if (combination % 4096 == 0) std::generate_n(block, 64, [&] { return static_cast<char>(random()); });
      for (int i = 0; i < 8; ++i) {
        const std::string kinds = {static_cast<char>('0' + (combination + i) % 10), '\n',
                                   others[(combination + i) % others.size()], '\0'};
        block[at + i] = kinds[(combination >> (2 * i)) & 3];
      }
      ASSERT_EQ(digitBits(block), DigitBitsPlain(block)) << "at " << at << ", combination " << combination;
      ASSERT_EQ(lineFeedBits(block), LineFeedBitsPlain(block)) << "at " << at << ", combination " << combination;
    }
  }
  const std::string likely = "0123456789\n\n /:\x80\xff\0";
  for (int round = 0; round < 20000; ++round) {
    for (char& c : block) c = random() % 2 ? likely[random() % likely.size()] : static_cast<char>(random());
    ASSERT_EQ(digitBits(block), DigitBitsPlain(block)) << "round " << round;
    ASSERT_EQ(lineFeedBits(block), LineFeedBitsPlain(block)) << "round " << round;
  }
}

std::string ReadOutcome(std::span<const char> text, std::int32_t n) {
  std::vector<std::uint16_t> image(static_cast<std::size_t>(n), 0xBEEF);
  try {
    const bool stored = ReadTextImage(text, image.data(), n, 1);
    return (stored ? "true" : "false") + testing::PrintToString(image);
  } catch (const std::runtime_error&) {
    return "throws";
  }
}

// Numbers of every length from 1 to 12 digits end at every place of a few
// blocks, in texts whose last byte is the last one readable; then the
// random texts and images of the plain-loop tests above.
TEST_P(EachForm, ScanAndReaderMatchThePlainByteLoops) {
  for (std::size_t digits = 1; digits <= 12; ++digits) {
    for (std::size_t size = digits; size <= 4 * 64 + 8; ++size) {
      std::string text(size, '\n');
      for (std::size_t last = size; last >= digits; last -= std::min(last, digits + 1)) {
        for (std::size_t i = last - digits; i < last; ++i) text[i] = static_cast<char>('1' + (i % 9));
      }
      const TextAtTheEdge edge(text);
      ASSERT_EQ(ReadOutcome(edge.Bytes(), static_cast<std::int32_t>(size)), PlainRead(text, size))
          << digits << "-digit numbers, " << size << " bytes";
      ScanCase got{text, false, -1, -1};
      got.result = ScanTextImageSize(edge.Bytes(), got.width, got.height);
      const ScanCase want = PlainScan(text);
      ASSERT_EQ(std::tie(got.result, got.width, got.height), std::tie(want.result, want.width, want.height))
          << digits << "-digit numbers, " << size << " bytes";
    }
  }
  for (std::uint32_t seed = 1; seed <= 1500; ++seed) {
    std::mt19937 random(seed);
    std::string text = RandomImageText(random);
    while (seed % 5 == 0 && text.size() < 4000) text += RandomText(random);
    const std::vector<char> bytes(text.begin(), text.end());
    const auto n = static_cast<std::int32_t>(random() % 1200);
    ASSERT_EQ(ReadOutcome(std::span(bytes), n), PlainRead(text, static_cast<std::size_t>(n))) << "seed " << seed;
    ScanCase got{text, false, -1, -1};
    got.result = ScanTextImageSize(std::span(bytes), got.width, got.height);
    const ScanCase want = PlainScan(text);
    ASSERT_EQ(std::tie(got.result, got.width, got.height), std::tie(want.result, want.width, want.height))
        << "seed " << seed;
  }
}

EDGESEG_INSTANTIATE_FOR_EACH_FORM(EachForm);

// Width and height are signed 32-bit: one more line, or one more number on
// a line, than 2^31 - 1 is an error rather than a size that wraps. The texts
// take 2 and 4 GiB of memory, so the suite takes the huge-input lock.
TEST(ScanTextImageSizeHugeInput, CountsPast2To31Minus1Throw) {
  const std::size_t most = static_cast<std::size_t>(kMaxTextImageSide);
  // Texts of a repeated pattern, made by doubling copies into buffers that
  // need no clearing: gigabytes are made in a second or two.
  const auto repeated = [](const std::string& pattern, std::size_t size) {
    Buffer<char> text = ObtainBuffer<char>(size);
    std::memcpy(text.get(), pattern.data(), std::min(size, pattern.size()));
    for (std::size_t done = pattern.size(); done < size; done *= 2) {
      std::memcpy(text.get() + done, text.get(), std::min(done, size - done));
    }
    return text;
  };
  std::int32_t width = -1, height = -1;
  {
    const Buffer<char> blankLines = repeated("\n", most + 1);
    // 2^31 - 1 blank lines: a 0 x (2^31 - 1) image.
    EXPECT_TRUE(ScanTextImageSize(std::span(blankLines.get(), most), width, height));
    EXPECT_EQ(std::pair(width, height), std::pair(0, 2147483647));
    EXPECT_THROW(ScanTextImageSize(std::span(blankLines.get(), most + 1), width, height), std::runtime_error);
    EXPECT_EQ(std::pair(width, height), std::pair(0, 0));
  }
  {
    // "1 " 2^31 times, the last space a line feed.
    const std::size_t size = 2 * (most + 1);
    const Buffer<char> longLine = repeated("1 ", size);
    longLine[size - 1] = '\n';
    EXPECT_THROW(ScanTextImageSize(std::span(longLine.get(), size), width, height), std::runtime_error);
    longLine[size - 2] = ' ';  // one number fewer
    EXPECT_TRUE(ScanTextImageSize(std::span(longLine.get(), size), width, height));
    EXPECT_EQ(std::pair(width, height), std::pair(2147483647, 1));
  }
}

}  // namespace
