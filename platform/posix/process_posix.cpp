#include "plat/process.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace plat {

bool EnumProcessIds(std::vector<uint32_t>& ids) {
  ids.clear();
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (*name < '1' || *name > '9') continue;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(name, &end, 10);
    if (*end == '\0' && pid <= UINT32_MAX) ids.push_back(static_cast<uint32_t>(pid));
  }
  ::closedir(proc);
  return true;
}

bool ProcessImagePath(uint32_t pid, std::string& path) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      path = std::move(buffer);
      return true;
    }
    // Possibly cut off: try again with more room.
    buffer.resize(buffer.size() * 2);
  }
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

void ExitProcess(uint32_t code) {
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(code));
}

}  // namespace plat
