#pragma once
// Bit masks of 64-byte blocks of text, for the size scan and the reader:
// bit i describes byte i. Each has a plain form, which every build has, an
// SSE2 form where the compiler targets SSE2 (every x86-64 build but the
// portable one), and AVX2 and AVX-512 forms, compiled for their
// instructions alone (common/cpu.h), which only a processor that has them
// may call. The forms give the same bits for every block, which the tests
// check side by side. A form's digit and line-feed kernels are alike but
// for their comparison, and stay two: the reader needs only the digits.
// Defined here, so that the loops that call them once a block can inline
// them.

#include <cstdint>

#include "common/cpu.h"
#include "common/simd.h"

namespace edgeseg {

// Whether the byte is a digit, '0' to '9': the one test the plain forms of
// the scan and the reader make.
inline bool IsDigitByte(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// Bit i is set when byte i of the 64 bytes at p is a digit, '0' to '9'.
inline std::uint64_t DigitBitsPlain(const char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{IsDigitByte(p[i])} << i;
  return bits;
}

// Bit i is set when byte i of the 64 bytes at p is a line feed.
inline std::uint64_t LineFeedBitsPlain(const char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{p[i] == '\n'} << i;
  return bits;
}

#if EDGESEG_HAS_SSE2
inline std::uint64_t DigitBitsSse2(const char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    // Subtracting '0' + 128 (wrapping) takes exactly the digits to -128..-119.
    const __m128i moved = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>('0' + 128)));
    const __m128i digit = _mm_cmplt_epi8(moved, _mm_set1_epi8(static_cast<char>(-128 + 10)));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(digit))} << (16 * i);
  }
  return bits;
}

inline std::uint64_t LineFeedBitsSse2(const char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const __m128i feed = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(feed))} << (16 * i);
  }
  return bits;
}

#endif

#if EDGESEG_HAS_X86_FORMS
EDGESEG_TARGET_AVX2 inline std::uint64_t DigitBitsAvx2(const char* p) {
  const __m256i bias = _mm256_set1_epi8(static_cast<char>('0' + 128));
  const __m256i limit = _mm256_set1_epi8(static_cast<char>(-128 + 10));
  const __m256i low = _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), bias);
  const __m256i high = _mm256_sub_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), bias);
  const auto lowBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(limit, low)));
  const auto highBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(limit, high)));
  return std::uint64_t{highBits} << 32 | lowBits;
}

EDGESEG_TARGET_AVX2 inline std::uint64_t LineFeedBitsAvx2(const char* p) {
  const __m256i feed = _mm256_set1_epi8('\n');
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const auto lowBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, feed)));
  const auto highBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, feed)));
  return std::uint64_t{highBits} << 32 | lowBits;
}

// One 64-byte register a block, compared straight into a 64-bit mask.
EDGESEG_TARGET_AVX512 inline std::uint64_t DigitBitsAvx512(const char* p) {
  const __m512i moved = _mm512_sub_epi8(_mm512_loadu_si512(p), _mm512_set1_epi8('0'));
  return _mm512_cmplt_epu8_mask(moved, _mm512_set1_epi8(10));
}

EDGESEG_TARGET_AVX512 inline std::uint64_t LineFeedBitsAvx512(const char* p) {
  return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(p), _mm512_set1_epi8('\n'));
}
#endif

}  // namespace edgeseg
