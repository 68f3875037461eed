#pragma once
// The largest value, count and size the tool takes. All three are the
// largest signed 32-bit value, each for its own reason, and come from this
// one definition so that they cannot drift apart. Nothing here allocates,
// prints or touches the platform.

#include <cstdint>
#include <limits>

namespace edgeseg {

inline constexpr std::int64_t kLargestInt32 = std::numeric_limits<std::int32_t>::max();

// The largest number a text image may hold: a sample is converted as a
// signed 32-bit value before it is stored (above 65535 as 65535), so a
// larger one does not convert and is an error.
inline constexpr std::int64_t kMaxTextValue = kLargestInt32;

// The most numbers on a line, and the most lines, that a text image may
// have: width and height are signed 32-bit values.
inline constexpr std::int64_t kMaxTextImageSide = kLargestInt32;

// The largest image a run takes, in pixels: every count of the gradient
// statistics and of the labelling is a signed 32-bit value.
inline constexpr std::int64_t kMaxImagePixels = kLargestInt32;

}  // namespace edgeseg
