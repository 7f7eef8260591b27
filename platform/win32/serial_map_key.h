// Backend-internal: the registry's serial-port map key, as its reader
// (serial_map.cpp) and its writer in the test kit
// (testkit/win32/serial_map_writer.cpp) open it.
#pragma once

#include <windows.h>

namespace plat::win32_map {

inline constexpr const char* kMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
inline constexpr const char* kParentKey = "HARDWARE\\DEVICEMAP";

// An open registry key, closed with its owner.
class Key {
 public:
  Key() = default;
  ~Key() { Close(); }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Open(const char* path, REGSAM access) {
    Close();
    return Keep(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access, &key_));
  }
  // The map lives under HARDWARE, which does not outlast a restart; its
  // subkeys must not either.
  bool CreateVolatile(const char* path) {
    Close();
    return Keep(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                &key_, nullptr));
  }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }
  HKEY get() const { return key_; }

 private:
  bool Keep(LONG result) {
    if (result == ERROR_SUCCESS) return true;
    key_ = nullptr;
    return false;
  }
  HKEY key_ = nullptr;
};

}  // namespace plat::win32_map
