#pragma once
// The step of the analysis chain that the driver supplies: the threshold
// that turns the gradient into the edge cells.

#include "edgeseg/gradientstats.h"

namespace edgeseg {

// The binarisation threshold: starting at peakBin, the first bin whose count
// is below the count of bin 0. When no bin up to 4095 qualifies: with bin 0
// empty, the first bin from peakBin on that is empty; otherwise, or when
// there is none, 4095.
float SelectGradientThreshold(const GradientStats& stats);

}  // namespace edgeseg
