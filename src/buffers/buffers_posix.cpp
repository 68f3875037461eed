#include "buffers/buffers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#if EDGESEG_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace {

// The smallest unit the system maps; every mapping and unmapping is a whole
// number of these.
std::size_t PageSize() {
  static const std::size_t page = [] {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
  }();
  return page;
}

// The size of a transparent huge page as the kernel reports it; 2 MiB where
// it says nothing usable (the size on x86-64 and most arm64 systems), or
// where the system is not Linux and has no such file.
std::size_t HugePageSize() {
  static const std::size_t hugePage = [] {
    std::size_t size = 0;
#if defined(__linux__)
    const int fd = ::open("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      char text[32] = {};
      const ssize_t got = ::read(fd, text, sizeof text - 1);
      ::close(fd);
      if (got > 0) size = std::strtoull(text, nullptr, 10);
    }
#endif
    const bool usable = size >= PageSize() && (size & (size - 1)) == 0 && size <= (std::size_t{1} << 30);
    return usable ? size : std::size_t{2} << 20;
  }();
  return hugePage;
}

void* MapAnonymous(std::size_t bytes) {
  void* data = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) throw std::bad_alloc();
  return data;
}

// Unmapping a range that this unit mapped cannot fail unless the bookkeeping
// is wrong; going on would leak or unmap someone else's memory.
void Unmap(void* data, std::size_t bytes) {
  if (bytes > 0 && ::munmap(data, bytes) != 0) std::abort();
}

}  // namespace

void BufferRelease::operator()(void* data) const {
  if (data == nullptr) return;
#if EDGESEG_ADDRESS_SANITIZER
  ASAN_UNPOISON_MEMORY_REGION(data, obtainedBytes_);
#endif
  Unmap(data, obtainedBytes_);
}

void* ObtainBytes(std::size_t bytes, std::size_t& obtainedBytes) {
  const std::size_t page = PageSize();
  const std::size_t hugePage = HugePageSize();
  if (bytes > std::numeric_limits<std::size_t>::max() - hugePage - page) throw std::bad_alloc();
  const std::size_t length = (std::max<std::size_t>(bytes, 1) + page - 1) & ~(page - 1);
  std::uint8_t* data = nullptr;
  // Below two huge pages the alignment and advice are not worth their calls.
  if (length < 2 * hugePage) {
    data = static_cast<std::uint8_t*>(MapAnonymous(length));
  } else {
    // Map a huge page more than needed, then give back what lies before the
    // first huge-page boundary and after the buffer, so that every whole
    // huge page of the buffer can be one.
    auto* const raw = static_cast<std::uint8_t*>(MapAnonymous(length + hugePage));
    const std::size_t head = (hugePage - reinterpret_cast<std::uintptr_t>(raw) % hugePage) % hugePage;
    Unmap(raw, head);
    Unmap(raw + head + length, hugePage - head);
    data = raw + head;
#if defined(__linux__)
    ::madvise(data, length, MADV_HUGEPAGE);  // a refusal leaves ordinary pages
#endif
  }
#if EDGESEG_ADDRESS_SANITIZER
  // The rest of the last page is mapped but is no part of the buffer.
  ASAN_POISON_MEMORY_REGION(data + bytes, length - bytes);
#endif
  obtainedBytes = length;
  return data;
}
