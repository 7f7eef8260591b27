// The test kit's side of the device-root seam (common/test_seams.h). It is
// linked as an object, never from an archive, so that it replaces the
// product's definition, which returns no override.
#include "testkit/device_root.h"

#include <mutex>

#include "common/test_seams.h"

namespace plat {
namespace {

// Built at first use: the link layer's threads start during static
// construction and may ask for the root before this file's statics are made.
struct Override {
  std::mutex mutex;
  std::string root;  // empty: from the environment
};

Override& TheOverride() {
  static Override* const override = new Override;  // never destroyed: threads may outlive exit-time destruction
  return *override;
}

}  // namespace

void SetDeviceRoot(const std::string& root) {
  Override& o = TheOverride();
  std::lock_guard lock(o.mutex);
  o.root = root;
}

namespace detail {

std::string DeviceRootOverride() {
  Override& o = TheOverride();
  std::lock_guard lock(o.mutex);
  return o.root;
}

}  // namespace detail
}  // namespace plat
