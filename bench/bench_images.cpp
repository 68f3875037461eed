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

}  // namespace

std::vector<std::uint16_t> MakeBenchImage(const std::string& kind, int side) {
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

std::string BenchImageText(const std::vector<std::uint16_t>& samples, int side) {
  std::string text;
  text.reserve(samples.size() * 5);
  char digits[8];
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto end = std::to_chars(digits, digits + sizeof digits, samples[i]).ptr;
    text.append(digits, end);
    text += (i + 1) % static_cast<std::size_t>(side) != 0 ? ' ' : '\n';
  }
  return text;
}
