#pragma once
// Morphology on Image16 masks (row-major 16-bit samples, sample (x, y) at
// y*W + x). Inner samples are those off the one-sample frame.

#include <cstdint>

namespace edgeseg {

// Every inner sample that is 0 and is linked to a sample holding key (frame
// samples included) through a chain of 8-neighbouring inner zero samples
// becomes key. Frame samples never change. Because diagonal steps count, a
// ring of non-zero samples keeps the key out only when it is closed through
// horizontal and vertical steps. Runs in time linear in the samples, with
// scratch memory of a few bytes per column and at most one byte per sample
// whatever the shape; throws std::bad_alloc, before changing the mask, if
// that cannot be obtained. A key of 0 does nothing.
void FloodFillFromBorder(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key);

// Every inner sample that is 0 becomes 1.
void FillEnclosedZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H);

// Each inner sample keeps its own value when all nine samples of its 3 x 3
// neighbourhood are non-zero, else becomes 0; frame samples become 0. Every
// test reads the mask as it was before the call. Throws std::bad_alloc
// before changing the mask if its scratch rows cannot be obtained.
void Erode3x3(std::uint16_t* mask, std::int32_t W, std::int32_t H);

}  // namespace edgeseg
