// What the end-to-end runs of the program's window share, the tests and the
// program that exits during a transfer alike: the simulated device a
// firmware class is tried on, and waits on what the window shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "sim/device.h"
#include "ui/window.h"

namespace appe2e {

// The device's diagnostic port; its one modem port is the next number.
inline constexpr unsigned kDiagCom = 7;
// The system's pauses (the state machine's, the link layer's, the engine's
// and the device's) run this many times faster.
inline constexpr int kTimeScale = 3;
// Deadlines in real time: for the device search and a download, and for an
// upload of the whole flash, which takes tens of seconds under a sanitizer.
inline constexpr uint32_t kSearchMs = 60000;
inline constexpr uint32_t kUploadMs = 240000;

// A device with one modem port beside its diagnostic port, running firmware
// `version` with `modes` at power-on, its flash in the file `flashPath`. It
// restarts when its factory or test mode is switched on and when it is
// reset, never on the diagnostic-mode switch, which the window makes take
// effect with AT+CFUN=7 and 6.
sim::Config DeviceConfig(const std::string& version, const sim::AtModes& modes, const std::string& flashPath);

// Polls `done` until it holds; false when `realMs` passed first.
bool WaitUntil(const std::function<bool()>& done, uint32_t realMs);

// What the main window shows, read at one moment.
struct Shown {
  std::string status;
  bool download = false;  // the Download button is enabled
  bool upload = false;    // the Upload Image button is enabled
  int progress = 0;
};
Shown ShownBy(ui::WindowHandle window);
std::string Describe(const Shown& shown);

// Waits until the window shows "Found Device. <version>" with both buttons
// enabled; the last thing shown in `last` when given.
// `orBare` also takes "Found Device." alone: after the dual-channel switch
// the window names the version only when the scan that follows the device's
// restart has ended within the window's one-second settle (the link's
// getters give the last ended scan's port at once); a longer scan finds the
// device through its own result, which names no version.
bool WaitForFound(ui::WindowHandle window, const std::string& version, uint32_t realMs, Shown* last = nullptr,
                  bool orBare = false);

}  // namespace appe2e
