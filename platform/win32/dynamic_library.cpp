#include <windows.h>

#include "plat/dynamic_library.h"

namespace plat {
namespace {

// Pins the module that holds `address`.
bool PinModuleAt(const void* address) {
  HMODULE pinned = nullptr;
  return ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              static_cast<LPCSTR>(address), &pinned) != 0;
}

}  // namespace

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  handle_ = reinterpret_cast<void*>(::LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) {
    error_ = "LoadLibrary failed with error " + std::to_string(::GetLastError());
    return false;
  }
  // Pinned: the module's threads and objects may outlive this handle.
  PinModuleAt(handle_);
  error_.clear();
  return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void* DynamicLibrary::SymbolByOrdinal(unsigned ordinal) const {
  // An ordinal is passed in place of the name, as a number below 65536.
  if (handle_ == nullptr || ordinal == 0 || ordinal > 0xFFFF) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

void DynamicLibrary::Close() {
  if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

bool PinOwnModule() { return PinModuleAt(reinterpret_cast<const void*>(&PinOwnModule)); }

}  // namespace plat
