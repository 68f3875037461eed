// Fuzzes the analysis chain that every run takes, gradient to labels, step
// by step, on the buffers a run obtains, on small images made from the
// input: byte 0 gives the width and byte 1 the height (1 to 64 each), byte 2
// chooses the sample form (even: one byte, times 16, as 12-bit images are;
// odd: two bytes, little-endian), and the samples follow row by row (0 past
// the input's end). Checks what must hold for every image.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "driver/chain.h"
#include "functionsfloat/functionsfloat.h"
#include "fuzz_support.h"

using namespace edgeseg;

namespace {

bool IsMask(const std::uint16_t* mask, std::size_t n) {
  return std::all_of(mask, mask + n, [](std::uint16_t v) { return v <= 1; });
}

bool HasZeroFrame(const std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  for (std::int32_t y = 0; y < H; ++y) {
    for (std::int32_t x = 0; x < W; ++x) {
      const bool frame = x == 0 || y == 0 || x == W - 1 || y == H - 1;
      if (frame && mask[static_cast<std::size_t>(y) * W + x] != 0) return false;
    }
  }
  return true;
}

// Walks the 8-connected regions of the mask in scan order of their first
// pixels: each of more than 10 pixels must carry the next label, on all of
// its pixels and nowhere else, and every other pixel 0. So labels are 0 or
// 1..n without gaps, numbered in scan order, and every labelled region is
// 8-connected, whole and larger than 10 pixels.
void CheckLabels(const std::vector<std::uint16_t>& mask, const std::vector<std::uint16_t>& labels,
                 std::int32_t W, std::int32_t H) {
  std::vector<char> seen(mask.size(), 0);
  std::vector<std::size_t> region;
  std::uint32_t next = 1;
  for (std::size_t k = 0; k < mask.size(); ++k) {
    if (mask[k] == 0) FUZZ_CHECK(labels[k] == 0);
    if (mask[k] == 0 || seen[k]) continue;
    region.assign(1, k);
    seen[k] = 1;
    for (std::size_t i = 0; i < region.size(); ++i) {
      const std::int32_t x = static_cast<std::int32_t>(region[i] % W);
      const std::int32_t y = static_cast<std::int32_t>(region[i] / W);
      for (std::int32_t ny = std::max(y - 1, 0); ny <= std::min(y + 1, H - 1); ++ny) {
        for (std::int32_t nx = std::max(x - 1, 0); nx <= std::min(x + 1, W - 1); ++nx) {
          const std::size_t j = static_cast<std::size_t>(ny) * W + nx;
          if (mask[j] != 0 && !seen[j]) {
            seen[j] = 1;
            region.push_back(j);
          }
        }
      }
    }
    const std::uint32_t label = region.size() > kMinRegionSize ? next++ : 0;
    for (const std::size_t j : region) FUZZ_CHECK(labels[j] == label);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::int32_t W = in.SmallInRange(1, 64);
  const std::int32_t H = in.SmallInRange(1, 64);
  const bool wide = in.Byte() % 2 == 1;
  const std::int32_t W1 = W - 1;
  const std::int32_t H1 = H - 1;
  const std::size_t n = static_cast<std::size_t>(W) * H;
  const std::size_t n1 = static_cast<std::size_t>(W1) * H1;

  std::vector<std::uint16_t> image(n);
  for (auto& sample : image) sample = wide ? in.U16() : static_cast<std::uint16_t>(in.Byte() * 16);
  // The whole gradient, against which the chain's bands are checked.
  std::vector<float> gradient(n1);
  ComputeRobertsGradient(gradient.data(), image.data(), W, H);
  std::vector<std::uint16_t> pixelMask(n);
  std::vector<std::uint16_t> eroded;  // the mask that the labelling is given

  AnalysisScratch scratch;
  AnalysisBuffers chain = PrepareAnalysis(image.data(), W, H, pixelMask.data(), scratch);
  const auto check = [&](const AnalysisStep& step, AnalysisBuffers& b) {
    switch (step.id) {
      case AnalysisStepId::kStatistics: {
        FUZZ_CHECK(std::all_of(gradient.begin(), gradient.end(), [](float g) { return g >= 0 && std::isfinite(g); }));
        FUZZ_CHECK(W1 >= 3 && H1 >= 3);
        // Taken band by band, the statistics are those of the whole
        // gradient, bit for bit.
        const GradientStats whole = ComputeGradientStats(gradient.data(), W1, H1);
        FUZZ_CHECK(std::memcmp(&whole, &b.stats, sizeof whole) == 0);
        FUZZ_CHECK(b.stats.sampleCount == (W1 - 2) * (H1 - 2));
        FUZZ_CHECK(std::accumulate(b.stats.histogram.begin(), b.stats.histogram.end(), 0) == b.stats.sampleCount);
        FUZZ_CHECK(b.stats.minValue <= b.stats.maxValue);
        break;
      }
      case AnalysisStepId::kThreshold:
        FUZZ_CHECK(b.threshold >= 0 && b.threshold <= 4095 && b.threshold == std::floor(b.threshold));
        break;
      case AnalysisStepId::kBinarize: {
        std::vector<std::uint16_t> whole(n1);
        BinarizeGradient(whole.data(), gradient.data(), W1, H1, b.threshold);
        FUZZ_CHECK(std::equal(whole.begin(), whole.end(), b.cellMask));
        FUZZ_CHECK(IsMask(b.cellMask, n1));
        break;
      }
      case AnalysisStepId::kClearCellKey:
        FUZZ_CHECK(IsMask(b.cellMask, n1));
        break;
      case AnalysisStepId::kClearPixelKey:
        FUZZ_CHECK(IsMask(b.pixelMask, n));
        FUZZ_CHECK(HasZeroFrame(b.pixelMask, W, H));
        eroded = pixelMask;
        break;
      case AnalysisStepId::kLabel:
        CheckLabels(eroded, pixelMask, W, H);
        break;
      default:
        break;
    }
  };
  try {
    RunAnalysis(chain, {}, check);
  } catch (const std::runtime_error&) {
    FUZZ_CHECK(W1 < 3 || H1 < 3);  // no inner samples: the run ends at the statistics
  }
  return 0;
}
