#include "buffers/buffers.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below two huge pages the alignment and advice are not worth their calls.
constexpr std::size_t kHugeFrom = 2 * kHugePage;

void* MapAnonymous(std::size_t bytes) {
  void* data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) throw std::bad_alloc();
  return data;
}

}  // namespace

void BufferRelease::operator()(void* data) const {
  if (data != nullptr) ::munmap(data, mappedBytes_);
}

void* MapBuffer(std::size_t bytes, std::size_t& mappedBytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() - kHugePage - kPage) throw std::bad_alloc();
  const std::size_t length = (std::max<std::size_t>(bytes, 1) + kPage - 1) & ~(kPage - 1);
  if (length < kHugeFrom) {
    mappedBytes = length;
    return MapAnonymous(length);
  }
  // Map a huge page more than needed, then give back what lies before the
  // first huge-page boundary and after the buffer, so that every whole huge
  // page of the buffer can be one.
  auto* const raw = static_cast<std::uint8_t*>(MapAnonymous(length + kHugePage));
  const std::size_t head = (kHugePage - reinterpret_cast<std::uintptr_t>(raw) % kHugePage) % kHugePage;
  if (head > 0) ::munmap(raw, head);
  ::munmap(raw + head + length, kHugePage - head);
  std::uint8_t* const data = raw + head;
  ::madvise(data, length, MADV_HUGEPAGE);  // a refusal leaves ordinary pages
  mappedBytes = length;
  return data;
}
