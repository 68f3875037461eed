#include "textroilib/textroilib.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <span>
#include <stdexcept>

#include "buffers/buffers.h"
#include "common/cpu.h"
#include "fileio/fileio.h"

namespace edgeseg {

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

// The decimal digits of the sample, with no leading zeros.
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

// The digits past the first of count samples: the count has no branch, so
// it vectorises, and is summed a chunk at a time in 32 bits, which keeps
// four times as many samples in a vector as a 64-bit sum would.
std::size_t FurtherDigits(const std::uint16_t* samples, std::size_t count) {
  constexpr std::size_t kChunk = std::size_t{1} << 16;
  std::size_t further = 0;
  for (std::size_t start = 0; start < count; start += kChunk) {
    const std::uint16_t* chunk = samples + start;
    const std::size_t end = std::min(kChunk, count - start);
    std::uint32_t digits = 0;
    for (std::size_t i = 0; i < end; ++i) {
      const std::uint16_t v = chunk[i];
      digits += static_cast<std::uint32_t>((v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000));
    }
    further += digits;
  }
  return further;
}

// True when the eight samples from p on are all 0.
bool EightZeros(const std::uint16_t* p) {
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::memcpy(&first, p, sizeof first);
  std::memcpy(&second, p + 4, sizeof second);
  return (first | second) == 0;
}

// The text of count samples, each followed by a space.
char* AppendSamples(char* out, const std::uint16_t* samples, std::size_t count) {
  std::size_t x = 0;
  while (x < count) {
    if (count - x >= 8 && EightZeros(samples + x)) {
      std::memcpy(out, kEightZeros, kEightZerosLength);
      out += kEightZerosLength;
      x += 8;
      continue;
    }
    out = AppendDecimal(out, samples[x++]);
    *out++ = ' ';
  }
  return out;
}

#if EDGESEG_HAS_X86_FORMS
EDGESEG_BEGIN_AVX512_FORMS
// FurtherDigits 32 samples at a time: a mask of the samples at or above
// each power of ten, counted.
EDGESEG_TARGET_AVX512 std::size_t FurtherDigitsAvx512(const std::uint16_t* samples, std::size_t count) {
  std::size_t further = 0;
  std::size_t x = 0;
  for (; count - x >= 32; x += 32) {
    const __m512i v = _mm512_loadu_si512(samples + x);
    for (const short power : {10, 100, 1000, 10000}) {
      further += static_cast<std::size_t>(std::popcount(_mm512_cmpge_epu16_mask(v, _mm512_set1_epi16(power))));
    }
  }
  return further + FurtherDigits(samples + x, count - x);
}

// AppendSamples eight samples at a time, for the AVX-512 form (BW, VBMI2).
// Each sample takes a 64-bit lane: its five decimal digits, most
// significant first, then a space. Four divisions by 10 (a high multiply
// and a shift each) give the digits; the bytes from the first non-zero
// digit on, and always the last digit and the space, are packed together
// (VBMI2's compress) and stored, no byte past them.
EDGESEG_TARGET_AVX512_VBMI char* AppendSamplesAvx512(char* out, const std::uint16_t* samples, std::size_t count) {
  std::size_t x = 0;
  for (; count - x >= 8; x += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + x));
    if (_mm_testz_si128(eight, eight) != 0) {  // background, most of a label image
      std::memcpy(out, kEightZeros, kEightZerosLength);
      out += kEightZerosLength;
      continue;
    }
    __m512i rest = _mm512_cvtepu16_epi64(eight);
    __m512i lane = _mm512_setzero_si512();
    for (int digit = 4; digit >= 0; --digit) {
      const __m512i tenth = _mm512_srli_epi16(_mm512_mulhi_epu16(rest, _mm512_set1_epi16(-13107)), 3);  // 52429
      const __m512i last = _mm512_sub_epi16(rest, _mm512_mullo_epi16(tenth, _mm512_set1_epi16(10)));
      lane = _mm512_or_si512(lane, _mm512_slli_epi64(last, 8 * digit));
      rest = tenth;
    }
    // The lowest set bit of the digits and every bit above it mark the
    // bytes from the first non-zero digit on; of a lane's bytes 0 to 5 only.
    const __m512i lowest = _mm512_and_si512(lane, _mm512_sub_epi64(_mm512_setzero_si512(), lane));
    const __m512i fromLowest = _mm512_andnot_si512(_mm512_sub_epi64(lowest, _mm512_set1_epi64(1)),
                                                   _mm512_set1_epi64(-1));
    const std::uint64_t keep =
        (_mm512_test_epi8_mask(fromLowest, fromLowest) & 0x3F3F3F3F3F3F3F3F) | 0x3030303030303030;
    const __m512i text = _mm512_or_si512(lane, _mm512_set1_epi64(0x0000203030303030));
    const int length = std::popcount(keep);
    _mm512_mask_storeu_epi8(out, (std::uint64_t{1} << length) - 1, _mm512_maskz_compress_epi8(keep, text));
    out += length;
  }
  for (; x < count; ++x) {
    out = AppendDecimal(out, samples[x]);
    *out++ = ' ';
  }
  return out;
}
EDGESEG_END_AVX512_FORMS
#endif

// The most text one sample can take: five digits and a separator.
constexpr std::size_t kMaxSampleText = 6;

// The text goes to the file a piece of this size at a time: small enough to
// stay in the cache between being formatted and being written, large enough
// that the calls cost nothing next to the bytes.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

}  // namespace

std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H) {
  const std::size_t width = W > 0 ? static_cast<std::size_t>(W) : 0;
  const std::size_t height = H > 0 && width > 0 ? static_cast<std::size_t>(H) : 0;
  const std::size_t n = width * height;
  // Only AVX-512 has forms of its own: an AVX2 one that placed each sample
  // with one 8-byte store was no faster than the plain loop on labels,
  // which come in runs.
  // Rows of fewer than eight samples, which the AVX-512 form would write
  // the plain way, take the plain loop inlined, with no call a row.
  std::size_t (*furtherDigits)(const std::uint16_t*, std::size_t) = FurtherDigits;
#if EDGESEG_HAS_X86_FORMS
  const bool avx512Form = ChosenForm() == Form::kAvx512;
  if (avx512Form) furtherDigits = FurtherDigitsAvx512;
  const bool avx512 = avx512Form && width >= 8;
#endif
  // The length the text must have: a digit and a separator per sample, plus
  // the further digits of values from 10 up.
  const std::size_t length = 2 * n + furtherDigits(image, n);
  // Every sample is followed by a space, and the last one of each row then
  // has its space turned into a line feed. A piece ends where the next
  // sample might not fit, also inside a row, however long rows are.
  const auto piece = ObtainBuffer<char>(kPieceBytes);
  std::size_t y = 0;
  std::size_t x = 0;
  std::size_t written = 0;
  WriteFileInPieces(name, [&]() -> std::span<const std::byte> {
    char* out = piece.get();
    while (y < height) {
      const std::size_t room = static_cast<std::size_t>(piece.get() + kPieceBytes - out) / kMaxSampleText;
      const std::size_t take = std::min(width - x, room);
      if (take == 0) break;
#if EDGESEG_HAS_X86_FORMS
      out = avx512 ? AppendSamplesAvx512(out, image + y * width + x, take) : AppendSamples(out, image + y * width + x, take);
#else
      out = AppendSamples(out, image + y * width + x, take);
#endif
      x += take;
      if (x == width) {
        out[-1] = '\n';
        x = 0;
        ++y;
      }
    }
    written += static_cast<std::size_t>(out - piece.get());
    // A count that disagreed with the formatting would mean a wrong text:
    // it must not pass for a label image.
    if (written > length || (y == height && written != length)) {
      throw std::runtime_error("label text length mismatch");
    }
    return std::as_bytes(std::span(piece.get(), static_cast<std::size_t>(out - piece.get())));
  });
  return 0;
}

}  // namespace edgeseg
