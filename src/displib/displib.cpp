#include "displib/displib.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "common/cpu.h"
#include "common/rowblocks.h"
#include "functionsfloat/functionsfloat.h"

namespace edgeseg {

namespace {

// A colour as the word that its pixel's bytes form in memory: blue, green and
// red in bytes 0 to 2, byte 3 clear. Built and applied through memcpy, so the
// byte order of the machine does not matter.
using Colour = std::uint32_t;

constexpr Colour ColourWord(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  return std::endian::native == std::endian::little
             ? Colour{blue} | Colour{green} << 8 | Colour{red} << 16
             : Colour{blue} << 24 | Colour{green} << 16 | Colour{red} << 8;
}

constexpr std::array<Colour, 256> MakeMapColours() {
  std::array<Colour, 256> colours{};
  for (int i = 0; i < 256; ++i) colours[i] = ColourWord(ColorMap.blue[i], ColorMap.green[i], ColorMap.red[i]);
  return colours;
}
constexpr std::array<Colour, 256> kMapColours = MakeMapColours();

// The pixel's spare byte 3, which drawing keeps.
constexpr Colour kSpare = ~ColourWord(0xFF, 0xFF, 0xFF);

// Writes bytes 0 to 2 of the pixel in one word and keeps its spare byte 3.
void PutColour(std::uint8_t* pixel, Colour colour) {
  Colour word;
  std::memcpy(&word, pixel, sizeof word);
  word = (word & kSpare) | colour;
  std::memcpy(pixel, &word, sizeof word);
}

void PrepareBitmap(TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  if (bitmap.Height() != H) bitmap.SetBitmapHeight(H);
  if (bitmap.Width() != W) bitmap.SetBitmapWidth(W);
  if (!bitmap.IsPixelFormat32()) bitmap.EnsurePixelFormat32();
}

// The colour index of a sample seen through the window: v is formed in
// double and only then rounded to float; the floor, not the nearest integer,
// picks the colour, and anything below 0 (NaN included) takes colour 0.
std::uint8_t WindowIndex(double sample, float scale, float offset) {
  float v = static_cast<float>(sample * scale - static_cast<double>(offset));
  if (v > 255.0f) v = 255.0f;
  if (!(v >= 0.0f)) v = 0.0f;
  return static_cast<std::uint8_t>(v);
}

// The scale of a window of the given span onto the map; a span of 0 counts
// as 1.
float WindowScale(float span) { return 255.0f / (span == 0.0f ? 1.0f : span); }

// The scale and offset of a float window. The offset is the float product;
// a window of whole samples forms its offset in double instead
// (MakeSampleWindow), which rounds differently for bounds past 2^24, so
// each keeps its own.
struct FloatWindow {
  float scale;
  float offset;
};
FloatWindow MakeFloatWindow(float low, float high) {
  const float scale = WindowScale(high - low);
  return {scale, low * scale};
}

// A float sum of squares s >= 0 (0 taken as 0.5) as its exponent and top
// kKeyMantissaBits mantissa bits, less the exponent of 0.5: non-decreasing
// in s, and one key covers about 2^-kKeyMantissaBits of s, so that where
// a window's breakpoints are as far apart as those of a window from 0 a key
// rarely holds one. Below 2^24 each key is a range of whole sums.
constexpr int kKeyMantissaBits = 9;
constexpr std::uint32_t KeyOfSquares(float squares) {
  const float v = squares < 0.5f ? 0.5f : squares;
  return (std::bit_cast<std::uint32_t>(v) >> (23 - kKeyMantissaBits)) - (126u << kKeyMantissaBits);
}
// Float sums of squares of two differences of 16-bit samples reach at most
// the largest sum rounded to float.
constexpr std::size_t kKeyCount = KeyOfSquares(static_cast<float>(kMaxSumOfSquares)) + 1;
constexpr std::uint32_t kFirstInexactKey = KeyOfSquares(kExactFloatSquares);
// colourByKey's mark, no colour word as its spare byte is set: count by the
// breakpoints.
constexpr Colour kSearchColour = kSpare;

// The number of breakpoints at or below s: a search in 8 halvings.
std::uint32_t CountBreakpoints(const std::array<std::uint64_t, 255>& from, std::uint64_t s) {
  std::uint32_t count = 0;
  for (std::uint32_t step = 128; step > 0; step /= 2) count += from[count + step - 1] <= s ? step : 0;
  return count;
}

}  // namespace

SampleWindow MakeSampleWindow(std::int32_t low, std::int32_t high) {
  const float scale = WindowScale(static_cast<float>(std::int64_t{high} - low));
  const auto offset = static_cast<float>(static_cast<double>(low) * scale);
  // A sample's colour depends on its value alone: one table entry per
  // possible value replaces the arithmetic per pixel.
  SampleWindow window{std::vector<std::uint8_t>(65536)};
  for (std::size_t v = 0; v < window.indexOf.size(); ++v) {
    window.indexOf[v] = WindowIndex(static_cast<double>(v), scale, offset);
  }
  return window;
}

void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    std::int32_t low, std::int32_t high) {
  RenderWindowed(samples, bitmap, W, H, MakeSampleWindow(low, high));
}

void RenderWindowed(const std::uint16_t* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                    const SampleWindow& window) {
  PrepareBitmap(bitmap, W, H);
  const std::uint8_t* const indexOf = window.indexOf.data();
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint8_t* pixel = bitmap.RowPixels(y).data();
    const std::uint16_t* row = samples + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    for (std::int32_t x = 0; x < W; ++x, pixel += 4) PutColour(pixel, kMapColours[indexOf[row[x]]]);
  }
}

void RenderWindowedFloat(const float* samples, TBitmap& bitmap, std::int32_t W, std::int32_t H,
                         float low, float high) {
  PrepareBitmap(bitmap, W, H);
  const FloatWindow window = MakeFloatWindow(low, high);
  const float scale = window.scale;
  const float offset = window.offset;
  if (W <= 0) return;
  // The indices first, in a loop the compiler can vectorise, then the
  // colours. The indices are taken a block of rows at a time, so that short
  // rows get the vector loop too.
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t blockRows = BlockRows(width);
  std::vector<std::uint8_t> index(blockRows * width);
  ForEachRowBlock(0, static_cast<std::size_t>(std::max(H, 0)), blockRows, [&](std::size_t y0, std::size_t rows) {
    const float* block = samples + y0 * width;
    const std::size_t count = rows * width;
    for (std::size_t i = 0; i < count; ++i) index[i] = WindowIndex(block[i], scale, offset);
    for (std::size_t r = 0; r < rows; ++r) {
      std::uint8_t* pixel = bitmap.RowPixels(static_cast<std::int32_t>(y0 + r)).data();
      const std::uint8_t* rowIndex = index.data() + r * width;
      for (std::size_t x = 0; x < width; ++x, pixel += 4) PutColour(pixel, kMapColours[rowIndex[x]]);
    }
  });
}

GradientWindow MakeGradientWindow(float low, float high) {
  GradientWindow window;
  const FloatWindow floatWindow = MakeFloatWindow(low, high);
  window.exact = std::isfinite(floatWindow.scale);
  if (!window.exact) return window;
  const bool descending = floatWindow.scale < 0.0f;
  const auto countOf = [&floatWindow, descending](std::uint64_t s) {
    const std::uint32_t index = WindowIndex(GradientOfSumOfSquares(s), floatWindow.scale, floatWindow.offset);
    return descending ? 255 - index : index;
  };
  for (std::uint32_t k = 1; k <= 255; ++k) {
    window.from[k - 1] = FirstSumWhere([&countOf, k](std::uint64_t s) { return countOf(s) >= k; });
  }
  for (std::uint32_t c = 0; c < 256; ++c) window.colourOfCount[c] = kMapColours[descending ? 255 - c : c];

  // A key below kFirstInexactKey takes the count of every breakpoint of a
  // lower key or at its own first sum; one with a breakpoint past its first
  // sum, or above, is counted by the breakpoints cell by cell. The
  // breakpoints ascend, and so do their keys: one walk over both.
  window.colourByKey.assign(kKeyCount, kSearchColour);
  std::size_t below = 0;
  for (std::uint32_t key = 0; key < kFirstInexactKey; ++key) {
    bool search = false;
    for (; below < window.from.size() && window.from[below] < static_cast<std::uint64_t>(kExactFloatSquares) &&
           KeyOfSquares(static_cast<float>(window.from[below])) == key;
         ++below) {
      const std::uint64_t s = window.from[below];
      search = search || (s > 0 && KeyOfSquares(static_cast<float>(s - 1)) == key);
    }
    if (!search) window.colourByKey[key] = window.colourOfCount[below];
  }
  return window;
}

namespace {

// The colour of the cell whose top-left sample is at p, counted by the
// breakpoints: for the cells whose key holds a breakpoint or may be inexact.
Colour SearchedColour(const GradientWindow& window, const std::uint16_t* p, std::size_t width) {
  return window.colourOfCount[CountBreakpoints(window.from, ExactSumOfSquares(p, width))];
}

// The colour of the cell at p whose float sum of squares has the given key.
Colour CellColour(const GradientWindow& window, std::uint32_t key, const std::uint16_t* p, std::size_t width) {
  const Colour colour = window.colourByKey[key];
  return colour == kSearchColour ? SearchedColour(window, p, width) : colour;
}

#if EDGESEG_HAS_X86_FORMS
// Eight or sixteen samples from p on, widened to 32 bits.
EDGESEG_TARGET_AVX2 __m256i LoadEightSamples(const std::uint16_t* p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
EDGESEG_BEGIN_AVX512_FORMS
EDGESEG_TARGET_AVX512 __m512i LoadSixteenSamples(const std::uint16_t* p) {
  return _mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}
EDGESEG_END_AVX512_FORMS

// The AVX2 form takes one row of cells at a time, eight cells a step: the
// same float sums of squares and keys as the plain loop, the colours by a
// gather from colourByKey, and the few cells marked for a search counted
// one by one; the cells past the last whole vector go the plain way. The
// AVX-512 form runs it too: a sixteen-cell form measured slower (13.0
// against 11.5 ms at 4096 x 4096 on an AMD EPYC), its gathers no faster.
EDGESEG_TARGET_AVX2 void RenderGradientRowAvx2(const std::uint16_t* top, std::size_t width, std::uint8_t* pixel,
                                               const GradientWindow& window) {
  const std::uint16_t* bottom = top + width;
  const auto* colourByKey = reinterpret_cast<const int*>(window.colourByKey.data());
  const __m256i spare = _mm256_set1_epi32(static_cast<int>(kSpare));
  const std::size_t cells = width - 1;
  std::size_t x = 0;
  for (; x + 8 <= cells; x += 8) {
    const __m256 a = _mm256_cvtepi32_ps(_mm256_sub_epi32(LoadEightSamples(top + x), LoadEightSamples(bottom + x + 1)));
    const __m256 b = _mm256_cvtepi32_ps(_mm256_sub_epi32(LoadEightSamples(top + x + 1), LoadEightSamples(bottom + x)));
    const __m256 squares = _mm256_max_ps(_mm256_add_ps(_mm256_mul_ps(a, a), _mm256_mul_ps(b, b)), _mm256_set1_ps(0.5f));
    const __m256i key = _mm256_sub_epi32(_mm256_srli_epi32(_mm256_castps_si256(squares), 23 - kKeyMantissaBits),
                                         _mm256_set1_epi32(126 << kKeyMantissaBits));
    const __m256i colour = _mm256_i32gather_epi32(colourByKey, key, 4);
    auto* out = reinterpret_cast<__m256i*>(pixel + 4 * x);
    _mm256_storeu_si256(out, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(out), spare),
                                             _mm256_andnot_si256(spare, colour)));
    for (auto search = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(colour))); search != 0;
         search &= search - 1) {
      const std::size_t cell = x + static_cast<std::size_t>(std::countr_zero(search));
      PutColour(pixel + 4 * cell, SearchedColour(window, top + cell, width));
    }
  }
  for (; x < cells; ++x) {
    PutColour(pixel + 4 * x, CellColour(window, KeyOfSquares(FloatSquaresOfCell(top + x, width)), top + x, width));
  }
}

#endif

}  // namespace

void RenderWindowedGradient(const std::uint16_t* samples, std::int32_t W, std::int32_t firstRow, std::int32_t rows,
                            TBitmap& bitmap, const GradientWindow& window) {
  PrepareBitmap(bitmap, W - 1, rows);
  if (W < 2 || rows <= 0) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t first = static_cast<std::size_t>(firstRow);
#if EDGESEG_HAS_X86_FORMS
  // Short rows stay with the plain loop, which takes its keys many rows at
  // a time.
  if (ChosenForm() >= Form::kAvx2 && width >= kShortRowWidth) {
    for (std::int32_t r = 0; r < rows; ++r) {
      RenderGradientRowAvx2(samples + (first + static_cast<std::size_t>(r)) * width, width, bitmap.RowPixels(r).data(),
                            window);
    }
    return;
  }
#endif
  // The keys of a block of rows first, as one range in a loop the compiler
  // can vectorise (the last column reads across the row end and is left
  // out), then the colours. A float sum of squares below 2^24 is exact, and
  // one of 2^24 or more comes from an exact sum of 2^24 or more.
  const std::size_t blockRows = BlockRows(width);
  std::vector<std::uint32_t> keys(blockRows * width);
  ForEachRowBlock(first, first + static_cast<std::size_t>(rows), blockRows, [&](std::size_t y0, std::size_t count) {
    const std::uint16_t* top = samples + y0 * width;
    const std::size_t cells = count * width - 1;
    for (std::size_t k = 0; k < cells; ++k) keys[k] = KeyOfSquares(FloatSquaresOfCell(top + k, width));
    for (std::size_t r = 0; r < count; ++r) {
      std::uint8_t* pixel = bitmap.RowPixels(static_cast<std::int32_t>(y0 - first + r)).data();
      const std::uint32_t* rowKeys = keys.data() + r * width;
      const std::uint16_t* rowTop = top + r * width;
      for (std::size_t x = 0; x + 1 < width; ++x, pixel += 4) {
        PutColour(pixel, CellColour(window, rowKeys[x], rowTop + x, width));
      }
    }
  });
}

namespace {

constexpr std::array<Colour, 16> kPaletteColours = [] {
  std::array<Colour, 16> colours{};
  for (int k = 0; k < 16; ++k) colours[k] = ColourWord(LabelPalette[k][0], LabelPalette[k][1], LabelPalette[k][2]);
  return colours;
}();
constexpr Colour kBlack = ColourWord(0, 0, 0);  // label 0

// The colours of count labels into the pixels from pixel on.
void PaintLabels(const std::uint16_t* labels, std::size_t count, std::uint8_t* pixel) {
  // A select rather than a branch per pixel, so the loop vectorises.
  for (std::size_t x = 0; x < count; ++x, pixel += 4) {
    PutColour(pixel, labels[x] == 0 ? kBlack : kPaletteColours[labels[x] & 15]);
  }
}

#if EDGESEG_HAS_X86_FORMS
// PaintLabels eight or sixteen labels at a time: the palette sits in
// vector registers and a permute picks each label's colour; the forms
// differ only in width (AVX2 picks from two halves of eight).
EDGESEG_TARGET_AVX2 void PaintLabelsAvx2(const std::uint16_t* labels, std::size_t count, std::uint8_t* pixel) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPaletteColours.data()));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPaletteColours.data() + 8));
  const __m256i spare = _mm256_set1_epi32(static_cast<int>(kSpare));
  std::size_t x = 0;
  for (; x + 8 <= count; x += 8) {
    const __m256i label = LoadEightSamples(labels + x);
    const __m256i colour = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(low, label),
                                              _mm256_permutevar8x32_epi32(high, label),
                                              _mm256_srai_epi32(_mm256_slli_epi32(label, 28), 31));  // bit 3
    const __m256i painted = _mm256_andnot_si256(_mm256_cmpeq_epi32(label, _mm256_setzero_si256()), colour);
    auto* out = reinterpret_cast<__m256i*>(pixel + 4 * x);
    _mm256_storeu_si256(out, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(out), spare), painted));
  }
  PaintLabels(labels + x, count - x, pixel + 4 * x);
}

EDGESEG_BEGIN_AVX512_FORMS
EDGESEG_TARGET_AVX512 void PaintLabelsAvx512(const std::uint16_t* labels, std::size_t count, std::uint8_t* pixel) {
  const __m512i palette = _mm512_loadu_si512(kPaletteColours.data());
  const __m512i spare = _mm512_set1_epi32(static_cast<int>(kSpare));
  std::size_t x = 0;
  for (; x + 16 <= count; x += 16) {
    const __m512i label = LoadSixteenSamples(labels + x);
    const __m512i colour =
        _mm512_maskz_permutexvar_epi32(_mm512_test_epi32_mask(label, label), label, palette);
    std::uint8_t* out = pixel + 4 * x;
    _mm512_storeu_si512(out, _mm512_ternarylogic_epi32(spare, _mm512_loadu_si512(out), colour, 0xCA));
  }
  PaintLabels(labels + x, count - x, pixel + 4 * x);
}
EDGESEG_END_AVX512_FORMS
#endif

}  // namespace

void RenderLabels(const std::uint16_t* labels, TBitmap& bitmap, std::int32_t W, std::int32_t H) {
  PrepareBitmap(bitmap, W, H);
  const auto paintRows = [&](auto paint) {
    for (std::int32_t y = 0; y < H; ++y) {
      paint(labels + static_cast<std::size_t>(y) * static_cast<std::size_t>(W), static_cast<std::size_t>(W),
            bitmap.RowPixels(y).data());
    }
  };
#if EDGESEG_HAS_X86_FORMS
  // Short rows stay with the plain loop, inlined here: a call a row would
  // cost a narrow picture more than its row.
  if (W >= 0 && static_cast<std::size_t>(W) >= kShortRowWidth && ChosenForm() >= Form::kAvx2) {
    if (ChosenForm() == Form::kAvx512) return paintRows(PaintLabelsAvx512);
    return paintRows(PaintLabelsAvx2);
  }
#endif
  paintRows([](const std::uint16_t* row, std::size_t count, std::uint8_t* pixel) { PaintLabels(row, count, pixel); });
}

}  // namespace edgeseg
