// The device root: the folder that stands for the platform's device
// namespace on this machine. It holds a COM<n> symlink per serial port and
// the serial-port map as the file SERIALCOMM (present = the key exists).
// Named by TAMRI_DEVICE_ROOT, else $XDG_RUNTIME_DIR/tamri, else /tmp/tamri-$UID.
#pragma once

#include <string>

namespace plat {

std::string DeviceRoot();
// Test hook: replaces the root (an empty text returns to the environment's).
void SetDeviceRoot(const std::string& root);

}  // namespace plat
