#include "driver/chain.h"

#include <algorithm>

#include "common/rowblocks.h"
#include "driver/threshold.h"
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

std::int32_t BandRows(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 1) return 1;
  const std::size_t rows = RowsPerBlock(static_cast<std::size_t>(width), kBandPixels);
  return static_cast<std::int32_t>(std::min(rows, static_cast<std::size_t>(height)));
}

void ForEachGradientBand(const AnalysisBuffers& b,
                         const std::function<void(const float*, std::int32_t, std::int32_t)>& use) {
  const std::int32_t rows = BandRows(CellsW(b), CellsH(b));
  for (std::int32_t first = 0; first < CellsH(b); first += rows) {
    const std::int32_t count = std::min(rows, CellsH(b) - first);
    ComputeRobertsGradient(b.gradientBand, b.input, b.W, b.H, first, first + count);
    use(b.gradientBand, first, count);
  }
}

const std::array<AnalysisStep, 12> kAnalysisSteps = {{
    {AnalysisStepId::kStatistics, "ComputeRobertsGradient/ComputeGradientStats",
     RunStage::kGradient, kReportsOnStandardError, AnalysisOutput::kStats,
     [](AnalysisBuffers& b) {
       GradientStatsAccumulator statistics(CellsW(b), CellsH(b));
       ForEachGradientBand(b, [&statistics](const float* band, std::int32_t, std::int32_t rows) {
         statistics.AddRows(band, rows);
       });
       b.stats = statistics.Finish();
     }},
    {AnalysisStepId::kThreshold, "SelectGradientThreshold", RunStage::kGradient, kSilent, AnalysisOutput::kThreshold,
     [](AnalysisBuffers& b) { b.threshold = SelectGradientThreshold(b.stats); }},
    {AnalysisStepId::kBinarize, "ComputeRobertsGradient/BinarizeGradient",
     RunStage::kGradient, kSilent, AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { BinarizeRobertsGradient(b.cellMask, b.input, b.W, b.H, 0, b.H - 1, b.threshold); }},
    // Close the edge cells: background reached from the frame takes the key,
    // what it cannot reach is enclosed and becomes foreground.
    {AnalysisStepId::kMarkCellFrame, "SetBorderZeros/cells", RunStage::kClosing, kSilent, AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { SetBorderZeros(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFloodFill, "FloodFillFromBorder", RunStage::kClosing, kSilent, AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { FloodFillFromBorder(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFillEnclosed, "FillEnclosedZeros", RunStage::kClosing, kSilent, AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { FillEnclosedZeros(b.cellMask, CellsW(b), CellsH(b)); }},
    {AnalysisStepId::kClearCellKey, "ClearValue/cells", RunStage::kClosing, kSilent, AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { ClearValue(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    // On the pixel grid the key on the frame counts as foreground, so the
    // erosion does not wear regions away where they touch the frame.
    {AnalysisStepId::kCellsToPixels, "CellMaskToPixelMask", RunStage::kClosing, kSilent, AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { CellMaskToPixelMask(b.pixelMask, b.cellMask, b.W, b.H); }},
    {AnalysisStepId::kMarkPixelFrame, "SetBorderZeros/pixels", RunStage::kClosing, kSilent, AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { SetBorderZeros(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kErode, "Erode3x3", RunStage::kClosing, kSilent, AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { Erode3x3(b.pixelMask, b.W, b.H); }},
    {AnalysisStepId::kClearPixelKey, "ClearValue/pixels", RunStage::kClosing, kSilent, AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { ClearValue(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kLabel, "LabelRegions", RunStage::kLabelling, kSilent, AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { LabelRegions(b.pixelMask, b.W, b.H, kMinRegionSize); }},
}};

AnalysisBuffers PrepareAnalysis(const std::uint16_t* input, std::int32_t W, std::int32_t H,
                                std::uint16_t* pixelMask, AnalysisScratch& scratch) {
  const auto cellColumns = static_cast<std::size_t>(W - 1);
  scratch.gradientBand = ObtainBuffer<float>(static_cast<std::size_t>(BandRows(W - 1, H - 1)) * cellColumns);
  scratch.cellMask = ObtainBuffer<std::uint16_t>(cellColumns * static_cast<std::size_t>(H - 1));
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
