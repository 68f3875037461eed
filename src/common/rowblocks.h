#pragma once
// Short rows taken in blocks. A loop over one row costs a set-up that a row
// of a few samples does not repay, and a narrow image has many rows: steps
// that work row by row take several whole rows at a time instead, as one
// range. Nothing here allocates.

#include <algorithm>
#include <cstddef>

namespace edgeseg {

// A block holds about this many samples: enough that a narrow image pays
// the set-up once per few thousand samples, and small enough that a block's
// scratch (a pick pattern, an index row) stays in the first-level cache and
// on the stack.
inline constexpr std::size_t kBlockSamples = 4096;

// Rows at least this wide are worth a loop of their own; steps that work
// short rows differently (through a pick pattern, say) switch here.
inline constexpr std::size_t kShortRowWidth = 32;

// Whole rows of the given width (at least 1) in a block of about
// blockSamples samples: as many as fit, and at least one.
constexpr std::size_t RowsPerBlock(std::size_t width, std::size_t blockSamples) {
  return std::max<std::size_t>(1, blockSamples / width);
}

// Whole rows of the given width in a block of kBlockSamples.
constexpr std::size_t BlockRows(std::size_t width) { return RowsPerBlock(width, kBlockSamples); }

// Calls f(firstRow, rows) for consecutive blocks of blockRows rows, the last
// one shorter if need be, covering rows [firstRow, endRow).
template <class F>
void ForEachRowBlock(std::size_t firstRow, std::size_t endRow, std::size_t blockRows, F f) {
  for (std::size_t y0 = firstRow; y0 < endRow; y0 += blockRows) f(y0, std::min(blockRows, endRow - y0));
}

}  // namespace edgeseg
