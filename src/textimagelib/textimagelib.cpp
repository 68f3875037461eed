#include "textimagelib/textimagelib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "common/cpu.h"
#include "common/limits.h"
#include "fileio/fileio.h"
#include "textimagelib/blockbits.h"

namespace edgeseg {

namespace {

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
  for (; pos != end && IsDigitByte(*pos); ++pos) {
    value = value * 10 + (*pos - '0');
    if (value > kMaxTextValue) throw std::runtime_error("value out of range");
  }
  return static_cast<std::uint32_t>(value);
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

#define EDGESEG_FORM_NS plain
#define EDGESEG_FORM_TARGET
#define EDGESEG_FORM_DIGIT_BITS DigitBitsPlain
#define EDGESEG_FORM_LINE_FEED_BITS LineFeedBitsPlain
#define EDGESEG_FORM_POPCNT 0
#include "textimagelib/blockloops.inc"

#if EDGESEG_HAS_SSE2
#define EDGESEG_FORM_NS sse2
#define EDGESEG_FORM_TARGET
#define EDGESEG_FORM_DIGIT_BITS DigitBitsSse2
#define EDGESEG_FORM_LINE_FEED_BITS LineFeedBitsSse2
#define EDGESEG_FORM_POPCNT 0
#include "textimagelib/blockloops.inc"
#endif

#if EDGESEG_HAS_X86_FORMS
// SSE4.1 adds nothing to the block kernels; its form gains POPCNT and the
// newer processors' code generation.
#define EDGESEG_FORM_NS sse41
#define EDGESEG_FORM_TARGET EDGESEG_TARGET_SSE41
#define EDGESEG_FORM_DIGIT_BITS DigitBitsSse2
#define EDGESEG_FORM_LINE_FEED_BITS LineFeedBitsSse2
#define EDGESEG_FORM_POPCNT 1
#include "textimagelib/blockloops.inc"

// True when eight digits follow one another somewhere in the block.
inline bool HasRunOfEightDigits(std::uint64_t digits) {
  digits &= digits >> 1;
  digits &= digits >> 2;
  return (digits & (digits >> 4)) != 0;
}

// The byte places of a block, the lane of each and its distance from the
// lane's last byte, for the AVX-512 form below.
alignas(64) constexpr std::array<char, 64> kByteIndex = [] {
  std::array<char, 64> a{};
  for (int i = 0; i < 64; ++i) a[i] = static_cast<char>(i);
  return a;
}();
alignas(64) constexpr std::array<char, 64> kLaneOfByte = [] {
  std::array<char, 64> a{};
  for (int i = 0; i < 64; ++i) a[i] = static_cast<char>(i / 8);
  return a;
}();
alignas(64) constexpr std::array<char, 64> kBytesBeforeLast = [] {
  std::array<char, 64> a{};
  for (int i = 0; i < 64; ++i) a[i] = static_cast<char>(7 - i % 8);
  return a;
}();

// Stores the `count` numbers of the block at p that begin at the bits of
// starts and end at the bits of ends, each of one to seven digits, as
// samples from out on, and nothing past them. Each number's digits end a
// 64-bit lane, zeros before them; two multiply-adds make 2-digit and 4-digit
// groups, one multiply joins the two groups, and the values saturate to 16
// bits, as StoreSample does. The AVX-512 form packs the positions in order
// (VBMI2's compress) and gathers eight lanes at once (VBMI's byte permute);
// the AVX2 form fills four lanes from words read as the scalar loop reads
// them.
EDGESEG_TARGET_AVX2 void StoreShortNumbersAvx2(const char* p, std::uint64_t starts, std::uint64_t ends, int count,
                                           std::uint16_t* out) {
  alignas(32) std::uint64_t lanes[kMostNumbersInBlock];
  for (int i = 0; i < count; ++i, starts &= starts - 1, ends &= ends - 1) {
    const int start = std::countr_zero(starts);
    const int shift = 8 * (7 - (std::countr_zero(ends) - start));
    std::uint64_t word;
    std::memcpy(&word, p + start, sizeof word);
    lanes[i] = word << shift;
  }
  for (int first = 0; first < count; first += 4) {
    const __m256i digits = _mm256_and_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(lanes + first)),
                                            _mm256_set1_epi8(0x0F));
    const __m256i pairs = _mm256_maddubs_epi16(digits, _mm256_set1_epi16(0x010A));
    const __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00010064));
    const __m256i values = _mm256_add_epi64(_mm256_mul_epu32(groups, _mm256_set1_epi64x(10000)),
                                            _mm256_srli_epi64(groups, 32));
    // The four values' low halves into one 128-bit register, then saturated to 16 bits.
    const __m256i low = _mm256_permute4x64_epi64(_mm256_shuffle_epi32(values, 0x08), 0x08);
    const __m128i samples = _mm_packus_epi32(_mm256_castsi256_si128(low), _mm256_castsi256_si128(low));
    if (count - first >= 4) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + first), samples);
    } else {
      std::uint16_t rest[8];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), samples);
      std::memcpy(out + first, rest, sizeof(std::uint16_t) * static_cast<std::size_t>(count - first));
    }
  }
}

EDGESEG_BEGIN_AVX512_FORMS
EDGESEG_TARGET_AVX512_VBMI void StoreShortNumbersAvx512(const char* p, std::uint64_t starts, std::uint64_t ends,
                                                        int count, std::uint16_t* out) {
  const __m512i bytes = _mm512_and_si512(_mm512_loadu_si512(p), _mm512_set1_epi8(0x0F));
  const __m512i index = _mm512_load_si512(kByteIndex.data());
  const __m512i startAt = _mm512_maskz_compress_epi8(starts, index);
  const __m512i endAt = _mm512_maskz_compress_epi8(ends, index);
  const __m512i backStep = _mm512_load_si512(kBytesBeforeLast.data());
  __m512i lane = _mm512_load_si512(kLaneOfByte.data());
  for (int first = 0; first < count; first += 8) {
    const __m512i start = _mm512_permutexvar_epi8(lane, startAt);
    // Bytes before the block come out negative and, like every byte before
    // the first digit, are cleared.
    const __m512i at = _mm512_sub_epi8(_mm512_permutexvar_epi8(lane, endAt), backStep);
    const __m512i digits = _mm512_maskz_permutexvar_epi8(_mm512_cmpge_epi8_mask(at, start), at, bytes);
    const __m512i pairs = _mm512_maddubs_epi16(digits, _mm512_set1_epi16(0x010A));   // 10a + b
    const __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00010064));  // 100ab + cd
    const __m512i values = _mm512_add_epi64(_mm512_mul_epu32(groups, _mm512_set1_epi64(10000)),
                                            _mm512_srli_epi64(groups, 32));
    const int left = count - first;
    _mm512_mask_cvtusepi64_storeu_epi16(out + first, static_cast<__mmask8>(left >= 8 ? 0xFF : (1 << left) - 1),
                                        values);
    lane = _mm512_add_epi8(lane, _mm512_set1_epi8(8));
  }
}
EDGESEG_END_AVX512_FORMS

#define EDGESEG_FORM_NS avx2
#define EDGESEG_FORM_TARGET EDGESEG_TARGET_AVX2
#define EDGESEG_FORM_DIGIT_BITS DigitBitsAvx2
#define EDGESEG_FORM_LINE_FEED_BITS LineFeedBitsAvx2
#define EDGESEG_FORM_POPCNT 1
#define EDGESEG_FORM_SHORT_NUMBERS StoreShortNumbersAvx2
#include "textimagelib/blockloops.inc"

#define EDGESEG_FORM_NS avx512
#define EDGESEG_FORM_TARGET EDGESEG_TARGET_AVX512_VBMI
#define EDGESEG_FORM_DIGIT_BITS DigitBitsAvx512
#define EDGESEG_FORM_LINE_FEED_BITS LineFeedBitsAvx512
#define EDGESEG_FORM_POPCNT 1
#define EDGESEG_FORM_SHORT_NUMBERS StoreShortNumbersAvx512
#include "textimagelib/blockloops.inc"
#endif

}  // namespace

bool ScanTextImageSize(const std::string& name, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadFileUpToNul(name);
  return ScanTextImageSize(std::span<const char>(file.data.get(), file.size), width, height);
}

bool ScanTextImageSize(std::span<const char> text, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  if (text.empty()) return true;

  // Only the lines ended before the first NUL byte belong to the image.
  const std::span<const char> image = BeforeFirstNul(text);
  const char* const data = image.data();
  const std::size_t size = image.size();
  switch (ChosenForm()) {
#if EDGESEG_HAS_X86_FORMS
    case Form::kAvx512: return avx512::ScanBlocks(data, size, width, height);
    case Form::kAvx2: return avx2::ScanBlocks(data, size, width, height);
    case Form::kSse41: return sse41::ScanBlocks(data, size, width, height);
#endif
#if EDGESEG_HAS_SSE2
    case Form::kSse2: return sse2::ScanBlocks(data, size, width, height);
#endif
    default: return plain::ScanBlocks(data, size, width, height);
  }
}

bool ReadTextImage(const std::string& name, std::uint16_t* image, std::int32_t W, std::int32_t H) {
  if (!IsExistingFile(name)) return false;
  const FileBytes file = ReadFileUpToNul(name);
  return ReadTextImage(std::span<const char>(file.data.get(), file.size), image, W, H);
}

bool ReadTextImage(std::span<const char> text, std::uint16_t* image, std::int32_t W, std::int32_t H) {
  const std::int64_t n = static_cast<std::int64_t>(W) * H;
  switch (ChosenForm()) {
#if EDGESEG_HAS_X86_FORMS
    case Form::kAvx512: return avx512::ReadBlocks(text, image, n);
    case Form::kAvx2: return avx2::ReadBlocks(text, image, n);
    case Form::kSse41: return sse41::ReadBlocks(text, image, n);
#endif
#if EDGESEG_HAS_SSE2
    case Form::kSse2: return sse2::ReadBlocks(text, image, n);
#endif
    default: return plain::ReadBlocks(text, image, n);
  }
}

}  // namespace edgeseg
