#include "functions/functions.h"

#include <algorithm>
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
  for (std::int32_t y = 0; y < H; ++y) mark(mask[static_cast<std::size_t>(y) * width]);
  for (std::int32_t y = 0; y < H; ++y) mark(mask[static_cast<std::size_t>(y) * width + width - 1]);
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
  const std::size_t cellWidth = width - 1;
  for (std::int32_t y = 0; y < H; ++y) {
    std::uint16_t* out = pixelMask + static_cast<std::size_t>(y) * width;
    if (y == 0 || y == H - 1) {
      std::fill(out, out + width, std::uint16_t{0});
      continue;
    }
    const std::uint16_t* above = cellMask + static_cast<std::size_t>(y - 1) * cellWidth;
    const std::uint16_t* below = above + cellWidth;
    out[0] = 0;
    for (std::size_t x = 1; x + 1 < width; ++x) {
      // & rather than &&: no branch per pixel, so the loop vectorises.
      out[x] = (above[x - 1] != 0) & (above[x] != 0) & (below[x - 1] != 0) & (below[x] != 0);
    }
    out[width - 1] = 0;
  }
}

std::int32_t LabelRegions(std::uint16_t* image, std::int32_t W, std::int32_t H,
                          std::uint32_t minSize) {
  if (W <= 0 || H <= 0) return 0;
  const std::size_t width = static_cast<std::size_t>(W);
  // Provisional labels of the row above and of the current row. An entry is
  // read only where its sample matches, so background entries are never
  // written.
  std::vector<std::uint32_t> above(width);
  std::vector<std::uint32_t> current(width);
  // Every run of equal non-zero samples in a row, with the provisional label
  // of its first pixel: each pixel of a run is joined to the one on its left,
  // so the whole run ends in the region of that label. In an eroded 0/1 mask
  // a run is followed by at least two zeros, so runs are few.
  struct Run {
    std::uint32_t first, last, label;
  };
  std::vector<Run> runs;
  std::vector<std::size_t> firstRunOfRow(static_cast<std::size_t>(H) + 1);
  std::vector<std::uint32_t> parent{0};  // label 0 is the background's
  std::vector<std::uint32_t> size{0};    // pixels given each label by the scan
  parent.reserve(10000);
  size.reserve(10000);
  std::int64_t replacements = 0;

  // One scan in the order of the eager merge: left, up-right, up, up-left.
  for (std::size_t y = 0; y < static_cast<std::size_t>(H); ++y) {
    firstRunOfRow[y] = runs.size();
    const std::uint16_t* const row = image + y * width;
    const std::uint16_t* const up = y > 0 ? row - width : nullptr;
    for (std::size_t x = 0;; ++x) {
      x = static_cast<std::size_t>(FindNonZero(row + x, row + width) - row);
      if (x == width) break;
      const std::uint16_t s = row[x];
      std::uint32_t found[4];
      int count = 0;
      auto collect = [&](const std::uint16_t* samples, const std::vector<std::uint32_t>& labels, std::size_t j) {
        if (samples[j] == s) found[count++] = FindRoot(parent, labels[j]);
      };
      if (x > 0) collect(row, current, x - 1);
      if (up != nullptr) {
        if (x + 1 < width) collect(up, above, x + 1);
        collect(up, above, x);
        if (x > 0) collect(up, above, x - 1);
      }
      std::uint32_t label = 0;
      if (count == 0) {
        label = static_cast<std::uint32_t>(parent.size());
        parent.push_back(label);
        size.push_back(1);
      } else {
        label = *std::min_element(found, found + count);
        ++size[label];
        for (int i = 0; i < count; ++i) {
          if (found[i] == label) continue;
          parent[found[i]] = label;
          ++replacements;
        }
      }
      current[x] = label;
      if (x > 0 && row[x - 1] == s) {
        runs.back().last = static_cast<std::uint32_t>(x);
      } else {
        runs.push_back({static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(x), label});
      }
    }
    std::swap(above, current);
  }
  firstRunOfRow[static_cast<std::size_t>(H)] = runs.size();

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

  for (std::size_t y = 0; y < static_cast<std::size_t>(H); ++y) {
    std::uint16_t* const row = image + y * width;
    for (std::size_t r = firstRunOfRow[y]; r < firstRunOfRow[y + 1]; ++r) {
      std::fill(row + runs[r].first, row + runs[r].last + 1, static_cast<std::uint16_t>(finalLabel[runs[r].label]));
    }
  }
  return static_cast<std::int32_t>(replacements);
}

void ReplaceLabel(std::uint16_t* labels, std::int32_t lastIndex, std::uint16_t oldLabel,
                  std::uint16_t newLabel) {
  if (lastIndex < 0) return;
  std::replace(labels, labels + static_cast<std::size_t>(lastIndex) + 1, oldLabel, newLabel);
}
