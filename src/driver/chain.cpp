#include "driver/chain.h"

#include <algorithm>

#include "common/rowblocks.h"
#include "driver/threshold.h"
#include "functionsfloat/functionsfloat.h"
#include "functions/functions.h"
#include "morfologylib/morfologylib.h"

namespace edgeseg {

namespace {

std::int32_t CellsW(const AnalysisBuffers& b) { return b.W - 1; }
std::int32_t CellsH(const AnalysisBuffers& b) { return b.H - 1; }

// The values of the table's reportsOnStandardError column.
constexpr bool kReportsOnStandardError = true;
constexpr bool kSilent = false;

}  // namespace

void ForEachGradientBand(const AnalysisBuffers& b,
                         const std::function<void(const float*, std::int32_t, std::int32_t)>& use) {
  const auto cellRows = static_cast<std::size_t>(std::max(CellsH(b), 0));
  const auto bandRows = static_cast<std::size_t>(BandRows(CellsW(b), CellsH(b)));
  ForEachRowBlock(0, cellRows, bandRows, [&b, &use](std::size_t first, std::size_t rows) {
    const auto from = static_cast<std::int32_t>(first);
    const auto count = static_cast<std::int32_t>(rows);
    ComputeRobertsGradient(b.gradientBand, b.input, b.W, b.H, from, from + count);
    use(b.gradientBand, from, count);
  });
}

constexpr AnalysisSteps kAnalysisSteps = {{
    {AnalysisStepId::kStatistics, "ComputeRobertsGradient/ComputeGradientStats",
     RunStage::kGradient, kReportsOnStandardError,
     [](AnalysisBuffers& b) {
       GradientStatsAccumulator statistics(CellsW(b), CellsH(b));
       ForEachGradientBand(b, [&statistics](const float* band, std::int32_t, std::int32_t rows) {
         statistics.AddRows(band, rows);
       });
       b.stats = statistics.Finish();
     }},
    {AnalysisStepId::kThreshold, "SelectGradientThreshold", RunStage::kGradient, kSilent,
     [](AnalysisBuffers& b) { b.threshold = SelectGradientThreshold(b.stats); }},
    {AnalysisStepId::kBinarize, "BinarizeRobertsGradient",
     RunStage::kGradient, kSilent,
     [](AnalysisBuffers& b) { BinarizeRobertsGradient(b.cellMask, b.input, b.W, b.H, 0, b.H - 1, b.threshold); }},
    // Close the edge cells: background reached from the frame takes the key,
    // what it cannot reach is enclosed and becomes foreground.
    {AnalysisStepId::kMarkCellFrame, "SetBorderZeros/cells", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { SetBorderZeros(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFloodFill, "FloodFillFromBorder", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { FloodFillFromBorder(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFillEnclosed, "FillEnclosedZeros", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { FillEnclosedZeros(b.cellMask, CellsW(b), CellsH(b)); }},
    {AnalysisStepId::kClearCellKey, "ClearValue/cells", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { ClearValue(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    // On the pixel grid the key on the frame counts as foreground, so the
    // erosion does not wear regions away where they touch the frame.
    {AnalysisStepId::kCellsToPixels, "CellMaskToPixelMask", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { CellMaskToPixelMask(b.pixelMask, b.cellMask, b.W, b.H); }},
    {AnalysisStepId::kMarkPixelFrame, "SetBorderZeros/pixels", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { SetBorderZeros(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kErode, "Erode3x3", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { Erode3x3(b.pixelMask, b.W, b.H); }},
    {AnalysisStepId::kClearPixelKey, "ClearValue/pixels", RunStage::kClosing, kSilent,
     [](AnalysisBuffers& b) { ClearValue(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kLabel, "LabelRegions", RunStage::kLabelling, kSilent,
     [](AnalysisBuffers& b) { LabelRegions(b.pixelMask, b.W, b.H, kMinRegionSize); }},
}};

namespace {

// A row for every id, in the order of the ids: a step added to the ids but
// not to the table fails here rather than as a row without an operation.
constexpr bool RowsFollowTheIds() {
  for (std::size_t i = 0; i < kAnalysisSteps.size(); ++i) {
    if (kAnalysisSteps[i].id != static_cast<AnalysisStepId>(i) || kAnalysisSteps[i].run == nullptr) return false;
  }
  return true;
}
static_assert(RowsFollowTheIds());

}  // namespace

Buffer<float> ObtainGradientBand(std::int32_t W, std::int32_t H) {
  return ObtainBuffer<float>(static_cast<std::size_t>(BandRows(W - 1, H - 1)) * static_cast<std::size_t>(W - 1));
}

AnalysisBuffers PrepareAnalysis(const std::uint16_t* input, std::int32_t W, std::int32_t H,
                                std::uint16_t* pixelMask, AnalysisScratch& scratch) {
  scratch.gradientBand = ObtainGradientBand(W, H);
  scratch.cellMask = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(W - 1) * static_cast<std::size_t>(H - 1));
  return AnalysisBuffers{.W = W,
                         .H = H,
                         .input = input,
                         .gradientBand = scratch.gradientBand.get(),
                         .cellMask = scratch.cellMask.get(),
                         .pixelMask = pixelMask,
                         .stats = {},
                         .threshold = 0};
}

void ReleaseSpentBuffers(const AnalysisStep& step, AnalysisBuffers& buffers, AnalysisScratch& scratch) {
  if (step.id == AnalysisStepId::kCellsToPixels) {
    scratch.cellMask.reset();
    buffers.cellMask = nullptr;
  }
}

void RunAnalysis(AnalysisBuffers& buffers, const AnalysisStepHook& before, const AnalysisStepHook& after) {
  for (const AnalysisStep& step : kAnalysisSteps) {
    if (before) before(step, buffers);
    step.run(buffers);
    if (after) after(step, buffers);
  }
}

}  // namespace edgeseg
