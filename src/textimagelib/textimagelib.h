#pragma once
// Reader of grey-level images stored as text.
//
// Format: a line ends with a line feed (a carriage return is an ordinary
// separator). A number is a maximal run of the digits 0-9; every other byte
// separates. Every line-feed-ended line holds the same count of numbers W,
// and H is the number of line feeds. Bytes after the last line feed, or from
// the first NUL byte on, are not part of the image. Samples are the first
// W*H numbers of the file in order; values above 65535 are stored as 65535
// and values above kMaxTextValue (2147483647) are an error.

#include <cstdint>
#include <span>
#include <string>

namespace edgeseg {

// Sets width and height to the image's size, or to 0 when the file is
// missing, has no line feed, or has line-feed-ended lines with differing
// counts of numbers. Returns false when the file is missing or the counts
// differ. Throws if the file exists but cannot be read, or if a line holds,
// or the text has, more than kMaxTextImageSide numbers or lines.
bool ScanTextImageSize(const std::string& name, std::int32_t& width, std::int32_t& height);

// The same scan over a file's bytes already in memory, so that a caller can
// read the file once and hand the same bytes to the scan and the reader.
bool ScanTextImageSize(std::span<const char> text, std::int32_t& width, std::int32_t& height);

// Stores the first W*H numbers of the file, as far as its first NUL byte,
// into image (an Image16 of W*H samples). Returns true when every sample
// was stored; samples after the last one stored keep what they held. Throws
// if the file cannot be read, if a value is above kMaxTextValue, or if the
// data ends in separators while another value is needed.
bool ReadTextImage(const std::string& name, std::uint16_t* image, std::int32_t W, std::int32_t H);

// The same reading over a file's bytes already in memory, in which a NUL
// byte is a separator like any other.
bool ReadTextImage(std::span<const char> text, std::uint16_t* image, std::int32_t W, std::int32_t H);

}  // namespace edgeseg
