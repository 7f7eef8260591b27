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
#include "testkit/serial_map_writer.h"

namespace {

using namespace simtest;  // the host's end of the line
using sim::Profile;
using sim::State;
using Map = MapValues;

constexpr unsigned kCom = 7;
const Bytes kProbe = Hex("0C 14 3A 7E");
// The running firmware's reply to it: the status, its CRC, the closing flag.
const Bytes kStatusReply = Hex("0C E1 00 E1 00 00 00 00 FE 25 7E");
// The boot loader's answer to it, 18 bytes.
const Bytes kPrompt = Cat(Text("\r\rM6275A-OEMSBL>"), Hex("8E 7E"));
const std::string kOther = "\\Device\\Serial0";

std::string Info(const std::string& line) { return "\r\n" + line + "\r\n\r\nOK\r\n"; }
const std::string kOk = "\r\nOK\r\n";
const std::string kError = "\r\nERROR\r\n";

Map::value_type Entry(unsigned com) { return {sim::DefaultMapName(com), "COM" + std::to_string(com)}; }

class SimAt : public ::testing::Test {
 protected:
  SimAt() {
    plat::SetTimeScale(kScale);
    plat::SerialMapWriter::AddValue(kOther, "COM1");
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
      EXPECT_EQ(diag.ReceiveBytes(kPrompt.size()), kPrompt);
    } else {
      // Its first bytes are the reply's code: no opening flag.
      EXPECT_EQ(diag.ReceiveBytes(kStatusReply.size()), kStatusReply);
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

// Every command of the AT side in turn on one port, as the host sends it
// (with CR LF): the whole answer, and whether the device restarts after it.
// The rows depend on the modes the rows before them left.
TEST_F(SimAt, AnswersEachCommand) {
  sim::Config config = BaseConfig(Profile::SingleModem);
  config.versionText = "NV2.3.1_B07";
  config.accessCode = "4711";
  StartDevice(config);
  HostLine& at = Open(device_->AtComs()[0]);
  struct Row {
    std::string command;
    std::string answer;
    bool restarts = false;
  };
  const std::vector<Row> rows{
      {"AT+CGMR", Info("+CGMR: NUVO NV2.3.1_B07 SIM [Nuvo simulated device]")},
      {"AT+CSWITCHDM?", Info("+CSWITCHDM: 0")},
      {"AT+CSWITCHDM=1,\"4712\"", Info("+CSWITCHDM: INCORRECT PASSWORD")},
      {"AT+CSWITCHDM=1,\"\"", Info("+CSWITCHDM: INCORRECT PASSWORD")},
      {"AT+CSWITCHDM=2,\"4711\",\"x\"", Info("+CSWITCHDM: FAIL")},
      {"AT+CSWITCHDM=1,4711", kError},
      {"AT+CSWITCHDM=1,\"4711", kError},
      {"AT+CSWITCHDM=1,\"4711\"x", kError},
      {"AT+CSWITCHDM=0,\"4711\"", Info("+CSWITCHDM: SUCCEED")},  // already off: no restart
      {"AT+CSWITCHDM=1,\"4711\"", Info("+CSWITCHDM: SUCCEED"), true},
      {"AT+CSWITCHDM?", Info("+CSWITCHDM: 1")},
      {"AT+CSWITCHFTM?", Info("+CSWITCHFTM: 0")},
      {"AT+CSWITCHFTM=0", Info("+CSWITCHFTM: REPEAT")},
      {"AT+CSWITCHFTM=2", Info("+CSWITCHFTM: FAIL")},
      {"AT+CSWITCHFTM=", kError},
      {"AT+CSWITCHFTM=1", Info("+CSWITCHFTM: SUCCEED"), true},
      {"AT+CSWITCHFTM?", Info("+CSWITCHFTM: 1")},
      {"AT+CSWITCHTEST?", Info("+CSWITCHTEST: 0")},
      {"AT+CSWITCHTEST=1", Info("+CSWITCHTEST: SUCCEED"), true},
      {"AT+CSWITCHTEST=1", Info("+CSWITCHTEST: REPEAT")},
      {"AT+CSWITCHTEST=0", Info("+CSWITCHTEST: SUCCEED"), true},
      {"AT+CSWITCHTEST?", Info("+CSWITCHTEST: 0")},
      {"AT+CSWITCHTEST=x", kError},
      {"AT+SWITCHDC", kOk},
      {"AT+CFUN?", Info("+CFUN: 1")},
      {"AT+CFUN=7", kOk},
      {"AT+CFUN?", Info("+CFUN: 7")},
      {"AT+CFUN=8", kError},
      {"AT+CFUN=6", kOk, true},
      {"AT+CFUN?", Info("+CFUN: 1")},
      {"AT+CSWITCHDIAG=\"4711\"", kError},
      {"AT+CINQP", kError},
      {"AT", kError},
      {"at+cgmr", kError},
  };
  uint32_t restarts = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    EXPECT_EQ(at.Command(row.command + "\r\n"), row.answer);
    if (row.restarts) {
      ++restarts;
      ASSERT_TRUE(device_->WaitFor(
          [&](const sim::Status& s) { return s.reenumerations == restarts && s.listed && s.atListed; }, kWaitMs));
    }
    EXPECT_EQ(device_->GetStatus().reenumerations, restarts);
  }
  EXPECT_EQ(device_->Modes(), (sim::AtModes{.diag = 1, .factory = 1, .test = 0, .fun = 1, .dualChannel = true}));
  const auto transcript = device_->AtTranscript();
  ASSERT_EQ(transcript.size(), rows.size());
  EXPECT_EQ(transcript[0].com, device_->AtComs()[0]);
  EXPECT_EQ(transcript[0].command, "AT+CGMR");
}

// The modes are the device's: switched on one port, they read the same on
// the other, and they last through a restart and an unplugging.
TEST_F(SimAt, KeepsItsModesAcrossPortsAndRestarts) {
  sim::Config config = BaseConfig(Profile::DualPort);
  config.modes.factory = 1;
  StartDevice(config);
  HostLine& modem = Open(device_->AtComs()[0]);
  HostLine& other = Open(device_->AtComs()[1]);
  EXPECT_EQ(other.Command("AT+CSWITCHFTM?\r\n"), Info("+CSWITCHFTM: 1"));
  EXPECT_EQ(modem.Command("AT+CSWITCHDM=1,\"70419352\"\r\n"), Info("+CSWITCHDM: SUCCEED"));
  ASSERT_TRUE(device_->WaitFor([](const sim::Status& s) { return s.reenumerations == 1 && s.atListed; }, kWaitMs));
  device_->Unplug();
  device_->Plug();
  ASSERT_TRUE(device_->WaitForListed(true, kWaitMs));
  EXPECT_EQ(other.Command("AT+CSWITCHDM?\r\n"), Info("+CSWITCHDM: 1"));
}

// A restart takes every port away, the diagnostic port with them, for the
// configured pause; what the host sends meanwhile is never answered; then
// all come back in their places in the map and answer again.
TEST_F(SimAt, ReenumeratesAfterASwitch) {
  StartDevice(BaseConfig(Profile::DualPort));
  const std::vector<unsigned> coms = device_->AtComs();
  HostLine& at = Open(coms[1]);
  HostLine& diag = Open(kCom);
  ASSERT_TRUE(at.SendRaw(Text("AT+CFUN=6\r\n")));
  EXPECT_EQ(at.ReceiveAnswer(), kOk);
  ASSERT_TRUE(device_->WaitForListed(false, kWaitMs));
  EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}}));
  for (const unsigned com : {kCom, coms[0], coms[1]}) EXPECT_FALSE(HostLine(com).Ok()) << com;
  ASSERT_TRUE(at.SendRaw(Text("AT+CINQP?\r\n")));
  ASSERT_TRUE(diag.SendRaw(kProbe));
  EXPECT_EQ(at.ReceiveBytes(1, 200), Bytes{});
  EXPECT_EQ(diag.ReceiveBytes(1, 1), Bytes{});

  ASSERT_TRUE(device_->WaitForListed(true, kWaitMs));
  const uint32_t back = plat::GetTickCount();
  EXPECT_GE(back - device_->AtTranscript().front().arrived.tick, 3000u);
  EXPECT_EQ(ReadMap(), Listed());
  EXPECT_EQ(device_->AtTranscript().size(), 1u);
  EXPECT_EQ(at.ReceiveBytes(1, 100), Bytes{});
  EXPECT_EQ(Open(coms[0]).Command("AT+CINQP?\r\n"), Info("+CINQP: MODEM PORTy,1"));
  ASSERT_TRUE(diag.SendRaw(kProbe));
  EXPECT_EQ(diag.ReceiveBytes(kStatusReply.size()), kStatusReply);
}

// A device unplugged while it restarts stays away after the pause, and
// plugging it in during the pause brings it back only when the pause ends.
TEST_F(SimAt, PlugsAroundARestart) {
  sim::Config config = BaseConfig(Profile::SingleModem);
  config.reenumeratePauseMs = 20000;
  StartDevice(config);
  HostLine& at = Open(device_->AtComs()[0]);
  EXPECT_EQ(at.Command("AT+CFUN=6\r\n"), kOk);
  ASSERT_TRUE(device_->WaitForListed(false, kWaitMs));
  device_->Unplug();
  device_->Plug();
  EXPECT_FALSE(device_->WaitForListed(true, 100));
  device_->Unplug();
  EXPECT_FALSE(device_->WaitForListed(true, 300));
  EXPECT_EQ(ReadMap(), (Map{{kOther, "COM1"}}));
  device_->Plug();
  ASSERT_TRUE(device_->WaitForListed(true, kWaitMs));
  EXPECT_EQ(ReadMap(), Listed());
}

// The host's boot-loader dialogue on the diagnostic port: the probe twice
// brings the prompt twice; the probe twice more, "AT$QCDMG" twice and two
// no-operation frames leave the device in download mode, where the two
// frames are acknowledged and the download goes on.
TEST_F(SimAt, BootLoaderLeadsToDownloadMode) {
  StartDevice(BaseConfig(Profile::BootLoader));
  EXPECT_EQ(device_->GetState(), State::BootLoader);
  HostLine& diag = Open(kCom);
  ASSERT_TRUE(diag.SendRaw(kProbe));
  ASSERT_TRUE(diag.SendRaw(kProbe));
  EXPECT_EQ(diag.ReceiveBytes(2 * kPrompt.size()), Cat(kPrompt, kPrompt));
  for (const Bytes& write : {kProbe, kProbe, Text("AT$QCDMG\r"), Text("AT$QCDMG\r"), Hex("7E 06 4E 95 7E"),
                             Hex("7E 06 4E 95 7E")}) {
    ASSERT_TRUE(diag.SendRaw(write));
    plat::Sleep(100);
  }
  const Bytes ack = Encode({0x02});
  EXPECT_EQ(diag.ReceiveBytes(2 * kPrompt.size() + 2 * ack.size()), Cat(Cat(kPrompt, kPrompt), Cat(ack, ack)));
  EXPECT_EQ(device_->GetState(), State::Dmss);
  EXPECT_EQ(diag.Exchange({0x07}), Hex("08 06 02 03 F9 7E 7D"));
  EXPECT_EQ(device_->GetStatus().badCrc, 0u);
  const auto transcript = device_->Transcript();
  ASSERT_EQ(transcript.size(), 7u);
  EXPECT_EQ(transcript[0].step, sim::Step::Status);
  EXPECT_EQ(transcript[0].state, State::BootLoader);
  EXPECT_EQ(transcript[4].step, sim::Step::Nop);
  // Its modem port answers meanwhile, as in the single-port profile.
  EXPECT_EQ(Open(device_->AtComs()[0]).Command("AT+CINQP?\r\n"), Info("+CINQP: MODEM PORT,y2"));
}

// A firmware that restarts only when it goes into the factory or test mode:
// the diagnostic-mode switch and leaving a mode wait for the host's
// AT+CFUN=6. The rows depend on the modes the rows before them left.
TEST(SimAtCore, RestartsOnlyIntoAModeWhenAskedTo) {
  sim::AtCore core("NV1", "4711", {}, sim::SwitchRestart::ModeOn);
  struct Row {
    std::string command;
    std::string answer;
    bool restarts;
  };
  const std::vector<Row> rows{
      {"AT+CSWITCHDM=1,\"4711\"", Info("+CSWITCHDM: SUCCEED"), false},
      {"AT+CSWITCHDM?", Info("+CSWITCHDM: 1"), false},
      {"AT+CSWITCHDM=0,\"4711\"", Info("+CSWITCHDM: SUCCEED"), false},
      {"AT+CSWITCHFTM=1", Info("+CSWITCHFTM: SUCCEED"), true},
      {"AT+CSWITCHFTM=1", Info("+CSWITCHFTM: REPEAT"), false},
      {"AT+CSWITCHFTM=0", Info("+CSWITCHFTM: SUCCEED"), false},
      {"AT+CSWITCHFTM?", Info("+CSWITCHFTM: 0"), false},
      {"AT+CSWITCHTEST=1", Info("+CSWITCHTEST: SUCCEED"), true},
      {"AT+CSWITCHTEST=0", Info("+CSWITCHTEST: SUCCEED"), false},
      {"AT+CFUN=7", kOk, false},
      {"AT+CFUN=6", kOk, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.command);
    const sim::AtAnswer answer = core.Answer(sim::AtRole::Modem, row.command);
    EXPECT_EQ(answer.text, row.answer);
    EXPECT_EQ(answer.reenumerate, row.restarts);
  }
}

// How a port cuts command lines out of what it receives, however the bytes
// come.
TEST(SimAtLine, TakesCommandsOutOfTheStream) {
  struct Row {
    std::string label;
    std::vector<std::string> writes;
    std::vector<std::string> commands;
  };
  const std::string probe = "\x0C\x14\x3A\x7E";
  const std::vector<Row> rows{
      {"one line", {"AT+CGMR\r\n"}, {"AT+CGMR"}},
      {"split", {"AT+C", "GMR", "\r", "\n"}, {"AT+CGMR"}},
      {"joined", {"AT+CGMR\r\nAT+CFUN?\r\n"}, {"AT+CGMR", "AT+CFUN?"}},
      {"without LF", {"AT+CGMR\rAT+CFUN?\r"}, {"AT+CGMR", "AT+CFUN?"}},
      {"behind the probe", {probe + probe + "AT+CINQP?\r\n"}, {"AT+CINQP?"}},
      {"noise before", {"\x01xyAT+CGMR\r"}, {"AT+CGMR"}},
      {"lower case", {"at+cgmr\r"}, {"at+cgmr"}},
      {"flag drops the line", {"AT+CG\x7EMR\r"}, {}},
      {"no command", {"\r\n\r\nhello\r"}, {}},
      {"too long", {"AT" + std::string(sim::AtLine::kMaxLine, 'X') + "\rAT+CGMR\r"}, {"AT+CGMR"}},
      {"unfinished", {"AT+CGMR"}, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    sim::AtLine line;
    std::vector<std::string> commands;
    for (const std::string& write : row.writes) {
      const auto* data = reinterpret_cast<const uint8_t*>(write.data());
      for (size_t offset = 0; offset < write.size();) {
        offset += line.Feed(data + offset, write.size() - offset);
        if (!line.Ready()) continue;
        commands.emplace_back(line.Command());
        line.Next();
      }
    }
    EXPECT_EQ(commands, row.commands);
  }
}

}  // namespace
