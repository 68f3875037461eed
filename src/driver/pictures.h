#pragma once
// The three pictures of a run, OUTBASE_In.bmp, OUTBASE_Reg.bmp and
// OUTBASE_Grad.bmp, each drawn and written a band of rows at a time.

#include <cstdint>
#include <string>

#include "buffers/buffers.h"
#include "driver/progress.h"
#include "functionsfloat/functionsfloat.h"

namespace edgeseg {

// The input picture shows the 12-bit range: samples from kInputLow to
// kInputHigh spread over the grey levels, others saturate.
inline constexpr std::int32_t kInputLow = 0;
inline constexpr std::int32_t kInputHigh = 4095;

// Writes the input picture of the W x H input, the regions' picture of the
// labels, and the gradient's picture on the (W-1) x (H-1) cells, windowed to
// the gradient's extremes in stats. The gradient is computed again a band at
// a time into gradientBand (BandRows(W-1, H-1) rows of W-1 floats); the
// labels are released as soon as their picture is written. Throws before
// any picture is drawn when one cannot be saved past the BMP size field,
// and whatever writing a file throws.
void WritePictures(const std::string& baseName, const std::uint16_t* input, Buffer<std::uint16_t> labels,
                   float* gradientBand, std::int32_t W, std::int32_t H, const GradientStats& stats,
                   ProgressLine& progress);

}  // namespace edgeseg
