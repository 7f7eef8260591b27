// The simulated device's AT side, apart from any transport: the command
// lines a port takes out of the byte stream, and the device's answers to
// them. Not thread-safe; the port driver (device.h) owns one AtCore for the
// whole device (its modes are the device's, whichever port switched them)
// and one AtLine per port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// What a port says it is when asked "AT+CINQP?".
enum class AtRole : uint8_t {
  Modem,          // "+CINQP: MODEM PORT,y2": the device's only modem port
  DualModem,      // "+CINQP: MODEM PORTy,1": the modem port of a device with two
  DualAt,         // "+CINQP: AT ONLY PORTy,2": the other port of that device
  LineFeedModem,  // "+CINQP: MODEM PORTy" and the line's end where the type belongs
};
std::string_view AtRoleName(AtRole role);

// The device's switchable modes; each 0 (off) or 1 (on), except `fun`, the
// last functionality level set with AT+CFUN (6, the reset, leaves 1).
struct AtModes {
  uint8_t diag = 0;
  uint8_t factory = 0;
  uint8_t test = 0;
  uint8_t fun = 1;
  bool dualChannel = false;
  bool operator==(const AtModes&) const = default;
};

// Which mode switches restart the device once their answer is out.
enum class SwitchRestart : uint8_t {
  AnyChange,  // every switch that changes a mode
  // Only switching the factory or test mode on: a firmware that keeps its
  // diagnostic-mode setting, or leaves a mode, until the host restarts it
  // (AT+CFUN=6), as the program's window expects of its devices.
  ModeOn,
};

struct AtAnswer {
  std::string text;          // goes out in one write
  bool reenumerate = false;  // the device restarts once the answer is out
};

class AtCore {
 public:
  AtCore(std::string versionText, std::string accessCode, AtModes modes,
         SwitchRestart restart = SwitchRestart::AnyChange);

  // The answer to one command line (without its CR), given on a port of
  // `role`.
  AtAnswer Answer(AtRole role, std::string_view command);

  const AtModes& Modes() const { return modes_; }

 private:
  AtAnswer Inquiry(AtRole role) const;
  AtAnswer DiagSwitch(std::string_view arguments);
  AtAnswer ModeSwitch(std::string_view name, uint8_t& mode, std::string_view arguments);
  AtAnswer Functionality(std::string_view arguments);

  std::string versionText_;
  std::string accessCode_;
  AtModes modes_;
  SwitchRestart restart_;
};

// Collects command lines out of what the host writes: a line ends at CR, a
// LF is skipped, and the command starts at the line's first "AT", in any
// case (whatever
// came before it, such as a framed diagnostic probe sent to every port, is
// noise). A flag byte (0x7E) ends a frame, never a command, and drops what
// was collected.
class AtLine {
 public:
  static constexpr size_t kMaxLine = 512;  // a longer line is dropped

  // Takes bytes up to and including the CR that ends the next command, or
  // all of them; returns how many it took. Ready() then tells whether a
  // command is there; it stays until Next().
  size_t Feed(const uint8_t* data, size_t count);
  bool Ready() const { return ready_; }
  std::string_view Command() const { return command_; }
  void Next();
  void Clear();

 private:
  std::string line_;
  std::string command_;
  bool overflow_ = false;
  bool ready_ = false;
};

}  // namespace sim
