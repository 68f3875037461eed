#include "driver/pictures.h"

#include <iterator>

#include "common/rowblocks.h"
#include "displib/displib.h"
#include "functionsfloat/functionsfloat.h"

namespace edgeseg {

PictureBands::PictureBands(Picture which, const PictureSources& from)
    : which_(which),
      from_(from),
      width_(which == Picture::Gradient ? from.W - 1 : from.W),
      height_(which == Picture::Gradient ? from.H - 1 : from.H) {
  if (which == Picture::Input) inputWindow_ = MakeSampleWindow(kInputLow, kInputHigh);
  if (which == Picture::Gradient) gradientWindow_ = MakeGradientWindow(from.stats->minValue, from.stats->maxValue);
}

void PictureBands::Draw(std::int32_t first, std::int32_t rows, TBitmap& band) const {
  const auto rowOf = [this](const std::uint16_t* image, std::int32_t y) {
    return image + static_cast<std::size_t>(y) * static_cast<std::size_t>(from_.W);
  };
  switch (which_) {
    case Picture::Input:
      RenderWindowed(rowOf(from_.input, first), band, width_, rows, inputWindow_);
      return;
    case Picture::Regions:
      RenderLabels(rowOf(from_.labels, first), band, width_, rows);
      return;
    case Picture::Gradient:
      if (gradientWindow_.exact) {
        RenderWindowedGradient(from_.input, from_.W, first, rows, band, gradientWindow_);
        return;
      }
      ComputeRobertsGradient(from_.gradientBand, from_.input, from_.W, from_.H, first, first + rows);
      RenderWindowedFloat(from_.gradientBand, band, width_, rows, from_.stats->minValue, from_.stats->maxValue);
      return;
  }
}

void SavePicture(const std::string& name, const PictureBands& bands) {
  SaveBmpFileInBands(name, bands.Width(), bands.Height(), BandRows(bands.Width(), bands.Height()),
                     [&bands](std::int32_t first, std::int32_t rows, TBitmap& band) { bands.Draw(first, rows, band); });
}

void WritePictures(const std::string& baseName, PictureSources from, Buffer<std::uint16_t> labels,
                   ProgressLine& progress) {
  // The pictures cannot be saved past the BMP size field: refused before
  // any is drawn. The gradient picture is smaller.
  progress.Show(RunStage::kWritingPictures, 0, 3);
  CheckBmpFileSize(from.W, from.H);
  from.labels = labels.get();
  const struct {
    Picture which;
    const char* suffix;
  } pictures[] = {{Picture::Input, "_In.bmp"}, {Picture::Regions, "_Reg.bmp"}, {Picture::Gradient, "_Grad.bmp"}};
  for (std::size_t i = 0; i < std::size(pictures); ++i) {
    if (i > 0) progress.Show(RunStage::kWritingPictures, static_cast<int>(i), 3);
    SavePicture(baseName + pictures[i].suffix, PictureBands(pictures[i].which, from));
    if (pictures[i].which == Picture::Regions) {  // no later picture reads them
      labels.reset();
      from.labels = nullptr;
    }
  }
}

}  // namespace edgeseg
