#pragma once
// The frame of a mask: its first and last rows and columns, which the steps
// that carry cells to pixels and erode leave 0. Nothing here allocates.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace edgeseg {

// A W x H mask with fewer than 3 rows or columns has no inner samples: it is
// all frame. Such a mask is cleared whole and true returned, so that the
// step has nothing left to do; false for a mask with inner samples.
inline bool ClearIfAllFrame(std::uint16_t* mask, std::int32_t W, std::int32_t H) {
  if (W >= 3 && H >= 3) return false;
  if (W > 0 && H > 0) std::fill_n(mask, static_cast<std::size_t>(W) * static_cast<std::size_t>(H), std::uint16_t{0});
  return true;
}

// Clears the first and the last row of a width x height mask.
inline void ClearFrameRows(std::uint16_t* mask, std::size_t width, std::size_t height) {
  std::fill_n(mask, width, std::uint16_t{0});
  std::fill_n(mask + (height - 1) * width, width, std::uint16_t{0});
}

}  // namespace edgeseg
