// The serial-port map's writer on Windows: the registry key's values, as a
// port's driver adds and removes them. The key is volatile, as the
// platform's own under HARDWARE.
#include "testkit/serial_map_writer.h"

#include <windows.h>

#include "win32/serial_map_key.h"

namespace plat {

using win32_map::Key;
using win32_map::kMapKey;

bool SerialMapWriter::Create() {
  Key key;
  return key.CreateVolatile(kMapKey);
}

bool SerialMapWriter::Remove() {
  const LONG r = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMapKey);
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
}

bool SerialMapWriter::AddValue(const std::string& name, const std::string& data) {
  Key key;
  return key.CreateVolatile(kMapKey) &&
         RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

bool SerialMapWriter::RemoveValue(const std::string& name) {
  Key key;
  return key.Open(kMapKey, KEY_SET_VALUE) && RegDeleteValueA(key.get(), name.c_str()) == ERROR_SUCCESS;
}

}  // namespace plat
