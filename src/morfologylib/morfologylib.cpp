#include "morfologylib/morfologylib.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "functions/functions.h"

namespace {

// The first zero sample in [first, last), or last, looking at four samples
// at a time: a word holds a zero sample exactly when subtracting 1 from
// every sample borrows into a sample's top bit that was clear.
std::uint16_t* FindZero(std::uint16_t* first, std::uint16_t* last) {
  for (std::uint64_t four = 0; last - first >= 4; first += 4) {
    std::memcpy(&four, first, sizeof four);
    if (((four - 0x0001000100010001) & ~four & 0x8000800080008000) != 0) break;
  }
  while (first != last && *first != 0) ++first;
  return first;
}

// 1 when the samples at x - 1, x and x + 1 are all non-zero, else 0. & rather
// than &&: no branch per sample, so the erosion loop vectorises.
int AllNonZero(const std::uint16_t* row, std::size_t x) {
  return (row[x - 1] != 0) & (row[x] != 0) & (row[x + 1] != 0);
}

}  // namespace

void FloodFillFromBorder(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  if (key == 0 || W < 3 || H < 3) return;
  const std::size_t width = static_cast<std::size_t>(W);

  // Span filling: a pending span asks for the inner zeros of one row within
  // a column range to be checked. Each zero found grows to its whole run of
  // zeros, which takes the key at once and asks for the rows above and below
  // along its length plus one column either side (the diagonal neighbours).
  // A run takes the key only once, so each row is checked along every run
  // filled in the rows next to it: linear work, sequential access, and only
  // the spans still pending are held.
  struct Span {
    std::int32_t y, first, last;
  };
  std::vector<Span> pending;
  const auto request = [&](std::int32_t y, std::int32_t first, std::int32_t last) {
    first = std::max(first, 1);
    last = std::min(last, W - 2);
    if (y >= 1 && y <= H - 2 && first <= last) pending.push_back({y, first, last});
  };
  // Every run of key samples seeds the rows it touches, itself included.
  for (std::int32_t y = 0; y < H; ++y) {
    const std::uint16_t* const row = mask + static_cast<std::size_t>(y) * width;
    const std::uint16_t* const end = row + width;
    for (const std::uint16_t* p = std::find(row, end, key); p != end; p = std::find(p, end, key)) {
      const auto first = static_cast<std::int32_t>(p - row);
      p = std::find_if(p, end, [key](std::uint16_t v) { return v != key; });
      const auto last = static_cast<std::int32_t>(p - row) - 1;
      request(y - 1, first - 1, last + 1);
      request(y, first - 1, last + 1);
      request(y + 1, first - 1, last + 1);
    }
  }
  while (!pending.empty()) {
    const Span span = pending.back();
    pending.pop_back();
    std::uint16_t* const row = mask + static_cast<std::size_t>(span.y) * width;
    std::uint16_t* const end = row + span.last + 1;
    for (std::uint16_t* p = FindZero(row + span.first, end); p != end; p = FindZero(p, end)) {
      std::uint16_t* first = p;
      while (first - row > 1 && first[-1] == 0) --first;
      std::uint16_t* const last = FindNonZero(p, row + W - 1) - 1;
      std::fill(first, last + 1, key);
      const auto x0 = static_cast<std::int32_t>(first - row);
      const auto x1 = static_cast<std::int32_t>(last - row);
      request(span.y - 1, x0 - 1, x1 + 1);
      request(span.y + 1, x0 - 1, x1 + 1);
      if (last + 1 >= end) break;
      p = last + 1;  // not 0, or the frame
    }
  }
}

void FillEnclosedZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  const std::size_t width = static_cast<std::size_t>(std::max(W, 0));
  for (std::int32_t y = 1; y + 1 < H; ++y) {
    std::uint16_t* row = mask + static_cast<std::size_t>(y) * width;
    for (std::size_t x = 1; x + 1 < width; ++x) row[x] = row[x] == 0 ? 1 : row[x];
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
      const int keep = AllNonZero(above.data(), x) & AllNonZero(current.data(), x) & AllNonZero(below, x);
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
