#include <windows.h>

#include "plat/guarded_bytes.h"

namespace plat {

GuardedBytes::GuardedBytes(size_t capacity) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  readable_ = (capacity + page - 1) / page * page;
  if (readable_ == 0) readable_ = page;
  total_ = readable_ + page;
  void* base = VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return;
  DWORD previous = 0;
  if (!VirtualProtect(static_cast<char*>(base) + readable_, page, PAGE_NOACCESS, &previous)) {
    VirtualFree(base, 0, MEM_RELEASE);
    return;
  }
  base_ = static_cast<char*>(base);
}

GuardedBytes::~GuardedBytes() {
  if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace plat
