#include "driver/driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "bitmap/bitmap.h"
#include "buffers/buffers.h"
#include "displib/displib.h"
#include "driver/chain.h"
#include "driver/progress.h"
#include "fileio/fileio.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

namespace {

int Fail(const char* message, int status) {
  std::fputs(message, stdout);
  return status;
}

// The share of its stage that is done when a step of the analysis chain
// begins: the steps before it of the same stage, of all the stage's steps.
struct StagePlace {
  int done;
  int parts;
};

StagePlace PlaceOf(const AnalysisStep& step) {
  StagePlace place{0, 0};
  for (const AnalysisStep& other : kAnalysisSteps) {
    if (other.stage != step.stage) continue;
    if (&other < &step) ++place.done;
    ++place.parts;
  }
  return place;
}

// A progress line on standard error when it is a terminal; otherwise one
// that never writes, so that captured streams stay exactly as they are.
ProgressLine MakeProgressLine() {
  const auto start = std::chrono::steady_clock::now();
  ProgressLine::Clock clock = [start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  ProgressLine::Sink sink;
  if (StandardErrorIsTerminal()) {
    // A run ended by a signal erases a drawn line on its way out; it is
    // told so before a line is drawn and after one is erased, since an
    // erase of nothing shows nothing.
    sink = [](std::string_view text) {
      const bool erases = text == ProgressEraseText();
      if (!erases) SetSignalEraseText(ProgressEraseText());
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
      if (erases) SetSignalEraseText({});
    };
  }
  return ProgressLine(std::move(clock), std::move(sink));
}

int Segment(const std::string& inputName, const std::string& baseName, ProgressLine& progress) {
  // The file is read once: the size scan and the reader see the same bytes,
  // so a file that changes during the run cannot give a size from one
  // version and samples (or none) from another.
  progress.Show(RunStage::kReading, 0, 3);
  FileBytes input = ReadWholeFile(inputName);
  const std::span<const char> text(input.data.get(), input.size);
  progress.Show(RunStage::kReading, 1, 3);
  std::int32_t W = 0;
  std::int32_t H = 0;
  ScanTextImageSize(text, W, H);
  // In 64 bits, so that no size can wrap to a false zero.
  if (std::int64_t{W} * H == 0) {
    progress.Erase();
    return Fail("Wrong input file format", -1);
  }
  CheckImageSize(W, H);

  const std::int32_t W1 = W - 1;
  const std::int32_t H1 = H - 1;
  const std::int64_t n = std::int64_t{W} * H;
  const std::int64_t n1 = std::int64_t{W1} * H1;
  // Every buffer is written whole before it is read, so none is cleared, and
  // each is obtained when a step first needs it and released as soon as no
  // later step reads it: the text as soon as the samples are read.
  auto inputImage = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n));
  // The scan admitted these bytes, so they hold every sample; a shortfall
  // would mean samples never read, which must not pass for a result.
  progress.Show(RunStage::kReading, 2, 3);
  if (!ReadTextImage(text, inputImage.get(), W, H)) throw std::runtime_error("input shorter than its size");
  input = FileBytes{};

  const std::int32_t gradientRows = BandRows(W1, H1);
  auto gradientBand = ObtainBuffer<float>(static_cast<std::size_t>(gradientRows) * static_cast<std::size_t>(W1));
  auto cellMask = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n1));
  auto pixelMask = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(n));
  AnalysisBuffers chain{.W = W,
                        .H = H,
                        .input = inputImage.get(),
                        .gradientBand = gradientBand.get(),
                        .cellMask = cellMask.get(),
                        .pixelMask = pixelMask.get(),
                        .stats = {},
                        .threshold = 0};
  const auto before = [&progress](const AnalysisStep& step, AnalysisBuffers&) {
    // A step's own report must not land inside the line.
    if (step.reportsOnStandardError) {
      progress.Erase();
      return;
    }
    const StagePlace place = PlaceOf(step);
    progress.Show(step.stage, place.done, place.parts);
  };
  const auto after = [&cellMask](const AnalysisStep& step, AnalysisBuffers& buffers) {
    if (step.id == AnalysisStepId::kCellsToPixels) {  // no later step reads the cell mask
      cellMask.reset();
      buffers.cellMask = nullptr;
    }
  };
  RunAnalysis(chain, before, after);
  const GradientStats& stats = chain.stats;

  progress.Show(RunStage::kWritingLabels);
  WriteTextImage(baseName, pixelMask.get(), W, H);

  // The pictures cannot be saved past the BMP size field: refused before
  // any is drawn. The gradient picture is smaller. Each is drawn a band of
  // rows at a time, and the gradient computed again for its bands.
  progress.Show(RunStage::kWritingPictures, 0, 3);
  if (!FitsBmpFile(W, H)) throw std::runtime_error("picture too large for a BMP file");
  const auto rowOf = [W](const std::uint16_t* image, std::int32_t y) {
    return image + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
  };
  const SampleWindow inputWindow = MakeSampleWindow(kInputLow, kInputHigh);
  SaveBmpFileInBands(baseName + "_In.bmp", W, H, BandRows(W, H),
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       RenderWindowed(rowOf(inputImage.get(), first), band, W, rows, inputWindow);
                     });
  progress.Show(RunStage::kWritingPictures, 1, 3);
  SaveBmpFileInBands(baseName + "_Reg.bmp", W, H, BandRows(W, H),
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       RenderLabels(rowOf(pixelMask.get(), first), band, W, rows);
                     });
  pixelMask.reset();
  progress.Show(RunStage::kWritingPictures, 2, 3);
  SaveBmpFileInBands(baseName + "_Grad.bmp", W1, H1, gradientRows,
                     [&](std::int32_t first, std::int32_t rows, TBitmap& band) {
                       ComputeRobertsGradient(gradientBand.get(), inputImage.get(), W, H, first, first + rows);
                       RenderWindowedFloat(gradientBand.get(), band, W1, rows, stats.minValue, stats.maxValue);
                     });
  progress.Erase();
  return 0;
}

}  // namespace

void CheckImageSize(std::int32_t W, std::int32_t H) {
  if (std::int64_t{W} * H > kMaxImagePixels) throw std::runtime_error("image of more than 2^31 - 1 pixels");
}

int RunSegmentation(int argc, const char* const* argv) {
  try {
    if (argc < 3) return Fail("To few parameters", -1);
    if (!IsExistingFile(argv[1])) return Fail("Input file does not exists", -1);
    // Destroyed, and so erased, before the handler below prints.
    ProgressLine progress = MakeProgressLine();
    return Segment(argv[1], argv[2], progress);
  } catch (...) {
    return Fail("Execution error", -2);
  }
}
