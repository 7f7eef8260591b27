// The program end to end: its main window on the headless backend, the link
// layer's one object reached through the Dll_ functions, and the download
// engine, against the simulated device over pseudo-terminals. A person's
// part is played through the dialog driver: typing the package folder,
// pressing the buttons, answering the message boxes, closing the window.
// The system's pauses run at a raised time scale. The tests follow the
// window's searches through three entries of its call table, which pass on
// to the Dll_ functions; they hold a search back only to look at the window
// with none under way.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/TamriDlg.h"
#include "app/link_calls.h"
#include "app/settings.h"
#include "app/version_table.h"
#include "box_script.h"
#include "handoff/scan_diag_port.h"
#include "download/steps.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "res/resource.h"
#include "session.h"
#include "sim/device.h"
#include "sim/package.h"
#include "support/port_kit.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;
using appe2e::kSearchMs;
using appe2e::kUploadMs;
using appe2e::Shown;

// The link layer's object starts with the process, and its watch of the
// serial-port map stays on the device root it finds then. So the process's
// temporary root is made before any other static object: an object with an
// initialisation priority is constructed ahead of every one without.
__attribute__((init_priority(101))) testkit::TempDeviceRoot ProcessRoot;

constexpr uint32_t kFlashBytes = 33554432;
// Where a short upload starts reading: its last two thousand blocks.
constexpr uint32_t kShortUploadFrom = kFlashBytes - (2048u << 10);
constexpr uint32_t kWindowMs = 10000;

// The bytes of `path` from `from` on.
std::vector<uint8_t> ReadFileFrom(const fs::path& path, uint32_t from) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  const std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) < from) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(size) - from);
  in.seekg(from);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// Whether `wanted` occurs in `seen` in its order, other entries between.
bool InOrder(const std::vector<std::string>& seen, const std::vector<std::string>& wanted) {
  auto at = seen.begin();
  for (const std::string& one : wanted) {
    at = std::find(at, seen.end(), one);
    if (at == seen.end()) return false;
    ++at;
  }
  return true;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

std::string FirstVersionOf(VersionKind kind) {
  for (const KnownVersion& known : VersionTable) {
    if (known.kind == kind) return std::string(known.text);
  }
  return "";
}

// A firmware text the table does not list: test mode.
constexpr const char* kUnlistedVersion = "NV7310-QA-0001";
static_assert(ClassifyVersion(kUnlistedVersion) == VersionKind::TestMode);

const std::string kAccessCode = "70419352";  // the built-in one: the settings hold none

enum class Kind { Download, Upload };

// The window's port searches as the tests follow them. Each search is
// answered by one scan result, each version request by a version record
// (after which the window still talks to the device, then finds it); the
// window's found action is the one step that asks the link layer for its
// DiagMode, and it has ended when the window's driver thread next asks for
// an indication (it turns the buttons on before it shows its text: a
// transfer started in between would race it). While searches are held, one
// the window asks for waits and goes to the link layer on release: the
// window is then looked at without a search under way, also as a transfer's
// end leaves it (the device restarts at that end and could be found again
// before the engine's finish, which the window allows for).
struct SearchLog {
  std::mutex mutex;
  bool held = false;
  bool asked = false;   // a search waits for the release
  int issued = 0;       // searches given to the link layer
  int results = 0;      // scan results the window has taken
  int versionsAsked = 0;
  int versions = 0;     // version records the window has taken
  uint64_t steps = 0;
  uint64_t lastResult = 0;  // the step of the last scan result or version record
  uint64_t lastFound = 0;   // the step of the last found action
  uint64_t lastRead = 0;    // the step of the driver thread's last read of an indication
};
SearchLog Searches;

bool DLL_STDCALL LoggedSearchPort() {
  {
    // Counted as it is let through, so that a hold never misses it.
    std::lock_guard lock(Searches.mutex);
    if (Searches.held) {
      Searches.asked = true;
      return true;
    }
    ++Searches.issued;
  }
  return Dll_SearchPort();
}

bool DLL_STDCALL LoggedReadDate(int* id, char* data, int* length) {
  {
    // Whatever the driver thread handled before has ended.
    std::lock_guard lock(Searches.mutex);
    Searches.lastRead = ++Searches.steps;
  }
  if (!Dll_ReadDate(id, data, length)) return false;
  if (*id == IdPortScanResult || *id == IdVersion) {
    std::lock_guard lock(Searches.mutex);
    ++(*id == IdVersion ? Searches.versions : Searches.results);
    Searches.lastResult = ++Searches.steps;
  }
  return true;
}

bool DLL_STDCALL LoggedVersionReq() {
  // A request the link layer refuses gets no record.
  if (!Dll_VersionReq()) return false;
  std::lock_guard lock(Searches.mutex);
  ++Searches.versionsAsked;
  return true;
}

int DLL_STDCALL LoggedGetDiagModeReq() {
  {
    std::lock_guard lock(Searches.mutex);
    Searches.lastFound = ++Searches.steps;
  }
  return Dll_GetDiagModeReq();
}

void ResetSearches() {
  std::lock_guard lock(Searches.mutex);
  Searches.held = Searches.asked = false;
  Searches.issued = Searches.results = Searches.versionsAsked = Searches.versions = 0;
  Searches.steps = Searches.lastResult = Searches.lastFound = Searches.lastRead = 0;
}

void HoldSearches(bool hold) {
  bool ask = false;
  {
    std::lock_guard lock(Searches.mutex);
    Searches.held = hold;
    ask = !hold && std::exchange(Searches.asked, false);
    if (ask) ++Searches.issued;
  }
  if (ask) Dll_SearchPort();
}

// Every search and version request answered, and the device found after the
// last answer, that found action ended.
bool SearchesSettled() {
  std::lock_guard lock(Searches.mutex);
  return Searches.issued == Searches.results && Searches.versionsAsked == Searches.versions &&
         Searches.lastFound > Searches.lastResult && Searches.lastRead > Searches.lastFound;
}

class AppE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetTimeScale(appe2e::kTimeScale);
    plat::SetDebugSink([this](plat::DebugChannel channel, std::string_view text) {
      if (text.empty()) return;
      std::lock_guard lock(linesMutex_);
      (channel == plat::DebugChannel::Dump ? lines_ : traces_).emplace_back(text.substr(0, text.size() - 1));
    });
    ResetSearches();
    Link.Dll_SearchPort = LoggedSearchPort;
    Link.Dll_ReadDate = LoggedReadDate;
    Link.Dll_GetDiagModeReq = LoggedGetDiagModeReq;
    Link.Dll_VersionReq = LoggedVersionReq;
    // What an earlier window of this process left behind.
    LastScanFound = 0;
    std::memset(DeviceVersion, 0, sizeof DeviceVersion);
    DownloadJobBlock = DownloadJob{};
    ui::headless::ClearUnansweredBoxes();
    folder_ = settings_.Folder() / "package";
    fs::create_directories(folder_);
    dialog_ = std::make_unique<CTamriDlg>();
  }

  void TearDown() override {
    if (ui_.joinable()) {
      dialog_->EndDialog(ui::IdCancel);
      ui_.join();
    }
    download::workers_testing::JoinWorkers();
    download::steps_testing::SetReadFlashStart(0);
    if (device_) device_->Stop();
    handoff::ScanDiagPortHandle.Clear();
    HoldSearches(false);
    Link = RealLinkCalls();
    plat::SetDebugSink(nullptr);
    EXPECT_TRUE(ui::headless::UnansweredBoxes().empty());
    EXPECT_TRUE(boxes_.AllShown()) << "an expected message box never came";
    plat::SetTimeScale(1);
  }

  // The window on a UI thread of its own, as the program runs it.
  void StartWindow() {
    ui_ = std::thread([this] {
      dialog_->DoModal();
      dialog_->ShutdownDriverThread();
    });
    window_ = ui::headless::WaitForDialog(IDD_MAIN_DIALOG, kWindowMs);
    ASSERT_NE(window_, ui::NoWindow);
  }

  // Plugs in a device running `version` and writes a package for it.
  void PlugIn(const std::string& version, const sim::AtModes& modes, size_t imageSize = 65536) {
    sim::PackageSpec spec;
    spec.imageSize = imageSize;
    spec.programmerSize = 2500;
    ASSERT_TRUE(sim::WritePackage(folder_.string(), spec, package_));
    sim::Config config = appe2e::DeviceConfig(version, modes, (settings_.Folder() / "flash.bin").string());
    if (restartsAsItAnswers_) config.switchRestart = sim::SwitchRestart::AnyChange;
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
  }

  // Lets the window search until it shows the device found with `version`,
  // every search answered and the last answer followed by the found action;
  // then holds its searches, so the device stays found as it is.
  // `orBare`: see appe2e::WaitForFound.
  void ExpectFound(const std::string& version, bool orBare = false) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSearchMs);
    Shown last;
    for (;;) {
      HoldSearches(false);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      const bool found = appe2e::WaitUntil(
          [&] { return SearchesSettled() && appe2e::WaitForFound(window_, version, 0, &last, orBare); },
          static_cast<uint32_t>(std::max<int64_t>(left.count(), 0)));
      ASSERT_TRUE(found) << "shown: " << appe2e::Describe(last) << "\nAT commands:" << Joined(AtCommands());
      HoldSearches(true);
      // A search the window asked for just before the hold goes on.
      if (SearchesSettled()) return;
    }
  }

  std::vector<std::string> AtCommands(size_t from = 0) const {
    std::vector<std::string> commands;
    for (const sim::AtEntry& entry : device_->AtTranscript(from)) commands.push_back(entry.command);
    return commands;
  }

  std::vector<std::string> Lines(size_t from = 0) {
    std::lock_guard lock(linesMutex_);
    return {lines_.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines_.size())), lines_.end()};
  }
  bool LineShown(const std::string& line, size_t from) {
    const auto lines = Lines(from);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The window's debug output (not the engine's dump), one entry a line.
  std::vector<std::string> Traces() {
    std::lock_guard lock(linesMutex_);
    return traces_;
  }
  // How a close that waited for the device ended, by the window's own
  // account: on the answer to the switch-off or on the time limit.
  void ExpectClosedOnTheAnswer() {
    const auto traces = Traces();
    const auto count = [&](const char* line) { return std::count(traces.begin(), traces.end(), line); };
    EXPECT_EQ(count("TamriDlg: the close ends on the device's answer"), 1) << Joined(traces);
    EXPECT_EQ(count("TamriDlg: the close ends on the time limit"), 0) << Joined(traces);
  }

  // Types the package folder and presses the transfer's button, answering
  // the download's question Yes.
  void Start(Kind kind) {
    ui::headless::Type(window_, IDC_IMAGE_FOLDER, folder_.string());
    if (kind == Kind::Download) {
      boxes_.Expect(ui::LoadString(IDS_CONFIRM_UPGRADE), ui::IdYes);
      ASSERT_TRUE(ui::headless::Click(window_, ui::IdOk));
    } else {
      ASSERT_TRUE(ui::headless::Click(window_, IDC_UPLOAD_IMAGE));
    }
    ui::headless::Sync(window_);
    ASSERT_EQ(dialog_->TransferBusy, kind == Kind::Download ? 1 : 2);
  }

  // Waits for the engine's ID_DL_FINISH to have been handled.
  void WaitFinished(Kind kind, size_t linesFrom) {
    ASSERT_TRUE(appe2e::WaitUntil([&] { return dialog_->TransferBusy == 0; },
                                  kind == Kind::Download ? kSearchMs : kUploadMs))
        << appe2e::Describe(appe2e::ShownBy(window_)) << "\nengine:" << Joined(Lines(linesFrom));
    ui::headless::Sync(window_);
  }

  // A whole transfer as a person starts it, through to the window's state
  // after the engine's ID_DL_FINISH: the last status line kept, the buttons
  // off, the progress bar back at 0 and the device to be found anew. Started
  // with the searches held (after ExpectFound): the device restarts at the
  // transfer's end and is searched for again once this has been seen.
  void Transfer(Kind kind) {
    const size_t from = Lines().size();
    ASSERT_NO_FATAL_FAILURE(Start(kind));
    ASSERT_NO_FATAL_FAILURE(WaitFinished(kind, from));
    const bool download = kind == Kind::Download;
    const std::string done = download ? "download complete!" : "upload complete!";
    const Shown shown = appe2e::ShownBy(window_);
    const int32_t state = DeviceState;
    const int32_t port = dialog_->DeviceDiagPort;
    EXPECT_EQ(shown.progress, 0);
    if (state == StateFound) {
      // A search already under way as the searches were held found the
      // restarted device before the engine's finish came: the window keeps
      // that device as found.
      EXPECT_TRUE(shown.download);
      EXPECT_TRUE(shown.upload);
      EXPECT_EQ(port, static_cast<int32_t>(appe2e::kDiagCom));
    } else {
      EXPECT_EQ(shown.status, done);
      EXPECT_FALSE(shown.download);
      EXPECT_FALSE(shown.upload);
      EXPECT_EQ(state, StateNoDevice);
      EXPECT_EQ(port, -1);
    }
    EXPECT_EQ(DownloadJobBlock.ComPort, static_cast<int32_t>(appe2e::kDiagCom));
    EXPECT_EQ(settings_.Get(settings::kImagePathsSection, settings::ItemKey(0)), folder_.string());
    const std::vector<std::string> story =
        download ? std::vector<std::string>{"begin to download:", "switch to download mode, please wait...",
                                            "download Nuvo 100%", "reset", done}
                 : std::vector<std::string>{"begin to upload:", "switch to download mode, please wait...",
                                            "upload Nuvo 100%", "reset", done};
    const auto lines = Lines(from);
    EXPECT_TRUE(InOrder(lines, story)) << Joined(lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), done);
  }

  // Waits until the device has answered `frames` requests of the transfer
  // started last.
  void WaitUnderWay(size_t framesBefore, size_t frames) {
    ASSERT_TRUE(device_->WaitFor(
        [&](const sim::Status& s) { return s.state == sim::State::Streaming && s.frames >= framesBefore + frames; },
        kSearchMs))
        << appe2e::Describe(appe2e::ShownBy(window_));
  }

  // "NuvoUpload.bin" holds the flash from `from` on.
  void ExpectUploaded(uint32_t from) const {
    EXPECT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), kFlashBytes);
    EXPECT_TRUE(ReadFileFrom(folder_ / "NuvoUpload.bin", from) == device_->FlashBytes(from, kFlashBytes - from));
  }

  bool FlashHoldsImage() const {
    return device_->FlashBytes(0, static_cast<uint32_t>(package_.image.size())) == package_.image;
  }

  TempSettings settings_;
  BoxScript boxes_;
  fs::path folder_;
  sim::Package package_;
  std::unique_ptr<sim::Device> device_;
  std::unique_ptr<CTamriDlg> dialog_;
  ui::WindowHandle window_ = ui::NoWindow;
  std::thread ui_;
  // The device restarts as soon as it has answered any mode switch, the
  // diagnostic mode's too, instead of waiting for AT+CFUN=6.
  bool restartsAsItAnswers_ = false;
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
  std::vector<std::string> traces_;
};

// One case per version class: the firmware, how the window brings up its
// diagnostic port, and how closing puts the device back.
struct FirmwareCase {
  const char* name;
  std::string version;
  int versionClass;
  sim::AtModes modes;                 // at power-on
  std::vector<std::string> search;    // in this order, up to the first found
  bool searchRestarts;                // the device restarts during the search
  std::vector<std::string> closing;   // exactly what closing sends
  const char* closingStatus;          // the status shown while closing, or null
  bool closeWaitsForDevice;           // the window stays, disabled, for the answer
  // Where the upload starts reading. The upload is the same for every
  // class; one case reads the whole flash, which takes minutes under the
  // thread sanitizer, the others its last blocks.
  uint32_t uploadFrom;
};

void PrintTo(const FirmwareCase& c, std::ostream* out) { *out << c.name; }

class FirmwareClass : public AppE2e, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareClass, FoundUpgradedUploadedAndPutBackOnClosing) {
  const FirmwareCase& c = GetParam();
  const bool orBare = c.versionClass == 2;
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  ASSERT_TRUE(ui::headless::WaitForText(window_, IDC_STATUS_TEXT, "Searching Device...", kWindowMs));
  EXPECT_FALSE(appe2e::ShownBy(window_).download);
  EXPECT_FALSE(appe2e::ShownBy(window_).upload);

  ASSERT_NO_FATAL_FAILURE(PlugIn(c.version, c.modes));
  ASSERT_NO_FATAL_FAILURE(ExpectFound(c.version, orBare));
  EXPECT_EQ(dialog_->VersionClass, c.versionClass);
  EXPECT_EQ(dialog_->DeviceDiagPort, static_cast<int32_t>(appe2e::kDiagCom));
  EXPECT_TRUE(InOrder(AtCommands(), c.search)) << Joined(AtCommands());
  EXPECT_EQ(device_->GetStatus().reenumerations > 0, c.searchRestarts);

  ASSERT_NO_FATAL_FAILURE(Transfer(Kind::Download));
  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(device_->GetStatus().badCrc, 0u);
  // The device restarts after its reset and is found again.
  ASSERT_NO_FATAL_FAILURE(ExpectFound(c.version, orBare));

  download::steps_testing::SetReadFlashStart(static_cast<int32_t>(c.uploadFrom));
  ASSERT_NO_FATAL_FAILURE(Transfer(Kind::Upload));
  ASSERT_NO_FATAL_FAILURE(ExpectFound(c.version, orBare));
  ExpectUploaded(c.uploadFrom);

  const size_t mark = device_->GetStatus().atCommands;
  ui::headless::Close(window_);
  if (c.closeWaitsForDevice) {
    ui::headless::Sync(window_);
    const auto view = ui::headless::View(window_);
    ASSERT_TRUE(view.has_value()) << "the window ended without waiting for the device";
    EXPECT_FALSE(view->enabled);
    EXPECT_FALSE(appe2e::ShownBy(window_).download);
  }
  if (c.closingStatus != nullptr) {
    std::string last;
    EXPECT_TRUE(ui::headless::WaitForText(window_, IDC_STATUS_TEXT, c.closingStatus, kWindowMs, &last)) << last;
  }
  ASSERT_TRUE(ui::headless::WaitForDialogEnd(window_, kSearchMs));
  ui_.join();
  if (c.closeWaitsForDevice) ExpectClosedOnTheAnswer();
  EXPECT_EQ(AtCommands(mark), c.closing);
  for (const sim::AtEntry& entry : device_->AtTranscript(mark)) {
    EXPECT_NE(entry.answer.find("OK"), std::string::npos) << entry.command << ": " << entry.answer;
  }
}

const FirmwareCase kFirmwareCases[] = {
    // Its diagnostic mode off: switched on with the access code, then the
    // device reset (AT+CFUN=7 and 6) and searched again.
    {"DiagnosticModeSwitch", FirstVersionOf(VersionKind::DiagSwitch), 1, {},
     {"AT+CGMR", "AT+CSWITCHDM?", "AT+CSWITCHDM=1,\"" + kAccessCode + "\"", "AT+CFUN=7", "AT+CFUN=6", "AT+CGMR",
      "AT+CSWITCHDM?"},
     true, {"AT+CSWITCHDM=0,\"" + kAccessCode + "\"", "AT+CFUN=7", "AT+CFUN=6"}, nullptr, true, kShortUploadFrom},
    {"DualChannel", FirstVersionOf(VersionKind::DualChannel), 2, {}, {"AT+CGMR", "AT+SWITCHDC"}, false, {}, nullptr,
     false, 0},
    // Its factory mode off: switched on, which restarts the device; found
    // once the mode is on and switched off again.
    {"FactoryMode", FirstVersionOf(VersionKind::FactoryMode), 3, {},
     {"AT+CGMR", "AT+CSWITCHFTM?", "AT+CSWITCHFTM=1", "AT+CGMR", "AT+CSWITCHFTM?", "AT+CSWITCHFTM=0"}, true,
     {"AT+CFUN=7", "AT+CFUN=6"}, "Resetting...", false, kShortUploadFrom},
    {"TestModeOfAnUnlistedVersion", kUnlistedVersion, 3, {},
     {"AT+CGMR", "AT+CSWITCHTEST?", "AT+CSWITCHTEST=1", "AT+CGMR", "AT+CSWITCHTEST?", "AT+CSWITCHTEST=0"}, true,
     {"AT+CFUN=7", "AT+CFUN=6"}, "Resetting...", false, kShortUploadFrom},
};

INSTANTIATE_TEST_SUITE_P(Classes, FirmwareClass, ::testing::ValuesIn(kFirmwareCases),
                         [](const ::testing::TestParamInfo<FirmwareCase>& info) { return info.param.name; });

// A device of the diagnostic-mode class that restarts as soon as it has
// answered the switch-off: its ports leave the map just behind its answer,
// which reaches the window all the same, and the close ends on it.
TEST_F(AppE2e, CloseEndsOnTheAnswerOfADeviceThatRestartsAsItAnswers) {
  const std::string version = FirstVersionOf(VersionKind::DiagSwitch);
  restartsAsItAnswers_ = true;
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  ASSERT_NO_FATAL_FAILURE(PlugIn(version, {.diag = 1}));
  ASSERT_NO_FATAL_FAILURE(ExpectFound(version));
  ASSERT_EQ(dialog_->DiagModeState, 2);

  const size_t mark = device_->GetStatus().atCommands;
  const uint32_t restarts = device_->GetStatus().reenumerations;
  ui::headless::Close(window_);
  ASSERT_TRUE(ui::headless::WaitForDialogEnd(window_, kSearchMs));
  ui_.join();
  ExpectClosedOnTheAnswer();
  const std::vector<std::string> closing = AtCommands(mark);
  ASSERT_FALSE(closing.empty());
  EXPECT_EQ(closing.front(), "AT+CSWITCHDM=0,\"" + kAccessCode + "\"");
  EXPECT_GT(device_->GetStatus().reenumerations, restarts);
}

// Unplugging the device during a transfer: the engine ends with its error
// text and posts nothing; once the device is back the window finds it, and
// the same transfer tried again succeeds.
struct UnplugCase {
  const char* name;
  Kind kind;
  const char* error;
};

void PrintTo(const UnplugCase& c, std::ostream* out) { *out << c.name; }

class UnplugDuringTransfer : public AppE2e, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(UnplugDuringTransfer, FailsAndSucceedsWhenTriedAgain) {
  const UnplugCase& c = GetParam();
  const std::string version = FirstVersionOf(VersionKind::DualChannel);
  ASSERT_NO_FATAL_FAILURE(StartWindow());
  // An image and an upload of a thousand blocks and more: long enough to cut.
  ASSERT_NO_FATAL_FAILURE(PlugIn(version, {}, 1 << 20));
  ASSERT_NO_FATAL_FAILURE(ExpectFound(version, true));

  download::steps_testing::SetReadFlashStart(static_cast<int32_t>(kShortUploadFrom));
  const size_t from = Lines().size();
  const size_t frames = device_->GetStatus().frames;
  ASSERT_NO_FATAL_FAILURE(Start(c.kind));
  ASSERT_NO_FATAL_FAILURE(WaitUnderWay(frames, 200));
  device_->Unplug();
  ASSERT_TRUE(appe2e::WaitUntil([&] { return LineShown(c.error, from); }, kSearchMs)) << Joined(Lines(from));
  // No finish came: the window stays busy until the device is found again.
  EXPECT_EQ(dialog_->TransferBusy, c.kind == Kind::Download ? 1 : 2);
  const Shown shown = appe2e::ShownBy(window_);
  EXPECT_FALSE(shown.download);
  EXPECT_FALSE(shown.upload);

  device_->Plug();
  ASSERT_NO_FATAL_FAILURE(ExpectFound(version, true));
  ASSERT_NO_FATAL_FAILURE(Transfer(c.kind));
  ASSERT_NO_FATAL_FAILURE(ExpectFound(version, true));
  if (c.kind == Kind::Download) {
    EXPECT_TRUE(FlashHoldsImage());
  } else {
    ExpectUploaded(kShortUploadFrom);
  }
}

INSTANTIATE_TEST_SUITE_P(Transfers, UnplugDuringTransfer,
                         ::testing::Values(UnplugCase{"Download", Kind::Download, "download error!"},
                                           UnplugCase{"Upload", Kind::Upload, "upload error!"}),
                         [](const ::testing::TestParamInfo<UnplugCase>& info) { return info.param.name; });

// The program closed during an upload, the close confirmed: it returns from
// main with the engine's worker still running, and ends at once and cleanly.
// The helper program plays the person and the device; it is given a device
// root of its own before it starts, as its link layer watches the root it
// finds at its start.
TEST(ProgramExit, DuringAnUploadEndsAtOnceAndCleanly) {
  TempSettings settings;
  const fs::path root = settings.Folder() / "devices";
  const fs::path package = settings.Folder() / "package";
  const fs::path output = settings.Folder() / "helper.out";
  fs::create_directories(root);
  fs::create_directories(package);
  sim::Package written;
  ASSERT_TRUE(sim::WritePackage(package.string(), sim::PackageSpec{}, written));

  constexpr int kHangGuardSeconds = 120;
  std::ostringstream command;
  command << "TAMRI_DEVICE_ROOT='" << root.string() << "' TAMRI_TIME_SCALE=" << appe2e::kTimeScale
          << " timeout -k 10 " << kHangGuardSeconds << " '" << APP_E2E_EXIT_HELPER << "' '" << package.string()
          << "' >'" << output.string() << "' 2>&1; echo \"exit code $?\" >>'" << output.string() << "'";
  const auto started = std::chrono::steady_clock::now();
  ASSERT_EQ(std::system(command.str().c_str()), 0);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();

  std::ifstream in(output);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  const std::string all = Joined(lines);
  EXPECT_LT(seconds, kHangGuardSeconds) << all;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "exit code 0") << all;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "helper: closed during the upload"), lines.end()) << all;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "helper: main returns"), lines.end()) << all;
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("FATAL"), std::string::npos) << all;
  }
}

}  // namespace
