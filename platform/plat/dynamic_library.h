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
  // The export with ordinal `ordinal`; null when there is none, and always
  // where the platform numbers no exports.
  void* SymbolByOrdinal(unsigned ordinal) const;
  void Close();
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

// Keeps the module that holds this platform layer's code (a module linked
// with its own copy) loaded until the process ends, whoever loaded it and
// however often its handles are closed: its threads run until then, and an
// unload would destroy its objects under them, on Windows while the loader
// holds its lock, which the threads need to end. Such a module calls it as
// it loads; in a program it changes nothing. False when the platform
// refused.
bool PinOwnModule();

}  // namespace plat
