// The device root on POSIX: a folder standing for the platform's device
// namespace. Chosen, in this order, by TAMRI_DEVICE_ROOT, by
// $XDG_RUNTIME_DIR/tamri, and else /tmp/tamri-$UID (a test program may set
// one in their place: common/test_seams.h). The environment is read at every
// call, so a change of it is seen at once.
#include "plat/device_root.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "common/test_seams.h"

namespace plat {
namespace {

const char* NonEmptyEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

std::string DeviceRoot() {
  if (std::string root = detail::DeviceRootOverride(); !root.empty()) return root;
  if (const char* root = NonEmptyEnvironment("TAMRI_DEVICE_ROOT")) return root;
  if (const char* runtime = NonEmptyEnvironment("XDG_RUNTIME_DIR")) return std::string(runtime) + "/tamri";
  return "/tmp/tamri-" + std::to_string(static_cast<unsigned long>(::getuid()));
}

}  // namespace plat
