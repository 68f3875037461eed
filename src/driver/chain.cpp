#include "driver/chain.h"

#include "driver/driver.h"
#include "functions/functions.h"
#include "morfologylib/morfologylib.h"

namespace {

std::int32_t CellsW(const AnalysisBuffers& b) { return b.W - 1; }
std::int32_t CellsH(const AnalysisBuffers& b) { return b.H - 1; }

}  // namespace

const std::array<AnalysisStep, 13> kAnalysisSteps = {{
    {AnalysisStepId::kGradient, "ComputeRobertsGradient", AnalysisOutput::kGradient,
     [](AnalysisBuffers& b) { ComputeRobertsGradient(b.gradient, b.input, b.W, b.H); }},
    {AnalysisStepId::kStatistics, "ComputeGradientStats", AnalysisOutput::kStats,
     [](AnalysisBuffers& b) { b.stats = ComputeGradientStats(b.gradient, CellsW(b), CellsH(b)); }},
    {AnalysisStepId::kThreshold, "SelectGradientThreshold", AnalysisOutput::kThreshold,
     [](AnalysisBuffers& b) { b.threshold = SelectGradientThreshold(b.stats); }},
    {AnalysisStepId::kBinarize, "BinarizeGradient", AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { BinarizeGradient(b.cellMask, b.gradient, CellsW(b), CellsH(b), b.threshold); }},
    // Close the edge cells: background reached from the frame takes the key,
    // what it cannot reach is enclosed and becomes foreground.
    {AnalysisStepId::kMarkCellFrame, "SetBorderZeros/cells", AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { SetBorderZeros(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFloodFill, "FloodFillFromBorder", AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { FloodFillFromBorder(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    {AnalysisStepId::kFillEnclosed, "FillEnclosedZeros", AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { FillEnclosedZeros(b.cellMask, CellsW(b), CellsH(b)); }},
    {AnalysisStepId::kClearCellKey, "ClearValue/cells", AnalysisOutput::kCellMask,
     [](AnalysisBuffers& b) { ClearValue(b.cellMask, CellsW(b), CellsH(b), kKeyValue); }},
    // On the pixel grid the key on the frame counts as foreground, so the
    // erosion does not wear regions away where they touch the frame.
    {AnalysisStepId::kCellsToPixels, "CellMaskToPixelMask", AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { CellMaskToPixelMask(b.pixelMask, b.cellMask, b.W, b.H); }},
    {AnalysisStepId::kMarkPixelFrame, "SetBorderZeros/pixels", AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { SetBorderZeros(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kErode, "Erode3x3", AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { Erode3x3(b.pixelMask, b.W, b.H); }},
    {AnalysisStepId::kClearPixelKey, "ClearValue/pixels", AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { ClearValue(b.pixelMask, b.W, b.H, kKeyValue); }},
    {AnalysisStepId::kLabel, "LabelRegions", AnalysisOutput::kPixelMask,
     [](AnalysisBuffers& b) { LabelRegions(b.pixelMask, b.W, b.H, kMinRegionSize); }},
}};

void RunAnalysis(AnalysisBuffers& buffers, const AnalysisStepHook& before, const AnalysisStepHook& after) {
  for (const AnalysisStep& step : kAnalysisSteps) {
    if (before) before(step, buffers);
    step.run(buffers);
    if (after) after(step, buffers);
  }
}
