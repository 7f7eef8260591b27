// The device root: the folder that stands for the platform's device
// namespace on this machine. It holds a COM<n> symlink per serial port and
// the serial-port map as the file SERIALCOMM (present = the key exists).
// Named by TAMRI_DEVICE_ROOT, else $XDG_RUNTIME_DIR/tamri, else /tmp/tamri-$UID
// (test programs may set it: testkit/device_root.h).
#pragma once

#include <string>

namespace plat {

std::string DeviceRoot();

}  // namespace plat
