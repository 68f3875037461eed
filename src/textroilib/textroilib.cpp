#include "textroilib/textroilib.h"

#include <charconv>
#include <memory>
#include <span>

#include "buffers/buffers.h"
#include "fileio/fileio.h"

namespace {

std::size_t DecimalLength(std::uint16_t v) {
  return v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : v < 10000 ? 4 : 5;
}

}  // namespace

std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H) {
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  // One separator per sample plus its digits: sized exactly, so the buffer
  // holds the text and nothing else.
  std::size_t length = n;
  for (std::size_t i = 0; i < n; ++i) length += DecimalLength(image[i]);

  const auto text = ObtainBuffer<char>(length);
  char* out = text.get();
  for (std::int32_t y = 0; y < H; ++y) {
    const std::uint16_t* row = image + static_cast<std::size_t>(y) * W;
    for (std::int32_t x = 0; x < W; ++x) {
      out = std::to_chars(out, out + 5, row[x]).ptr;
      *out++ = x + 1 < W ? ' ' : '\n';
    }
  }
  WriteWholeFile(name, {std::as_bytes(std::span(text.get(), length))});
  return 0;
}
