// Fuzzes the bitmap, the renderers and the BMP writer with a sequence of
// operations read from the input: resizes (negative sizes included),
// renderings of arbitrary samples through arbitrary windows, and saves, each
// as a run saves its pictures: a band of rows at a time, of a height read
// from the input (SaveBmpFileInBands). After each operation the bitmap must
// hold what it promises; after each save the file must be the two headers
// its size gives followed by its rows, bottom row first. Header fields are
// also checked for sizes far too large to allocate. The gradient picture a
// run draws from the sums of squares must match, in every form the
// processor runs, the one drawn from the float gradient.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bitmap/bitmap.h"
#include "common/cpu.h"
#include "displib/displib.h"
#include "functionsfloat/functionsfloat.h"
#include "fuzz_support.h"
// Shared with the tests, which need nothing else of theirs here.
#include "../tests/byte_fields.h"

using namespace edgeseg;

namespace {

using Pixel = std::array<std::uint8_t, 4>;
static_assert(sizeof(Pixel) == 4, "a row of Pixels is compared as bytes");

// The picture top row first; the bitmap's own rows as RowPixels gives them.
std::vector<Pixel> PixelsOf(TBitmap& bitmap) {
  std::vector<Pixel> pixels;
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    const auto row = bitmap.RowPixels(y);
    for (std::size_t i = 0; i < row.size(); i += 4) pixels.push_back({row[i], row[i + 1], row[i + 2], row[i + 3]});
  }
  return pixels;
}

void CheckHeader(const std::string& bytes, std::uint32_t W, std::uint32_t H) {
  const std::uint32_t pixelBytes = 4 * W * H;
  FUZZ_CHECK(bytes[0] == 'B' && bytes[1] == 'M');
  FUZZ_CHECK(test::U32At(bytes, 2) == 54 + pixelBytes);
  FUZZ_CHECK(test::U32At(bytes, 6) == 0);
  FUZZ_CHECK(test::U32At(bytes, 10) == 54);
  FUZZ_CHECK(test::U32At(bytes, 14) == 40);
  FUZZ_CHECK(test::U32At(bytes, 18) == W);
  FUZZ_CHECK(test::U32At(bytes, 22) == H);
  FUZZ_CHECK(test::U16At(bytes, 26) == 1);
  FUZZ_CHECK(test::U16At(bytes, 28) == 32);
  FUZZ_CHECK(test::U32At(bytes, 30) == 0);
  FUZZ_CHECK(test::U32At(bytes, 34) == pixelBytes);
  for (std::size_t at = 38; at < 54; at += 4) FUZZ_CHECK(test::U32At(bytes, at) == 0);
}

void CheckSave(TBitmap& bitmap, std::int32_t bandRows, const fuzz::ScratchFile& file) {
  const std::int32_t width = bitmap.Width();
  std::int32_t end = bitmap.Height();  // each band must end where the one below it starts
  SaveBmpFileInBands(file.Name(), width, end, bandRows, [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
    FUZZ_CHECK(rows >= 1 && rows <= bandRows && first + rows == end);
    end = first;
    band.SetBitmapWidth(width);
    band.SetBitmapHeight(rows);
    for (std::int32_t y = 0; y < rows; ++y) {
      const auto from = bitmap.RowPixels(first + y);
      std::copy(from.begin(), from.end(), band.RowPixels(y).begin());
    }
  });
  const std::string bytes = file.Read();
  const auto W = static_cast<std::uint32_t>(width);
  const auto H = static_cast<std::uint32_t>(bitmap.Height());
  FUZZ_CHECK(end == 0 || W == 0);
  FUZZ_CHECK(bytes.size() == 54 + std::size_t{4} * W * H);
  CheckHeader(bytes, W, H);
  const std::vector<Pixel> pixels = PixelsOf(bitmap);
  for (std::uint32_t y = 0; y < H && W > 0; ++y) {
    const std::size_t stored = 54 + std::size_t{4} * W * (H - 1 - y);
    FUZZ_CHECK(std::memcmp(bytes.data() + stored, pixels[std::size_t{y} * W].data(), std::size_t{4} * W) == 0);
  }
}

// A size the bitmap cannot hold only in a header: the header must be refused
// exactly when the file's size does not fit its 32-bit field.
void CheckLargeHeader(std::uint32_t W, std::uint32_t H) {
  const std::uint64_t fileSize = 54 + std::uint64_t{4} * W * H;  // below 2^64 for sizes below 2^31
  std::array<std::uint8_t, kBmpHeaderSize> header{};
  bool refused = false;
  try {
    header = MakeBmpHeader(static_cast<std::int32_t>(W), static_cast<std::int32_t>(H));
  } catch (const std::runtime_error&) {
    refused = true;
  }
  FUZZ_CHECK(refused == (fileSize > 0xFFFFFFFFu));
  if (!refused) CheckHeader(std::string(header.begin(), header.end()), W, H);
}

// Resizing keeps the old picture's top-left part and whitens the rest;
// spare bytes are 0. A negative size is refused and changes nothing.
void CheckResize(TBitmap& bitmap, bool width, std::int32_t size) {
  const std::int32_t oldW = bitmap.Width();
  const std::int32_t oldH = bitmap.Height();
  const std::vector<Pixel> old = PixelsOf(bitmap);
  const bool hadStore = oldW > 0 && oldH > 0;
  try {
    width ? bitmap.SetBitmapWidth(size) : bitmap.SetBitmapHeight(size);
  } catch (const std::runtime_error&) {
    FUZZ_CHECK(size < 0);
    FUZZ_CHECK(bitmap.Width() == oldW && bitmap.Height() == oldH && PixelsOf(bitmap) == old);
    return;
  }
  FUZZ_CHECK(size >= 0);
  FUZZ_CHECK(bitmap.Width() == (width ? size : oldW) && bitmap.Height() == (width ? oldH : size));
  const std::vector<Pixel> now = PixelsOf(bitmap);
  const std::int32_t W = bitmap.Width();
  for (std::int32_t y = 0; y < bitmap.Height(); ++y) {
    for (std::int32_t x = 0; x < W; ++x) {
      const bool kept = hadStore && x < oldW && y < oldH;
      const Pixel expected = kept ? old[static_cast<std::size_t>(y) * oldW + x] : Pixel{255, 255, 255, 0};
      FUZZ_CHECK(now[static_cast<std::size_t>(y) * W + x] == expected);
    }
  }
}

bool InColorMap(const Pixel& p) {
  for (int i = 0; i < 256; ++i) {
    if (p[0] == ColorMap.blue[i] && p[1] == ColorMap.green[i] && p[2] == ColorMap.red[i]) return true;
  }
  return false;
}

enum class Renderer { kWindowed, kWindowedFloat, kLabels };

// Any window, the float picture of the gradient drawn through it, then, when
// the window is exact, the picture each form draws from the sums of squares
// compared with it byte for byte.
void CheckGradient(TBitmap& bitmap, fuzz::Input& in) {
  const std::int32_t W = in.SmallInRange(2, 40);
  const std::int32_t H = in.SmallInRange(2, 40);
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(W) * H);
  for (auto& s : samples) s = in.U16();
  const float low = std::bit_cast<float>(in.U32());
  const float high = std::bit_cast<float>(in.U32());
  std::vector<float> gradient(static_cast<std::size_t>(W - 1) * (H - 1));
  ComputeRobertsGradient(gradient.data(), samples.data(), W, H);
  RenderWindowedFloat(gradient.data(), bitmap, W - 1, H - 1, low, high);
  const std::vector<Pixel> plain = PixelsOf(bitmap);
  for (const Pixel& p : plain) FUZZ_CHECK(p[3] == 0 && InColorMap(p));
  const GradientWindow window = MakeGradientWindow(low, high);
  if (!window.exact) return;
  const Form chosen = ChosenForm();
  for (const Form form : BuiltForms()) {
    if (!ProcessorRuns(form)) continue;
    ForceFormForTesting(form);
    TBitmap drawn;
    RenderWindowedGradient(samples.data(), W, 0, H - 1, drawn, window);
    FUZZ_CHECK(drawn.Width() == W - 1 && drawn.Height() == H - 1);
    FUZZ_CHECK(PixelsOf(drawn) == plain);
  }
  ForceFormForTesting(chosen);
}

void CheckRender(TBitmap& bitmap, Renderer renderer, fuzz::Input& in) {
  const std::int32_t W = in.SmallInRange(0, 40);
  const std::int32_t H = in.SmallInRange(0, 40);
  const std::size_t n = static_cast<std::size_t>(W) * H;
  std::vector<std::uint16_t> samples(n);
  std::vector<float> floats(n);
  switch (renderer) {
    case Renderer::kWindowed: {
      for (auto& s : samples) s = in.U16();
      const auto low = static_cast<std::int32_t>(in.U32());
      const auto high = static_cast<std::int32_t>(in.U32());
      RenderWindowed(samples.data(), bitmap, W, H, low, high);
      break;
    }
    case Renderer::kWindowedFloat: {
      // Any bits: negative values, infinities and NaNs included.
      for (auto& f : floats) f = std::bit_cast<float>(in.U32());
      const float low = std::bit_cast<float>(in.U32());
      const float high = std::bit_cast<float>(in.U32());
      RenderWindowedFloat(floats.data(), bitmap, W, H, low, high);
      break;
    }
    case Renderer::kLabels:
      for (auto& s : samples) s = in.U16();
      RenderLabels(samples.data(), bitmap, W, H);
      break;
  }
  FUZZ_CHECK(bitmap.Width() == W && bitmap.Height() == H && bitmap.IsPixelFormat32());
  const std::vector<Pixel> pixels = PixelsOf(bitmap);
  FUZZ_CHECK(pixels.size() == n);
  for (std::size_t k = 0; k < n; ++k) {
    FUZZ_CHECK(pixels[k][3] == 0);
    if (renderer != Renderer::kLabels) {
      FUZZ_CHECK(InColorMap(pixels[k]));
    } else if (samples[k] == 0) {
      FUZZ_CHECK((pixels[k] == Pixel{0, 0, 0, 0}));
    } else {
      const auto& colour = LabelPalette[samples[k] % 16];
      FUZZ_CHECK((pixels[k] == Pixel{colour[0], colour[1], colour[2], 0}));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const fuzz::ScratchFile file("bmp_writer");
  fuzz::Input in(data, size);
  CheckLargeHeader(in.U32() & 0x7FFFFFFF, in.U32() & 0x7FFFFFFF);

  TBitmap bitmap;
  for (int step = 0; step < 16 && !in.Empty(); ++step) {
    switch (in.Byte() % 7) {
      case 0:
        CheckResize(bitmap, true, in.SmallInRange(-2, 40));
        break;
      case 1:
        CheckResize(bitmap, false, in.SmallInRange(-2, 40));
        break;
      case 2:
        CheckRender(bitmap, Renderer::kWindowed, in);
        break;
      case 3:
        CheckRender(bitmap, Renderer::kWindowedFloat, in);
        break;
      case 4:
        CheckRender(bitmap, Renderer::kLabels, in);
        break;
      case 6:
        CheckGradient(bitmap, in);
        break;
      default:
        CheckSave(bitmap, in.SmallInRange(1, 41), file);
        break;
    }
  }
  CheckSave(bitmap, in.SmallInRange(1, 41), file);
  return 0;
}
