// Windows has a device namespace of its own (\\.\COM<n>, the registry's
// serial-port map), so the device root names nothing here: it is empty unless
// TAMRI_DEVICE_ROOT (or a test program: common/test_seams.h) sets it, and is
// only kept for callers that print or compare it.
#include "plat/device_root.h"

#include <cstdlib>

#include "common/test_seams.h"

namespace plat {

std::string DeviceRoot() {
  if (std::string root = detail::DeviceRootOverride(); !root.empty()) return root;
  const char* fromEnvironment = std::getenv("TAMRI_DEVICE_ROOT");
  return fromEnvironment ? fromEnvironment : "";
}

}  // namespace plat
