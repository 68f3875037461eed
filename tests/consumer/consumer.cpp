// Segments a bright 8 x 8 square on a dark 16 x 16 ground through the
// installed library and draws its regions: one region, its pixels in the
// first label colour. Prints the count of regions and the RGB of the
// square's centre; exits 1 if a 3-row image is not refused.
#include <cstdio>
#include <vector>

#include <edgeseg/edgeseg.h>

int main() {
  constexpr int kSide = 16;
  std::vector<std::uint16_t> image(kSide * kSide, 100);
  for (int y = 4; y <= 11; ++y) {
    for (int x = 4; x <= 11; ++x) image[y * kSide + x] = 3000;
  }
  std::vector<std::uint16_t> labels(image.size());
  const edgeseg::Result result = edgeseg::Segment(image.data(), kSide, kSide, kSide, labels.data());
  std::vector<std::uint8_t> rgb(image.size() * 3);
  edgeseg::DrawPicture(edgeseg::Picture::Regions, image.data(), kSide, kSide, kSide, labels.data(), result,
                       rgb.data());
  const std::uint8_t* centre = &rgb[(8 * kSide + 8) * 3];
  std::printf("%d %d %d %d", static_cast<int>(result.regions), centre[0], centre[1], centre[2]);
  try {
    edgeseg::Segment(image.data(), 3, kSide, kSide, labels.data());
  } catch (const edgeseg::Error&) {
    return 0;
  }
  return 1;
}
