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

// The samples as text, one row per line, separated by spaces.
std::string BenchImageText(const std::vector<std::uint16_t>& samples, int side);
