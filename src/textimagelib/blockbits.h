#pragma once
// Bit masks of 64-byte blocks of text, for the size scan and the reader:
// bit i describes byte i. Each has a plain form, which every build has,
// and an SSE2 form where the compiler targets SSE2 (every x86-64 build);
// the unsuffixed name is the fastest form the build has. The forms give the
// same bits for every block, which the tests check side by side. Defined
// here, so that the loops that call them once a block can inline them.

#include <cstdint>

#include "common/simd.h"

namespace edgeseg {

// Bit i is set when byte i of the 64 bytes at p is a digit, '0' to '9'.
inline std::uint64_t DigitBitsPlain(const char* p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{static_cast<unsigned char>(p[i] - '0') < 10} << i;
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

inline std::uint64_t DigitBits(const char* p) { return DigitBitsSse2(p); }
inline std::uint64_t LineFeedBits(const char* p) { return LineFeedBitsSse2(p); }
#else
inline std::uint64_t DigitBits(const char* p) { return DigitBitsPlain(p); }
inline std::uint64_t LineFeedBits(const char* p) { return LineFeedBitsPlain(p); }
#endif

}  // namespace edgeseg
