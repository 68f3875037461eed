#pragma once
// Picture-sized working buffers.
//
// A run obtains a few buffers of several bytes per pixel and writes most of
// them whole. With 4 KiB pages the kernel then spends a large share of the
// run handling page faults, so a large buffer asks for huge pages. That is
// only a hint: where the system does not offer them nothing changes.

#include <cstddef>
#include <memory>

// Marks the whole pages inside [data, data + bytes) as wanted in huge pages.
// Does nothing for buffers too small to hold one.
void AdviseHugePages(void* data, std::size_t bytes);

// An uninitialised buffer of count elements, in huge pages where offered.
// Throws std::bad_alloc (or std::bad_array_new_length) if it cannot be had.
template <class T>
std::unique_ptr<T[]> ObtainBuffer(std::size_t count) {
  auto buffer = std::make_unique_for_overwrite<T[]>(count);
  AdviseHugePages(buffer.get(), count * sizeof(T));
  return buffer;
}
