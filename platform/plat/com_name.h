// COM port names: which texts name a COM port, and its number. One rule for
// every reader of such a name (an open by name on either backend, the
// serial-port map's data in the link's listing), so that a port one of
// them takes is a port the others take too.
#pragma once

#include <cstddef>
#include <string_view>

namespace plat {

// The numbers a COM port can have: 1 to 254. Port numbers are kept in a byte
// elsewhere, with 255 standing for "no port".
inline constexpr unsigned kMaxComNumber = 254;

// The port number in the decimal digits at the start of `text` (leading
// zeros allowed): 1 to kMaxComNumber, or 0 when there are no digits or their
// value is 0 or above kMaxComNumber. `digits`, when given, receives how many
// characters the digits take, all of them whatever their value.
unsigned ComDigitsNumber(std::string_view text, size_t* digits = nullptr);

// The port number of a device name "COM<n>" or "\\.\COM<n>": "COM" in any
// case, as the platform's device names are, then digits as above and
// nothing after them. 0 when the name names no COM port.
unsigned ComNameNumber(std::string_view name);

}  // namespace plat
