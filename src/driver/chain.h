#pragma once
// The analysis chain of a run, from the input image to the label image: its
// steps in the one order every run takes them, each with the grid it works
// on and the constants it is given. The run takes the chain whole; the
// micro-benchmarks and the fuzz target walk the same table step by step.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "buffers/buffers.h"
#include "driver/runstage.h"
#include "edgeseg/gradientstats.h"

namespace edgeseg {

// Marks background reached from the frame while the masks are closed; the
// chain clears it again before a mask leaves it.
inline constexpr std::uint16_t kKeyValue = 65535;
// A region must hold more than this many pixels to keep a label.
inline constexpr std::uint32_t kMinRegionSize = 10;

// The buffers the chain works on, owned by the caller. W x H is the pixel
// grid: the input image and the pixel mask hold W*H samples, the cell mask
// (W-1)*(H-1), on the grid of cells between the pixels. The gradient is
// never held whole: each step that reads it computes it again into
// gradientBand (ObtainGradientBand), a band of rows at a time (BandRows in
// common/rowblocks.h). At the end the pixel mask holds the labels.
struct AnalysisBuffers {
  std::int32_t W = 0;
  std::int32_t H = 0;
  const std::uint16_t* input = nullptr;
  float* gradientBand = nullptr;
  std::uint16_t* cellMask = nullptr;
  std::uint16_t* pixelMask = nullptr;
  GradientStats stats;
  float threshold = 0;
};

enum class AnalysisStepId {
  kStatistics,
  kThreshold,
  kBinarize,
  kMarkCellFrame,
  kFloodFill,
  kFillEnclosed,
  kClearCellKey,
  kCellsToPixels,
  kMarkPixelFrame,
  kErode,
  kClearPixelKey,
  kLabel,
  kCount,  // not a step: how many there are
};

struct AnalysisStep {
  AnalysisStepId id;
  const char* name;  // the operation and, where it runs on both, the grid
  // The part of a run that the progress line counts the step in; a stage's
  // share is split evenly among its steps in table order.
  RunStage stage;
  // The step's result may call for the statistics' square-root domain
  // report, which the command writes on standard error as soon as the step
  // ends (the library leaves it to its caller): no progress line may be
  // drawn from the step's start until then.
  bool reportsOnStandardError;
  void (*run)(AnalysisBuffers&);
};

// Every step, in the order of AnalysisStepId; the first computes the
// gradient a band at a time and takes each band as it comes, the third
// binarises it from each cell's sum of squares without computing it.
// Each step may throw what its operation throws: the statistics when the
// gradient has no inner samples (an image of 3 or fewer rows or columns),
// the labelling past 65535 regions, std::bad_alloc.
using AnalysisSteps = std::array<AnalysisStep, static_cast<std::size_t>(AnalysisStepId::kCount)>;
extern const AnalysisSteps kAnalysisSteps;

// Called around a step with the buffers as they are then.
using AnalysisStepHook = std::function<void(const AnalysisStep&, AnalysisBuffers&)>;

// Calls use(band, firstRow, rows) for each band of gradient rows, top to
// bottom, computed into the chain's gradientBand.
void ForEachGradientBand(const AnalysisBuffers& buffers,
                         const std::function<void(const float*, std::int32_t, std::int32_t)>& use);

// A buffer for a band of the gradient of a W x H image: BandRows(W-1, H-1)
// rows of W-1 floats, what ForEachGradientBand and the gradient picture's
// bands compute it into. Throws std::bad_alloc when it cannot be obtained.
Buffer<float> ObtainGradientBand(std::int32_t W, std::int32_t H);

// The buffers the chain obtains for itself: the gradient band and the cell
// mask. The band outlives the chain, for the gradient picture.
struct AnalysisScratch {
  Buffer<float> gradientBand;
  Buffer<std::uint16_t> cellMask;
};

// Obtains the scratch of a W x H image and gives the buffers of a run over
// it, input and pixelMask (W*H samples each, the caller's). Throws
// std::bad_alloc when memory cannot be obtained.
AnalysisBuffers PrepareAnalysis(const std::uint16_t* input, std::int32_t W, std::int32_t H,
                                std::uint16_t* pixelMask, AnalysisScratch& scratch);

// Releases, after the step, what no later step reads: the cell mask once it
// has been carried to the pixels.
void ReleaseSpentBuffers(const AnalysisStep& step, AnalysisBuffers& buffers, AnalysisScratch& scratch);

// Runs every step in order, calling before and after (where given) around
// each: where the run shows its progress and releases a buffer that no
// later step reads, and where the fuzz target checks.
void RunAnalysis(AnalysisBuffers& buffers, const AnalysisStepHook& before = {}, const AnalysisStepHook& after = {});

}  // namespace edgeseg
