// Micro-benchmarks, one per step of a run, on the photo-like benchmark
// picture. Each step starts from the buffers the steps before it produced, so
// it sees the data it sees in a real run.
//
//   edgeseg_bench [--side=N] [Google Benchmark flags]   (default side 2048)

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_images.h"
#include "bitmap/bitmap.h"
#include "displib/displib.h"
#include "driver/driver.h"
#include "fileio/fileio.h"
#include "functions/functions.h"
#include "functionsfloat/functionsfloat.h"
#include "morfologylib/morfologylib.h"
#include "textimagelib/textimagelib.h"
#include "textroilib/textroilib.h"

namespace {

constexpr std::uint16_t kKey = 65535;
int gSide = 2048;

using Mask = std::vector<std::uint16_t>;

// Every intermediate buffer of one run, in the order the run makes them.
struct Run {
  std::int32_t W = 0, H = 0, W1 = 0, H1 = 0;
  std::string textFile;
  std::string outDir;
  std::vector<std::uint16_t> image;
  std::vector<float> gradient;
  GradientStats stats;
  float threshold = 0;
  Mask binary;       // BinarizeGradient
  Mask bordered;     // SetBorderZeros on the cells
  Mask flooded;      // FloodFillFromBorder
  Mask filled;       // FillEnclosedZeros
  Mask cells;        // ClearValue: the closed cell mask
  Mask pixels;       // CellMaskToPixelMask
  Mask pixelsFramed; // SetBorderZeros on the pixels
  Mask eroded;       // Erode3x3
  Mask labels;       // ClearValue then LabelRegions

  static const Run& Get() {
    static const Run run = Make();
    return run;
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
    const std::string text = BenchImageText(r.image, gSide);
    WriteWholeFile(r.textFile, {std::as_bytes(std::span(text))});

    const std::size_t n1 = static_cast<std::size_t>(r.W1) * r.H1;
    r.gradient.resize(n1);
    ComputeRobertsGradient(r.gradient.data(), r.image.data(), r.W, r.H);
    r.stats = ComputeGradientStats(r.gradient.data(), r.W1, r.H1);
    r.threshold = SelectGradientThreshold(r.stats);
    r.binary.resize(n1);
    BinarizeGradient(r.binary.data(), r.gradient.data(), r.W1, r.H1, r.threshold);
    r.bordered = r.binary;
    SetBorderZeros(r.bordered.data(), r.W1, r.H1, kKey);
    r.flooded = r.bordered;
    FloodFillFromBorder(r.flooded.data(), r.W1, r.H1, kKey);
    r.filled = r.flooded;
    FillEnclosedZeros(r.filled.data(), r.W1, r.H1);
    r.cells = r.filled;
    ClearValue(r.cells.data(), r.W1, r.H1, kKey);
    r.pixels.resize(r.image.size());
    CellMaskToPixelMask(r.pixels.data(), r.cells.data(), r.W, r.H);
    r.pixelsFramed = r.pixels;
    SetBorderZeros(r.pixelsFramed.data(), r.W, r.H, kKey);
    r.eroded = r.pixelsFramed;
    Erode3x3(r.eroded.data(), r.W, r.H);
    r.labels = r.eroded;
    ClearValue(r.labels.data(), r.W, r.H, kKey);
    LabelRegions(r.labels.data(), r.W, r.H, 10);
    return r;
  }
};

void CountPixels(benchmark::State& state, std::int64_t pixels) {
  state.SetItemsProcessed(state.iterations() * pixels);
}

void CountBytes(benchmark::State& state, std::int64_t bytes) {
  state.SetBytesProcessed(state.iterations() * bytes);
}

// Runs an in-place step on a fresh copy of its input each iteration; only
// the step is timed.
template <class Step>
void InPlace(benchmark::State& state, const Mask& input, std::int64_t pixels, Step step) {
  Mask work;
  for (auto _ : state) {
    state.PauseTiming();
    work = input;
    state.ResumeTiming();
    step(work.data());
    benchmark::ClobberMemory();
  }
  CountPixels(state, pixels);
}

// Runs a step that writes a buffer of its own each iteration.
template <class Step>
void Repeat(benchmark::State& state, std::int64_t pixels, Step step) {
  for (auto _ : state) {
    step();
    benchmark::ClobberMemory();
  }
  CountPixels(state, pixels);
}

std::int64_t Pixels(const Run& r) { return std::int64_t{r.W} * r.H; }
std::int64_t Cells(const Run& r) { return std::int64_t{r.W1} * r.H1; }

void BM_ScanTextImageSize(benchmark::State& state) {
  const Run& r = Run::Get();
  for (auto _ : state) {
    std::int32_t w = 0, h = 0;
    benchmark::DoNotOptimize(ScanTextImageSize(r.textFile, w, h));
  }
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(r.textFile)));
}

void BM_ReadTextImage(benchmark::State& state) {
  const Run& r = Run::Get();
  std::vector<std::uint16_t> image(r.image.size());
  for (auto _ : state) benchmark::DoNotOptimize(ReadTextImage(r.textFile, image.data(), r.W, r.H));
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(r.textFile)));
}

void BM_ComputeRobertsGradient(benchmark::State& state) {
  const Run& r = Run::Get();
  std::vector<float> gradient(r.gradient.size());
  Repeat(state, Pixels(r), [&] { ComputeRobertsGradient(gradient.data(), r.image.data(), r.W, r.H); });
}

void BM_ComputeGradientStats(benchmark::State& state) {
  const Run& r = Run::Get();
  for (auto _ : state) benchmark::DoNotOptimize(ComputeGradientStats(r.gradient.data(), r.W1, r.H1));
  CountPixels(state, Cells(r));
}

void BM_BinarizeGradient(benchmark::State& state) {
  const Run& r = Run::Get();
  Mask mask(r.binary.size());
  Repeat(state, Cells(r), [&] { BinarizeGradient(mask.data(), r.gradient.data(), r.W1, r.H1, r.threshold); });
}

void BM_SetBorderZeros(benchmark::State& state) {
  const Run& r = Run::Get();
  InPlace(state, r.binary, Cells(r), [&](std::uint16_t* m) { SetBorderZeros(m, r.W1, r.H1, kKey); });
}

void BM_FloodFillFromBorder(benchmark::State& state) {
  const Run& r = Run::Get();
  InPlace(state, r.bordered, Cells(r), [&](std::uint16_t* m) { FloodFillFromBorder(m, r.W1, r.H1, kKey); });
}

void BM_FillEnclosedZeros(benchmark::State& state) {
  const Run& r = Run::Get();
  InPlace(state, r.flooded, Cells(r), [&](std::uint16_t* m) { FillEnclosedZeros(m, r.W1, r.H1); });
}

void BM_ClearValue(benchmark::State& state) {
  const Run& r = Run::Get();
  InPlace(state, r.filled, Cells(r), [&](std::uint16_t* m) { ClearValue(m, r.W1, r.H1, kKey); });
}

void BM_CellMaskToPixelMask(benchmark::State& state) {
  const Run& r = Run::Get();
  Mask pixels(r.pixels.size());
  Repeat(state, Pixels(r), [&] { CellMaskToPixelMask(pixels.data(), r.cells.data(), r.W, r.H); });
}

void BM_Erode3x3(benchmark::State& state) {
  const Run& r = Run::Get();
  InPlace(state, r.pixelsFramed, Pixels(r), [&](std::uint16_t* m) { Erode3x3(m, r.W, r.H); });
}

void BM_LabelRegions(benchmark::State& state) {
  const Run& r = Run::Get();
  Mask cleared = r.eroded;
  ClearValue(cleared.data(), r.W, r.H, kKey);
  InPlace(state, cleared, Pixels(r), [&](std::uint16_t* m) { LabelRegions(m, r.W, r.H, 10); });
}

void BM_WriteTextImage(benchmark::State& state) {
  const Run& r = Run::Get();
  const std::string name = r.outDir + "/labels";
  for (auto _ : state) WriteTextImage(name, r.labels.data(), r.W, r.H);
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
  Repeat(state, Pixels(r), [&] { RenderWindowed(r.image.data(), bitmap, r.W, r.H, 0, 4095); });
}

void BM_RenderLabels(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  Repeat(state, Pixels(r), [&] { RenderLabels(r.labels.data(), bitmap, r.W, r.H); });
}

void BM_RenderWindowedFloat(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W1, r.H1);
  Repeat(state, Cells(r), [&] {
    RenderWindowedFloat(r.gradient.data(), bitmap, r.W1, r.H1, r.stats.minValue, r.stats.maxValue);
  });
}

void BM_SaveBmpFile(benchmark::State& state) {
  const Run& r = Run::Get();
  TBitmap bitmap = SizedBitmap(r.W, r.H);
  RenderWindowed(r.image.data(), bitmap, r.W, r.H, 0, 4095);
  const std::string name = r.outDir + "/in.bmp";
  for (auto _ : state) bitmap.SaveBmpFile(name);
  CountBytes(state, static_cast<std::int64_t>(std::filesystem::file_size(name)));
}

BENCHMARK(BM_ScanTextImageSize)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTextImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeRobertsGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeGradientStats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BinarizeGradient)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetBorderZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FloodFillFromBorder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillEnclosedZeros)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ClearValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CellMaskToPixelMask)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Erode3x3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LabelRegions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteTextImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderWindowed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderLabels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderWindowedFloat)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveBmpFile)->Unit(benchmark::kMillisecond);

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
  int restCount = static_cast<int>(rest.size());
  benchmark::Initialize(&restCount, rest.data());
  if (benchmark::ReportUnrecognizedArguments(restCount, rest.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove_all(Run::Get().outDir);
  return 0;
}
