#include "driver/pictures.h"

#include <stdexcept>

#include "bitmap/bitmap.h"
#include "displib/displib.h"
#include "driver/chain.h"

namespace edgeseg {

void WritePictures(const std::string& baseName, const std::uint16_t* input, Buffer<std::uint16_t> labels,
                   float* gradientBand, std::int32_t W, std::int32_t H, const GradientStats& stats,
                   ProgressLine& progress) {
  // The pictures cannot be saved past the BMP size field: refused before
  // any is drawn. The gradient picture is smaller.
  progress.Show(RunStage::kWritingPictures, 0, 3);
  if (!FitsBmpFile(W, H)) throw std::runtime_error("picture too large for a BMP file");
  const auto rowOf = [W](const std::uint16_t* image, std::int32_t y) {
    return image + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
  };
  const SampleWindow inputWindow = MakeSampleWindow(kInputLow, kInputHigh);
  SaveBmpFileInBands(baseName + "_In.bmp", W, H, BandRows(W, H),
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       RenderWindowed(rowOf(input, first), band, W, rows, inputWindow);
                     });
  progress.Show(RunStage::kWritingPictures, 1, 3);
  SaveBmpFileInBands(baseName + "_Reg.bmp", W, H, BandRows(W, H),
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       RenderLabels(rowOf(labels.get(), first), band, W, rows);
                     });
  labels.reset();
  progress.Show(RunStage::kWritingPictures, 2, 3);
  const std::int32_t W1 = W - 1;
  const std::int32_t H1 = H - 1;
  SaveBmpFileInBands(baseName + "_Grad.bmp", W1, H1, BandRows(W1, H1),
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       ComputeRobertsGradient(gradientBand, input, W, H, first, first + rows);
                       RenderWindowedFloat(gradientBand, band, W1, rows, stats.minValue, stats.maxValue);
                     });
}

}  // namespace edgeseg
