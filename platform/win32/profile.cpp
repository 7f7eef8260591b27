// Profiles through the platform's private-profile functions. A bare file
// name would make them use the Windows folder; ProfilePath spells that folder
// out so callers (and tests) can reach the same file by its full path.
#include "plat/profile.h"

#include <windows.h>
// The platform's names for its own win.ini functions.
#undef GetProfileString
#undef WriteProfileString

#include <vector>

namespace plat {

std::string ProfilePath(const std::string& fileName) {
  if (fileName.find_first_of("\\/:") != std::string::npos) return fileName;
  char folder[MAX_PATH];
  const UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return fileName;
  return std::string(folder, length) + "\\" + fileName;
}

std::string GetProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
  const std::string path = ProfilePath(fileName);
  // The call truncates to the buffer and then returns its size less one;
  // grow until the value fits with room to spare.
  std::vector<char> buffer(256);
  for (;;) {
    const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                                  static_cast<DWORD>(buffer.size()), path.c_str());
    if (length + 1 < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

bool WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
  const std::string path = ProfilePath(fileName);
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != FALSE;
}

}  // namespace plat
