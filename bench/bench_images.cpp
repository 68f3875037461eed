#include "bench_images.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>


namespace {

// splitmix64: small, fast, the same sequence everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  // Roughly normal, mean 0, deviation 1: the sum of four uniforms.
  double Noise() { return (Unit() + Unit() + Unit() + Unit() - 2.0) * std::sqrt(3.0); }

 private:
  std::uint64_t state_;
};

using Picture = std::vector<double>;

double Smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

// Uneven light, a slow ripple, and about a thousand soft-edged ellipses per
// 4096 x 4096 (one per 128 x 128 block, jittered inside it).
Picture Photo(int side, Random& rng) {
  Picture p(static_cast<std::size_t>(side) * side);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const double u = static_cast<double>(x) / side;
      const double v = static_cast<double>(y) / side;
      p[static_cast<std::size_t>(y) * side + x] =
          700 + 300 * (1 - (u + v) / 2) + 40 * std::sin(x / 37.0) * std::cos(y / 29.0);
    }
  }
  constexpr int kBlock = 128;
  for (int by = 0; by + kBlock <= side; by += kBlock) {
    for (int bx = 0; bx + kBlock <= side; bx += kBlock) {
      const double rx = 14 + 36 * rng.Unit();
      const double ry = 14 + 36 * rng.Unit();
      const double cx = bx + kBlock / 2.0 + (rng.Unit() - 0.5) * 40;
      const double cy = by + kBlock / 2.0 + (rng.Unit() - 0.5) * 40;
      const double angle = rng.Unit() * 3.14159265358979;
      const double level = 1200 + 2000 * rng.Unit();
      const double c = std::cos(angle);
      const double s = std::sin(angle);
      for (int y = by; y < by + kBlock; ++y) {
        for (int x = bx; x < bx + kBlock; ++x) {
          const double dx = x - cx;
          const double dy = y - cy;
          const double a = (dx * c + dy * s) / rx;
          const double b = (-dx * s + dy * c) / ry;
          const double d = (std::hypot(a, b) - 1) * std::min(rx, ry);
          p[static_cast<std::size_t>(y) * side + x] += level * Smoothstep(0.5 - d / 2.5);
        }
      }
    }
  }
  return p;
}

// Paints value v on the rectangle [x0, x1) x [y0, y1), clipped to the image.
void Fill(Picture& p, int side, int x0, int y0, int x1, int y1, double v) {
  for (int y = std::max(y0, 0); y < std::min(y1, side); ++y) {
    for (int x = std::max(x0, 0); x < std::min(x1, side); ++x) p[static_cast<std::size_t>(y) * side + x] = v;
  }
}

constexpr double kDark = 600;
constexpr double kBright = 3000;

// A square spiral wall, 6 pixels thick, winding in from the frame with a
// 10-pixel corridor between its turns: the background inside is one long
// corridor that only a walk from the frame reaches.
Picture Spiral(int side) {
  Picture p(static_cast<std::size_t>(side) * side, kDark);
  constexpr int kWall = 6;
  constexpr int kStep = 16;  // wall plus corridor
  // Turn i draws its top, right, bottom and left sides. The left side stops
  // one step below the top, where the next turn's top side begins, so the
  // corridor between two left sides turns into the next top corridor.
  for (int i = 0;; ++i) {
    const int l = 8 + i * kStep;
    const int t = 8 + i * kStep;
    const int r = side - 8 - i * kStep;
    const int b = side - 8 - i * kStep;
    if (r - l <= 2 * kStep || b - t <= 2 * kStep) break;
    Fill(p, side, i == 0 ? l : l - kStep, t, r, t + kWall, kBright);
    Fill(p, side, r - kWall, t, r, b, kBright);
    Fill(p, side, l, b - kWall, r, b, kBright);
    Fill(p, side, l, t + kStep, l + kWall, b, kBright);
  }
  return p;
}

// Combs with upward teeth, 8 pixels wide and 12 high on a 16-pixel pitch,
// over an 8-pixel spine, stacked every 32 rows. Each tooth starts a label of
// its own and the spine merges them all; neighbouring comb columns are shifted
// by 4 rows so that some column merges on almost every row.
Picture Comb(int side) {
  Picture p(static_cast<std::size_t>(side) * side, kDark);
  constexpr int kColumn = 256;
  constexpr int kPeriod = 32;
  for (int cx = 0, column = 0; cx < side; cx += kColumn, ++column) {
    const int shift = (column * 4) % kPeriod;
    for (int y0 = 8 + shift - kPeriod; y0 < side; y0 += kPeriod) {
      for (int tx = cx + 8; tx + 8 <= cx + kColumn - 8; tx += 16) Fill(p, side, tx, y0, tx + 8, y0 + 12, kBright);
      Fill(p, side, cx + 8, y0 + 12, cx + kColumn - 8, y0 + 20, kBright);
    }
  }
  return p;
}

// 10 x 10 squares on a 16-pixel pitch: about 16,000 regions at 2048 x 2048.
Picture Lattice(int side) {
  Picture p(static_cast<std::size_t>(side) * side, kDark);
  for (int y = 4; y + 10 <= side - 4; y += 16) {
    for (int x = 4; x + 10 <= side - 4; x += 16) Fill(p, side, x, y, x + 10, y + 10, kBright);
  }
  return p;
}

// The gallery's pictures are drawn straight in 16-bit samples: a 4 x 4M
// picture in doubles would take more memory than the run it feeds.
class Canvas {
 public:
  Canvas(int width, int height, std::uint16_t background)
      : width_(width), height_(height), samples_(static_cast<std::size_t>(width) * height, background) {}

  // Paints v on [x0, x1) x [y0, y1), clipped to the picture.
  void Fill(int x0, int y0, int x1, int y1, std::uint16_t v) {
    for (int y = std::max(y0, 0); y < std::min(y1, height_); ++y) {
      std::uint16_t* row = samples_.data() + static_cast<std::size_t>(y) * width_;
      for (int x = std::max(x0, 0); x < std::min(x1, width_); ++x) row[x] = v;
    }
  }
  std::uint16_t& At(int x, int y) { return samples_[static_cast<std::size_t>(y) * width_ + x]; }
  std::vector<std::uint16_t> Take() { return std::move(samples_); }

 private:
  int width_;
  int height_;
  std::vector<std::uint16_t> samples_;
};

constexpr std::uint16_t kGalleryLow = 200;
constexpr std::uint16_t kGalleryHigh = 3000;

std::vector<std::uint16_t> Noise(int width, int height) {
  Random rng(0xED6E5E6ull ^ (static_cast<std::uint64_t>(width) << 32 | static_cast<std::uint64_t>(height)));
  std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * height);
  for (auto& v : samples) v = static_cast<std::uint16_t>(rng.Next() & 4095);
  return samples;
}

std::vector<std::uint16_t> Checkerboard(int width, int height, int square) {
  Canvas c(width, height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) c.At(x, y) = (x / square + y / square) % 2 != 0 ? 4000 : 0;
  }
  return c.Take();
}

// A square wall winding inwards, 2 pixels thick with a 2-pixel corridor
// between its turns, entered at the top left: both the corridor and the
// wall's inside are one long thin path.
std::vector<std::uint16_t> ThinSpiral(int width, int height) {
  Canvas c(width, height, kGalleryLow);
  constexpr int kWall = 2;
  constexpr int kStep = 4;
  constexpr int kMargin = 2;
  for (int i = 0;; ++i) {
    const int l = kMargin + i * kStep;
    const int t = kMargin + i * kStep;
    const int r = width - kMargin - i * kStep;
    const int b = height - kMargin - i * kStep;
    if (r - l <= 2 * kStep || b - t <= 2 * kStep) break;
    c.Fill(i == 0 ? l : l - kStep, t, r, t + kWall, kGalleryHigh);
    c.Fill(r - kWall, t, r, b, kGalleryHigh);
    c.Fill(l, b - kWall, r, b, kGalleryHigh);
    c.Fill(l, t + kStep, l + kWall, b, kGalleryHigh);
  }
  return c.Take();
}

// A box of 3-pixel walls holding 3-pixel strips that reach from alternate
// sides: one corridor, 3 pixels wide, entered at the top left, runs back and
// forth down the whole picture.
std::vector<std::uint16_t> Meander(int width, int height) {
  Canvas c(width, height, kGalleryLow);
  constexpr int kStrip = 3;
  constexpr int kMargin = 3;
  const int left = kMargin;
  const int right = width - kMargin;
  int y = kMargin + 2 * kStrip;
  for (int k = 1; y + 3 * kStrip <= height - kMargin; ++k, y += 2 * kStrip) {
    if (k % 2 != 0) {
      c.Fill(left, y, right - 2 * kStrip, y + kStrip, kGalleryHigh);
    } else {
      c.Fill(left + 2 * kStrip, y, right, y + kStrip, kGalleryHigh);
    }
  }
  const int bottom = y;  // the bottom wall closes the last corridor
  c.Fill(left, kMargin, right, kMargin + kStrip, kGalleryHigh);
  c.Fill(left, bottom, right, bottom + kStrip, kGalleryHigh);
  c.Fill(left, kMargin + 2 * kStrip, left + kStrip, bottom, kGalleryHigh);  // open beside the first corridor
  c.Fill(right - kStrip, kMargin, right, bottom, kGalleryHigh);
  return c.Take();
}

// Bands 64 rows high, each with a comb hanging from a top spine and one
// rising from a bottom spine, their 3-pixel teeth interleaved 3 pixels
// apart: every rising tooth starts a region of its own that its spine joins
// later, and the background between the teeth winds through the band.
std::vector<std::uint16_t> InterleavedCombs(int width, int height) {
  Canvas c(width, height, kGalleryLow);
  constexpr int kBand = 64;
  constexpr int kTooth = 3;
  for (int y0 = 0; y0 + kBand <= height; y0 += kBand) {
    c.Fill(3, y0 + 3, width - 3, y0 + 6, kGalleryHigh);
    c.Fill(3, y0 + 58, width - 3, y0 + 61, kGalleryHigh);
    for (int x = 3; x + 4 * kTooth <= width - 3; x += 4 * kTooth) {
      c.Fill(x, y0 + 6, x + kTooth, y0 + 52, kGalleryHigh);
      c.Fill(x + 2 * kTooth, y0 + 12, x + 3 * kTooth, y0 + 58, kGalleryHigh);
    }
  }
  return c.Take();
}

// The photograph and the first stress pictures, square, with mild noise.
std::vector<std::uint16_t> SquareImage(const std::string& kind, int side) {
  Random rng(0xED6E5E6ull + static_cast<std::uint64_t>(side));
  Picture picture;
  if (kind == "photo") {
    picture = Photo(side, rng);
  } else if (kind == "spiral") {
    picture = Spiral(side);
  } else if (kind == "comb") {
    picture = Comb(side);
  } else if (kind == "lattice") {
    picture = Lattice(side);
  } else {
    throw std::invalid_argument("unknown kind " + kind);
  }
  std::vector<std::uint16_t> samples(picture.size());
  for (std::size_t i = 0; i < picture.size(); ++i) {
    const double v = picture[i] + 12 * rng.Noise();
    samples[i] = static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 4095L));
  }
  return samples;
}

}  // namespace

std::vector<std::uint16_t> MakeBenchImage(const std::string& kind, int width, int height) {
  if (width < 1 || height < 1) throw std::invalid_argument("size below 1");
  if (kind == "noise") return Noise(width, height);
  if (kind == "checker1") return Checkerboard(width, height, 1);
  if (kind == "checker2") return Checkerboard(width, height, 2);
  if (kind == "checker3") return Checkerboard(width, height, 3);
  if (kind == "spiral2") return ThinSpiral(width, height);
  if (kind == "meander3") return Meander(width, height);
  if (kind == "combs") return InterleavedCombs(width, height);
  if (width != height) throw std::invalid_argument("kind " + kind + " is square only");
  return SquareImage(kind, width);
}

std::vector<std::uint16_t> MakeBenchImage(const std::string& kind, int side) {
  return MakeBenchImage(kind, side, side);
}

std::string BenchImageText(const std::vector<std::uint16_t>& samples, int width) {
  std::string text;
  text.reserve(samples.size() * 5);
  char digits[8];
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto end = std::to_chars(digits, digits + sizeof digits, samples[i]).ptr;
    text.append(digits, end);
    text += (i + 1) % static_cast<std::size_t>(width) != 0 ? ' ' : '\n';
  }
  return text;
}
