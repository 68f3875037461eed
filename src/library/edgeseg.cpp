// The library's face over the run's own steps: the same analysis chain and
// the same picture bands as the command, on the caller's buffers, with
// nothing printed and no state kept.

#include "edgeseg/edgeseg.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "buffers/buffers.h"
#include "common/rowblocks.h"
#include "driver/chain.h"
#include "driver/driver.h"
#include "driver/pictures.h"
#include "functionsfloat/functionsfloat.h"

namespace edgeseg {

namespace {

// The shapes the chain cannot take, refused before any work.
void CheckShape(std::int32_t width, std::int32_t height, std::ptrdiff_t rowStride) {
  if (width <= 3 || height <= 3) throw Error("image side of 3 or less");
  try {
    CheckImageSize(width, height);  // the command's limit and message
  } catch (const std::runtime_error& error) {
    throw Error(error.what());
  }
  if (rowStride < width) throw Error("row stride below the width");
}

// The image with its rows one after the other, as the steps read it: the
// caller's own when they already are, else a copy held in copy.
const std::uint16_t* ContiguousRows(const std::uint16_t* image, std::int32_t width, std::int32_t height,
                                    std::ptrdiff_t rowStride, Buffer<std::uint16_t>& copy) {
  if (rowStride == width) return image;
  const auto w = static_cast<std::size_t>(width);
  copy = ObtainBuffer<std::uint16_t>(w * static_cast<std::size_t>(height));
  for (std::int32_t y = 0; y < height; ++y) {
    std::memcpy(copy.get() + static_cast<std::size_t>(y) * w, image + y * rowStride, w * sizeof(std::uint16_t));
  }
  return copy.get();
}

}  // namespace

Result Segment(const std::uint16_t* image, std::int32_t width, std::int32_t height, std::ptrdiff_t rowStride,
               std::uint16_t* labels) {
  CheckShape(width, height, rowStride);
  Buffer<std::uint16_t> copy;
  const std::uint16_t* input = ContiguousRows(image, width, height, rowStride, copy);
  AnalysisScratch scratch;
  AnalysisBuffers chain = PrepareAnalysis(input, width, height, labels, scratch);
  try {
    RunAnalysis(chain, {}, [&scratch](const AnalysisStep& step, AnalysisBuffers& buffers) {
      ReleaseSpentBuffers(step, buffers, scratch);
    });
  } catch (const std::runtime_error& error) {
    throw Error(error.what());  // the labelling's count of regions past 65535
  }
  // The labels run from 1 to the count of regions.
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const std::uint16_t regions = *std::max_element(labels, labels + pixels);
  return Result{regions, chain.threshold, chain.stats, VarianceBelowZero(chain.stats)};
}

void DrawPicture(Picture which, const std::uint16_t* image, std::int32_t width, std::int32_t height,
                 std::ptrdiff_t rowStride, const std::uint16_t* labels, const Result& result, std::uint8_t* rgb) {
  CheckShape(width, height, rowStride);
  Buffer<std::uint16_t> copy;
  PictureSources from{.W = width, .H = height, .input = nullptr, .labels = labels, .gradientBand = nullptr,
                      .stats = &result.statistics};
  Buffer<float> gradientBand;
  if (which != Picture::Regions) from.input = ContiguousRows(image, width, height, rowStride, copy);
  if (which == Picture::Gradient) {
    gradientBand = ObtainGradientBand(width, height);
    from.gradientBand = gradientBand.get();
  }
  const PictureBands bands(which, from);
  TBitmap band;
  const auto convert = [&bands, &band, &rgb](std::size_t first, std::size_t count) {
    const auto rows = static_cast<std::int32_t>(count);
    bands.Draw(static_cast<std::int32_t>(first), rows, band);
    // Each pixel's blue, green and red, turned around.
    for (std::int32_t y = 0; y < rows; ++y) {
      const std::uint8_t* bgrx = band.RowPixels(y).data();
      for (std::int32_t x = 0; x < bands.Width(); ++x, bgrx += 4, rgb += 3) {
        rgb[0] = bgrx[2];
        rgb[1] = bgrx[1];
        rgb[2] = bgrx[0];
      }
    }
  };
  ForEachRowBlock(0, static_cast<std::size_t>(bands.Height()),
                  static_cast<std::size_t>(BandRows(bands.Width(), bands.Height())), convert);
}

}  // namespace edgeseg
