#include "buffers/buffers.h"

#include <cstring>

namespace edgeseg {

// Plain heap blocks: what the standard library offers everywhere.

void BufferRelease::operator()(void* data) const { ::operator delete(data); }

void* ObtainBytes(std::size_t bytes, std::size_t& obtainedBytes) {
  obtainedBytes = bytes;
  return ::operator new(bytes);
}

// The heap cannot grow a block in place: the kept bytes are copied.
void* ResizeBytes(void* data, std::size_t, std::size_t keptBytes, std::size_t bytes, std::size_t& newObtainedBytes) {
  void* grown = ::operator new(bytes);
  std::memcpy(grown, data, keptBytes);
  ::operator delete(data);
  newObtainedBytes = bytes;
  return grown;
}

}  // namespace edgeseg
