// The link layer driven through its Dll_ functions against the simulated
// device over pseudo-terminals, for each device profile: the detection at
// start, the port search, connect, the version and the mode requests, and
// the device's re-enumeration after a mode switch.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "api_user.h"
#include "handoff/scan_diag_port.h"
#include "link/api.h"
#include "link/ids.h"
#include "link/linklayer.h"
#include "link_test_support.h"
#include "plat/clock.h"
#include "plat/serial_map.h"
#include "sim/device.h"
#include "support/port_kit.h"
#include "testkit/serial_map_writer.h"

namespace {

using linktest::Indication;
using e2e::One;
using sim::Profile;

constexpr unsigned kCom = 7;
constexpr int kScale = 5;
const std::string kVersion = "M6275A-V3.2.1";
const Indication kOk{IdOk, "OK"};

std::string Field(const std::string& record, int index) {
  const std::string field = record.substr(static_cast<size_t>(index) * 30, 30);
  return field.substr(0, field.find('\0'));
}

struct ProfileCase {
  const char* name;
  Profile profile;
  uint8_t found;
  uint8_t type;
  uint8_t dual;
  int diagMode;
  int modemAt;  // index into the device's AT ports of the port Connect opens
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.name; }

class LinkApi : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
    ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1"));
    DualPortFlag = 0;
  }
  void TearDown() override {
    SetDllLink(nullptr);
    link_.reset();
    handoff::ScanDiagPortHandle.Clear();
    device_.reset();
    DualPortFlag = 0;
    plat::SetTimeScale(savedScale_);
  }

  void StartDevice(Profile profile) {
    sim::Config config;
    config.com = kCom;
    config.profile = profile;
    config.flashPath = root_.Path() + "/flash.bin";
    config.versionText = kVersion;
    config.reenumeratePauseMs = 1000;
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    ASSERT_TRUE(device_->WaitForListed(true, 10000));
  }
  // The link starts as at static construction, with its threads.
  void StartLink() {
    link_ = std::make_unique<linklayer>();
    SetDllLink(link_.get());
  }

  // A search, and its result.
  std::vector<Indication> Search() {
    EXPECT_TRUE(Dll_SearchPort());
    return user_.Until(IdPortScanResult);
  }
  // A device of `profile` plugged in, detected at start, searched and
  // connected to, as the program's window does it.
  void FoundAndConnected(Profile profile) {
    ASSERT_NO_FATAL_FAILURE(StartDevice(profile));
    StartLink();
    Dll_SetNotify(user_.Handle());
    ASSERT_EQ(user_.Until(IdModemDetect).size(), 1u);
    ASSERT_EQ(Search(), std::vector<Indication>{ScanResult(3, 2)});
    ASSERT_TRUE(Dll_Connect(0, 0, nullptr));
  }
  // The ports come back one map change after another, each followed by a
  // detection that closes the AT port: the last report, once they are over.
  Indication LastDetection() {
    Indication last{};
    for (std::vector<Indication> taken; !(taken = user_.Until(IdModemDetect, 500)).empty();) last = taken.back();
    return last;
  }
  static Indication ScanResult(uint8_t found, uint8_t type) {
    return {IdPortScanResult, std::string{static_cast<char>(found), static_cast<char>(type)}};
  }

  int savedScale_ = 1;
  testkit::TempDeviceRoot root_;
  std::unique_ptr<sim::Device> device_;
  std::unique_ptr<linklayer> link_;
  e2e::ApiUser<decltype(&Dll_ReadDate)> user_{&Dll_ReadDate};
};

class Profiles : public LinkApi, public testing::WithParamInterface<ProfileCase> {};

TEST_P(Profiles, SearchConnectAndRequests) {
  const ProfileCase& c = GetParam();
  StartDevice(c.profile);
  StartLink();
  // The detection at start is waiting when the user registers.
  EXPECT_EQ(Dll_SetNotify(user_.Handle()), 1);
  EXPECT_EQ(user_.Until(IdModemDetect), std::vector<Indication>{One(IdModemDetect, 1)});

  EXPECT_EQ(Search(), std::vector<Indication>{ScanResult(c.found, c.type)});
  EXPECT_EQ(Dll_GetDiagportReq(), static_cast<int>(kCom));
  EXPECT_EQ(Dll_GetDiagModeReq(), c.diagMode);
  EXPECT_EQ(Dll_IsDualPort(), c.dual);
  if (c.diagMode == 1) {
    handoff::ScannedPort kept = handoff::ScanDiagPortHandle.Take();
    ASSERT_TRUE(kept.Port);
    EXPECT_EQ(kept.ComPort, static_cast<int>(kCom));
    EXPECT_TRUE(device_->WaitForState(sim::State::Dmss, 10000));  // the boot loader went into download mode
    kept.Port->Close();
  }
  if (c.modemAt < 0) {
    EXPECT_FALSE(Dll_Connect(0, 0, user_.Handle()));
    return;
  }

  ASSERT_TRUE(Dll_Connect(0, 0, user_.Handle()));
  ASSERT_TRUE(link_->CurrentPort());
  EXPECT_EQ(link_->CurrentPort()->Number(), device_->AtComs().at(static_cast<size_t>(c.modemAt)));

  ASSERT_TRUE(Dll_VersionReq());
  const std::vector<Indication> version = user_.Until(IdOk);
  ASSERT_EQ(version.size(), 2u);
  EXPECT_EQ(version[0].id, IdVersion);
  ASSERT_EQ(version[0].payload.size(), 120u);
  EXPECT_EQ(Field(version[0].payload, 0), "NUVO");
  EXPECT_EQ(Field(version[0].payload, 1), kVersion);
  EXPECT_EQ(Field(version[0].payload, 2), "SIM");
  EXPECT_EQ(Field(version[0].payload, 3), "[Nuvo simulated device]");
  EXPECT_EQ(version[1], kOk);

  // The mode questions, each with its state and the final result.
  ASSERT_TRUE(Dll_TurnDiagnosticOnOffReq(3, "", ""));
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdDiagPortState, 0), kOk}));
  ASSERT_TRUE(Dll_GetFactoryModeReq());
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdFtmState, 0), kOk}));
  ASSERT_TRUE(Dll_GetFactoryModeReq2());
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdTestModeState, 0), kOk}));
  ASSERT_TRUE(Dll_SetRFFuncReq(-1));
  EXPECT_EQ(user_.Until(IdOk), std::vector<Indication>{kOk});
  ASSERT_TRUE(Dll_TurnDiagnosticOn2Req("x"));  // a command the device does not know
  EXPECT_EQ(user_.Until(IdError), (std::vector<Indication>{{IdError, "ERROR"}}));

  // Disconnected: the first request is told once, later ones are dropped.
  EXPECT_TRUE(Dll_Disconnect(0));
  ASSERT_TRUE(Dll_VersionReq());
  EXPECT_EQ(user_.Until(IdPortNotOpen), std::vector<Indication>{One(IdPortNotOpen, 0)});
  ASSERT_TRUE(Dll_VersionReq());
  ASSERT_TRUE(Dll_Connect(0, 0, nullptr));
  ASSERT_TRUE(Dll_SetDualChannelReq());
  EXPECT_EQ(user_.Until(IdOk), std::vector<Indication>{kOk});
}

INSTANTIATE_TEST_SUITE_P(
    E2e, Profiles,
    testing::Values(ProfileCase{"SingleModem", Profile::SingleModem, 3, 2, 0, 0, 0},
                    // The modem port announces a second one; the AT-only
                    // port's later answer settles it and becomes the AT port.
                    ProfileCase{"DualPort", Profile::DualPort, 3, 2, 1, 0, 1},
                    ProfileCase{"LineFeedModem", Profile::LineFeedModem, 3, 0xDA, 0, 0, 0},
                    ProfileCase{"BootLoader", Profile::BootLoader, 3, 2, 0, 1, 0},
                    ProfileCase{"DiagOnly", Profile::DiagOnly, 2, 2, 0, 0, -1}),
    [](const testing::TestParamInfo<ProfileCase>& info) { return info.param.name; });

TEST_F(LinkApi, DiagnosticSwitchReenumeratesTheDevice) {
  ASSERT_NO_FATAL_FAILURE(FoundAndConnected(Profile::SingleModem));

  // A wrong access code: refused, and the device stays.
  ASSERT_TRUE(Dll_TurnDiagnosticOnOffReq(1, "1234", ""));
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdDiagPortSwitch, 2), kOk}));

  ASSERT_TRUE(Dll_TurnDiagnosticOnOffReq(1, "70419352", ""));
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdDiagPortSwitch, 1), kOk}));
  // Its ports leave the map, and come back after the pause.
  const std::vector<Indication> gone = user_.Until(IdModemDetect);
  ASSERT_FALSE(gone.empty());
  EXPECT_EQ(gone.back(), One(IdModemDetect, 0));
  ASSERT_TRUE(device_->WaitForListed(true, 10000));
  EXPECT_EQ(LastDetection(), One(IdModemDetect, 1));

  ASSERT_EQ(Search(), std::vector<Indication>{ScanResult(3, 2)});
  ASSERT_TRUE(Dll_Connect(0, 0, nullptr));
  ASSERT_TRUE(Dll_TurnDiagnosticOnOffReq(3, "", ""));
  EXPECT_EQ(user_.Until(IdOk), (std::vector<Indication>{One(IdDiagPortState, 1), kOk}));
}

TEST_F(LinkApi, UnplugAndPlugAreDetected) {
  ASSERT_NO_FATAL_FAILURE(FoundAndConnected(Profile::DualPort));

  device_->Unplug();
  const std::vector<Indication> gone = user_.Until(IdModemDetect);
  ASSERT_FALSE(gone.empty());
  EXPECT_EQ(gone.back(), One(IdModemDetect, 0));
  EXPECT_EQ(LinkLayerPeer::ModemPort(*link_), linklayer::NoPort);
  EXPECT_EQ(link_->CurrentPort(), nullptr);

  device_->Plug();
  ASSERT_TRUE(device_->WaitForListed(true, 10000));
  EXPECT_EQ(LastDetection(), One(IdModemDetect, 1));
  EXPECT_EQ(Search(), std::vector<Indication>{ScanResult(3, 2)});
  EXPECT_TRUE(Dll_Connect(0, 0, nullptr));
}

}  // namespace
