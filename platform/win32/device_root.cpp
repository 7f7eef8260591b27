// Windows has a device namespace of its own (\\.\COM<n>, the registry's
// serial-port map), so the device root names nothing here: it is empty unless
// a test or TAMRI_DEVICE_ROOT sets it, and is only kept for callers that
// print or compare it.
#include "plat/device_root.h"

#include <cstdlib>
#include <mutex>

namespace plat {
namespace {
// Built at first use: the link layer's threads start during static
// construction and may ask for the root before this file's statics are made.
struct Root {
  std::mutex mutex;
  std::string root;
};

Root& TheRoot() {
  static Root* const root = new Root;  // never destroyed: threads may outlive exit-time destruction
  return *root;
}
}  // namespace

std::string DeviceRoot() {
  Root& r = TheRoot();
  std::lock_guard lock(r.mutex);
  if (!r.root.empty()) return r.root;
  const char* fromEnvironment = std::getenv("TAMRI_DEVICE_ROOT");
  return fromEnvironment ? fromEnvironment : "";
}

void SetDeviceRoot(const std::string& root) {
  Root& r = TheRoot();
  std::lock_guard lock(r.mutex);
  r.root = root;
}

}  // namespace plat
