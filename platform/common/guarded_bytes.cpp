#include "plat/guarded_bytes.h"

#include <cstring>

namespace plat {

const char* GuardedBytes::Place(const void* data, size_t length) {
  if (base_ == nullptr || length > readable_) return nullptr;
  char* start = base_ + readable_ - length;
  if (length > 0) std::memcpy(start, data, length);
  return start;
}

}  // namespace plat
