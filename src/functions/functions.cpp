#include "functions/functions.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/frame.h"
#include "common/rowblocks.h"
#include "common/runs.h"

namespace edgeseg {

namespace {

// A final label is a 16-bit sample.
constexpr std::uint32_t kMaxRegions = std::numeric_limits<std::uint16_t>::max();

// Room for the provisional labels of a typical picture, taken up front so
// that the scan seldom has to grow its lists.
constexpr std::size_t kReservedLabels = 10000;

// The first non-zero sample in [first, last), or last. Background is most of
// a mask, so zeros are passed over four samples at a time.
const std::uint16_t* FindNonZero(const std::uint16_t* first, const std::uint16_t* last) {
  for (std::uint64_t four = 0; last - first >= 4; first += 4) {
    std::memcpy(&four, first, sizeof four);
    if (four != 0) break;
  }
  while (first != last && *first == 0) ++first;
  return first;
}

// Runs of one value join only the runs of the same value.
auto SameValue(std::uint16_t value) {
  return [value](const Run& above) { return above.value == value; };
}

// Walks the runs of equal non-zero samples of an image of n samples, rows
// top down, each left to right, and calls visit(row, run, found) for each,
// where found is what RunRows::Label gives: a run joins the runs of its value
// above it, and takes a fresh label exactly when none of the three pixels
// above its first pixel matches, as the eager merging scan gives that pixel
// one. visit returns the label to record for the run and may change the
// run's samples, which the walk has read. rows holds 2 * (width + 1) runs.
// Zeros are passed over across row ends, so that narrow images pay per row
// only for rows that hold foreground.
template <class Visit>
void WalkValueRuns(std::uint16_t* image, std::size_t width, std::size_t n, Run* rows, Visit visit) {
  RunRows runs(rows, width + 1, width, 1);
  for (std::size_t i = 0;;) {
    i = static_cast<std::size_t>(FindNonZero(image + i, image + n) - image);
    if (i == n) break;
    runs.MoveToSample(i);
    std::uint16_t* const row = image + runs.RowStart();
    Run run{static_cast<std::uint32_t>(i - runs.RowStart()), 0, 0, row[i - runs.RowStart()]};
    run.last = run.first;
    while (run.last + 1 < width && row[run.last + 1] == run.value) ++run.last;
    const RunLabel found = runs.Label(run.first, run.first + 1, SameValue(run.value));
    run.label = visit(row, run, found);
    runs.Record(run);
    i = runs.RowStart() + run.last + 1;
  }
}

// Columns of run a (none when it is nullptr) among lo to hi.
std::int64_t CoveredColumns(const Run* a, std::int64_t lo, std::int64_t hi) {
  if (a == nullptr) return 0;
  return std::max<std::int64_t>(0, std::min<std::int64_t>(a->last, hi) - std::max<std::int64_t>(a->first, lo) + 1);
}

// The first scan: joins the runs into regions in parent (a union-find) and
// counts each label's pixels in size, both indexed by provisional label.
// Returns the replacements that the eager merging scan makes. That scan
// meets a matching run above at the first pixel x of the run whose up-left,
// up or up-right neighbour lies in it: the run's first pixel, or the pixel
// left of where the run above starts. Where the two groups differ, it
// rewrites the labels of whichever is not the smallest, one replacement
// for each of its matches at x: for the run's own group, its left
// neighbour (past the first pixel) and the columns x - 1 and x of the
// previous matching run above; for the other, the run above's columns
// x - 1 to x + 1.
std::int64_t JoinRuns(std::uint16_t* image, std::size_t width, std::size_t n, Run* rows,
                      std::vector<std::uint32_t>& parent, std::vector<std::uint32_t>& size) {
  std::int64_t replacements = 0;
  WalkValueRuns(image, width, n, rows, [&](const std::uint16_t*, const Run& run, const RunLabel& found) {
    std::uint32_t root = found.label;
    if (found.joined == nullptr) {
      parent.push_back(root);
      size.push_back(0);
    } else {
      root = FindRoot(parent.data(), root);
    }
    const Run* previous = found.joined;
    ForEachJoined(found.others, run.last, SameValue(run.value), [&](const Run& above) {
      const std::uint32_t other = FindRoot(parent.data(), above.label);
      if (other != root) {
        const std::int64_t x = std::max<std::int64_t>(run.first, std::int64_t{above.first} - 1);
        replacements += other < root ? (x > run.first ? 1 : 0) + CoveredColumns(previous, x - 1, x)
                                     : CoveredColumns(&above, x - 1, x + 1);
        root = JoinRoots(parent.data(), root, other);
      }
      previous = &above;
    });
    size[root] += run.last - run.first + 1;
    return root;
  });
  return replacements;
}

// Each root gathers the pixels of the labels merged into it; the regions
// of more than minSize pixels are numbered 1, 2, 3... in the order of their
// roots, which is the scan order of their first pixels. Returns the final
// label of every provisional label, 0 for the dropped ones. Throws if more
// than 65535 regions survive.
std::vector<std::uint32_t> NumberRegions(std::vector<std::uint32_t>& parent, std::vector<std::uint32_t>& size,
                                         std::uint32_t minSize) {
  const std::size_t labelCount = parent.size();
  ResolveRoots(parent.data(), labelCount);
  for (std::size_t j = 1; j < labelCount; ++j) {
    if (parent[j] != j) size[parent[j]] += size[j];
  }
  std::vector<std::uint32_t> finalLabel(labelCount, 0);
  std::uint32_t next = 1;
  for (std::size_t j = 1; j < labelCount; ++j) {
    if (parent[j] == j && size[j] > minSize) finalLabel[j] = next++;
  }
  if (next - 1 > kMaxRegions) throw std::runtime_error("more than 65535 regions");
  for (std::size_t j = 1; j < labelCount; ++j) finalLabel[j] = finalLabel[parent[j]];
  return finalLabel;
}

// The second scan meets the same runs in the same order and makes the same
// fresh-label decisions, so each run finds a provisional label of its
// region again (a matching run above shares its region) without any having
// been stored, and takes its final label.
void WriteFinalLabels(std::uint16_t* image, std::size_t width, std::size_t n, Run* rows,
                      const std::vector<std::uint32_t>& finalLabel) {
  WalkValueRuns(image, width, n, rows, [&](std::uint16_t* row, const Run& run, const RunLabel& found) {
    std::fill(row + run.first, row + run.last + 1, static_cast<std::uint16_t>(finalLabel[found.label]));
    return found.label;
  });
}

}  // namespace

void SetBorderZeros(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  if (W <= 0 || H <= 0) return;
  const std::size_t width = static_cast<std::size_t>(W);
  auto mark = [key](std::uint16_t& sample) {
    if (sample == 0) sample = key;
  };
  std::uint16_t* const lastRow = mask + static_cast<std::size_t>(H - 1) * width;
  for (std::size_t x = 0; x < width; ++x) mark(mask[x]);
  for (std::size_t x = 0; x < width; ++x) mark(lastRow[x]);
  // Both columns in one loop: a narrow mask has as many rows as samples
  // over four. The order of the visits does not matter, since a sample
  // that takes the key is no longer 0.
  for (std::uint16_t* row = mask; row <= lastRow; row += width) {
    mark(row[0]);
    mark(row[width - 1]);
  }
}

void ClearValue(std::uint16_t* mask, std::int32_t W, std::int32_t H, std::uint16_t key) {
  if (key == 0 || W <= 0 || H <= 0) return;
  // A select rather than a branch per sample, so the loop vectorises.
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  for (std::size_t i = 0; i < n; ++i) mask[i] = mask[i] == key ? 0 : mask[i];
}

void CellMaskToPixelMask(std::uint16_t* pixelMask, const std::uint16_t* cellMask, std::int32_t W,
                         std::int32_t H) {
  if (ClearIfAllFrame(pixelMask, W, H)) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t height = static_cast<std::size_t>(H);
  const std::size_t cellWidth = width - 1;
  ClearFrameRows(pixelMask, width, height);
  // Rows go in blocks, whatever their width. The value for the pixel at
  // each cell's bottom-right corner is taken for the block's cells as one
  // range, in a loop that vectorises however short the rows are, and
  // written from the block's second pixel on: a row of cells is one shorter
  // than a row of pixels, so each row's values land one place earlier than
  // the row above's. The rows then move to their places, the last first,
  // and take their frame zeros.
  ForEachRowBlock(1, height - 1, BlockRows(width), [&](std::size_t y0, std::size_t rows) {
    const std::uint16_t* const cells = cellMask + (y0 - 1) * cellWidth;
    std::uint16_t* const out = pixelMask + y0 * width;
    // The last cell of the block, on the frame column, has no pixel to feed
    // and nothing below-right to read. & rather than &&: no branch per cell.
    const std::size_t count = rows * cellWidth - 1;
    for (std::size_t k = 0; k < count; ++k) {
      out[k + 1] = (cells[k] != 0) & (cells[k + 1] != 0) & (cells[k + cellWidth] != 0) &
                   (cells[k + cellWidth + 1] != 0);
    }
    for (std::size_t r = rows; r-- > 0;) {
      std::uint16_t* const row = out + r * width;
      std::memmove(row + 1, row + 1 - r, (width - 2) * sizeof(std::uint16_t));
      row[0] = 0;
      row[width - 1] = 0;
    }
  });
}

std::int32_t LabelRegions(std::uint16_t* image, std::int32_t W, std::int32_t H,
                          std::uint32_t minSize) {
  if (W <= 0 || H <= 0) return 0;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t n = width * static_cast<std::size_t>(H);
  const auto rows = std::make_unique_for_overwrite<Run[]>(2 * (width + 1));
  std::vector<std::uint32_t> parent{0};  // label 0 is the background's
  std::vector<std::uint32_t> size{0};    // pixels given each label by the scan
  parent.reserve(kReservedLabels);
  size.reserve(kReservedLabels);
  const std::int64_t replacements = JoinRuns(image, width, n, rows.get(), parent, size);
  const std::vector<std::uint32_t> finalLabel = NumberRegions(parent, size, minSize);
  WriteFinalLabels(image, width, n, rows.get(), finalLabel);
  return static_cast<std::int32_t>(std::min<std::int64_t>(replacements, std::numeric_limits<std::int32_t>::max()));
}

void ReplaceLabel(std::uint16_t* labels, std::int32_t lastIndex, std::uint16_t oldLabel,
                  std::uint16_t newLabel) {
  if (lastIndex < 0) return;
  std::replace(labels, labels + static_cast<std::size_t>(lastIndex) + 1, oldLabel, newLabel);
}

}  // namespace edgeseg
