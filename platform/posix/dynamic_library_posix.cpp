#include <dlfcn.h>

#include "plat/dynamic_library.h"

namespace plat {

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& path) {
  Close();
  // Its own symbols stay its own: nothing it defines replaces ours. Its code
  // and data stay mapped after Close: a module may run threads and keep
  // objects that live until the process ends, which an unmapping would cut
  // from under them.
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* reason = ::dlerror();
    error_ = reason != nullptr ? reason : "dlopen failed";
    return false;
  }
  error_.clear();
  return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? ::dlsym(handle_, name) : nullptr;
}

void* DynamicLibrary::SymbolByOrdinal(unsigned) const { return nullptr; }

void DynamicLibrary::Close() {
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
}

bool PinOwnModule() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&PinOwnModule), &info) == 0 || info.dli_fname == nullptr) return false;
  // A second reference that is never closed, and no unloading at all.
  return ::dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
}

}  // namespace plat
