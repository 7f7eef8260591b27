// Test aid: bytes that end right before a page the process may not read,
// so that any read past their end faults at once instead of going unseen.
#pragma once

#include <cstddef>

namespace plat {

class GuardedBytes {
 public:
  // Room for up to `capacity` bytes in front of the unreadable page.
  explicit GuardedBytes(size_t capacity);
  ~GuardedBytes();
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // False when the platform refused the pages.
  bool Valid() const { return base_ != nullptr; }
  // Copies `length` bytes (at most the capacity) so that the last one is
  // the last readable byte; returns the first. Null when they do not fit.
  const char* Place(const void* data, size_t length);

 private:
  char* base_ = nullptr;  // the readable pages, then the guard page
  size_t readable_ = 0;
  size_t total_ = 0;
};

}  // namespace plat
