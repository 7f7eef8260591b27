#include "window_fixture.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <random>

#include "app/settings.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "plat/environment.h"
#include "plat/profile.h"
#include "res/resource.h"

std::string VersionRecordWith(const std::string& version) {
  std::string record(DeviceVersionSize, '\0');
  const std::string first = "+CGMR:";
  record.replace(0, first.size(), first);
  record.replace(30, std::min<std::size_t>(version.size(), 30), version.substr(0, 30));
  return record;
}

TempSettings::TempSettings() {
  std::random_device random;
  folder_ = std::filesystem::temp_directory_path() / ("tamri-app-test-" + std::to_string(random()));
  std::filesystem::create_directories(folder_);
  plat::SetEnvironment("XDG_CONFIG_HOME", folder_.string());
  // Where the platform keeps the file whatever the environment says (the
  // Windows folder on Windows): each test starts without one.
  std::error_code error;
  std::filesystem::remove(plat::ProfilePath(settings::FileName()), error);
}

TempSettings::~TempSettings() {
  std::error_code error;
  std::filesystem::remove(plat::ProfilePath(settings::FileName()), error);
  std::filesystem::remove_all(folder_, error);
}

void TempSettings::Set(const std::string& section, const std::string& key, const std::string& value) {
  plat::WriteProfileString(settings::FileName(), section, key, value);
}

std::string TempSettings::Get(const std::string& section, const std::string& key) const {
  return plat::GetProfileString(settings::FileName(), section, key, "");
}

WindowTest::WindowTest() {
  plat::SetTimeScale(100);
  DeviceState = StateNoDevice;
  LastScanFound = 0;
  std::memset(DeviceVersion, 0, sizeof DeviceVersion);
  download::DeviceDiagMode = 0;
  DownloadJobBlock = DownloadJob{};
  ui::headless::ClearUnansweredBoxes();
  dialog_ = std::make_unique<CTamriDlg>();
}

WindowTest::~WindowTest() {
  Finish();
  download::workers_testing::JoinWorkers();
  EXPECT_TRUE(ui::headless::UnansweredBoxes().empty());
  EXPECT_TRUE(boxes_.AllShown()) << "an expected message box never came";
  plat::SetTimeScale(1);
}

void WindowTest::Start() {
  ui_ = std::thread([this] {
    dialog_->DoModal();
    dialog_->ShutdownDriverThread();
  });
  window_ = ui::headless::WaitForDialog(IDD_MAIN_DIALOG, kWaitMs);
  ASSERT_NE(window_, ui::NoWindow);
  Settle();
}

void WindowTest::Finish() {
  if (!ui_.joinable()) return;
  dialog_->EndDialog(ui::IdCancel);
  ui_.join();
}

bool WindowTest::Ended(uint32_t ms) { return ui::headless::WaitForDialogEnd(window_, ms); }

void WindowTest::Indicate(int id, const std::string& payload) {
  link_.Indicate(id, payload);
  Settle();
}

void WindowTest::Indicate(int id, std::initializer_list<uint8_t> payload) {
  Indicate(id, std::string(payload.begin(), payload.end()));
}

void WindowTest::Settle() {
  ASSERT_TRUE(link_.WaitDrained(kWaitMs));
  if (!ui::headless::WaitForDialogEnd(window_, 0)) ui::headless::Sync(window_);
}

ui::headless::ControlView WindowTest::ControlOf(int id) {
  auto control = ui::headless::Control(window_, id);
  EXPECT_TRUE(control.has_value()) << "no control " << id;
  return control.value_or(ui::headless::ControlView{});
}

std::string WindowTest::Status() { return ControlOf(IDC_STATUS_TEXT).text; }
bool WindowTest::Enabled(int id) { return ControlOf(id).enabled; }

void WindowTest::FindWithVersion(const std::string& version) {
  Indicate(IdPortScanResult, {3, 0});
  Indicate(IdVersion, VersionRecordWith(version));
}
