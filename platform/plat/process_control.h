// Acting on processes: ending another process, and enabling a privilege of
// the program's own token.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Ends process `pid` with `exitCode`; false when it cannot be opened with
// the right to end it or the platform refuses. Every handle opened is closed.
bool TerminateProcessById(uint32_t pid, uint32_t exitCode);

// Enables the privilege `name` (such as "SeDebugPrivilege") in the program's
// own token; true when the adjustment call succeeded. Platforms without
// token privileges have none to enable: false.
bool EnableOwnPrivilege(const std::string& name);

}  // namespace plat
