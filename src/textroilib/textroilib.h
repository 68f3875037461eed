#pragma once
// Writer of images as text, in the layout the text image reader accepts:
// H lines, each of W decimal numbers separated by single spaces and ended by
// one line feed; no sign, no leading zeros, no header.

#include <cstdint>
#include <string>

namespace edgeseg {

// Writes image (an Image16 of W*H samples, W and H at least 1) under name,
// replacing any file of that name as WriteFileInPieces does. The text is
// formatted and written a megabyte at a time, so it needs no buffer of its
// whole length; a failure part-way (a full disk, memory for a piece) leaves
// an older file as it was wherever the output is replaced rather than
// written in place. Returns 0 when every byte was written; throws if the
// file cannot be created or written in full (a full disk must not pass for
// success).
std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H);

}  // namespace edgeseg
