// The version and status reports over a scripted phone: the printed text
// of every path, the presets the library finds, texts the library leaves
// without a NUL, the reconnect, and the wait for the phone that a key ends.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/vendor_library.h"
#include "vendor/testing/scripted_phone.h"
#include "vendor_fixture.h"

namespace {

using qlib_testing::ExtBuildAnswer;
using qlib_testing::QpstAnswer;
using qlib_testing::VernoAnswer;

QlibHandle HandleOf(uintptr_t value) { return reinterpret_cast<QlibHandle>(value); }

class ReportTest : public ::testing::Test {
 protected:
  ReportTest() {
    VendorLibraryHandle = HandleOf(1);
    phone_.SetDiagStatus(1, 1);
    phone_.SetNvRead(1, 0);
    phone_.SetQpstStatus({{1, 3u}});
    phone_.SetVersion(1, Verno());
    phone_.SetExtBuildId(1, ExtBuildAnswer{0x8A0, 0xABCD, "NV6246-DC-0520", "MODEL-A"});
    host_.PressKeyAfter(-1);
  }
  ~ReportTest() override { VendorLibraryHandle = nullptr; }

  // Each 12-byte text filled to its end, without a NUL: the report keeps
  // the dates' first 11 characters and the times' and the folder's first 8.
  static VernoAnswer Verno() {
    VernoAnswer answer;
    answer.compileDate = "Jan 02 2024X";
    answer.compileTime = "12:34:56ABCD";
    answer.releaseDate = "Feb 03 2024Y";
    answer.releaseTime = "07:08:09EFGH";
    answer.versionDir = "M6246A01WXYZ";
    answer.stationClassMark = 42;
    answer.caiRevision = 6;
    answer.mobileModel = 200;
    answer.firmwareRevision = 513;
    answer.slotCycleIndex = 2;
    answer.vocoderMajor = 3;
    answer.vocoderMinor = 4;
    return answer;
  }

  int Count(const std::string& name) const { return static_cast<int>(phone_.CallsOf(name).size()); }

  qlib_testing::ScriptedPhone phone_;
  VendorHostScript host_;
};

const std::string kHeader =
    "\n----------------\nVersion Report\n----------------\n"
    "\nQLIB DLL Version: Scripted phone library";
const std::string kSearching = "\nAuto detect selected, no phone has been found, searching...\n";
const std::string kWaiting = "<<Waiting for phone, press any key to exit>>\n";
const std::string kVersionTable =
    "Mobile Version report: PASS\n"
    "Compile Date: Jan 02 2024\n"
    "Compile Time: 12:34:56\n"
    "Release Date: Feb 03 2024\n"
    "Release Time: 07:08:09\n"
    " Version Dir: M6246A01\n"
    "\n\n"
    "   Station Class Mark: 42\n"
    "              CAI Rev: 6\n"
    "         Mobile Model: 200\n"
    "         Firmware Rev: 513\n"
    "     Slot Cycle Index: 2\n"
    "Vocoder major version: 3\n"
    "Vocoder minor version: 4\n";
const std::string kExtended =
    "\n"
    "      Ext MSM HW Version: 0x8A0\n"
    "       Ext Mobile Model#: 0xABCD\n"
    "Ext Mobile Mobile SW Rev: NV6246-DC-0520\n"
    "            Ext Model ID: MODEL-A\n";
std::string StatusLines(const std::string& mode) {
  return "\n            Phone Status: ONLINE"
         "\n                FTM Mode: OFF"
         "\n\nQPST Phone Status: " +
         mode;
}
const std::string kFullBody = kVersionTable + kExtended + StatusLines("SWD_modeDiagnostic") + "\n";

struct VersionCase {
  const char* name;
  std::vector<int> ports;
  std::vector<bool> connected;
  std::vector<QpstAnswer> qpst;
  int keyAfter;
  unsigned char vernoResult;
  unsigned char extResult;
  std::string expected;
  // The port each query found: the first is preset to "no phone", the
  // second finds what the first left.
  std::vector<std::string> portQueries;
};

TEST_F(ReportTest, TheVersionReportOfEveryPath) {
  const std::vector<std::string> onPort5 = {"GetComPortNumber(1,65535)", "GetComPortNumber(1,5)"};
  const std::vector<std::string> noPortFirst = {"GetComPortNumber(1,65535)", "GetComPortNumber(1,65535)"};
  const std::vector<VersionCase> cases = {
      {"a phone on its port", {5}, {true}, {{1, 3u}}, -1, 1, 1, kHeader + "\nCOM Port: 5\n" + kFullBody, onPort5},
      {"no port at first, then one", {-1, 7}, {true}, {{1, 3u}}, -1, 1, 1,
       kHeader + kSearching + "\nCOM Port: 7\n" + kFullBody,
       noPortFirst},
      {"no port at all", {-1}, {true}, {{1, 3u}}, -1, 1, 1, kHeader + kSearching + "\nCOM Port: AUTO, NOT DETECTED\n",
       noPortFirst},
      {"a port at first that the second query leaves as it found it", {5, -1}, {true}, {{1, 3u}}, -1, 1, 1,
       kHeader + "\nCOM Port: 5\n" + kFullBody, onPort5},
      {"waited for, a key ends it", {5}, {false}, {{1, 0u}}, 3, 1, 1, kHeader + "\nCOM Port: 5\n" + kWaiting, onPort5},
      {"connected while waited for", {5}, {false, false, true}, {{1, 0u}}, -1, 1, 1,
       kHeader + "\nCOM Port: 5\n" + kWaiting + kVersionTable + kExtended + StatusLines("SWD_modeNone") + "\n", onPort5},
      {"in a download mode while waited for", {5}, {false}, {{1, 0u}, {1, 6u}}, -1, 1, 1,
       kHeader + "\nCOM Port: 5\n" + kWaiting + "\n Phone is in download mode." +
           StatusLines("SWD_modeStreamDownload"),
       onPort5},
      {"a mode answer other than exactly 1 is no download mode", {5}, {false}, {{2, 6u}}, 4, 1, 1,
       kHeader + "\nCOM Port: 5\n" + kWaiting, onPort5},
      {"gone at the second look", {5}, {true, false}, {{1, 3u}}, -1, 1, 1,
       kHeader + "\nCOM Port: 5\n" + "\n Phone is not connected.", onPort5},
      {"the version query fails", {5}, {true}, {{1, 3u}}, -1, 0, 1,
       kHeader + "\nCOM Port: 5\n" + "Version Number: FAIL\n", onPort5},
      {"the extended build query fails", {5}, {true}, {{1, 3u}}, -1, 1, 0,
       kHeader + "\nCOM Port: 5\n" + kVersionTable + "\nQLIB_DIAG_EXT_BUILD_ID_F = FAIL" + "\n", onPort5},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(c.name);
    VendorLibraryHandle = HandleOf(1);
    phone_.ClearCalls();
    host_.ClearOutput();
    phone_.SetComPorts(c.ports);
    phone_.SetPhoneConnected(c.connected);
    phone_.SetQpstStatus(c.qpst);
    phone_.SetVersion(c.vernoResult, Verno());
    phone_.SetExtBuildId(c.extResult, ExtBuildAnswer{0x8A0, 0xABCD, "NV6246-DC-0520", "MODEL-A"});
    host_.PressKeyAfter(c.keyAfter);
    ReportVersion();
    EXPECT_EQ(host_.Output(), c.expected);
    std::vector<std::string> portQueries;
    for (const auto& call : phone_.CallsOf("GetComPortNumber")) portQueries.push_back(call.text);
    EXPECT_EQ(portQueries, c.portQueries);
  }
}

TEST_F(ReportTest, TheReconnectReplacesTheHandleAndLeavesTheOldConnectionOpen) {
  phone_.SetComPorts({-1, 7});
  phone_.SetConnectHandles({2});
  ReportVersion();
  EXPECT_EQ(VendorLibraryHandle.load(), HandleOf(2));
  EXPECT_EQ(Count("DisconnectServer"), 0);
  EXPECT_EQ(Count("DisconnectAllServers"), 0);
  const std::vector<std::string> calls = phone_.CallTexts();
  const std::vector<std::string> start(calls.begin(), calls.begin() + 4);
  EXPECT_EQ(start, (std::vector<std::string>{"GetLibraryVersion(set)", "GetComPortNumber(1,65535)",
                                             "ConnectServer(65535)", "GetComPortNumber(2,65535)"}));
  EXPECT_EQ(Count("IsPhoneConnected(2)"), 2);
}

TEST_F(ReportTest, TheWaitPollsWithoutPauseUntilTheKeyAndStopsAtIt) {
  phone_.SetPhoneConnected({false});
  phone_.SetQpstStatus({{1, 0u}});
  host_.PressKeyAfter(5);
  ReportVersion();
  // The key is looked at before each poll: five polls, then the sixth look.
  EXPECT_EQ(host_.KeyChecks(), 6);
  EXPECT_EQ(Count("IsPhoneConnected"), 1 + 5);
  EXPECT_EQ(Count("GetQpstPhoneStatus"), 5);
  EXPECT_EQ(Count("FlushRxBuffer"), 1);
  EXPECT_EQ(Count("DIAG_VERNO_F"), 0);
}

TEST_F(ReportTest, NoConsoleEndsTheWaitAtOnce) {
  // A window program's missing console counts as the key: not one poll.
  phone_.SetPhoneConnected({false});
  host_.PressKeyAfter(0);
  ReportVersion();
  EXPECT_EQ(Count("IsPhoneConnected"), 1);
  EXPECT_EQ(Count("GetQpstPhoneStatus"), 0);
  EXPECT_EQ(host_.Output(), kHeader + "\nCOM Port: 5\n" + kWaiting);
}

TEST_F(ReportTest, TextsWithoutTheirNulArePrintedUpToTheirBuffersEnd) {
  phone_.SetLibraryVersion(std::string(60, 'V'));
  phone_.SetExtBuildId(1, ExtBuildAnswer{1, 2, std::string(600, 'S'), std::string(512, 'M')});
  ReportVersion();
  const std::string output = host_.Output();
  EXPECT_NE(output.find("\nQLIB DLL Version: " + std::string(kQlibVersionSize, 'V') + "\nCOM Port: 5\n"),
            std::string::npos);
  EXPECT_NE(output.find("Ext Mobile Mobile SW Rev: " + std::string(kQlibBuildIdTextSize, 'S') + "\n"),
            std::string::npos);
  EXPECT_NE(output.find("            Ext Model ID: " + std::string(kQlibBuildIdTextSize, 'M') + "\n"),
            std::string::npos);
}

TEST_F(ReportTest, TheBuildIdQueryFindsItsNumbersPresetToZero) {
  ReportVersion();
  EXPECT_EQ(phone_.CallsOf("DIAG_EXT_BUILD_ID_F").at(0).text, "DIAG_EXT_BUILD_ID_F(1,0,0)");
}

const std::string kDiagnosticMode = "\n\nQPST Phone Status: SWD_modeDiagnostic";

struct StatusCase {
  unsigned char result;
  std::optional<unsigned char> status;
  std::string expected;
};

TEST_F(ReportTest, ThePhoneStatusByteByName) {
  const std::vector<StatusCase> cases = {
      {1, 0, "\n            Phone Status: OFFLINE"},
      {1, 1, "\n            Phone Status: ONLINE"},
      {1, 2, "\n            Phone Status: LOW POWER MODE"},
      {1, 3, "\n            Phone Status: Unknown"},
      {1, 255, "\n            Phone Status: Unknown"},
      // A successful query that leaves the preset 99.
      {1, std::nullopt, "\n            Phone Status: Unknown"},
      {0, 1, "\nQLIB_DIAG_STATUS_F: FAIL"},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.expected);
    phone_.ClearCalls();
    host_.ClearOutput();
    phone_.SetDiagStatus(c.result, c.status);
    ReportPhoneStatus();
    EXPECT_EQ(host_.Output(), c.expected + "\n                FTM Mode: OFF" + kDiagnosticMode);
    EXPECT_EQ(phone_.CallsOf("DIAG_STATUS_F").at(0).text, "DIAG_STATUS_F(1,99)");
  }
}

TEST_F(ReportTest, TheFtmModeFromNvItem453) {
  const std::vector<StatusCase> cases = {
      {1, 0, "\n                FTM Mode: OFF"},
      {1, 1, "\n                FTM Mode: ON"},
      {1, 0x80, "\n                FTM Mode: ON"},
      {1, std::nullopt, "\n                FTM Mode: OFF"},
      {0, 1, "\nQLIB_DIAG_NV_READ_F(NV_FTM_MODE_I): FAIL"},
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.expected);
    phone_.ClearCalls();
    host_.ClearOutput();
    phone_.SetNvRead(c.result, c.status);
    ReportPhoneStatus();
    EXPECT_EQ(host_.Output(), "\n            Phone Status: ONLINE" + c.expected + kDiagnosticMode);
    EXPECT_EQ(phone_.CallsOf("DIAG_NV_READ_F").at(0).text, "DIAG_NV_READ_F(1,453,0,1,0)");
  }
}

TEST_F(ReportTest, TheQpstModeByNameAndNothingOutsideTheTable) {
  const char* const names[] = {
      "SWD_modeNone", "SWD_modeDataServices", "SWD_modeDownload",
      "SWD_modeDiagnostic", "SWD_modeDiagnosticOffline", "SWD_modeReset",
      "SWD_modeStreamDownload", "SWD_modeMspDownload", "SWD_modeMspDiagnostic",
      "SWD_modeMspDiagnosticOffline", "SWD_modeMspReset", "SWD_modeMspStreamDownload",
  };
  const std::string before = "\n            Phone Status: ONLINE\n                FTM Mode: OFF";
  struct ModeCase {
    QpstAnswer answer;
    std::string expected;
  };
  std::vector<ModeCase> cases;
  for (uint32_t mode = 0; mode < 12; ++mode) {
    cases.push_back({{1, mode}, std::string("\n\nQPST Phone Status: ") + names[mode]});
  }
  cases.push_back({{1, 12u}, ""});
  cases.push_back({{1, 13u}, ""});
  cases.push_back({{1, 0xFFFFFFFFu}, ""});
  cases.push_back({{0, 3u}, ""});
  cases.push_back({{2, 3u}, kDiagnosticMode});
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.answer.result) + " " + std::to_string(*c.answer.mode));
    host_.ClearOutput();
    phone_.SetQpstStatus({c.answer});
    ReportPhoneStatus();
    EXPECT_EQ(host_.Output(), before + c.expected);
  }
}

}  // namespace
