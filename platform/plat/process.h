// Processes: ids of the running processes, a process's executable path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// False when the process list is unavailable.
bool EnumProcessIds(std::vector<uint32_t>& ids);
// The full path of the process's executable; false where it cannot be read.
bool ProcessImagePath(uint32_t pid, std::string& path);
uint32_t CurrentProcessId();

// Ends the process at once with `code`: standard output and error are
// flushed, no static destructor runs and no other thread is waited for.
[[noreturn]] void ExitProcess(uint32_t code);

}  // namespace plat
