#include "buffers/buffers.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if EDGESEG_ADDRESS_SANITIZER
#include <sanitizer/asan_interface.h>
#endif

namespace edgeseg {

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

// What a sanitizer build maps after every buffer and poisons: an overrun of
// a buffer that ends on a page boundary then lands on poison, not on
// whatever mapping the kernel placed behind it.
std::size_t GuardLength() { return EDGESEG_ADDRESS_SANITIZER ? PageSize() : 0; }

// From this size on a buffer is placed on huge pages: one fault and one
// cleared huge page cost less than the 64 or more faults of its 4 KiB pages
// (about 12 us each on a virtual machine), though the rest of its last huge
// page is then resident too.
constexpr std::size_t kHugePagesFrom = std::size_t{256} << 10;

bool WantsHugePages(std::size_t bytes) { return bytes >= kHugePagesFrom; }

// The length mapped for bytes (at least one) and the guard: whole pages,
// or whole huge pages for a buffer placed on them, so that its last part
// is no run of small pages.
std::size_t MappedLength(std::size_t bytes) {
  const std::size_t unit = WantsHugePages(bytes) ? HugePageSize() : PageSize();
  return (std::max<std::size_t>(bytes, 1) + GuardLength() + unit - 1) & ~(unit - 1);
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
  const std::size_t hugePage = HugePageSize();
  if (bytes > std::numeric_limits<std::size_t>::max() - hugePage - 2 * PageSize()) throw std::bad_alloc();
  const std::size_t length = MappedLength(bytes);
  std::uint8_t* data = nullptr;
  if (!WantsHugePages(bytes)) {
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
  // The rest of the last page and the guard are mapped but no part of the
  // buffer.
  ASAN_POISON_MEMORY_REGION(data + bytes, length - bytes);
#endif
  obtainedBytes = length;
  return data;
}

void* ResizeBytes(void* data, std::size_t obtainedBytes, [[maybe_unused]] std::size_t keptBytes, std::size_t bytes,
                  std::size_t& newObtainedBytes) {
  // Both ways start with ObtainBytes, whose size guard throws before the
  // buffer is touched.
#if defined(__linux__)
  // The kernel moves the pages into a larger range placed as any buffer of
  // that size is: nothing is copied, the old range is gone once they have
  // moved, and huge pages stay whole, since both ranges start on a huge-page
  // boundary.
  std::size_t length = 0;
  auto* const place = static_cast<std::uint8_t*>(ObtainBytes(bytes, length));
#if EDGESEG_ADDRESS_SANITIZER
  ASAN_UNPOISON_MEMORY_REGION(data, obtainedBytes);
#endif
  if (::mremap(data, obtainedBytes, obtainedBytes, MREMAP_MAYMOVE | MREMAP_FIXED, place) == MAP_FAILED) {
#if EDGESEG_ADDRESS_SANITIZER
    ASAN_POISON_MEMORY_REGION(static_cast<std::uint8_t*>(data) + keptBytes, obtainedBytes - keptBytes);
#endif
    BufferRelease{length}(place);
    throw std::bad_alloc();
  }
  newObtainedBytes = length;
  return place;
#else
  // Elsewhere a new mapping takes a copy of the kept bytes.
  void* grown = ObtainBytes(bytes, newObtainedBytes);
  std::memcpy(grown, data, keptBytes);
  BufferRelease(obtainedBytes)(data);
  return grown;
#endif
}

}  // namespace edgeseg
