#include <windows.h>

#include "plat/dynamic_library.h"

namespace plat {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  handle_ = reinterpret_cast<void*>(::LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) {
    error_ = "LoadLibrary failed with error " + std::to_string(::GetLastError());
    return false;
  }
  // Pinned: the module's threads and objects may outlive this handle.
  HMODULE pinned = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       static_cast<LPCSTR>(handle_), &pinned);
  error_.clear();
  return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

}  // namespace plat
