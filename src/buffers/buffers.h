#pragma once
// Picture-sized working buffers.
//
// A run obtains a few buffers of several bytes per pixel and writes most of
// them whole. Each is a mapping of its own, so that releasing it returns its
// memory to the system at once (a general-purpose heap may keep it), and a
// large one is placed and marked for huge pages: with 4 KiB pages the kernel
// spends a large share of a run handling page faults. Huge pages are only a
// hint; where the system does not offer them nothing changes.

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

// Under AddressSanitizer the mapped slack after a buffer's end is poisoned,
// so that an access even one byte past the end is reported, as it is for a
// heap block; elsewhere the slack is silently part of the last page.
#if defined(__SANITIZE_ADDRESS__)
#define EDGESEG_POISON_SLACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EDGESEG_POISON_SLACK 1
#endif
#endif
#ifndef EDGESEG_POISON_SLACK
#define EDGESEG_POISON_SLACK 0
#endif

// Unmaps a buffer of the given mapped length.
class BufferRelease {
 public:
  BufferRelease() = default;
  explicit BufferRelease(std::size_t mappedBytes) : mappedBytes_(mappedBytes) {}
  void operator()(void* data) const;

 private:
  std::size_t mappedBytes_ = 0;
};

template <class T>
using Buffer = std::unique_ptr<T[], BufferRelease>;

// Maps at least bytes (at least one page), uninitialised in the sense that
// the caller must not rely on its content; returns the start and sets
// mappedBytes to the length to release. Throws std::bad_alloc on failure.
void* MapBuffer(std::size_t bytes, std::size_t& mappedBytes);

// A buffer of count elements of a trivial type, content unspecified.
template <class T>
Buffer<T> ObtainBuffer(std::size_t count) {
  static_assert(std::is_trivial_v<T>);
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
  std::size_t mappedBytes = 0;
  void* data = MapBuffer(count * sizeof(T), mappedBytes);
  return Buffer<T>(static_cast<T*>(data), BufferRelease(mappedBytes));
}
