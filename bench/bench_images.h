#pragma once
// Seeded 12-bit test pictures for the benchmarks: the same kind and size give
// the same samples on every machine.

#include <cstdint>
#include <string>
#include <vector>

// Kinds: "photo" (uneven light, soft-edged ellipses), "spiral" (a square
// spiral wall: one long corridor), "comb" (stacked combs: a label merge on
// almost every row), "lattice" (small squares: many labels). All carry mild
// noise. Throws std::invalid_argument on an unknown kind.
std::vector<std::uint16_t> MakeBenchImage(const std::string& kind, int side);

// The shape gallery, every kind at any width and height (the kinds above
// too, when square): "noise" (uniform 0..4095), "checker1", "checker2",
// "checker3" (squares of that many pixels, 0 and 4000), "spiral2" (a square
// spiral, wall and corridor 2 pixels), "meander3" (one corridor winding
// between 3-pixel strips) and "combs" (pairs of interleaved combs with
// 3-pixel teeth); the last three draw 3000 on 200. None carries noise but
// the first. Throws std::invalid_argument on an unknown kind, a non-square
// size for a square kind, or a size below 1.
std::vector<std::uint16_t> MakeBenchImage(const std::string& kind, int width, int height);

// The samples as text, rows of `width` samples separated by spaces, each
// row ended by a line feed.
std::string BenchImageText(const std::vector<std::uint16_t>& samples, int width);
