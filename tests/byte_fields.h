#pragma once
// Little-endian fields of a file's bytes, as the BMP headers hold them; for
// the tests and the fuzz targets alike, so it needs nothing but the
// standard library.

#include <cstddef>
#include <cstdint>
#include <string>

namespace test {

// The little-endian 16-bit number at a byte offset.
inline std::uint16_t U16At(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                    static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

// The little-endian 32-bit number at a byte offset.
inline std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

}  // namespace test
