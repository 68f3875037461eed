#include "textroilib/textroilib.h"

#include <charconv>
#include <memory>
#include <span>
#include <stdexcept>

#include "buffers/buffers.h"
#include "fileio/fileio.h"

std::int32_t WriteTextImage(const std::string& name, const std::uint16_t* image,
                            std::int32_t W, std::int32_t H) {
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  // Sized exactly, so that a large image asks for no more memory than its
  // text: a digit and a separator per sample, plus the further digits of
  // values from 10 up. The count has no branch, so it vectorises.
  std::size_t length = 2 * n;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint16_t v = image[i];
    length += static_cast<std::size_t>((v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000));
  }
  // Most label samples are 0, so single digits skip the conversion.
  const auto text = ObtainBuffer<char>(length);
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
  // A count that disagreed with the formatting would have written past the
  // buffer or left garbage in it: neither may reach the file.
  if (static_cast<std::size_t>(out - text.get()) != length) throw std::runtime_error("label text length mismatch");
  WriteWholeFile(name, {std::as_bytes(std::span(text.get(), length))});
  return 0;
}
