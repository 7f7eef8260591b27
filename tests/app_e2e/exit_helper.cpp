// The program as a person leaves it during an upload: the application runs
// its main window, over the link layer and the engine, against a simulated
// device that stays plugged in; a second thread plays the person, who starts
// an upload and, once it is under way, closes the window and confirms the
// close. The program then returns from main with the upload's worker still
// running, and must end at once and cleanly.
//
// Usage: app_e2e_exit_helper <package folder>, with the device root in
// TAMRI_DEVICE_ROOT and the time scale in TAMRI_TIME_SCALE, both set before
// the start, since the link layer starts with the process. Prints what it
// did, one "helper: " line per step; exits 0 when main returned normally.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/Tamri.h"
#include "app/version_table.h"
#include "res/resource.h"
#include "session.h"
#include "sim/device.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"

namespace {

// The device stays plugged in while the program ends, as a real one would:
// it is never stopped, and serves the worker's reads to the very end.
sim::Device* Device = nullptr;

[[noreturn]] void Fail(const std::string& why) {
  std::printf("helper: %s\n", why.c_str());
  std::fflush(stdout);
  std::_Exit(3);
}

void Say(const char* what) {
  std::printf("helper: %s\n", what);
  std::fflush(stdout);
}

std::string DualChannelVersion() {
  for (const KnownVersion& known : VersionTable) {
    if (known.kind == VersionKind::DualChannel) return std::string(known.text);
  }
  return "";
}

void PlayThePerson(const std::string& folder, const std::string& version) {
  const ui::WindowHandle window = ui::headless::WaitForDialog(IDD_MAIN_DIALOG, appe2e::kSearchMs);
  if (window == ui::NoWindow) Fail("no window came");
  appe2e::Shown shown;
  if (!appe2e::WaitForFound(window, version, appe2e::kSearchMs, &shown, /*orBare=*/true)) {
    Fail("the device was not found: " + appe2e::Describe(shown));
  }
  ui::headless::Type(window, IDC_IMAGE_FOLDER, folder);
  const size_t frames = Device->GetStatus().frames;
  if (!ui::headless::Click(window, IDC_UPLOAD_IMAGE)) Fail("Upload Image could not be pressed");
  // A few hundred of the flash's 32768 blocks read, well before the end.
  const auto reading = [&](const sim::Status& s) { return s.state == sim::State::Streaming && s.frames >= frames + 300; };
  if (!Device->WaitFor(reading, appe2e::kSearchMs)) {
    Fail("the upload did not get under way: " + appe2e::Describe(appe2e::ShownBy(window)));
  }
  ui::headless::Close(window);
  if (!ui::headless::WaitForDialogEnd(window, appe2e::kSearchMs)) Fail("the window did not end");
  Say("closed during the upload");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <package folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  // Other programs of the test run may carry the program's name in their
  // paths: the guards see no other process here.
  Guards.EnumProcessIds = [](std::vector<uint32_t>& ids) {
    ids.clear();
    return true;
  };
  const std::string closeQuestion = ui::LoadString(IDS_CLOSE_WHILE_UPLOADING);
  ui::headless::SetBoxResponder([closeQuestion](const ui::headless::BoxRequest& box) {
    if (box.text == closeQuestion) return ui::IdOk;
    Fail("unexpected message box: " + box.text);
  });

  const std::string version = DualChannelVersion();
  Device = new sim::Device(appe2e::DeviceConfig(version, {}, folder + "/flash.bin"));
  std::string error;
  if (!Device->Start(&error)) Fail("the device did not start: " + error);

  std::thread person([&] { PlayThePerson(folder, version); });
  theApp.InitInstance();
  person.join();
  Say("main returns");
  return 0;
}
