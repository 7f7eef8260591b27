// Backend-internal: the points where the platform's test kit
// (platform/testkit/) changes what the platform does, so that the product
// carries no test state and no test API. Each is defined for the product,
// doing nothing, alone in a source file of its own in the plat archive; the
// test kit defines it again in objects that go straight onto a test
// program's link line, and a linker takes an object's definition before it
// looks for the symbol in an archive (mingw's ld too), so that archive
// member is then never pulled in.
#pragma once

#include <string>

namespace plat::detail {

enum class SerialCall { Open, GetCommState, SetCommState };

// Whether this call of a serial port is to fail as planned by a test.
bool SerialCallFails(SerialCall call);

// The device root a test has set in the place of the environment's; empty:
// none.
std::string DeviceRootOverride();

}  // namespace plat::detail
