// Micro-benchmarks, one per step of a run, on the photo-like benchmark
// picture. Each step starts from the buffers the steps before it produced, so
// it sees the data it sees in a real run.
//
//   edgeseg_bench [--side=N] [Google Benchmark flags]   (default side 2048)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bitmap/bitmap.h"
#include "common/cpu.h"
#include "displib/displib.h"
#include "driver/chain.h"
#include "driver/pictures.h"
#include "fileio/fileio.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

using namespace edgeseg;

namespace {

int gSide = 2048;

using Mask = std::vector<std::uint16_t>;

// The buffers of one run's analysis chain, and for each step a copy of what
// it writes as it was before the step, so that a step can be timed alone
// from the data it sees in a real run.
struct Run {
  std::int32_t W = 0, H = 0, W1 = 0, H1 = 0;
  std::string textFile;
  std::string text;  // the file's bytes, as the tool holds them after its one read
  std::string outDir;
  std::vector<std::uint16_t> image;
  std::vector<float> gradient;      // whole, for the gradient picture alone
  std::vector<float> gradientBand;  // what the chain computes it into
  Mask cellMask;
  Mask pixelMask;
  AnalysisBuffers chain;
  std::vector<AnalysisBuffers> before;  // the record before each step
  std::vector<Mask> maskBefore;         // the mask a step writes, before it

  static Run& Get() {
    static Run run = Make();
    return run;
  }

  // The mask that the step writes, or nullptr for the other outputs.
  Mask* MaskOf(const AnalysisStep& step) {
    if (step.output == AnalysisOutput::kCellMask) return &cellMask;
    if (step.output == AnalysisOutput::kPixelMask) return &pixelMask;
    return nullptr;
  }

 private:
  static Run Make() {
    Run r;
    r.W = r.H = gSide;
    r.W1 = r.H1 = gSide - 1;
    r.image = MakeBenchImage("photo", gSide);
    r.outDir = (std::filesystem::temp_directory_path() / ("edgeseg_bench_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(r.outDir);
    r.textFile = r.outDir + "/photo.txt";
    r.text = BenchImageText(r.image, gSide);
    WriteWholeFile(r.textFile, {std::as_bytes(std::span(r.text))});

    r.gradient.resize(static_cast<std::size_t>(r.W1) * r.H1);
    ComputeRobertsGradient(r.gradient.data(), r.image.data(), r.W, r.H);
    r.gradientBand.resize(static_cast<std::size_t>(BandRows(r.W1, r.H1)) * r.W1);
    r.cellMask.assign(r.gradient.size(), 0);
    r.pixelMask.assign(r.image.size(), 0);
    r.chain = {.W = r.W,
               .H = r.H,
               .input = r.image.data(),
               .gradientBand = r.gradientBand.data(),
               .cellMask = r.cellMask.data(),
               .pixelMask = r.pixelMask.data(),
               .stats = {},
               .threshold = 0};
    for (const AnalysisStep& step : kAnalysisSteps) {
      r.before.push_back(r.chain);
      const Mask* written = r.MaskOf(step);
      r.maskBefore.push_back(written != nullptr ? *written : Mask{});
      step.run(r.chain);
    }
    return r;
  }
};

void CountPixels(benchmark::State& state, std::int64_t pixels) {
  state.SetItemsProcessed(state.iterations() * pixels);
}

void CountBytes(benchmark::State& state, std::int64_t bytes) {
  state.SetBytesProcessed(state.iterations() * bytes);
}

// Times one step of the chain. A step that works in place gets a fresh copy
// of its mask as it was before the step, outside the timing.
void BM_AnalysisStep(benchmark::State& state, std::size_t index) {
  Run& r = Run::Get();
  const AnalysisStep& step = kAnalysisSteps[index];
  Mask* const mask = r.MaskOf(step);
  AnalysisBuffers buffers = r.before[index];
  for (auto _ : state) {
    if (mask != nullptr) {
      state.PauseTiming();
      *mask = r.maskBefore[index];
      state.ResumeTiming();
    }
    step.run(buffers);
    benchmark::ClobberMemory();
  }
  const bool cells = step.output != AnalysisOutput::kPixelMask;
  CountPixels(state, cells ? std::int64_t{r.W1} * r.H1 : std::int64_t{r.W} * r.H);
}

// Restores the buffers to the end of the chain after the step benchmarks.
const Run& Finished() {
  Run& r = Run::Get();
  for (std::size_t i = 0; i < kAnalysisSteps.size(); ++i) {
    if (Mask* mask = r.MaskOf(kAnalysisSteps[i])) *mask = r.maskBefore[i];
    kAnalysisSteps[i].run(r.chain);
  }
  return r;
}

std::int64_t Pixels(const Run& r) { return std::int64_t{r.W} * r.H; }
std::int64_t Cells(const Run& r) { return std::int64_t{r.W1} * r.H1; }

// Runs a step that writes a buffer of its own each iteration.
template <class Step>
void Repeat(benchmark::State& state, std::int64_t pixels, Step step) {
  for (auto _ : state) {
    step();
    benchmark::ClobberMemory();
  }
  CountPixels(state, pixels);
}

// The whole gradient in one call; the chain computes it a band at a time,
// in its statistics and binarisation steps, and once more for its picture.
void BM_ComputeRobertsGradient(benchmark::State& state) {
  Run& r = Run::Get();
  Repeat(state, Cells(r), [&] { ComputeRobertsGradient(r.gradient.data(), r.image.data(), r.W, r.H); });
}

void BM_ScanTextImageSize(benchmark::State& state) {
  const Run& r = Run::Get();
  for (auto _ : state) {
    std::int32_t w = 0, h = 0;
    benchmark::DoNotOptimize(ScanTextImageSize(std::span(r.text), w, h));
  }
  CountBytes(state, static_cast<std::int64_t>(r.text.size()));
}

void BM_ReadTextImage(benchmark::State& state) {
  const Run& r = Run::Get();
  std::vector<std::uint16_t> image(r.image.size());
  for (auto _ : state) benchmark::DoNotOptimize(ReadTextImage(std::span(r.text), image.data(), r.W, r.H));
  CountBytes(state, static_cast<std::int64_t>(r.text.size()));
}

// A step with one form forced, for each form the processor
// runs, so that the forms can be weighed against each other.
template <void (*Step)(benchmark::State&)>
void BM_InForm(benchmark::State& state, Form form) {
  const Form chosen = ChosenForm();
  ForceFormForTesting(form);
  Step(state);
  ForceFormForTesting(chosen);
}

void BM_WriteTextImage(benchmark::State& state) {
  const Run& r = Finished();
  const std::string name = r.outDir + "/labels";
  for (auto _ : state) WriteTextImage(name, r.pixelMask.data(), r.W, r.H);
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(name)));
}

// A bitmap of the run's size, as the driver keeps it across the renderers.
TBitmap SizedBitmap(std::int32_t W, std::int32_t H) {
  TBitmap bitmap;
  bitmap.SetBitmapWidth(W);
  bitmap.SetBitmapHeight(H);
  return bitmap;
}

void BM_RenderWindowed(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  Repeat(state, Pixels(r), [&] { RenderWindowed(r.image.data(), bitmap, r.W, r.H, kInputLow, kInputHigh); });
}

void BM_RenderLabels(benchmark::State& state) {
  const Run& r = Finished();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  Repeat(state, Pixels(r), [&] { RenderLabels(r.pixelMask.data(), bitmap, r.W, r.H); });
}

void BM_RenderWindowedFloat(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W1, r.H1);
  Repeat(state, Cells(r), [&] {
    RenderWindowedFloat(r.gradient.data(), bitmap, r.W1, r.H1, r.chain.stats.minValue, r.chain.stats.maxValue);
  });
}

// The gradient picture as a run draws it: a band of rows at a time, from
// the input, through the window of the run's statistics.
void BM_DrawGradientPicture(benchmark::State& state) {
  Run& r = Run::Get();
  const PictureSources from{.W = r.W, .H = r.H, .input = r.image.data(), .labels = nullptr,
                            .gradientBand = r.gradientBand.data(), .stats = &r.chain.stats};
  TBitmap band;
  Repeat(state, Cells(r), [&] {
    const PictureBands bands(Picture::Gradient, from);
    const std::int32_t bandRows = BandRows(bands.Width(), bands.Height());
    for (std::int32_t first = 0; first < bands.Height(); first += bandRows) {
      bands.Draw(first, std::min(bandRows, bands.Height() - first), band);
    }
  });
}

void BM_SaveBmpFile(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  RenderWindowed(r.image.data(), bitmap, r.W, r.H, kInputLow, kInputHigh);
  const std::string name = r.outDir + "/in.bmp";
  for (auto _ : state) bitmap.SaveBmpFile(name);
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(name)));
}

// In the order of a run: the reading, each step of the chain, the outputs.
// A step with forms also once in each form the processor runs, as NAME/FORM.
template <void (*Step)(benchmark::State&)>
void RegisterWithForms(const std::string& name) {
  benchmark::RegisterBenchmark(name.c_str(), Step)->Unit(benchmark::kMillisecond);
  for (const Form form : BuiltForms()) {
    if (!ProcessorRuns(form)) continue;
    benchmark::RegisterBenchmark((name + "/" + FormName(form)).c_str(), BM_InForm<Step>, form)
        ->Unit(benchmark::kMillisecond);
  }
}

void RegisterBenchmarks() {
  RegisterWithForms<BM_ScanTextImageSize>("BM_ScanTextImageSize");
  RegisterWithForms<BM_ReadTextImage>("BM_ReadTextImage");
  benchmark::RegisterBenchmark("BM_ComputeRobertsGradient", BM_ComputeRobertsGradient)->Unit(benchmark::kMillisecond);
  for (std::size_t i = 0; i < kAnalysisSteps.size(); ++i) {
    benchmark::RegisterBenchmark((std::string("BM_") + kAnalysisSteps[i].name).c_str(), BM_AnalysisStep, i)
        ->Unit(benchmark::kMillisecond);
  }
  RegisterWithForms<BM_WriteTextImage>("BM_WriteTextImage");
  benchmark::RegisterBenchmark("BM_RenderWindowed", BM_RenderWindowed)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_RenderLabels", BM_RenderLabels)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_RenderWindowedFloat", BM_RenderWindowedFloat)->Unit(benchmark::kMillisecond);
  RegisterWithForms<BM_DrawGradientPicture>("BM_DrawGradientPicture");
  benchmark::RegisterBenchmark("BM_SaveBmpFile", BM_SaveBmpFile)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  // Our own flag first; Google Benchmark rejects flags it does not know.
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--side=", 7) == 0) {
      gSide = std::atoi(argv[i] + 7);
    } else {
      rest.push_back(argv[i]);
    }
  }
  if (gSide < 64 || gSide > 16384) {
    std::fprintf(stderr, "--side must be 64..16384\n");
    return 2;
  }
  RegisterBenchmarks();
  benchmark::AddCustomContext("form", FormName(ChosenForm()));
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Run::Get().outDir);
  return 0;
}
