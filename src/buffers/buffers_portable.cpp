#include "buffers/buffers.h"

// Plain heap blocks: what the standard library offers everywhere.

void BufferRelease::operator()(void* data) const { ::operator delete(data); }

void* ObtainBytes(std::size_t bytes, std::size_t& obtainedBytes) {
  obtainedBytes = bytes;
  return ::operator new(bytes);
}
