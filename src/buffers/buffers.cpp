#include "buffers/buffers.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

constexpr std::uintptr_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void AdviseHugePages(void* data, std::size_t bytes) {
  if (bytes < 2 * kHugePage) return;
  const auto first = (reinterpret_cast<std::uintptr_t>(data) + kPage - 1) & ~(kPage - 1);
  const auto last = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(kPage - 1);
  // A refusal (no such advice on this system) leaves ordinary pages.
  ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}
