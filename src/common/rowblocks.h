#pragma once
// Short rows taken in blocks. A loop over one row costs a set-up that a row
// of a few samples does not repay, and a narrow image has many rows: steps
// that work row by row take several whole rows at a time instead, as one
// range. Nothing here allocates.

#include <algorithm>
#include <cstddef>
#include <cstdint>

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

// Pictures and the gradient are made a band of rows of about this many
// pixels at a time, never whole: a band stays in the cache between the step
// that makes it and the one that uses it, and a tall image needs no larger
// band than a short one. A band is at least one row, though, so its memory
// grows with the width: a 4-row image 500 million pixels wide needs a 2 GB
// band of its gradient.
inline constexpr std::size_t kBandPixels = std::size_t{1} << 16;

// The rows of a band of a picture (or gradient) of the given width and
// height: at least one, at most the height. Every buffer that holds a band
// and every loop over bands takes its size from here, so that none can
// overflow another's buffer. In a picture of kWholeBandPixels or more a band
// takes the row that brings it to kBandPixels, so that a band of 4-byte
// pixels or floats one pixel narrower than a power of two reaches the size
// that buffers take whole huge pages from (one fault instead of 64); in a
// smaller picture that huge page would add more to the run's memory than
// the faults cost.
inline constexpr std::size_t kWholeBandPixels = std::size_t{1} << 20;
constexpr std::int32_t BandRows(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 1) return 1;
  const auto w = static_cast<std::size_t>(width);
  const auto h = static_cast<std::size_t>(height);
  const std::size_t rows = w * h >= kWholeBandPixels ? (kBandPixels + w - 1) / w : RowsPerBlock(w, kBandPixels);
  return static_cast<std::int32_t>(std::min(rows, h));
}

// Calls f(firstRow, rows) for consecutive blocks of blockRows rows, the last
// one shorter if need be, covering rows [firstRow, endRow).
template <class F>
void ForEachRowBlock(std::size_t firstRow, std::size_t endRow, std::size_t blockRows, F f) {
  for (std::size_t y0 = firstRow; y0 < endRow; y0 += blockRows) f(y0, std::min(blockRows, endRow - y0));
}

}  // namespace edgeseg
