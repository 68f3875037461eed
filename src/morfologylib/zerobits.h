#pragma once
// The zero samples of 64 16-bit samples as a bit mask, bit i for sample i,
// for the flood fill's run finder. A plain form, which every build has, and
// an SSE2 form where the compiler targets SSE2 and the build is not the
// portable one (EDGESEG_PLAIN_FORMS_ONLY), so every other x86-64 build; the
// unsuffixed name is the fastest form the build has. The forms give the same
// bits for every block, which the tests check side by side. Defined here, so
// that the loop that calls it once a word can inline it.

#include <cstdint>

#include "common/simd.h"

namespace edgeseg {

inline std::uint64_t ZeroBits64Plain(const std::uint16_t* samples) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 64; ++i) bits |= std::uint64_t{samples[i] == 0} << i;
  return bits;
}

#if EDGESEG_HAS_SSE2
inline std::uint64_t ZeroBits64Sse2(const std::uint16_t* samples) {
  std::uint64_t bits = 0;
  const __m128i zero = _mm_setzero_si128();
  for (int i = 0; i < 4; ++i) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 16 * i + 8));
    // Each comparison gives 0xFFFF or 0 a sample; packing keeps one byte each.
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(low, zero), _mm_cmpeq_epi16(high, zero));
    bits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(zeros))} << (16 * i);
  }
  return bits;
}

inline std::uint64_t ZeroBits64(const std::uint16_t* samples) { return ZeroBits64Sse2(samples); }
#else
inline std::uint64_t ZeroBits64(const std::uint16_t* samples) { return ZeroBits64Plain(samples); }
#endif

}  // namespace edgeseg
