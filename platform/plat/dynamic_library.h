// A module loaded at run time and the addresses of its exported functions:
// what another program does with the link layer's module.
#pragma once

#include <string>

namespace plat {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();  // closes
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Loads the module at `path`; false with the platform's reason in Error().
  // A module opened before is closed first. Closing releases the handle
  // only: the module stays loaded until the process ends, since its threads
  // and process-wide objects may outlive the handle.
  bool Open(const std::string& path);
  bool IsOpen() const { return handle_ != nullptr; }
  // The exported function or object `name`; null when there is none.
  void* Symbol(const char* name) const;
  void Close();
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace plat
