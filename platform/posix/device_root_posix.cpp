// The device root on POSIX: a folder standing for the platform's device
// namespace. Chosen, in this order, by the test hook SetDeviceRoot, by
// TAMRI_DEVICE_ROOT, by $XDG_RUNTIME_DIR/tamri, and else /tmp/tamri-$UID.
// The environment is read at every call, so a change of it is seen at once.
#include "plat/device_root.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace plat {
namespace {

std::mutex g_mutex;
std::string g_override;  // set by SetDeviceRoot; empty: from the environment

const char* NonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string DeviceRoot() {
  {
    std::lock_guard lock(g_mutex);
    if (!g_override.empty()) return g_override;
  }
  if (const char* root = NonEmptyEnvironment("TAMRI_DEVICE_ROOT")) return root;
  if (const char* runtime = NonEmptyEnvironment("XDG_RUNTIME_DIR")) return std::string(runtime) + "/tamri";
  return "/tmp/tamri-" + std::to_string(static_cast<unsigned long>(::getuid()));
}

void SetDeviceRoot(const std::string& root) {
  std::lock_guard lock(g_mutex);
  g_override = root;
}

}  // namespace plat
