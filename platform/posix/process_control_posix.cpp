#include "plat/process_control.h"

#include <signal.h>
#include <sys/types.h>

namespace plat {

bool TerminateProcessById(uint32_t pid, uint32_t /*exitCode*/) {
  // A signal cannot carry an exit code; the process ends as killed.
  if (pid == 0 || pid > static_cast<uint32_t>(INT32_MAX)) return false;
  return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool EnableOwnPrivilege(const std::string& /*name*/) { return false; }

}  // namespace plat
