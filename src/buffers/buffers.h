#pragma once
// Picture-sized working buffers.
//
// A run obtains a few buffers of several bytes per pixel and writes most of
// them whole. On POSIX systems each is a mapping of its own, so that
// releasing it returns its memory to the system at once (a general-purpose
// heap may keep it), and a large one is placed and marked for huge pages:
// with 4 KiB pages the kernel spends a large share of a run handling page
// faults. Huge pages are only a hint; where the system does not offer them
// nothing changes. A buffer that must grow (an input of unknown length)
// keeps its pages: on Linux they move to the larger mapping without being
// copied. The portable build takes its buffers from the heap.

#include <cstddef>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>

namespace edgeseg {

// 1 in AddressSanitizer builds. Every buffer then reports an access even one
// byte past its end, whatever its size: a heap block does so by itself, and
// a mapping has the rest of its last page and one more page after it
// poisoned, so that no other mapping can lie right behind its end.
#if defined(__SANITIZE_ADDRESS__)
#define EDGESEG_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define EDGESEG_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef EDGESEG_ADDRESS_SANITIZER
#define EDGESEG_ADDRESS_SANITIZER 0
#endif

// Gives back a buffer of the given obtained length.
class BufferRelease {
 public:
  BufferRelease() = default;
  explicit BufferRelease(std::size_t obtainedBytes) : obtainedBytes_(obtainedBytes) {}
  void operator()(void* data) const;
  std::size_t obtainedBytes() const { return obtainedBytes_; }

 private:
  std::size_t obtainedBytes_ = 0;
};

template <class T>
using Buffer = std::unique_ptr<T[], BufferRelease>;

// Obtains at least bytes, uninitialised in the sense that the caller must
// not rely on its content; returns the start and sets obtainedBytes to the
// length to release. Throws std::bad_alloc on failure.
void* ObtainBytes(std::size_t bytes, std::size_t& obtainedBytes);

// The bytes of count elements of a trivial type; throws
// std::bad_array_new_length when that many cannot be counted in a size_t.
template <class T>
std::size_t BytesOf(std::size_t count) {
  static_assert(std::is_trivial_v<T>);
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
  return count * sizeof(T);
}

// A buffer of count elements of a trivial type, content unspecified.
template <class T>
Buffer<T> ObtainBuffer(std::size_t count) {
  std::size_t obtainedBytes = 0;
  void* data = ObtainBytes(BytesOf<T>(count), obtainedBytes);
  return Buffer<T>(static_cast<T*>(data), BufferRelease(obtainedBytes));
}

// Moves a buffer of obtainedBytes to one of at least bytes, keeping its
// first keptBytes (at most both lengths); returns the new start and sets
// newObtainedBytes. The old start is then invalid. Throws std::bad_alloc
// and leaves the buffer as it was when the larger one cannot be had.
void* ResizeBytes(void* data, std::size_t obtainedBytes, std::size_t keptBytes, std::size_t bytes,
                  std::size_t& newObtainedBytes);

// Gives buffer room for count elements, keeping its first kept ones. On
// failure it throws and the buffer keeps its old room and content.
template <class T>
void GrowBuffer(Buffer<T>& buffer, std::size_t count, std::size_t kept) {
  std::size_t obtainedBytes = 0;
  void* data = ResizeBytes(buffer.get(), buffer.get_deleter().obtainedBytes(), kept * sizeof(T), BytesOf<T>(count),
                           obtainedBytes);
  static_cast<void>(buffer.release());  // moved, not to be given back
  buffer = Buffer<T>(static_cast<T*>(data), BufferRelease(obtainedBytes));
}

}  // namespace edgeseg
