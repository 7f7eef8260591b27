#include "plat/process_control.h"

#include <windows.h>

namespace plat {

bool TerminateProcessById(uint32_t pid, uint32_t exitCode) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
  if (!process) return false;
  const bool ended = TerminateProcess(process, exitCode) != 0;
  CloseHandle(process);
  return ended;
}

bool EnableOwnPrivilege(const std::string& name) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool adjusted = false;
  if (LookupPrivilegeValueA(nullptr, name.c_str(), &privileges.Privileges[0].Luid)) {
    adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr) != 0;
  }
  CloseHandle(token);
  return adjusted;
}

}  // namespace plat
