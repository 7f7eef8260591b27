#include "session.h"

#include <chrono>
#include <thread>

#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"

namespace appe2e {

sim::Config DeviceConfig(const std::string& version, const sim::AtModes& modes, const std::string& flashPath) {
  sim::Config config;
  config.com = kDiagCom;
  config.profile = sim::Profile::SingleModem;
  config.flashPath = flashPath;
  config.fill = sim::Fill::Pattern;  // every word its own address: a block read from the wrong place shows
  config.versionText = version;
  config.modes = modes;
  config.switchRestart = sim::SwitchRestart::ModeOn;
  // Gone and back within the window's one second before a search: one
  // search follows a reset.
  config.resetSilenceMs = 200;
  return config;
}

bool WaitUntil(const std::function<bool()>& done, uint32_t realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // A short poll: the states waited for last hundreds of milliseconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

Shown ShownBy(ui::WindowHandle window) {
  Shown shown;
  const auto view = ui::headless::View(window);
  if (!view) return shown;
  for (const ui::headless::ControlView& control : view->controls) {
    switch (control.id) {
      case IDC_STATUS_TEXT: shown.status = control.text; break;
      case ui::IdOk: shown.download = control.enabled; break;
      case IDC_UPLOAD_IMAGE: shown.upload = control.enabled; break;
      case IDC_PROGRESS: shown.progress = control.progress; break;
      default: break;
    }
  }
  return shown;
}

std::string Describe(const Shown& shown) {
  return "\"" + shown.status + "\", Download " + (shown.download ? "on" : "off") + ", Upload Image " +
         (shown.upload ? "on" : "off") + ", progress " + std::to_string(shown.progress);
}

bool WaitForFound(ui::WindowHandle window, const std::string& version, uint32_t realMs, Shown* last,
                  bool orBare) {
  const std::string found = "Found Device. " + version;
  Shown shown;
  const bool ok = WaitUntil(
      [&] {
        shown = ShownBy(window);
        const bool text = shown.status == found || (orBare && shown.status == "Found Device.");
        return text && shown.download && shown.upload;
      },
      realMs);
  if (last != nullptr) *last = shown;
  return ok;
}

}  // namespace appe2e
