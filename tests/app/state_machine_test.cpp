// The device state machine, indication by indication: what each one causes
// in the states it tests — link calls, status line, buttons, state.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/TamriDlg.h"
#include "app/version_table.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "res/resource.h"
#include "window_fixture.h"

namespace {

using Calls = std::vector<std::string>;

class StateMachineTest : public WindowTest {
 protected:
  void SetUp() override {
    Start();
    link_.ClearCalls();
  }
  bool Found() { return Enabled(IDOK_BUTTON) && Enabled(IDC_UPLOAD_IMAGE); }
};

TEST_F(StateMachineTest, StartsSearchingWithTheButtonsOff) {
  EXPECT_EQ(Status(), "Searching Device...");
  EXPECT_FALSE(Enabled(IDOK_BUTTON));
  EXPECT_FALSE(Enabled(IDC_UPLOAD_IMAGE));
  EXPECT_EQ(DeviceState, StateSearchingPorts);
}

TEST_F(StateMachineTest, DetectionSearchesOneSecondAfterTheLastOfSeveral) {
  // Real time: the three detections and the look at the state come well
  // within the second.
  plat::SetTimeScale(1);
  for (int i = 0; i < 3; ++i) link_.Indicate(IdModemDetect, {1});
  Settle();
  EXPECT_EQ(DeviceState, StatePortsPresent);
  EXPECT_TRUE(link_.WaitForCall("SearchPort", kWaitMs));
  Settle();
  const Calls calls = link_.Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SearchPort"), 1);
  EXPECT_EQ(DeviceState, StateSearchingPorts);
  EXPECT_TRUE(ui::headless::View(window_)->timers.empty());
}

TEST_F(StateMachineTest, DetectionWithoutDevicePortsDisconnectsAndSearchesAnyway) {
  plat::SetTimeScale(1);  // the state is looked at before the search's second is up
  DeviceState = StateFound;
  Indicate(IdModemDetect, {0});
  EXPECT_EQ(DeviceState, StateFound);
  EXPECT_EQ(link_.Calls(), Calls{"Disconnect"});
  EXPECT_TRUE(link_.WaitForCall("SearchPort", kWaitMs));
}

TEST_F(StateMachineTest, AScanOfTheDiagnosticPortOnlyFindsTheDeviceWithoutVersion) {
  link_.SetDiagPort(9);
  link_.SetDiagMode(1);
  Indicate(IdPortScanResult, {2, 0});
  EXPECT_EQ(Status(), "Found Device.");
  EXPECT_TRUE(Found());
  EXPECT_EQ(DeviceState, StateFound);
  EXPECT_EQ(dialog_->DeviceDiagPort, 9);
  EXPECT_EQ(download::DeviceDiagMode, 1);
}

TEST_F(StateMachineTest, AScanWithAnAtPortConnectsAndAsksTheVersion) {
  for (const uint8_t found : {1, 3}) {
    link_.ClearCalls();
    DeviceState = StateSearchingPorts;
    Indicate(IdPortScanResult, {found, 0});
    EXPECT_EQ(link_.Calls(), (Calls{"Connect", "VersionReq"})) << int(found);
    EXPECT_EQ(DeviceState, StateVersionAsked);
  }
}

TEST_F(StateMachineTest, AFailedConnectionSaysSoAndLeavesTheStateSearching) {
  link_.SetConnectResult(false);
  boxes_.Expect("Failed to connect device!", ui::IdOk);
  Indicate(IdPortScanResult, {3, 0});
  EXPECT_EQ(DeviceState, StateSearchingPorts);
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbOk | ui::MbIconStop);
  EXPECT_EQ(boxes_.Shown()[0].caption, "Tamri");
}

TEST_F(StateMachineTest, AScanThatFoundNothingStartsOver) {
  FindWithVersion("NV6246-DC-0520");
  ASSERT_TRUE(Found());
  link_.ClearCalls();
  Indicate(IdPortScanResult, {0, 0});
  EXPECT_EQ(Status(), "Searching Device...");
  EXPECT_FALSE(Enabled(IDOK_BUTTON));
  EXPECT_FALSE(Enabled(IDC_UPLOAD_IMAGE));
  EXPECT_EQ(DeviceState, StateNoDevice);
  EXPECT_EQ(dialog_->VersionClass, 0);
  EXPECT_EQ(link_.Calls(), Calls{"Disconnect"});
}

// What each version's class sends first, and the state it leaves.
struct VersionCase {
  const char* version;
  int versionClass;
  const char* firstCall;
  int state;
};

class VersionClassTest : public StateMachineTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionClassTest, TheVersionChoosesTheSequence) {
  const VersionCase& c = GetParam();
  link_.SetDiagPort(-1);  // keeps the dual channel's found action off
  FindWithVersion(c.version);
  const Calls calls = link_.Calls();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[2], c.firstCall);
  EXPECT_EQ(dialog_->VersionClass, c.versionClass);
  EXPECT_EQ(DeviceState, c.state);
  EXPECT_FALSE(Found());
}

std::vector<VersionCase> VersionCases() {
  std::vector<VersionCase> cases;
  for (const KnownVersion& known : VersionTable) {
    switch (known.kind) {
      case VersionKind::DiagSwitch:
        cases.push_back({known.text.data(), 1, "TurnDiagnosticOnOffReq(3,,)", StateDiagModeAsked});
        break;
      case VersionKind::DualChannel:
        cases.push_back({known.text.data(), 2, "SetDualChannelReq", StateDualChannelSet});
        break;
      case VersionKind::FactoryMode:
        cases.push_back({known.text.data(), 3, "GetFactoryModeReq", StateFactoryModeAsked});
        break;
      case VersionKind::TestMode: break;
    }
  }
  cases.push_back({"ANY-OTHER-1.0", 3, "GetFactoryModeReq2", StateFactoryModeAsked});
  cases.push_back({"nv6246-dm-0310", 3, "GetFactoryModeReq2", StateFactoryModeAsked});  // case counts
  return cases;
}

INSTANTIATE_TEST_SUITE_P(AllVersions, VersionClassTest, ::testing::ValuesIn(VersionCases()));

TEST(VersionTableTest, HoldsTwoFourAndOneVersionsOfTheirClasses) {
  int counts[4] = {};
  for (const KnownVersion& known : VersionTable) {
    ++counts[static_cast<int>(known.kind)];
    EXPECT_LE(known.text.size(), 29u);
    EXPECT_EQ(known.text.find(' '), std::string_view::npos);
  }
  EXPECT_EQ(counts[static_cast<int>(VersionKind::DiagSwitch)], 2);
  EXPECT_EQ(counts[static_cast<int>(VersionKind::DualChannel)], 4);
  EXPECT_EQ(counts[static_cast<int>(VersionKind::FactoryMode)], 1);
  EXPECT_EQ(counts[static_cast<int>(VersionKind::TestMode)], 0);
}

TEST_F(StateMachineTest, DualChannelFindsTheDeviceOnceItsDiagnosticPortIsKnown) {
  FindWithVersion("NV6250-DC-0107");
  EXPECT_EQ(Status(), "Found Device. NV6250-DC-0107");
  EXPECT_TRUE(Found());
  EXPECT_EQ(DeviceState, StateFound);
  EXPECT_EQ(dialog_->DeviceDiagPort, 7);
}

TEST_F(StateMachineTest, DiagnosticModeOffIsSwitchedOnWithTheAccessCode) {
  FindWithVersion("NV6246-DM-0310");
  link_.ClearCalls();
  Indicate(IdDiagPortState, {0});
  EXPECT_EQ(dialog_->DiagModeState, 1);
  EXPECT_EQ(link_.Calls(), Calls{"TurnDiagnosticOnOffReq(1,70419352,)"});
  EXPECT_EQ(DeviceState, StateDiagModeAsked);
}

TEST_F(StateMachineTest, DiagnosticModeOnFindsTheDeviceOnlyWithAKnownPort) {
  FindWithVersion("NV6246-DM-0415");
  link_.SetDiagPort(-1);
  Indicate(IdDiagPortState, {1});
  EXPECT_EQ(dialog_->DiagModeState, 2);
  EXPECT_FALSE(Found());
  link_.SetDiagPort(7);
  Indicate(IdDiagPortState, {1});
  EXPECT_EQ(Status(), "Found Device. NV6246-DM-0415");
  EXPECT_TRUE(Found());
}

TEST_F(StateMachineTest, ARefusedAccessCodeIsShownInsteadOfWaitingSilently) {
  FindWithVersion("NV6246-DM-0310");
  link_.SetRequestsQueued(false);
  Indicate(IdDiagPortState, {0});
  EXPECT_EQ(Status(), "Invalid access code (CR, LF or quote in it)!");
}

// The answer to the diagnostic-mode switch.
struct SwitchCase {
  uint8_t result;
  const char* status;  // null: unchanged
  Calls calls;
};

class DiagSwitchTest : public StateMachineTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(DiagSwitchTest, TheAnswerRunsItsStepAndTheDialogStays) {
  const SwitchCase& c = GetParam();
  FindWithVersion("NV6246-DM-0310");
  link_.ClearCalls();
  Indicate(IdDiagPortSwitch, {c.result});
  EXPECT_EQ(link_.Calls(), c.calls);
  if (c.status != nullptr) {
    EXPECT_EQ(Status(), c.status);
  } else {
    EXPECT_EQ(Status(), "Searching Device...");
  }
  EXPECT_FALSE(Ended(0));
}

INSTANTIATE_TEST_SUITE_P(Results, DiagSwitchTest,
                         ::testing::Values(SwitchCase{0, "Failed!", {}},
                                           SwitchCase{1, nullptr, {"SetRFFuncReq(7)", "SetRFFuncReq(6)"}},
                                           SwitchCase{2, "Incorrect password!", {}},
                                           SwitchCase{3, nullptr, {}}));

// The factory and the test mode: their state's answers.
struct ModeCase {
  const char* version;
  int id;
  const char* setCall;
};

class ModeTest : public StateMachineTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTest, ModeOffIsSwitchedOnAndTheLinkClosed) {
  const ModeCase& c = GetParam();
  FindWithVersion(c.version);
  link_.ClearCalls();
  Indicate(c.id, {0});
  EXPECT_EQ(link_.Calls(), (Calls{std::string(c.setCall) + "(1)", "Disconnect"}));
  EXPECT_EQ(Status(), "Switch to download mode...");
  EXPECT_EQ(DeviceState, StateFactoryModeAsked);
  EXPECT_FALSE(Found());
}

TEST_P(ModeTest, ModeOnIsSwitchedOffAndTheDeviceFoundWithoutAPortTest) {
  const ModeCase& c = GetParam();
  FindWithVersion(c.version);
  link_.SetDiagPort(-1);
  link_.ClearCalls();
  Indicate(c.id, {1});
  EXPECT_EQ(link_.Calls(), (Calls{std::string(c.setCall) + "(0)"}));
  EXPECT_EQ(Status(), std::string("Found Device. ") + c.version);
  EXPECT_TRUE(Found());
  EXPECT_EQ(dialog_->DeviceDiagPort, -1);
}

TEST_P(ModeTest, OtherDigitsChangeNothing) {
  const ModeCase& c = GetParam();
  FindWithVersion(c.version);
  link_.ClearCalls();
  Indicate(c.id, {4});
  EXPECT_TRUE(link_.Calls().empty());
  EXPECT_EQ(DeviceState, StateFactoryModeAsked);
}

INSTANTIATE_TEST_SUITE_P(Modes, ModeTest,
                         ::testing::Values(ModeCase{"NV6246-FTM-0901", IdFtmState, "SetFactoryModeReq"},
                                           ModeCase{"ANY-OTHER-1.0", IdTestModeState, "SetFactoryModeReq2"}));

TEST_F(StateMachineTest, AnErrorFindsTheDeviceOnlyAfterTheModeQueryWithADiagnosticPort) {
  // State 9 after a scan without the diagnostic port: nothing.
  Indicate(IdPortScanResult, {1, 0});
  Indicate(IdVersion, VersionRecordWith("ANY-OTHER-1.0"));
  Indicate(IdError, "");
  EXPECT_FALSE(Found());
  // Another state with the diagnostic port scanned: nothing either.
  Indicate(IdPortScanResult, {3, 0});
  ASSERT_EQ(DeviceState, StateVersionAsked);
  Indicate(IdError, "");
  EXPECT_FALSE(Found());
  // State 9 with it: found.
  Indicate(IdVersion, VersionRecordWith("ANY-OTHER-1.0"));
  Indicate(IdError, "");
  EXPECT_TRUE(Found());
  EXPECT_EQ(Status(), "Found Device. ANY-OTHER-1.0");
}

TEST_F(StateMachineTest, AnOccupiedPortIsShownInABox) {
  boxes_.Expect("Port Occupied!", ui::IdOk);
  Indicate(IdPortNotOpen, {2});
  ASSERT_EQ(boxes_.Shown().size(), 1u);
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbOk | ui::MbIconStop);
  Indicate(IdPortNotOpen, {0});
  EXPECT_EQ(boxes_.Shown().size(), 1u);
}

TEST_F(StateMachineTest, IndicationsTheWindowDoesNotActOnChangeNothing) {
  const int state = DeviceState;
  for (const int id : {int{IdOk}, int{IdFtmSwitch}, int{IdTestModeSwitch}, 150, 0}) Indicate(id, {1});
  Indicate(IdDiagPortState, {7});
  EXPECT_TRUE(link_.Calls().empty());
  EXPECT_EQ(DeviceState, state);
  EXPECT_EQ(Status(), "Searching Device...");
}

TEST_F(StateMachineTest, IndicationsWithoutTheByteTheyNeedAreIgnored) {
  const int state = DeviceState;
  for (const PrimitiveId id : {IdPortNotOpen, IdModemDetect, IdDiagPortState, IdDiagPortSwitch, IdFtmState,
                               IdTestModeState, IdPortScanResult}) {
    Indicate(id, "");
  }
  Settle();
  EXPECT_TRUE(link_.Calls().empty());
  EXPECT_EQ(DeviceState, state);
  EXPECT_TRUE(ui::headless::View(window_)->timers.empty());
}

TEST_F(StateMachineTest, AVersionTextIsShownBoundedByItsField) {
  const std::string full(30, 'V');  // fills the field, no NUL
  FindWithVersion(full);
  // Class 3 (not listed): found by the test mode's answer.
  Indicate(IdTestModeState, {1});
  EXPECT_EQ(Status(), "Found Device. " + std::string(29, 'V'));
}

TEST_F(StateMachineTest, AShortVersionRecordIsIgnored) {
  Indicate(IdPortScanResult, {3, 0});
  link_.ClearCalls();
  Indicate(IdVersion, VersionRecordWith("NV6246-DC-0520").substr(0, 119));
  EXPECT_TRUE(link_.Calls().empty());
  EXPECT_EQ(DeviceState, StateVersionAsked);
}

TEST_F(StateMachineTest, TheMachineRestartsFromAnyStateOnDetectionAndScan) {
  FindWithVersion("NV6246-DC-0602");
  ASSERT_EQ(DeviceState, StateFound);
  plat::SetTimeScale(1);  // the state is looked at before the search's second is up
  Indicate(IdModemDetect, {1});
  EXPECT_EQ(DeviceState, StatePortsPresent);
  ASSERT_TRUE(link_.WaitForCall("SearchPort", kWaitMs));
  Settle();
  EXPECT_EQ(DeviceState, StateSearchingPorts);
  // The buttons stay as the found action left them until a scan says more.
  EXPECT_TRUE(Found());
}

}  // namespace
