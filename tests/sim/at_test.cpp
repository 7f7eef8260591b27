// The simulated device's AT side and its ports as the host meets them: the
// map entries of each profile, the probe and inquiry answers, the AT answers,
// restarts, plugging. The host end is a plain COM<n> handle.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host_line.h"
#include "plat/clock.h"
#include "plat/serial_map.h"
#include "sim/at.h"
#include "sim/device.h"
#include "support/port_kit.h"

namespace {

using namespace simtest;  // the host's end of the line
using sim::Profile;
using sim::State;
using Map = MapValues;

constexpr unsigned kCom = 7;
const Bytes kProbe = Hex("0C 14 3A 7E");
const std::string kOther = "\\Device\\Serial0";

std::string Info(const std::string& line) { return "\r\n" + line + "\r\n\r\nOK\r\n"; }
const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

Map::value_type Entry(unsigned com) { return {sim::DefaultMapName(com), "COM" + std::to_string(com)}; }

class SimAt : public ::testing::Test {
 protected:
  SimAt() {
    plat::SetTimeScale(kScale);
    plat::SerialMap::AddValue(kOther, "COM1");
  }
  ~SimAt() override {
    hosts_.clear();
    device_.reset();
    plat::SetTimeScale(1);
  }

  sim::Config BaseConfig(Profile profile) const {
    sim::Config config;
    config.com = kCom;
    config.profile = profile;
    config.flashPath = root_.Path() + "/flash.bin";
    config.reenumeratePauseMs = 3000;
    return config;
  }

  void StartDevice(const sim::Config& config) {
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
  }

  HostLine& Open(unsigned com) {
    hosts_.push_back(std::make_unique<HostLine>(com));
    EXPECT_TRUE(hosts_.back()->Ok()) << "COM" << com;
    return *hosts_.back();
  }

  // The device's whole map, behind the unrelated entry the test made.
  Map Listed() const {
    Map map{{kOther, "COM1"}, Entry(kCom)};
    for (const unsigned com : device_->AtComs()) map.push_back(Entry(com));
    return map;
  }

  testkit::TempDeviceRoot root_;
  std::unique_ptr<sim::Device> device_;
  std::vector<std::unique_ptr<HostLine>> hosts_;
};

// Each profile's ports in the map, in order behind what was there; the
// diagnostic port's answer to the probe; each AT port's inquiry answer, also
// after the probe reached it first (as the host's first pass sends it to
// every port until one answers).
TEST_F(SimAt, EachProfileShowsItsPorts) {
  // The status reply, its CRC and the closing flag.
  const Bytes firmwareStatus = Hex("0C E1 00 E1 00 00 00 00 FE 25 7E");
  const Bytes prompt = Cat(Cat({0x0D, 0x0D}, Text("M6275A-OEMSBL>")), Hex("8E 7E"));
  ASSERT_EQ(prompt.size(), 18u);
  struct Row {
    Profile profile;
    std::vector<std::string> inquiry;  // per AT port
    bool bootLoader;
  };
  const std::vector<Row> rows{
      {Profile::DiagOnly, {}, false},
      {Profile::SingleModem, {"+CINQP: MODEM PORT,y2"}, false},
      {Profile::DualPort, {"+CINQP: MODEM PORTy,1", "+CINQP: AT ONLY PORTy,2"}, false},
      {Profile::LineFeedModem, {"+CINQP: MODEM PORTy"}, false},
      {Profile::BootLoader, {"+CINQP: MODEM PORT,y2"}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(sim::ProfileName(row.profile)));
    StartDevice(BaseConfig(row.profile));
    const std::vector<unsigned> coms = device_->AtComs();
    ASSERT_EQ(coms.size(), row.inquiry.size());
    EXPECT_EQ(ReadMap(), Listed());

    HostLine& diag = Open(kCom);
    ASSERT_TRUE(diag.SendRaw(kProbe));
    if (row.bootLoader) {
      EXPECT_EQ(diag.ReceiveBytes(prompt.size()), prompt);
    } else {
      // Its first bytes are the reply's code: no opening flag.
      EXPECT_EQ(diag.ReceiveBytes(firmwareStatus.size()), firmwareStatus);
    }
    for (size_t i = 0; i < coms.size(); ++i) {
      HostLine& at = Open(coms[i]);
      ASSERT_TRUE(at.SendRaw(Cat(kProbe, kProbe)));
      EXPECT_EQ(at.ReceiveBytes(1, 300), Bytes{});
      EXPECT_EQ(at.Command("AT+CINQP?\r\n"), Info(row.inquiry[i]));
      // Asked again straight away, as the host's second pass does.
      EXPECT_EQ(at.Command("AT+CINQP?\r\n"), Info(row.inquiry[i]));
    }
    hosts_.clear();
    device_.reset();
    EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}}));
  }
}

TEST_F(SimAt, NumbersItsAtPortsAsConfigured) {
  sim::Config config = BaseConfig(Profile::DualPort);
  config.atCom = 130;
  StartDevice(config);
  EXPECT_EQ(device_->AtComs(), (std::vector<unsigned>{130, 131}));
  EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}, Entry(kCom), Entry(130), Entry(131)}));
}

// Unplugged, every port and map entry is gone and a handle still held
// hears nothing; plugged in again, all are back. A device unplugged before
// it starts starts unplugged.
TEST_F(SimAt, PlugsAndUnplugsWithAllItsPorts) {
  sim::Config config = BaseConfig(Profile::DualPort);
  device_ = std::make_unique<sim::Device>(config);
  device_->Unplug();
  ASSERT_TRUE(device_->Start());
  EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}}));
  EXPECT_FALSE(HostLine(kCom).Ok());

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    device_->Plug();
    ASSERT_TRUE(device_->WaitForListed(true, kWaitMs));
    EXPECT_EQ(ReadMap(), Listed());
    EXPECT_TRUE(device_->GetStatus().plugged);
    HostLine& at = Open(device_->AtComs()[1]);
    EXPECT_EQ(at.Command("AT+CINQP?\r\n"), Info("+CINQP: AT ONLY PORTy,2"));

    device_->Unplug();
    ASSERT_TRUE(device_->WaitForListed(false, kWaitMs));
    EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}}));
    EXPECT_FALSE(device_->GetStatus().plugged);
    for (const unsigned com : {kCom, device_->AtComs()[0], device_->AtComs()[1]}) {
      HostLine gone(com);
      EXPECT_FALSE(gone.Ok());
      EXPECT_EQ(gone.Error(), plat::OpenError::NotFound);
    }
    ASSERT_TRUE(at.SendRaw(Text("AT+CINQP?\r\n")));
    EXPECT_EQ(at.ReceiveBytes(1, 300), Bytes{});
    hosts_.clear();
  }
}

}  // namespace
