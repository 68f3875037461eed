#pragma once
// The three pictures of a run, OUTBASE_In.bmp, OUTBASE_Reg.bmp and
// OUTBASE_Grad.bmp, each drawn and written a band of rows at a time; the
// library draws the same bands into RGB bytes.

#include <cstdint>
#include <string>

#include "bitmap/bitmap.h"
#include "buffers/buffers.h"
#include "displib/displib.h"
#include "driver/progress.h"
#include "edgeseg/edgeseg.h"
#include "edgeseg/gradientstats.h"

namespace edgeseg {

// The input picture shows the 12-bit range: samples from kInputLow to
// kInputHigh spread over the 256 colours of the map, others saturate.
inline constexpr std::int32_t kInputLow = 0;
inline constexpr std::int32_t kInputHigh = 4095;

// What the pictures are drawn from: the W x H input and labels, and the
// gradient, windowed to its extremes in stats; gradientBand (from
// ObtainGradientBand, driver/chain.h) holds it a band at a time when the
// window must be drawn from the float gradient.
struct PictureSources {
  std::int32_t W = 0;
  std::int32_t H = 0;
  const std::uint16_t* input = nullptr;
  const std::uint16_t* labels = nullptr;
  float* gradientBand = nullptr;
  const GradientStats* stats = nullptr;
};

// One picture of the sources, drawn a band of rows at a time: W x H, or
// (W-1) x (H-1) for the gradient. What every band needs (the input's colour
// window, the gradient's breakpoints) is made once, with the picture. The
// gradient picture is drawn from the input's sums of squares through the
// breakpoints, or, for a window they cannot serve (an infinite or NaN
// scale), from the float gradient in gradientBand: the same bytes.
class PictureBands {
 public:
  PictureBands(Picture which, const PictureSources& from);
  std::int32_t Width() const { return width_; }
  std::int32_t Height() const { return height_; }
  // Draws rows first to first + rows - 1 into band, sized to Width() x rows.
  void Draw(std::int32_t first, std::int32_t rows, TBitmap& band) const;

 private:
  Picture which_;
  PictureSources from_;  // a copy: a few pointers, and none left dangling by a temporary
  std::int32_t width_;
  std::int32_t height_;
  SampleWindow inputWindow_;
  GradientWindow gradientWindow_;
};

// Writes the picture as the BMP file of that name, a band of rows at a time
// (SaveBmpFileInBands): as a run writes each of its pictures.
void SavePicture(const std::string& name, const PictureBands& bands);

// Writes the three pictures of the sources, the labels' released as soon as
// their picture is written. Throws before any picture is drawn when one
// cannot be saved past the BMP size field, and whatever writing a file
// throws.
void WritePictures(const std::string& baseName, PictureSources from, Buffer<std::uint16_t> labels,
                   ProgressLine& progress);

}  // namespace edgeseg
