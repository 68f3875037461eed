#include "morfologylib/morfologylib.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "common/frame.h"
#include "common/rowblocks.h"
#include "common/runs.h"
#include "morfologylib/zerobits.h"

namespace edgeseg {

namespace {

// The inner zero samples of a block of whole rows as bits, 64 to a word,
// bit i for sample i of the block, so that runs of any length cost a few
// instructions each to find. Frame samples read as non-zero, so no run
// reaches from one row into the next.
// Bits past the block are clear, in a last word that always has a clear
// bit.
class ZeroBitBlock {
 public:
  ZeroBitBlock(std::size_t width, std::size_t rows)
      : capacity_(width * rows),
        words_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity_ / 64 + 1)),
        inner_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity_ / 64 + 1)) {
    const std::size_t words = capacity_ / 64 + 1;
    std::fill(inner_.get(), inner_.get() + words, ~std::uint64_t{0});
    for (std::size_t rowStart = 0; rowStart < capacity_; rowStart += width) {
      for (const std::size_t i : {rowStart, rowStart + width - 1}) inner_[i / 64] &= ~(std::uint64_t{1} << (i % 64));
    }
    inner_[words - 1] &= (std::uint64_t{1} << (capacity_ % 64)) - 1;
  }

  // Reads count samples, at most the capacity, starting at a row's start.
  void Load(const std::uint16_t* samples, std::size_t count) {
    lastWord_ = count / 64;
    for (std::size_t w = 0; w < lastWord_; ++w) words_[w] = ZeroBits64(samples + 64 * w) & inner_[w];
    std::uint64_t tail = 0;
    for (std::size_t i = 64 * lastWord_; i < count; ++i) tail |= std::uint64_t{samples[i] == 0} << (i % 64);
    words_[lastWord_] = tail & inner_[lastWord_];
  }

  // Calls f(first, end) for each run of zero bits [first, end), in order.
  template <class F>
  void ForEachRun(F f) const {
    std::size_t w = 0;
    std::uint64_t word = words_[0];
    for (;;) {
      while (word == 0) {
        if (w == lastWord_) return;
        word = words_[++w];
      }
      const std::size_t first = 64 * w + static_cast<std::size_t>(std::countr_zero(word));
      // The run ends at the first clear bit after its start; the last word
      // always has one.
      std::uint64_t clear = ~word & (~std::uint64_t{0} << (first % 64));
      while (clear == 0) {
        word = words_[++w];
        clear = ~word;
      }
      const auto endBit = static_cast<unsigned>(std::countr_zero(clear));
      word &= ~std::uint64_t{0} << endBit;
      f(first, 64 * w + endBit);
    }
  }

 private:
  std::size_t capacity_;
  std::size_t lastWord_ = 0;
  std::unique_ptr<std::uint64_t[]> words_;
  std::unique_ptr<std::uint64_t[]> inner_;  // the bits of inner samples
};

// Zero runs join every run they touch.
constexpr auto AnyRun = [](const Run&) { return true; };

// Walks the runs of zero samples among the inner samples of a mask of at
// least 3 x 3, rows top down, each row left to right. A run touches (is
// 8-connected to) the runs of the row above that reach into its columns
// first - 1 to last + 1, and any run it touches joins it. visit(row, run,
// found) sees each run, with what RunRows::Label finds for it: one that
// touches none takes a fresh label, counting from 0. visit returns the
// label to record for the run (one of its component) and may change the
// run's samples, since the walk has already read them. The same mask
// content gives the same runs and fresh labels on every walk.
template <class Visit>
void WalkZeroRuns(std::uint16_t* mask, std::size_t width, std::size_t height, Visit visit) {
  const std::size_t blockRows = BlockRows(width);
  ZeroBitBlock zeros(width, blockRows);
  // Runs are parted by non-zero samples, so a row holds at most
  // (width - 1) / 2 of them, and the rows keep a sentinel besides.
  const std::size_t capacity = (width - 1) / 2 + 1;
  const auto storage = std::make_unique_for_overwrite<Run[]>(2 * capacity);
  RunRows rows(storage.get(), capacity, width, 0);
  ForEachRowBlock(1, height - 1, blockRows, [&](std::size_t y0, std::size_t count) {
    const std::size_t blockStart = y0 * width;
    zeros.Load(mask + blockStart, count * width);
    zeros.ForEachRun([&](std::size_t i, std::size_t end) {
      rows.MoveToSample(blockStart + i);
      const auto first = static_cast<std::uint32_t>(blockStart + i - rows.RowStart());
      Run run{first, static_cast<std::uint32_t>(first + (end - 1 - i)), 0, 0};
      const RunLabel found = rows.Label(run.first, run.last + 1, AnyRun);
      run.label = visit(mask + rows.RowStart(), run, found);
      rows.Record(run);
    });
  });
}

// Whether v occurs in [first, last), four samples at a time.
bool HoldsValue(const std::uint16_t* first, const std::uint16_t* last, std::uint16_t v) {
  const std::uint64_t spread = std::uint64_t{0x0001000100010001} * v;
  for (std::uint64_t four = 0; last - first >= 4; first += 4) {
    std::memcpy(&four, first, sizeof four);
    four ^= spread;
    if (((four - 0x0001000100010001) & ~four & 0x8000800080008000) != 0) return true;
  }
  for (; first != last; ++first) {
    if (*first == v) return true;
  }
  return false;
}

// Whether a sample of value v is an 8-neighbour of the run of inner zeros
// in row (of the given width): the run's ends and the rows above and below,
// one column wider on each side. Rows above and below exist because the
// run's samples are inner ones.
bool TouchesValue(const std::uint16_t* row, std::size_t width, const Run& run, std::uint16_t v) {
  const auto first = static_cast<std::size_t>(run.first) - 1;
  const auto end = static_cast<std::size_t>(run.last) + 2;
  return row[first] == v || row[end - 1] == v || HoldsValue(row - width + first, row - width + end, v) ||
         HoldsValue(row + width + first, row + width + end, v);
}

// Whether any inner sample holds v: one flat count over the inner rows less
// the frame columns' share, so that narrow masks pay no loop per row.
bool InnerSampleHolds(const std::uint16_t* mask, std::size_t width, std::size_t height, std::uint16_t v) {
  std::size_t count = 0;
  const std::uint16_t* const end = mask + (height - 1) * width;
  for (const std::uint16_t* p = mask + width; p != end; ++p) count += *p == v;
  for (const std::uint16_t* row = mask + width; row != end; row += width) {
    count -= static_cast<std::size_t>(row[0] == v) + static_cast<std::size_t>(row[width - 1] == v);
  }
  return count != 0;
}

// Every inner sample that is 0 becomes v. Rows go in blocks, whatever their
// width, each block as one range in a loop that vectorises however short the
// rows are (a select rather than a branch per sample); the frame samples
// that the range passes over are put back as they were.
void ReplaceInnerZeros(std::uint16_t* mask, std::size_t width, std::size_t height, std::uint16_t v) {
  if (width < 3 || height < 3) return;
  const std::size_t blockRows = BlockRows(width);
  // Two a row; a block of rows of 3 or more samples has at most a third of
  // kBlockSamples rows.
  std::uint16_t frame[kBlockSamples];
  // v by value: a store to the mask cannot change it, so the range loop
  // vectorises.
  ForEachRowBlock(1, height - 1, blockRows, [&, v](std::size_t y0, std::size_t rows) {
    std::uint16_t* const block = mask + y0 * width;
    for (std::size_t r = 0; r < rows; ++r) {
      frame[2 * r] = block[r * width];
      frame[2 * r + 1] = block[r * width + width - 1];
    }
    for (std::size_t i = 0; i < rows * width; ++i) block[i] = block[i] == 0 ? v : block[i];
    for (std::size_t r = 0; r < rows; ++r) {
      block[r * width] = frame[2 * r];
      block[r * width + width - 1] = frame[2 * r + 1];
    }
  });
}

// 1 when the samples at x - 1, x and x + 1 are all non-zero, else 0. & rather
// than &&: no branch per sample, so the erosion loop vectorises.
int AllNonZero(const std::uint16_t* row, std::ptrdiff_t x) {
  return (row[x - 1] != 0) & (row[x] != 0) & (row[x + 1] != 0);
}

// out[j] = centre[j] when the three samples around j (j - 1 to j + 1) of
// above, centre and below are all non-zero, else 0, for j in [0, count);
// the three rows are read from index -1 to count. out may be the mask that
// holds below, as long as the ranges do not meet.
void ErodeRange(std::uint16_t* out, const std::uint16_t* above, const std::uint16_t* centre,
                const std::uint16_t* below, std::size_t count) {
  for (std::ptrdiff_t j = 0; j < static_cast<std::ptrdiff_t>(count); ++j) {
    const int keep = AllNonZero(above, j) & AllNonZero(centre, j) & AllNonZero(below, j);
    out[j] = keep ? centre[j] : 0;
  }
}

}  // namespace

void FloodFillFromBorder(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  if (key == 0 || W < 3 || H < 3) return;
  // The inner zeros fall into 8-connected components, and a component takes
  // the key exactly when one of its samples has a key-valued neighbour. Two
  // raster passes over the zero runs find them with union-find: the first
  // joins touching runs and marks the components that touch the key, the
  // second meets the runs again in the same order, so it gives them the same
  // provisional labels without storing them, and fills the marked ones. The
  // work is linear in the samples; beside the mask it keeps two rows of runs
  // and one entry per fresh run (one that touches no run above it). Entry j
  // is j's parent (a union-find whose roots are the smallest labels), and a
  // root's top bit says its component touches the key.
  constexpr std::uint32_t kTouches = std::uint32_t{1} << 31;
  // Each fresh run owns four samples that no other fresh run owns: itself,
  // its right neighbour and the two above them (which it requires to be
  // non-zero, or frame), so this is never outgrown; only the entries in use
  // are touched.
  std::vector<std::uint32_t> parent;
  parent.reserve(static_cast<std::size_t>(W) * static_cast<std::size_t>(H) / 4 + 1);

  // The driver keeps the key on the frame. Without it inside, only a run
  // whose neighbourhood reaches the frame needs to be looked around.
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t height = static_cast<std::size_t>(H);
  const bool innerKeys = InnerSampleHolds(mask, width, height, key);
  const std::uint16_t* const firstInnerRow = mask + width;
  const std::uint16_t* const lastInnerRow = mask + static_cast<std::size_t>(H - 2) * width;
  const auto nextToFrame = [&](const std::uint16_t* row, const Run& run) {
    return run.first == 1 || run.last == width - 2 || row == firstInnerRow || row == lastInnerRow;
  };

  WalkZeroRuns(mask, width, height, [&](const std::uint16_t* row, const Run& run, const RunLabel& found) {
    if (found.joined == nullptr) parent.push_back(found.label);
    std::uint32_t root = FindRoot<kTouches>(parent.data(), found.label);
    ForEachJoined(found.others, run.last, AnyRun, [&](const Run& other) {
      const std::uint32_t otherRoot = FindRoot<kTouches>(parent.data(), other.label);
      if (otherRoot != root) root = JoinRoots<kTouches>(parent.data(), root, otherRoot);
    });
    if ((parent[root] & kTouches) == 0 && (innerKeys || nextToFrame(row, run)) &&
        TouchesValue(row, width, run, key)) {
      parent[root] |= kTouches;
    }
    return root;
  });

  // Then every entry holds its component's mark.
  ResolveRoots<kTouches>(parent.data(), parent.size());
  // When no component or every one touches the key, the second pass is
  // nothing or a plain replacement of every inner zero.
  std::size_t touching = 0;
  for (const std::uint32_t entry : parent) touching += entry >> 31;
  if (touching == 0) return;
  if (touching == parent.size()) {
    ReplaceInnerZeros(mask, width, height, key);
    return;
  }
  WalkZeroRuns(mask, width, height, [&](std::uint16_t* row, const Run& run, const RunLabel& found) {
    if ((parent[found.label] & kTouches) != 0) std::fill(row + run.first, row + run.last + 1, key);
    return found.label;
  });
}

void FillEnclosedZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  if (W < 3 || H < 3) return;
  ReplaceInnerZeros(mask, static_cast<std::size_t>(W), static_cast<std::size_t>(H), 1);
}

void Erode3x3(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  if (ClearIfAllFrame(mask, W, H)) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t height = static_cast<std::size_t>(H);
  // Rows are eroded in blocks, each block as one range; the frame columns,
  // which the range computes across row ends, are cleared after. The
  // scratch holds the rows above and of the block as they were; the row
  // below the block is still untouched in the mask.
  const std::size_t blockRows = BlockRows(width);
  const auto scratch = std::make_unique_for_overwrite<std::uint16_t[]>((blockRows + 1) * width);
  std::copy(mask, mask + width, scratch.get());
  ForEachRowBlock(1, height - 1, blockRows, [&](std::size_t y0, std::size_t rows) {
    std::uint16_t* const block = mask + y0 * width;
    const std::uint16_t* const s = scratch.get();
    std::copy(block, block + rows * width, scratch.get() + width);
    // All rows but the last find the row below in the scratch; the range
    // stops short of the last row's frame column, which reading it across
    // the row end would take from beyond the scratch.
    if (rows > 1) ErodeRange(block + 1, s + 1, s + width + 1, s + 2 * width + 1, (rows - 1) * width - 2);
    const std::size_t last = (rows - 1) * width;
    ErodeRange(block + last + 1, s + last + 1, s + last + width + 1, block + last + width + 1, width - 2);
    for (std::size_t r = 0; r < rows; ++r) {
      block[r * width] = 0;
      block[r * width + width - 1] = 0;
    }
    // The block's last row as it was is the next block's row above.
    std::copy(s + rows * width, s + (rows + 1) * width, scratch.get());
  });
  ClearFrameRows(mask, width, height);
}

}  // namespace edgeseg
