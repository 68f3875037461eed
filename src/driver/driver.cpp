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

#include "buffers/buffers.h"
#include "common/limits.h"
#include "driver/chain.h"
#include "driver/pictures.h"
#include "driver/progress.h"
#include "fileio/fileio.h"
#include "functionsfloat/functionsfloat.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

namespace edgeseg {

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

// A progress line on standard error when it is a terminal and the caller
// wants one; otherwise one that never writes, so that captured streams stay
// exactly as they are.
ProgressLine MakeProgressLine(bool show) {
  const auto start = std::chrono::steady_clock::now();
  ProgressLine::Clock clock = [start] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  ProgressLine::Sink sink;
  if (show && StandardErrorIsTerminal()) {
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

// The input's samples, W x H; no samples and a size of 0 when the file is
// not a text image.
struct InputImage {
  Buffer<std::uint16_t> samples;
  std::int32_t W = 0;
  std::int32_t H = 0;
};

InputImage ReadInput(const std::string& inputName, ProgressLine& progress) {
  // The file is read once: the size scan and the reader see the same bytes,
  // so a file that changes during the run cannot give a size from one
  // version and samples (or none) from another.
  progress.Show(RunStage::kReading, 0, 3);
  FileBytes input = ReadFileUpToNul(inputName);
  const std::span<const char> text(input.data.get(), input.size);
  progress.Show(RunStage::kReading, 1, 3);
  InputImage image;
  ScanTextImageSize(text, image.W, image.H);
  // In 64 bits, so that no size can wrap to a false zero.
  if (std::int64_t{image.W} * image.H == 0) return {};
  CheckImageSize(image.W, image.H);
  // Every buffer is written whole before it is read, so none is cleared, and
  // each is released as soon as no later step reads it: the text as soon as
  // the samples are read.
  image.samples = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(std::int64_t{image.W} * image.H));
  // The scan admitted these bytes, so they hold every sample; a shortfall
  // would mean samples never read, which must not pass for a result.
  progress.Show(RunStage::kReading, 2, 3);
  if (!ReadTextImage(text, image.samples.get(), image.W, image.H)) {
    throw std::runtime_error("input shorter than its size");
  }
  return image;
}

// Runs the analysis chain on the image into labels, with the progress line
// showing each step's stage and the domain report written as soon as the
// statistics call for it.
GradientStats RunChain(const InputImage& image, std::uint16_t* labels, AnalysisScratch& scratch,
                       ProgressLine& progress) {
  AnalysisBuffers chain = PrepareAnalysis(image.samples.get(), image.W, image.H, labels, scratch);
  const auto before = [&progress](const AnalysisStep& step, AnalysisBuffers&) {
    // A step's report must not land inside the line.
    if (step.reportsOnStandardError) {
      progress.Erase();
      return;
    }
    const StagePlace place = PlaceOf(step);
    progress.Show(step.stage, place.done, place.parts);
  };
  const auto after = [&scratch](const AnalysisStep& step, AnalysisBuffers& buffers) {
    // At once, so that a later failure cannot lose it.
    if (step.reportsOnStandardError && VarianceBelowZero(buffers.stats)) WriteDomainErrorReport();
    ReleaseSpentBuffers(step, buffers, scratch);
  };
  RunAnalysis(chain, before, after);
  return chain.stats;
}

// The run on one input: true when it wrote its four files, false when the
// input is not a text image.
bool Segment(const std::string& inputName, const std::string& baseName, ProgressLine& progress) {
  InputImage image = ReadInput(inputName, progress);
  if (!image.samples) {
    progress.Erase();
    return false;
  }
  auto labels = ObtainBuffer<std::uint16_t>(static_cast<std::size_t>(std::int64_t{image.W} * image.H));
  AnalysisScratch scratch;
  const GradientStats stats = RunChain(image, labels.get(), scratch, progress);

  progress.Show(RunStage::kWritingLabels);
  WriteTextImage(baseName, labels.get(), image.W, image.H);
  const PictureSources pictures{.W = image.W,
                                .H = image.H,
                                .input = image.samples.get(),
                                .labels = nullptr,
                                .gradientBand = scratch.gradientBand.get(),
                                .stats = &stats};
  WritePictures(baseName, pictures, std::move(labels), progress);
  progress.Erase();
  return true;
}

}  // namespace

void CheckImageSize(std::int32_t W, std::int32_t H) {
  if (std::int64_t{W} * H > kMaxImagePixels) throw std::runtime_error("image of more than 2^31 - 1 pixels");
}

RunOutcome RunSegmentationQuietly(const std::string& inputName, const std::string& baseName, bool showProgress) {
  try {
    if (!IsExistingFile(inputName)) return {-1, "Input file does not exists"};
    // Destroyed, and so erased, before the caller prints the outcome.
    ProgressLine progress = MakeProgressLine(showProgress);
    if (!Segment(inputName, baseName, progress)) return {-1, "Wrong input file format"};
    return {0, {}};
  } catch (...) {
    return {-2, "Execution error"};
  }
}

int RunSegmentation(int argc, const char* const* argv) {
  try {
    if (argc < 3) return Fail("To few parameters", -1);
    const RunOutcome outcome = RunSegmentationQuietly(argv[1], argv[2], true);
    if (!outcome.message.empty()) std::fputs(outcome.message.c_str(), stdout);
    return outcome.status;
  } catch (...) {
    return Fail("Execution error", -2);
  }
}

}  // namespace edgeseg
