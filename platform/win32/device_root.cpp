// Windows has a device namespace of its own (\\.\COM<n>, the registry's
// serial-port map), so the device root names nothing here: it is empty unless
// a test or TAMRI_DEVICE_ROOT sets it, and is only kept for callers that
// print or compare it.
#include "plat/device_root.h"

#include <cstdlib>
#include <mutex>

namespace plat {
namespace {
std::mutex g_mutex;
std::string g_root;
}  // namespace

std::string DeviceRoot() {
  std::lock_guard lock(g_mutex);
  if (!g_root.empty()) return g_root;
  const char* fromEnvironment = std::getenv("TAMRI_DEVICE_ROOT");
  return fromEnvironment ? fromEnvironment : "";
}

void SetDeviceRoot(const std::string& root) {
  std::lock_guard lock(g_mutex);
  g_root = root;
}

}  // namespace plat
