// Built into the link layer's module only. The module keeps itself loaded
// from the moment it loads: its link layer's threads run until the process
// ends, and an unload would destroy the link layer under them.
#include "plat/dynamic_library.h"

namespace {

struct PinAtLoad {
  PinAtLoad() { (void)plat::PinOwnModule(); }
} pinAtLoad;

}  // namespace
