#include "functions/functions.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// Union-find over provisional labels in which every root is the smallest
// label of its group, so a root is exactly the label that an eager merging
// scan would have left on the whole group. Parents are always smaller than
// their children.
std::uint32_t FindRoot(std::vector<std::uint32_t>& parent, std::uint32_t label) {
  while (parent[label] != label) {
    parent[label] = parent[parent[label]];
    label = parent[label];
  }
  return label;
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
  if (W <= 0 || H <= 0) return;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t height = static_cast<std::size_t>(H);
  if (W < 3 || H < 3) {
    std::fill(pixelMask, pixelMask + width * height, std::uint16_t{0});
    return;
  }
  const std::size_t cellWidth = width - 1;
  std::fill(pixelMask, pixelMask + width, std::uint16_t{0});
  std::fill(pixelMask + (height - 1) * width, pixelMask + height * width, std::uint16_t{0});
  // & rather than &&: no branch per pixel, so the loops vectorise. A row
  // of 32 pixels or more is its own range.
  constexpr std::size_t kBlock = 4096;
  if (width >= 32) {
    for (std::size_t y = 1; y + 1 < height; ++y) {
      std::uint16_t* out = pixelMask + y * width;
      const std::uint16_t* above = cellMask + (y - 1) * cellWidth;
      const std::uint16_t* below = above + cellWidth;
      out[0] = 0;
      for (std::size_t x = 1; x + 1 < width; ++x) {
        out[x] = (above[x - 1] != 0) & (above[x] != 0) & (below[x - 1] != 0) & (below[x] != 0);
      }
      out[width - 1] = 0;
    }
    return;
  }
  // Shorter rows, whose loops would cost more to set up than to run, go a
  // block of about 4096 pixels at a time: the value for the pixel at each
  // cell's bottom-right corner is taken for the block's cells as one range,
  // then every pixel picks its cell's value, or the 0 at the end for a frame
  // pixel, through a pattern that is the same for every block.
  const std::size_t blockRows = kBlock / width;
  std::uint16_t corner[kBlock + 1];
  corner[kBlock] = 0;
  std::uint16_t pick[kBlock];
  for (std::size_t i = 0; i < blockRows * width; ++i) {
    const std::size_t x = i % width;
    pick[i] = static_cast<std::uint16_t>(x == 0 || x == width - 1 ? kBlock : i / width * cellWidth + x - 1);
  }
  for (std::size_t y0 = 1; y0 + 1 < height; y0 += blockRows) {
    const std::size_t rows = std::min(blockRows, height - 1 - y0);
    const std::uint16_t* const cells = cellMask + (y0 - 1) * cellWidth;
    // The last cell of the block, on the frame column, has no pixel to feed
    // and nothing below-right to read.
    const std::size_t count = rows * cellWidth - 1;
    for (std::size_t k = 0; k < count; ++k) {
      corner[k] = (cells[k] != 0) & (cells[k + 1] != 0) & (cells[k + cellWidth] != 0) &
                  (cells[k + cellWidth + 1] != 0);
    }
    std::uint16_t* const out = pixelMask + y0 * width;
    for (std::size_t i = 0; i < rows * width; ++i) out[i] = corner[pick[i]];
  }
}

std::int32_t LabelRegions(std::uint16_t* image, std::int32_t W, std::int32_t H,
                          std::uint32_t minSize) {
  if (W <= 0 || H <= 0) return 0;
  const std::size_t width = static_cast<std::size_t>(W);
  const std::size_t n = width * static_cast<std::size_t>(H);
  // Provisional labels of the row above and of the current row. An entry is
  // written only where its sample is non-zero and read only where it
  // matches, so the rows need no initial value.
  const auto labelRows = std::make_unique_for_overwrite<std::uint32_t[]>(2 * width);
  std::vector<std::uint32_t> parent{0};  // label 0 is the background's
  std::vector<std::uint32_t> size{0};    // pixels given each label by the scan
  parent.reserve(10000);
  size.reserve(10000);
  std::int64_t replacements = 0;

  // One scan in the order of the eager merge: left, up-right, up, up-left,
  // taken a run of equal samples at a time. Only the first pixel of a run
  // and the pixels whose up-right neighbour starts a matching run above can
  // meet a group that the run has not joined yet: every other match is with
  // a pixel that an earlier pixel of the run already merged. A merge there
  // counts one replacement for every match that is not the smallest root,
  // as the pixel-by-pixel scan does.
  // Zeros are passed over across row ends, so that narrow images pay per
  // row only for rows that hold foreground. A row after a row of zeros
  // finds no match above, so the labels left in the row above are not read.
  {
    std::uint32_t* above = labelRows.get();
    std::uint32_t* current = above + width;
    std::size_t rowStart = 0;
    const std::uint16_t* row = image;
    for (std::size_t i = 0;;) {
      i = static_cast<std::size_t>(FindNonZero(image + i, image + n) - image);
      if (i == n) break;
      if (i - rowStart >= width) {
        rowStart = i - rowStart < 2 * width ? rowStart + width : i - i % width;
        row = image + rowStart;
        std::swap(above, current);
      }
      const std::size_t first = i - rowStart;
      const std::uint16_t s = row[first];
      std::size_t last = first;
      while (last + 1 < width && row[last + 1] == s) ++last;
      const std::uint16_t* const up = rowStart > 0 ? row - width : nullptr;

      // The run's first pixel: up-right, up, up-left.
      std::uint32_t found[3];
      int count = 0;
      if (up != nullptr) {
        if (first + 1 < width && up[first + 1] == s) found[count++] = FindRoot(parent, above[first + 1]);
        if (up[first] == s) found[count++] = FindRoot(parent, above[first]);
        if (first > 0 && up[first - 1] == s) found[count++] = FindRoot(parent, above[first - 1]);
      }
      std::uint32_t root = 0;
      if (count == 0) {
        root = static_cast<std::uint32_t>(parent.size());
        parent.push_back(root);
        size.push_back(0);
      } else {
        root = *std::min_element(found, found + count);
        for (int k = 0; k < count; ++k) {
          if (found[k] == root) continue;
          parent[found[k]] = root;
          ++replacements;
        }
      }

      // The rest of the run: at x the left, up and up-left matches are in
      // the run's group already, so only an up-right pixel that starts a
      // matching run above can bring another.
      if (up != nullptr) {
        const std::size_t stop = std::min(last, width - 2);  // x + 1 must lie in the row
        for (std::size_t x = first + 1; x <= stop; ++x) {
          if (up[x + 1] != s || up[x] == s) continue;
          const std::uint32_t other = FindRoot(parent, above[x + 1]);
          if (other == root) continue;
          if (other < root) {
            // The left match, and the up-left one if any, are not the smallest.
            replacements += 1 + (up[x - 1] == s ? 1 : 0);
            parent[root] = other;
            root = other;
          } else {
            ++replacements;
            parent[other] = root;
          }
        }
      }
      size[root] += static_cast<std::uint32_t>(last - first + 1);
      std::fill(current + first, current + last + 1, root);
      i = rowStart + last + 1;
    }
  }

  // Resolve every label to its root in ascending order: a parent is smaller
  // than its child, so it is already resolved when the child is reached.
  // Then each root gathers the pixels of the labels merged into it.
  const std::size_t labelCount = parent.size();
  for (std::size_t j = 1; j < labelCount; ++j) parent[j] = parent[parent[j]];
  for (std::size_t j = 1; j < labelCount; ++j) {
    if (parent[j] != j) size[parent[j]] += size[j];
  }

  std::vector<std::uint32_t> finalLabel(labelCount, 0);
  std::uint32_t next = 1;
  for (std::size_t j = 1; j < labelCount; ++j) {
    if (parent[j] == j && size[j] > minSize) finalLabel[j] = next++;
  }
  if (next - 1 > 65535) throw std::runtime_error("more than 65535 regions");
  for (std::size_t j = 1; j < labelCount; ++j) finalLabel[j] = finalLabel[parent[j]];

  // A second scan meets the runs of equal non-zero samples again. Every
  // pixel of a run joins the one on its left, so a run holds one region, and
  // the scan gave its first pixel a fresh label exactly when none of the
  // three pixels above matched; otherwise the region is that of a matching
  // pixel above. So counting fresh labels in the same order gives every run
  // a provisional label of its region without having stored any. The rows
  // above are rewritten by then, so their runs are kept with their values.
  struct Run {
    std::uint32_t first, last, label;
    std::uint16_t value;
  };
  // A row holds at most W runs; a sentinel after the last ends every search.
  // Only the part of the rows in use is ever touched.
  constexpr std::uint32_t kBeyond = std::numeric_limits<std::uint32_t>::max() - 1;
  constexpr Run kSentinel{kBeyond, kBeyond, 0, 0};
  const auto runRows = std::make_unique_for_overwrite<Run[]>(2 * (width + 1));
  Run* aboveRuns = runRows.get();
  Run* currentRuns = aboveRuns + width + 1;
  *aboveRuns = kSentinel;
  Run* out = currentRuns;
  const Run* passed = aboveRuns;  // runs above before it end left of every later run's up-left pixel
  std::uint32_t fresh = 1;
  std::size_t rowStart = 0;
  for (std::size_t i = 0;;) {
    i = static_cast<std::size_t>(FindNonZero(image + i, image + n) - image);
    if (i == n) break;
    if (i - rowStart >= width) {
      const std::size_t nextRow = i - rowStart < 2 * width ? rowStart + width : i - i % width;
      *out = kSentinel;
      std::swap(aboveRuns, currentRuns);
      if (nextRow != rowStart + width) *aboveRuns = kSentinel;  // a row of zeros between
      out = currentRuns;
      passed = aboveRuns;
      rowStart = nextRow;
    }
    std::uint16_t* const row = image + rowStart;
    const auto first = static_cast<std::uint32_t>(i - rowStart);
    const std::uint16_t s = row[first];
    std::uint32_t last = first;
    while (last + 1 < width && row[last + 1] == s) ++last;
    while (passed->last + 1 < first) ++passed;
    std::uint32_t label = 0;
    for (const Run* a = passed; a->first <= first + 1; ++a) {
      if (a->value == s) {
        label = a->label;
        break;
      }
    }
    if (label == 0) label = fresh++;
    *out++ = {first, last, label, s};
    std::fill(row + first, row + last + 1, static_cast<std::uint16_t>(finalLabel[label]));
    i = rowStart + last + 1;
  }
  return static_cast<std::int32_t>(replacements);
}

void ReplaceLabel(std::uint16_t* labels, std::int32_t lastIndex, std::uint16_t oldLabel,
                  std::uint16_t newLabel) {
  if (lastIndex < 0) return;
  std::replace(labels, labels + static_cast<std::size_t>(lastIndex) + 1, oldLabel, newLabel);
}
