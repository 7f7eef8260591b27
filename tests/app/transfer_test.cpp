// Download and Upload Image: the folder history, the checks before a start,
// the job handed to the engine, the engine's finish, and no second start
// while a transfer runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/TamriDlg.h"
#include "app/settings.h"
#include "handoff/scan_diag_port.h"
#include "download/status.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "plat/file.h"
#include "res/resource.h"
#include "sim/package.h"
#include "support/port_kit.h"
#include "testkit/directory.h"
#include "window_fixture.h"

namespace {

namespace fs = std::filesystem;

class TransferTest : public WindowTest {
 protected:
  void SetUp() override {
    folder_ = (settings_.Folder() / "package").string();
    fs::create_directories(folder_);
    Start();
    FindWithVersion("NV6246-DC-0520");
    ASSERT_TRUE(Enabled(IDOK_BUTTON));
  }

  // A folder with a flash programmer the engine cannot use: a started
  // transfer ends at once with its error.
  void WriteUnusableProgrammer(const char* name = "armprg.hex") {
    std::ofstream(fs::path(folder_) / name) << "not a hex file\n";
  }
  void TypeFolder(const std::string& folder) { ui::headless::Type(window_, IDC_IMAGE_FOLDER, folder); }
  void Press(int id) {
    ASSERT_TRUE(ui::headless::Click(window_, id));
    ui::headless::Sync(window_);
  }
  std::string History(int index) { return settings_.Get(settings::kImagePathsSection, settings::ItemKey(index)); }

  std::string folder_;
};

TEST_F(TransferTest, AnEmptyFolderIsAskedForAndFocusesTheFolderBox) {
  for (const int button : {IDOK_BUTTON, IDC_UPLOAD_IMAGE}) {
    boxes_.Expect(ui::LoadString(IDS_NO_IMAGE_FOLDER), ui::IdOk);
    Press(button);
    EXPECT_TRUE(ControlOf(IDC_IMAGE_FOLDER).focused);
    EXPECT_EQ(dialog_->TransferBusy, 0);
  }
  ASSERT_EQ(boxes_.Shown().size(), 2u);
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbOk | ui::MbIconExclamation);
}

TEST_F(TransferTest, AFolderWithoutAProgrammerIsRefusedButRemembered) {
  TypeFolder(folder_);
  boxes_.Expect("target file doesn't exist!", ui::IdOk);
  Press(IDOK_BUTTON);
  EXPECT_EQ(dialog_->TransferBusy, 0);
  EXPECT_EQ(History(0), folder_);
}

TEST_F(TransferTest, AFolderTooLongForTheJobIsRefusedBeforeAnyJob) {
  const std::string longFolder = folder_ + "/" + std::string(300, 'x');
  TypeFolder(longFolder);
  boxes_.Expect("The folder path is too long: at most 259 characters are possible.", ui::IdOk);
  Press(IDC_UPLOAD_IMAGE);
  EXPECT_EQ(dialog_->TransferBusy, 0);
  EXPECT_EQ(DownloadJobBlock.ImagePath[0], '\0');
}

TEST_F(TransferTest, DownloadAnsweredNoStartsNothing) {
  WriteUnusableProgrammer();
  TypeFolder(folder_);
  boxes_.Expect(ui::LoadString(IDS_CONFIRM_UPGRADE), ui::IdNo);
  Press(IDOK_BUTTON);
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2);
  EXPECT_EQ(dialog_->TransferBusy, 0);
  EXPECT_EQ(DownloadJobBlock.ImagePath[0], '\0');
  EXPECT_TRUE(Enabled(IDOK_BUTTON));
  EXPECT_TRUE(Enabled(IDC_UPLOAD_IMAGE));
}

// Both starts fill the one job and hand it to the engine.
struct StartCase {
  const char* name;
  int button;
  bool asks;
  int busy;
  const char* programmer;
};

class StartTest : public TransferTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartTest, TheJobCarriesTheFolderThePortAndTheWindows) {
  const StartCase& c = GetParam();
  WriteUnusableProgrammer(c.programmer);
  TypeFolder(folder_);
  if (c.asks) boxes_.Expect(ui::LoadString(IDS_CONFIRM_UPGRADE), ui::IdYes);
  Press(c.button);
  EXPECT_EQ(dialog_->TransferBusy, c.busy);
  EXPECT_STREQ(DownloadJobBlock.ImagePath, folder_.c_str());
  EXPECT_EQ(DownloadJobBlock.ComPort, 7);
  EXPECT_EQ(DownloadJobBlock.StatusWnd, dialog_->Item(IDC_STATUS_TEXT));
  EXPECT_EQ(DownloadJobBlock.ProgressWnd, dialog_->Item(IDC_PROGRESS));
  EXPECT_EQ(DownloadJobBlock.DialogWnd, window_);
  EXPECT_FALSE(Enabled(IDOK_BUTTON));
  EXPECT_FALSE(Enabled(IDC_UPLOAD_IMAGE));
  // No device and no image: the transfer fails, says so, and the window
  // stays busy until the device is found again.
  download::workers_testing::JoinWorkers();
  ui::headless::Sync(window_);
  EXPECT_TRUE(Status().ends_with("!")) << Status();
  EXPECT_EQ(dialog_->TransferBusy, c.busy);
  EXPECT_FALSE(Enabled(IDOK_BUTTON));
  // The found action lets the user try again.
  FindWithVersion("NV6246-DC-0520");
  EXPECT_TRUE(Enabled(IDOK_BUTTON));
}

INSTANTIATE_TEST_SUITE_P(
    Starts, StartTest,
    ::testing::Values(StartCase{"Download", IDOK_BUTTON, true, 1, "armprg.hex"},
                      StartCase{"DownloadWithTheOtherProgrammer", IDOK_BUTTON, true, 1, "NPRG6246.HEX"},
                      StartCase{"Upload", IDC_UPLOAD_IMAGE, false, 2, "armprg.hex"}),
    [](const auto& info) { return std::string(info.param.name); });

// The check before a start and the engine's loading agree on what a folder
// holds, also in a folder named beyond ASCII (under wine in the ANSI code
// page's bytes, as the window's text is): a programmer the check accepts is
// one the engine opens, and a folder named like a programmer is none.
struct FolderContentsCase {
  const char* name;
  bool programmerFolder;       // a folder named "armprg.hex"
  const char* programmerFile;  // the programmer written (with the device image), or null
  bool passes;
};

class BeyondAsciiFolderTest : public TransferTest, public ::testing::WithParamInterface<FolderContentsCase> {};

TEST_P(BeyondAsciiFolderTest, TheCheckPassesWhatTheEngineLoads) {
  const FolderContentsCase& c = GetParam();
  // No port anywhere: a transfer whose files loaded ends at the port.
  testkit::TempDeviceRoot root;
  const std::string folder = plat::PathInFolder(folder_, plat::kBeyondAsciiName);
  ASSERT_TRUE(plat::MakeDirectory(folder));
  const std::string programmer = plat::PathInFolder(folder, sim::kProgrammerFile);
  if (c.programmerFile != nullptr) {
    sim::Package package;
    ASSERT_TRUE(sim::WritePackage(folder, {}, package));
    const std::string file = plat::PathInFolder(folder, c.programmerFile);
    if (file != programmer) {
      ASSERT_EQ(std::rename(programmer.c_str(), file.c_str()), 0);
    }
  }
  if (c.programmerFolder) {
    ASSERT_TRUE(plat::MakeDirectory(programmer));
  }
  TypeFolder(folder);
  boxes_.Expect(c.passes ? ui::LoadString(IDS_CONFIRM_UPGRADE) : "target file doesn't exist!",
                c.passes ? ui::IdYes : ui::IdOk);
  Press(IDOK_BUTTON);
  EXPECT_TRUE(boxes_.AllShown());
  if (!c.passes) {
    EXPECT_EQ(dialog_->TransferBusy, 0);
    EXPECT_TRUE(Enabled(IDOK_BUTTON));
    return;
  }
  EXPECT_EQ(dialog_->TransferBusy, 1);
  EXPECT_STREQ(DownloadJobBlock.ImagePath, folder.c_str());
  download::workers_testing::JoinWorkers();
  ui::headless::Sync(window_);
  // Both images were read: only the port was missing.
  EXPECT_EQ(Status(), "open com error!!!");
}

INSTANTIATE_TEST_SUITE_P(
    Contents, BeyondAsciiFolderTest,
    ::testing::Values(FolderContentsCase{"TheProgrammer", false, "armprg.hex", true},
                      FolderContentsCase{"TheOtherProgrammerBesideAFolderNamedArmprgHex", true, "NPRG6246.HEX", true},
                      FolderContentsCase{"OnlyAFolderNamedArmprgHex", true, nullptr, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, AWindowWithoutAPortHandsTheEngine65535) {
  WriteUnusableProgrammer();
  dialog_->DeviceDiagPort = -1;
  TypeFolder(folder_);
  Press(IDC_UPLOAD_IMAGE);
  EXPECT_EQ(DownloadJobBlock.ComPort, 65535);
}

TEST_F(TransferTest, TheHistoryTakesTheFirstEmptyKeyUnlessTheFolderIsThere) {
  WriteUnusableProgrammer();
  settings_.Set(settings::kImagePathsSection, "Item 0", "C:\\OTHER");
  settings_.Set(settings::kImagePathsSection, "Item 1", folder_ + "X");
  TypeFolder(folder_);
  Press(IDC_UPLOAD_IMAGE);
  download::workers_testing::JoinWorkers();
  EXPECT_EQ(History(2), folder_);
  EXPECT_EQ(History(3), "");

  // The same folder in another case is not written again.
  settings_.Set(settings::kImagePathsSection, "Item 2", "");
  settings_.Set(settings::kImagePathsSection, "Item 1", "");
  settings_.Set(settings::kImagePathsSection, "Item 0", (fs::path(folder_).parent_path() / "PACKAGE").string());
  FindWithVersion("NV6246-DC-0520");
  Press(IDC_UPLOAD_IMAGE);
  download::workers_testing::JoinWorkers();
  EXPECT_EQ(History(1), "");
}

TEST_F(TransferTest, AFullHistoryStoresNothingAndTheStartGoesOn) {
  WriteUnusableProgrammer();
  for (int i = 0; i < 10; ++i) settings_.Set(settings::kImagePathsSection, settings::ItemKey(i), "C:\\F" + std::to_string(i));
  TypeFolder(folder_);
  Press(IDC_UPLOAD_IMAGE);
  EXPECT_EQ(dialog_->TransferBusy, 2);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(History(i), "C:\\F" + std::to_string(i));
}

TEST_F(TransferTest, TheEnginesFinishClearsTheTransferAndKeepsTheStatus) {
  dialog_->TransferBusy = 1;
  download::DeviceDiagMode = 1;
  ui::SendProgress(dialog_->Item(IDC_PROGRESS), 100);
  ui::SetWindowText(dialog_->Item(IDC_STATUS_TEXT), "download complete!");
  ui::EnableWindow(dialog_->Item(IDOK_BUTTON), false);
  ui::EnableWindow(dialog_->Item(IDC_UPLOAD_IMAGE), false);
  // A port a scan left in the slot meanwhile.
  testkit::TempDeviceRoot root;
  testkit::TestPort port(7, "\\Device\\QCUSB_COM7_0");
  plat::PortHandle handle = plat::SerialPort::Open(7);
  ASSERT_TRUE(handle);
  handoff::ScanDiagPortHandle.Put(std::move(handle), 7);

  ui::PostCommand(window_, ID_DL_FINISH);
  ui::headless::Sync(window_);
  EXPECT_EQ(dialog_->TransferBusy, 0);
  EXPECT_EQ(ControlOf(IDC_PROGRESS).progress, 0);
  EXPECT_EQ(Status(), "download complete!");
  EXPECT_FALSE(Enabled(IDOK_BUTTON));
  EXPECT_EQ(dialog_->DeviceDiagPort, -1);
  EXPECT_EQ(download::DeviceDiagMode, 0);
  EXPECT_EQ(DeviceState, StateNoDevice);
  // Closed, so the port opens again.
  EXPECT_FALSE(handoff::ScanDiagPortHandle.Take().Port);
  EXPECT_TRUE(plat::SerialPort::Open(7));
}

// The device restarts at a transfer's end and can be found again before the
// engine's finish comes (its last steps, such as writing the upload's file,
// take longer): the finish then leaves the device found, with its port. A
// device found while the transfer ran but before it left (a change of the
// port map reruns the search) is the device as it was before that end: the
// finish forgets it, so the next transfer takes neither its port nor its
// diagnostic mode.
enum class DuringTransfer {
  Found,       // a search finds the device and the found action runs
  Left,        // a detection without device ports, its search finds none
  Detected0,   // only the detection without device ports before the search
};

struct FinishCase {
  const char* name;
  std::vector<DuringTransfer> steps;
  bool kept;
};

class FinishTest : public TransferTest, public ::testing::WithParamInterface<FinishCase> {
 protected:
  // A detection's search runs one second after it.
  void DetectNoDevicePorts() {
    link_.ClearCalls();
    Indicate(IdModemDetect, {0});
    ASSERT_TRUE(link_.WaitForCall("SearchPort", kWaitMs));
    ui::headless::Sync(window_);
  }
};

TEST_P(FinishTest, TheDeviceFoundAfterItLeftIsKeptAnyOtherIsForgotten) {
  const FinishCase& c = GetParam();
  // An upload whose worker ends at once; the finish is posted as the engine
  // posts it after a transfer that worked.
  WriteUnusableProgrammer();
  TypeFolder(folder_);
  Press(IDC_UPLOAD_IMAGE);
  ASSERT_EQ(dialog_->TransferBusy, 2);
  download::workers_testing::JoinWorkers();
  link_.SetDiagMode(1);
  for (const DuringTransfer step : c.steps) {
    switch (step) {
      case DuringTransfer::Found:
        FindWithVersion("NV6246-DC-0520");
        ASSERT_EQ(DeviceState, StateFound);
        break;
      case DuringTransfer::Left:
        ASSERT_NO_FATAL_FAILURE(DetectNoDevicePorts());
        Indicate(IdPortScanResult, {0, 0});
        ASSERT_EQ(Status(), "Searching Device...");
        break;
      case DuringTransfer::Detected0:
        ASSERT_NO_FATAL_FAILURE(DetectNoDevicePorts());
        break;
    }
  }
  ui::SendProgress(dialog_->Item(IDC_PROGRESS), 100);
  const std::string status = Status();

  ui::PostCommand(window_, ID_DL_FINISH);
  ui::headless::Sync(window_);
  EXPECT_EQ(dialog_->TransferBusy, 0);
  EXPECT_EQ(ControlOf(IDC_PROGRESS).progress, 0);
  EXPECT_EQ(Status(), status);
  EXPECT_EQ(Enabled(IDOK_BUTTON), c.kept);
  EXPECT_EQ(Enabled(IDC_UPLOAD_IMAGE), c.kept);
  EXPECT_EQ(dialog_->DeviceDiagPort, c.kept ? 7 : -1);
  EXPECT_EQ(download::DeviceDiagMode, c.kept ? 1 : 0);
  EXPECT_EQ(DeviceState, c.kept ? StateFound : StateNoDevice);
}

using enum DuringTransfer;
INSTANTIATE_TEST_SUITE_P(
    Finishes, FinishTest,
    ::testing::Values(FinishCase{"FoundBeforeItLeft", {Found}, false},
                      FinishCase{"FoundThenLeft", {Found, Left}, false},
                      FinishCase{"LeftThenFoundAgain", {Left, Found}, true},
                      FinishCase{"DetectedGoneThenFoundByTheSearch", {Detected0, Found}, true},
                      FinishCase{"FoundBeforeItLeftAndAgainAfter", {Found, Left, Found}, true},
                      FinishCase{"FoundAgainThenLeftAgain", {Left, Found, Left}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransferTest, NoSecondStartWhileAWorkerRuns) {
  // The engine's limits on a scale that leaves the worker waiting long
  // enough for the second press.
  plat::SetTimeScale(4);
  testkit::TempDeviceRoot root;
  testkit::TestPort port(7, "\\Device\\QCUSB_COM7_0");
  sim::Package package;
  ASSERT_TRUE(sim::WritePackage(folder_, {}, package));
  TypeFolder(folder_);
  boxes_.Expect(ui::LoadString(IDS_CONFIRM_UPGRADE), ui::IdYes);
  Press(IDOK_BUTTON);
  ASSERT_EQ(dialog_->TransferBusy, 1);
  // The worker has opened the port and waits for the device's answer.
  ASSERT_EQ(port.PeerReadExactly(1, kWaitMs).size(), 1u);
  const DownloadJob running = DownloadJobBlock;

  FindWithVersion("NV6246-DC-0520");
  ASSERT_TRUE(Enabled(IDC_UPLOAD_IMAGE));
  boxes_.Expect("A transfer is still in progress. Please wait until it has ended.", ui::IdOk);
  TypeFolder(folder_ + "2");
  Press(IDC_UPLOAD_IMAGE);
  EXPECT_EQ(dialog_->TransferBusy, 1);
  EXPECT_STREQ(DownloadJobBlock.ImagePath, running.ImagePath);
  EXPECT_EQ(History(1), "");  // nothing remembered either
}

}  // namespace
