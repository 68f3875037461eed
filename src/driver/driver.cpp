#include "driver/driver.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "bitmap/bitmap.h"
#include "driver/chain.h"
#include "buffers/buffers.h"
#include "displib/displib.h"
#include "fileio/fileio.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

namespace {

int Fail(const char* message, int status) {
  std::fputs(message, stdout);
  return status;
}

int Segment(const std::string& inputName, const std::string& baseName) {
  // The file is read once: the size scan and the reader see the same bytes,
  // so a file that changes during the run cannot give a size from one
  // version and samples (or none) from another.
  FileBytes input = ReadWholeFile(inputName);
  const std::span<const char> text(input.data.get(), input.size);
  std::int32_t W = 0;
  std::int32_t H = 0;
  ScanTextImageSize(text, W, H);
  // In 64 bits, so that no size can wrap to a false zero.
  if (std::int64_t{W} * H == 0) return Fail("Wrong input file format", -1);
  CheckImageSize(W, H);

  const std::int32_t W1 = W - 1;
  const std::int32_t H1 = H - 1;
  const std::int64_t n = std::int64_t{W} * H;
  const std::int64_t n1 = std::int64_t{W1} * H1;
  // Every buffer is written whole before it is read, so none is cleared, and
  // each is released as soon as no later step reads it.
  auto inputImage = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n));
  const auto gradient = ObtainBuffer<float>(static_cast<std::size_t>(n1));
  auto cellMask = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n1));
  auto pixelMask = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n));

  // The scan admitted these bytes, so they hold every sample; a shortfall
  // would mean samples never read, which must not pass for a result.
  if (!ReadTextImage(text, inputImage.get(), W, H)) throw std::runtime_error("input shorter than its size");
  input = FileBytes{};

  AnalysisBuffers chain;
  chain.W = W;
  chain.H = H;
  chain.input = inputImage.get();
  chain.gradient = gradient.get();
  chain.cellMask = cellMask.get();
  chain.pixelMask = pixelMask.get();
  RunAnalysis(chain, [&cellMask](const AnalysisStep& step, AnalysisBuffers& buffers) {
    if (step.id == AnalysisStepId::kCellsToPixels) {  // no later step reads the cell mask
      cellMask.reset();
      buffers.cellMask = nullptr;
    }
  });
  const GradientStats& stats = chain.stats;

  WriteTextImage(baseName, pixelMask.get(), W, H);

  // The pictures cannot be saved past the BMP size field: refused before a
  // bitmap of that size is made for nothing. The gradient picture is smaller.
  if (!FitsBmpFile(W, H)) throw std::runtime_error("picture too large for a BMP file");
  TBitmap bitmap;
  bitmap.SetBitmapWidth(W);
  bitmap.SetBitmapHeight(H);
  RenderWindowed(inputImage.get(), bitmap, W, H, kInputLow, kInputHigh);
  bitmap.SaveBmpFile(baseName + "_In.bmp");
  inputImage.reset();
  RenderLabels(pixelMask.get(), bitmap, W, H);
  bitmap.SaveBmpFile(baseName + "_Reg.bmp");
  pixelMask.reset();
  bitmap.SetBitmapWidth(W1);
  bitmap.SetBitmapHeight(H1);
  RenderWindowedFloat(gradient.get(), bitmap, W1, H1, stats.minValue, stats.maxValue);
  bitmap.SaveBmpFile(baseName + "_Grad.bmp");
  return 0;
}

}  // namespace

void CheckImageSize(std::int32_t W, std::int32_t H) {
  if (std::int64_t{W} * H > kMaxImagePixels) throw std::runtime_error("image of more than 2^31 - 1 pixels");
}

float SelectGradientThreshold(const GradientStats& stats) {
  const std::int32_t reference = stats.histogram[0];
  const int peak = std::clamp(static_cast<int>(stats.peakBin), 0, kHistogramBins - 1);
  for (int k = peak; k < kHistogramBins; ++k) {
    if (stats.histogram[k] < reference) return static_cast<float>(k);
  }
  // No bin fell below bin 0. When bin 0 is empty no bin can; then the first
  // empty bin above the peak still separates the strong gradients.
  if (reference == 0) {
    for (int k = peak; k < kHistogramBins; ++k) {
      if (stats.histogram[k] == 0) return static_cast<float>(k);
    }
  }
  return static_cast<float>(kHistogramBins - 1);
}

int RunSegmentation(int argc, const char* const* argv) {
  try {
    if (argc < 3) return Fail("To few parameters", -1);
    if (!IsExistingFile(argv[1])) return Fail("Input file does not exists", -1);
    return Segment(argv[1], argv[2]);
  } catch (...) {
    return Fail("Execution error", -2);
  }
}
