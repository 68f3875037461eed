// Micro-benchmarks of the parts of a run, on the photo-like benchmark
// picture: the reading, each step of the analysis chain, the label text, the
// renderers and the pictures, and the library's Segment and DrawPicture;
// those with forms also in each form the processor runs. Each step starts
// from the buffers the steps before it produced, so it sees the data it sees
// in a real run.
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
#include "common/rowblocks.h"
#include "displib/displib.h"
#include "driver/chain.h"
#include "driver/pictures.h"
#include "edgeseg/edgeseg.h"
#include "functionsfloat/functionsfloat.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

using namespace edgeseg;

namespace {

int gSide = 2048;

using Mask = std::vector<std::uint16_t>;

// One tool run's data, as the benchmarks start from it: the input's text
// and samples, the analysis chain's buffers as a run obtains them, and for
// each step the record and the mask it changes as they were before the
// step, so that a step can be timed alone from the data it sees in a run.
struct Fixture {
  std::int32_t W = 0, H = 0, W1 = 0, H1 = 0;
  std::string text;  // the file's bytes, as the tool holds them after its one read
  std::string outDir;
  std::vector<std::uint16_t> image;
  std::vector<float> gradient;  // whole, for the gradient picture alone
  AnalysisScratch scratch;
  Mask pixelMask;
  AnalysisBuffers chain;
  std::vector<AnalysisBuffers> before;  // the record before each step
  std::vector<std::uint16_t*> changed;  // the mask each step changes, or nullptr
  std::vector<Mask> maskBefore;         // that mask as it was before the step

  static Fixture& Get() {
    static Fixture fixture = Make();
    return fixture;
  }

  // Puts back the mask that step i changes as it was before the step.
  void RestoreBefore(std::size_t i) {
    if (changed[i] != nullptr) std::copy(maskBefore[i].begin(), maskBefore[i].end(), changed[i]);
  }

 private:
  static Fixture Make() {
    Fixture r;
    r.W = r.H = gSide;
    r.W1 = r.H1 = gSide - 1;
    r.image = MakeBenchImage("photo", gSide);
    r.outDir = (std::filesystem::temp_directory_path() / ("edgeseg_bench_" + std::to_string(::getpid()))).string();
    std::filesystem::create_directories(r.outDir);
    r.text = BenchImageText(r.image, gSide);

    r.gradient.resize(static_cast<std::size_t>(r.W1) * r.H1);
    ComputeRobertsGradient(r.gradient.data(), r.image.data(), r.W, r.H);
    r.pixelMask.assign(r.image.size(), 0);
    r.chain = PrepareAnalysis(r.image.data(), r.W, r.H, r.pixelMask.data(), r.scratch);
    const std::span<std::uint16_t> cells(r.chain.cellMask, r.gradient.size());
    const std::span<std::uint16_t> pixels(r.pixelMask);
    for (const AnalysisStep& step : kAnalysisSteps) {
      r.before.push_back(r.chain);
      Mask cellsBefore(cells.begin(), cells.end());
      Mask pixelsBefore(pixels.begin(), pixels.end());
      step.run(r.chain);
      if (!std::equal(cells.begin(), cells.end(), cellsBefore.begin())) {
        r.changed.push_back(cells.data());
        r.maskBefore.push_back(std::move(cellsBefore));
      } else if (!std::equal(pixels.begin(), pixels.end(), pixelsBefore.begin())) {
        r.changed.push_back(pixels.data());
        r.maskBefore.push_back(std::move(pixelsBefore));
      } else {
        r.changed.push_back(nullptr);
        r.maskBefore.emplace_back();
      }
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

// The chain works on the cell grid until CellMaskToPixelMask carries the
// mask to the pixels, and on the pixel grid from there on.
bool OnPixelGrid(const AnalysisStep& step) { return step.id >= AnalysisStepId::kCellsToPixels; }

// Times one step of the chain. A step that changes a mask in place gets it
// back as it was before the step, outside the timing.
void BM_AnalysisStep(benchmark::State& state, std::size_t index) {
  Fixture& r = Fixture::Get();
  const AnalysisStep& step = kAnalysisSteps[index];
  AnalysisBuffers buffers = r.before[index];
  for (auto _ : state) {
    if (r.changed[index] != nullptr) {
      state.PauseTiming();
      r.RestoreBefore(index);
      state.ResumeTiming();
    }
    step.run(buffers);
    benchmark::ClobberMemory();
  }
  CountPixels(state, OnPixelGrid(step) ? std::int64_t{r.W} * r.H : std::int64_t{r.W1} * r.H1);
}

// Restores the buffers to the end of the chain after the step benchmarks.
const Fixture& Finished() {
  Fixture& r = Fixture::Get();
  for (std::size_t i = 0; i < kAnalysisSteps.size(); ++i) {
    r.RestoreBefore(i);
    kAnalysisSteps[i].run(r.chain);
  }
  return r;
}

std::int64_t Pixels(const Fixture& r) { return std::int64_t{r.W} * r.H; }
std::int64_t Cells(const Fixture& r) { return std::int64_t{r.W1} * r.H1; }

// Runs a step that writes a buffer of its own each iteration.
template <class Step>
void Repeat(benchmark::State& state, std::int64_t pixels, Step step) {
  for (auto _ : state) {
    step();
    benchmark::ClobberMemory();
  }
  CountPixels(state, pixels);
}

// The whole gradient in one call; the chain computes it a band at a time in
// its statistics step, and the picture draws from the sums of squares.
void BM_ComputeRobertsGradient(benchmark::State& state) {
  Fixture& r = Fixture::Get();
  Repeat(state, Cells(r), [&] { ComputeRobertsGradient(r.gradient.data(), r.image.data(), r.W, r.H); });
}

void BM_ScanTextImageSize(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  for (auto _ : state) {
    std::int32_t w = 0, h = 0;
    benchmark::DoNotOptimize(ScanTextImageSize(std::span(r.text), w, h));
  }
  CountBytes(state, static_cast<std::int64_t>(r.text.size()));
}

void BM_ReadTextImage(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  std::vector<std::uint16_t> image(r.image.size());
  for (auto _ : state) benchmark::DoNotOptimize(ReadTextImage(std::span(r.text), image.data(), r.W, r.H));
  CountBytes(state, static_cast<std::int64_t>(r.text.size()));
}

// A step with one form forced, for each form the processor runs, so that
// the forms can be weighed against each other.
template <void (*Step)(benchmark::State&)>
void BM_InForm(benchmark::State& state, Form form) {
  const Form chosen = ChosenForm();
  ForceFormForTesting(form);
  Step(state);
  ForceFormForTesting(chosen);
}

void BM_WriteTextImage(benchmark::State& state) {
  const Fixture& r = Finished();
  const std::string name = r.outDir + "/labels";
  for (auto _ : state) WriteTextImage(name, r.pixelMask.data(), r.W, r.H);
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(name)));
}

// A bitmap of a whole picture, sized before the timing, so that a renderer
// is timed drawing and not sizing; a run draws bands into a small one
// instead (BM_DrawGradientPicture, BM_SaveBmpFileInBands).
TBitmap SizedBitmap(std::int32_t W, std::int32_t H) {
  TBitmap bitmap;
  bitmap.SetBitmapWidth(W);
  bitmap.SetBitmapHeight(H);
  return bitmap;
}

void BM_RenderWindowed(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  Repeat(state, Pixels(r), [&] { RenderWindowed(r.image.data(), bitmap, r.W, r.H, kInputLow, kInputHigh); });
}

void BM_RenderLabels(benchmark::State& state) {
  const Fixture& r = Finished();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  Repeat(state, Pixels(r), [&] { RenderLabels(r.pixelMask.data(), bitmap, r.W, r.H); });
}

void BM_RenderWindowedFloat(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  TBitmap bitmap = SizedBitmap(r.W1, r.H1);
  Repeat(state, Cells(r), [&] {
    RenderWindowedFloat(r.gradient.data(), bitmap, r.W1, r.H1, r.chain.stats.minValue, r.chain.stats.maxValue);
  });
}

// The gradient picture as a run draws it: a band of rows at a time, from
// the input, through the window of the run's statistics.
void BM_DrawGradientPicture(benchmark::State& state) {
  Fixture& r = Fixture::Get();
  const PictureSources from{.W = r.W, .H = r.H, .input = r.image.data(), .labels = nullptr,
                            .gradientBand = r.chain.gradientBand, .stats = &r.chain.stats};
  TBitmap band;
  Repeat(state, Cells(r), [&] {
    const PictureBands bands(Picture::Gradient, from);
    ForEachRowBlock(0, static_cast<std::size_t>(bands.Height()),
                    static_cast<std::size_t>(BandRows(bands.Width(), bands.Height())),
                    [&bands, &band](std::size_t first, std::size_t rows) {
                      bands.Draw(static_cast<std::int32_t>(first), static_cast<std::int32_t>(rows), band);
                    });
  });
}

// The input picture as a run writes it: drawn a band at a time into one
// small bitmap, each band written as it is drawn.
void BM_SaveBmpFileInBands(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  const PictureSources from{.W = r.W, .H = r.H, .input = r.image.data(), .labels = nullptr,
                            .gradientBand = nullptr, .stats = nullptr};
  const PictureBands bands(Picture::Input, from);
  const std::string name = r.outDir + "/in.bmp";
  for (auto _ : state) SavePicture(name, bands);
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(name)));
}

// The library's two calls on the same image, as a C++ caller or the Python
// module makes them: the whole segmentation, and the three pictures from
// its result; they run the same forms as the command.
void BM_Segment(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  std::vector<std::uint16_t> labels(r.image.size());
  for (auto _ : state) benchmark::DoNotOptimize(Segment(r.image.data(), r.W, r.H, r.W, labels.data()));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(r.image.size()));
}

void BM_DrawPictures(benchmark::State& state) {
  const Fixture& r = Fixture::Get();
  std::vector<std::uint16_t> labels(r.image.size());
  const Result result = Segment(r.image.data(), r.W, r.H, r.W, labels.data());
  std::vector<std::uint8_t> rgb(3 * r.image.size());
  for (auto _ : state) {
    for (const Picture which : {Picture::Input, Picture::Regions, Picture::Gradient}) {
      DrawPicture(which, r.image.data(), r.W, r.H, r.W, labels.data(), result, rgb.data());
    }
  }
}

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

// In the order of a run: the reading, each step of the chain, the outputs;
// then the library's calls.
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
  RegisterWithForms<BM_RenderLabels>("BM_RenderLabels");
  benchmark::RegisterBenchmark("BM_RenderWindowedFloat", BM_RenderWindowedFloat)->Unit(benchmark::kMillisecond);
  RegisterWithForms<BM_DrawGradientPicture>("BM_DrawGradientPicture");
  benchmark::RegisterBenchmark("BM_SaveBmpFileInBands", BM_SaveBmpFileInBands)->Unit(benchmark::kMillisecond);
  RegisterWithForms<BM_Segment>("BM_Segment");
  RegisterWithForms<BM_DrawPictures>("BM_DrawPictures");
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
  std::filesystem::remove_all(Fixture::Get().outDir);
  return 0;
}
