// A test program's own device root (plat/device_root.h), in the place of the
// environment's.
#pragma once

#include <string>

namespace plat {

// Replaces the root; an empty text returns to the environment's.
void SetDeviceRoot(const std::string& root);

}  // namespace plat
