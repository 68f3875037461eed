#include "textroilib/textroilib.h"

#include <charconv>
#include <memory>
#include <span>

#include "buffers/buffers.h"
#include "fileio/fileio.h"

std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H) {
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  // Room for the longest text, five digits and a separator per sample, in
  // one pass: pages past the text's end are never touched, so they cost
  // nothing. Most label samples are 0, so single digits skip the conversion.
  const auto text = ObtainBuffer<char>(6 * n);
  char* out = text.get();
  for (std::int32_t y = 0; y < H; ++y) {
    const std::uint16_t* row = image + static_cast<std::size_t>(y) * static_cast<std::size_t>(W);
    for (std::int32_t x = 0; x < W; ++x) {
      const std::uint16_t v = row[x];
      if (v < 10) {
        *out++ = static_cast<char>('0' + v);
      } else {
        out = std::to_chars(out, out + 5, v).ptr;
      }
      *out++ = ' ';
    }
    if (W > 0) out[-1] = '\n';
  }
  WriteWholeFile(name, {std::as_bytes(std::span(text.get(), static_cast<std::size_t>(out - text.get())))});
  return 0;
}
