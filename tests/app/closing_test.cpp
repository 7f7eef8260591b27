// Closing the window: the questions during a transfer, and putting the
// device back by its firmware's class before the dialog ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/TamriDlg.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "res/resource.h"
#include "window_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class ClosingTest : public WindowTest {
 protected:
  void SetUp() override { Start(); }

  // Class 1 with the diagnostic mode on: closing waits for the device.
  void FoundWithDiagnosticModeOn() {
    FindWithVersion("NV6246-DM-0310");
    Indicate(IdDiagPortState, {1});
    ASSERT_EQ(dialog_->DiagModeState, 2);
    link_.ClearCalls();
  }
  void CloseAndSettle(void (*input)(ui::WindowHandle)) {
    input(window_);
    ui::headless::Sync(window_);
  }
};

// How the user closes: the close box or Escape go the same way.
struct CloseInput {
  const char* name;
  void (*input)(ui::WindowHandle);
};
const CloseInput kCloseBox{"close box", ui::headless::Close};
const CloseInput kEscape{"Escape", ui::headless::Escape};

class ClosingInputTest : public ClosingTest, public ::testing::WithParamInterface<CloseInput> {};

TEST_P(ClosingInputTest, WithoutTransferOrDeviceToPutBackTheDialogEndsAtOnce) {
  GetParam().input(window_);
  EXPECT_TRUE(Ended());
  EXPECT_TRUE(link_.Calls().size() <= 1);  // SetNotify only
}

TEST_P(ClosingInputTest, ClassThreeIsResetBeforeTheEnd) {
  FindWithVersion("NV6246-FTM-0901");
  link_.ClearCalls();
  GetParam().input(window_);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(link_.Calls(), (Calls{"SetRFFuncReq(7)", "SetRFFuncReq(6)"}));
  EXPECT_EQ(ui::headless::WaitCursorDepth(), 0);
}

TEST_P(ClosingInputTest, ClassOneWithTheModeOnSwitchesItOffAndWaits) {
  FoundWithDiagnosticModeOn();
  plat::SetTimeScale(1);  // the wait is looked at well within its ten seconds
  CloseAndSettle(GetParam().input);
  EXPECT_EQ(link_.Calls(), Calls{"TurnDiagnosticOnOffReq(0,70419352,)"});
  EXPECT_FALSE(Ended(0));
  EXPECT_EQ(DeviceState, StateClosing);
  const auto view = ui::headless::View(window_);
  EXPECT_FALSE(view->enabled);
  for (const auto& control : view->controls) {
    if (control.id != -1) {
      EXPECT_FALSE(control.enabled) << control.id;
    }
  }
  EXPECT_EQ(view->timers, std::vector<uintptr_t>{TIMER_CLOSE_WAIT});
}

INSTANTIATE_TEST_SUITE_P(Inputs, ClosingInputTest, ::testing::Values(kCloseBox, kEscape),
                         [](const auto& info) { return std::string(info.param.name) == "Escape" ? "Escape" : "CloseBox"; });

TEST_F(ClosingTest, TheDevicesAnswerEndsTheWaitWhateverItSays) {
  for (const uint8_t answer : {0, 1, 2, 5}) {
    SCOPED_TRACE(int(answer));
    // Each round needs a window of its own.
    if (answer != 0) {
      Finish();
      dialog_ = std::make_unique<CTamriDlg>();
      Start();
    }
    FoundWithDiagnosticModeOn();
    CloseAndSettle(ui::headless::Close);
    link_.Indicate(IdDiagPortSwitch, {answer});
    EXPECT_TRUE(Ended());
  }
}

TEST_F(ClosingTest, TheTimerEndsTheWaitWhenNoAnswerComes) {
  FoundWithDiagnosticModeOn();
  CloseAndSettle(ui::headless::Close);
  EXPECT_TRUE(Ended());
}

TEST_F(ClosingTest, TheWaitEndsAlsoWhenADetectionMovedTheStateAway) {
  FoundWithDiagnosticModeOn();
  CloseAndSettle(ui::headless::Close);
  Indicate(IdModemDetect, {1});
  Indicate(IdPortScanResult, {3, 0});
  ASSERT_NE(DeviceState, StateClosing);
  link_.Indicate(IdDiagPortSwitch, {1});
  EXPECT_TRUE(Ended());
}

TEST_F(ClosingTest, TheTimerEndsTheWaitAlsoWhenADetectionMovedTheStateAway) {
  FoundWithDiagnosticModeOn();
  CloseAndSettle(ui::headless::Close);
  Indicate(IdPortScanResult, {0, 0});
  ASSERT_EQ(DeviceState, StateNoDevice);
  EXPECT_TRUE(Ended());
}

TEST_F(ClosingTest, TimerOneSeventeenOutsideAClosingOnlyStops) {
  FindWithVersion("NV6246-DC-0520");
  dialog_->SetTimer(TIMER_CLOSE_WAIT, 1);
  // The handler kills its timer: once none runs, it has fired.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!ui::headless::View(window_)->timers.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ui::headless::Sync(window_);
  EXPECT_TRUE(ui::headless::View(window_)->timers.empty());
  EXPECT_FALSE(Ended(0));
}

TEST_F(ClosingTest, ASwitchOffThatCannotBeQueuedEndsAtOnce) {
  FoundWithDiagnosticModeOn();
  link_.SetRequestsQueued(false);
  ui::headless::Close(window_);
  EXPECT_TRUE(Ended());
}

TEST_F(ClosingTest, TheDriverThreadEndsBeforeTheWindowGoesEvenInAPause) {
  // Real time: the switch's result pauses the driver thread for 3 + 3 s.
  plat::SetTimeScale(1);
  link_.Indicate(IdDiagPortSwitch, {1});
  ASSERT_TRUE(link_.WaitForCall("SetRFFuncReq(7)", kWaitMs));
  Finish();
  // The pause ended with the thread: the step's second half never ran.
  dialog_.reset();
  link_.Indicate(IdPortScanResult, {2, 0});
  const Calls calls = link_.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetRFFuncReq(6)"), 0);
}

// During a transfer the close asks first.
struct BusyCase {
  int busy;
  int text;
};

class BusyClosingTest : public ClosingTest, public ::testing::WithParamInterface<BusyCase> {};

TEST_P(BusyClosingTest, CancelKeepsTheWindowAndOkCloses) {
  dialog_->TransferBusy = GetParam().busy;
  const std::string question = ui::LoadString(GetParam().text);
  boxes_.Expect(question, ui::IdCancel);
  CloseAndSettle(ui::headless::Close);
  EXPECT_FALSE(Ended(0));
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbOkCancel | ui::MbIconStop | ui::MbDefButton2);

  boxes_.Expect(question, ui::IdOk);
  ui::headless::Escape(window_);
  EXPECT_TRUE(Ended());
}

INSTANTIATE_TEST_SUITE_P(Transfers, BusyClosingTest,
                         ::testing::Values(BusyCase{1, IDS_CLOSE_WHILE_DOWNLOADING},
                                           BusyCase{2, IDS_CLOSE_WHILE_UPLOADING}));

TEST_F(ClosingTest, ClosingDuringATransferStillPutsTheDeviceBack) {
  FindWithVersion("NV6246-FTM-0901");
  dialog_->TransferBusy = 1;
  link_.ClearCalls();
  boxes_.Expect(ui::LoadString(IDS_CLOSE_WHILE_DOWNLOADING), ui::IdOk);
  ui::headless::Close(window_);
  EXPECT_TRUE(Ended());
  EXPECT_EQ(link_.Calls(), (Calls{"SetRFFuncReq(7)", "SetRFFuncReq(6)"}));
}

}  // namespace
