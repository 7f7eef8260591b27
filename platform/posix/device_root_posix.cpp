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

// Built at first use: the link layer's threads start during static
// construction and may ask for the root before this file's statics are made.
struct Override {
  std::mutex mutex;
  std::string root;  // set by SetDeviceRoot; empty: from the environment
};

Override& TheOverride() {
  static Override* const override = new Override;  // never destroyed: threads may outlive exit-time destruction
  return *override;
}

const char* NonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string DeviceRoot() {
  {
    Override& o = TheOverride();
    std::lock_guard lock(o.mutex);
    if (!o.root.empty()) return o.root;
  }
  if (const char* root = NonEmptyEnvironment("TAMRI_DEVICE_ROOT")) return root;
  if (const char* runtime = NonEmptyEnvironment("XDG_RUNTIME_DIR")) return std::string(runtime) + "/tamri";
  return "/tmp/tamri-" + std::to_string(static_cast<unsigned long>(::getuid()));
}

void SetDeviceRoot(const std::string& root) {
  Override& o = TheOverride();
  std::lock_guard lock(o.mutex);
  o.root = root;
}

}  // namespace plat
