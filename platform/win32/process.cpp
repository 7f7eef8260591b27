#include "plat/process.h"

#include <cstdio>

#include <windows.h>
#include <psapi.h>

namespace plat {

bool EnumProcessIds(std::vector<uint32_t>& ids) {
  // The call does not say how many processes there are; grow until the
  // list comes back with room to spare.
  std::vector<DWORD> buffer(256);
  for (;;) {
    DWORD bytes = 0;
    const auto capacity = static_cast<DWORD>(buffer.size() * sizeof(DWORD));
    if (!EnumProcesses(buffer.data(), capacity, &bytes)) return false;
    if (bytes < capacity) {
      ids.assign(buffer.begin(), buffer.begin() + bytes / sizeof(DWORD));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool ProcessImagePath(uint32_t pid, std::string& path) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) return false;
  HMODULE module = nullptr;
  DWORD needed = 0;
  char name[MAX_PATH];
  DWORD length = 0;
  if (EnumProcessModules(process, &module, sizeof module, &needed))
    length = GetModuleFileNameExA(process, module, name, sizeof name);
  CloseHandle(process);
  if (length == 0) return false;
  path.assign(name, length);
  return true;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void ExitProcess(uint32_t code) {
  std::fflush(nullptr);
  ::ExitProcess(code);
}

}  // namespace plat
