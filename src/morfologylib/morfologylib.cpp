#include "morfologylib/morfologylib.h"

#include <algorithm>
#include <vector>

namespace {

bool AllNonZero(const std::uint16_t* row, std::size_t x) {
  return row[x - 1] != 0 && row[x] != 0 && row[x + 1] != 0;
}

}  // namespace

void FloodFillFromBorder(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  if (key == 0 || W < 3 || H < 3) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t height = static_cast<std::size_t>(H);

  // Breadth-first from every sample holding the key, one wave of newly
  // reached samples at a time: a sample joins a wave only when it turns from
  // 0 to the key, so each is handled once, and only the current wave and the
  // next are held, not the whole region.
  std::vector<std::size_t> wave;
  std::vector<std::size_t> nextWave;
  for (std::size_t k = 0; k < width * height; ++k) {
    if (mask[k] == key) wave.push_back(k);
  }
  while (!wave.empty()) {
    for (const std::size_t k : wave) {
      const std::size_t y = k / width;
      const std::size_t x = k % width;
      const std::size_t yFirst = std::max<std::size_t>(y, 2) - 1;
      const std::size_t yLast = std::min(y + 1, height - 2);
      const std::size_t xFirst = std::max<std::size_t>(x, 2) - 1;
      const std::size_t xLast = std::min(x + 1, width - 2);
      for (std::size_t ny = yFirst; ny <= yLast; ++ny) {
        for (std::size_t nx = xFirst; nx <= xLast; ++nx) {
          const std::size_t j = ny * width + nx;
          if (mask[j] == 0) {
            mask[j] = key;
            nextWave.push_back(j);
          }
        }
      }
    }
    wave.swap(nextWave);
    nextWave.clear();
  }
}

void FillEnclosedZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  const std::size_t width = static_cast<std::size_t>(std::max(W, 0));
  for (std::int32_t y = 1; y + 1 < H; ++y) {
    std::uint16_t* row = mask + static_cast<std::size_t>(y) * width;
    for (std::size_t x = 1; x + 1 < width; ++x) {
      if (row[x] == 0) row[x] = 1;
    }
  }
}

void Erode3x3(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  if (W <= 0 || H <= 0) return;
  const std::size_t width = static_cast<std::size_t>(W);
  // Copies of the rows above and at the current one as they were; the row
  // below is still untouched in the mask when the current row is written.
  std::vector<std::uint16_t> above(mask, mask + width);
  std::vector<std::uint16_t> current(width);
  for (std::int32_t y = 1; y + 1 < H; ++y) {
    std::uint16_t* row = mask + static_cast<std::size_t>(y) * width;
    const std::uint16_t* below = row + width;
    std::copy(row, row + width, current.begin());
    for (std::size_t x = 1; x + 1 < width; ++x) {
      const bool keep = AllNonZero(above.data(), x) && AllNonZero(current.data(), x) &&
                        AllNonZero(below, x);
      row[x] = keep ? current[x] : 0;
    }
    row[0] = 0;
    row[width - 1] = 0;
    std::swap(above, current);
  }
  std::fill(mask, mask + width, std::uint16_t{0});
  std::fill(mask + static_cast<std::size_t>(H - 1) * width, mask + static_cast<std::size_t>(H) * width,
            std::uint16_t{0});
}
