#include <sys/mman.h>
#include <unistd.h>

#include "plat/guarded_bytes.h"

namespace plat {

GuardedBytes::GuardedBytes(size_t capacity) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  readable_ = (capacity + page - 1) / page * page;
  if (readable_ == 0) readable_ = page;
  total_ = readable_ + page;
  void* base = mmap(nullptr, total_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return;
  if (mprotect(static_cast<char*>(base) + readable_, page, PROT_NONE) != 0) {
    munmap(base, total_);
    return;
  }
  base_ = static_cast<char*>(base);
}

GuardedBytes::~GuardedBytes() {
  if (base_ != nullptr) munmap(base_, total_);
}

}  // namespace plat
