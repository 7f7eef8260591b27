// The backend's side of the serial fault hooks: each call consumes one
// planned failure and says whether the operation must fail.
#pragma once

#include "plat/serial.h"

namespace plat::serial_faults {
bool TakeOpen();
bool TakeGetCommState();
bool TakeSetCommState();
}  // namespace plat::serial_faults
