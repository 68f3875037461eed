// Writes one large 12-bit test image as text, one row per line, for the
// end-to-end benchmark.
//
//   make_bench_image KIND SIDE FILE           (a square picture)
//   make_bench_image KIND WIDTH HEIGHT FILE
//
// KIND is photo, spiral, comb or lattice (square only), or one of the shape
// gallery's noise, checker1, checker2, checker3, spiral2, meander3, combs.

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "bench_images.h"
#include "common/limits.h"

using namespace edgeseg;

namespace {

// A positive decimal no larger than limit, or 0.
long ParseSize(const char* text, long limit) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  return *text != '\0' && *end == '\0' && v >= 1 && v <= limit ? v : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s KIND SIDE FILE | KIND WIDTH HEIGHT FILE\n", argv[0]);
    return 2;
  }
  // As many pixels as the tool takes (a text of about 10 GB).
  constexpr long kMaxPixels = kMaxImagePixels;
  const long width = ParseSize(argv[2], kMaxPixels);
  const long height = argc == 5 ? ParseSize(argv[3], kMaxPixels) : width;
  if (width == 0 || height == 0 || width > kMaxPixels / height) {
    std::fprintf(stderr, "sizes must be positive, with at most 2^31 - 1 pixels\n");
    return 2;
  }
  if (argc == 4 && (width < 64 || width > 32768)) {
    std::fprintf(stderr, "SIDE must be 64..32768\n");
    return 2;
  }
  const char* const name = argv[argc - 1];
  std::string text;
  try {
    text = BenchImageText(MakeBenchImage(argv[1], static_cast<int>(width), static_cast<int>(height)),
                          static_cast<int>(width));
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 2;
  }
  std::FILE* file = std::fopen(name, "wb");
  if (file == nullptr) {
    std::perror(name);
    return 1;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(name);
    return 1;
  }
  return 0;
}
