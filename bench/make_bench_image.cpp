// Writes one large 12-bit test image as text, one row per line, for the
// end-to-end benchmark.
//
//   make_bench_image photo|spiral|comb|lattice SIDE FILE

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench_images.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s photo|spiral|comb|lattice SIDE FILE\n", argv[0]);
    return 2;
  }
  const int side = std::atoi(argv[2]);
  if (side < 64 || side > 16384) {
    std::fprintf(stderr, "SIDE must be 64..16384\n");
    return 2;
  }
  const std::string text = BenchImageText(MakeBenchImage(argv[1], side), side);
  std::FILE* file = std::fopen(argv[3], "wb");
  if (file == nullptr) {
    std::perror(argv[3]);
    return 1;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
