// Modem detection and the watch of the serial-port map: the monitor thread
// against the map of a test device root, and the loop's own rules with a
// watch that fails on purpose.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link_test_support.h"
#include "plat/clock.h"
#include "plat/serial.h"
#include "plat/serial_map.h"
#include "support/port_kit.h"
#include "testkit/serial_map_writer.h"

namespace {

using linktest::Indication;
using namespace std::chrono_literals;
using namespace std::string_literals;

const Indication NoDevicePort{IdModemDetect, "\0"s};
const Indication DevicePorts{IdModemDetect, "\1"s};

std::string QcusbName(unsigned com) { return "\\Device\\QCUSB_COM" + std::to_string(com) + "_0"; }

bool AddPort(unsigned com) { return plat::SerialMapWriter::AddValue(QcusbName(com), "COM" + std::to_string(com)); }

// Waits (real time, generous) until `done` holds.
template <typename F>
bool Eventually(F done) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Every open the link makes of a port, through the platform's opener.
struct Opens {
  std::atomic<int> count{0};
};

class Detection : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(10);
  }
  void TearDown() override { plat::SetTimeScale(savedScale_); }

  // Link options with the platform's own map watch, so that detection runs.
  LinkOptions Options() {
    LinkOptions options = linktest::TestOptions(true);
    options.Platform.NewMapWatch = LinkPlatform().NewMapWatch;
    options.Timings.WatchAttempts = LinkTimings().WatchAttempts;
    options.Platform.OpenSerialPort = [opens = opens_](const std::string& name) {
      ++opens->count;
      return plat::SerialPort::OpenByName(name);
    };
    return options;
  }

  int savedScale_ = 1;
  testkit::TempDeviceRoot root_;
  std::shared_ptr<Opens> opens_ = std::make_shared<Opens>();
};

TEST_F(Detection, FirstDetectionAtStartReportsAPluggedDevice) {
  ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1"));
  ASSERT_TRUE(AddPort(5));
  linklayer link(Options());
  linktest::IndicationWatch watch(link);
  ASSERT_TRUE(watch.WaitFor(IdModemDetect));
  EXPECT_EQ(watch.Seen(), std::vector<Indication>{DevicePorts});
  EXPECT_EQ(opens_->count, 0);
}

TEST_F(Detection, WithoutAMapTheParentIsWatchedUntilTheMapAppears) {
  ASSERT_FALSE(plat::SerialMap::Exists());
  linklayer link(Options());
  linktest::IndicationWatch watch(link);
  ASSERT_TRUE(watch.WaitFor(IdModemDetect));
  EXPECT_EQ(watch.Seen(), std::vector<Indication>{NoDevicePort});

  ASSERT_TRUE(AddPort(5));
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  EXPECT_EQ(watch.Seen(), (std::vector<Indication>{NoDevicePort, DevicePorts}));
}

class DualPortDevice : public Detection {
 protected:
  void SetUp() override {
    Detection::SetUp();
    ASSERT_TRUE(modem_.Ok() && second_.Ok());
  }
  // A link whose last scan found both modem-type ports, with the AT port
  // reopened by a detection after that scan.
  void Found(linklayer& link, linktest::IndicationWatch& watch) {
    ASSERT_TRUE(watch.WaitFor(IdModemDetect));  // at start, before any scan
    LinkLayerPeer::ModemPort(link) = 4;
    LinkLayerPeer::SecondModemPort(link) = 5;
    ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1"));
    ASSERT_TRUE(Eventually([&] { return opens_->count == 1 && link.CurrentPort(); }));
  }

  testkit::TestPort modem_{4, QcusbName(4)};
  testkit::TestPort second_{5, QcusbName(5)};
};

TEST_F(DualPortDevice, IsReopenedSilentlyWhileBothPortsStay) {
  linklayer link(Options());
  linktest::IndicationWatch watch(link);
  Found(link, watch);
  const plat::PortHandle before = link.CurrentPort();

  ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial1", "COM2"));
  ASSERT_TRUE(Eventually([&] { return opens_->count == 2 && link.CurrentPort(); }));
  EXPECT_FALSE(before->IsOpen());
  EXPECT_EQ(link.CurrentPort()->Number(), 4u);
  EXPECT_EQ(watch.Seen(), std::vector<Indication>{DevicePorts});

  // One of the two goes: reported, and the AT port stays closed.
  ASSERT_TRUE(plat::SerialMapWriter::RemoveValue(QcusbName(5)));
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  EXPECT_EQ(watch.Seen(), (std::vector<Indication>{DevicePorts, DevicePorts}));
  EXPECT_EQ(link.CurrentPort(), nullptr);
  EXPECT_EQ(link.CurrentLinkState(), linklayer::PortClosed);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link), 4);
  EXPECT_EQ(LinkLayerPeer::SecondModemPort(link), 5);
}

TEST_F(DualPortDevice, UnplugReportsNoDevicePortAndForgetsThePorts) {
  linklayer link(Options());
  linktest::IndicationWatch watch(link);
  Found(link, watch);
  LinkLayerPeer::DiagPort(link) = 6;

  ASSERT_TRUE(plat::SerialMapWriter::RemoveValue(QcusbName(4)));  // two changes, one or two cycles
  ASSERT_TRUE(plat::SerialMapWriter::RemoveValue(QcusbName(5)));
  ASSERT_TRUE(Eventually([&] { return LinkLayerPeer::ModemPort(link) == linklayer::NoPort; }));
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  EXPECT_EQ(watch.Seen().back(), NoDevicePort);
  EXPECT_EQ(LinkLayerPeer::SecondModemPort(link), linklayer::NoPort);
  EXPECT_EQ(link.CurrentPort(), nullptr);
  EXPECT_EQ(LinkLayerPeer::DiagPort(link), 6);  // not detection's to touch
}

TEST_F(Detection, AfterASinglePortScanAnyChangeReportsAgain) {
  testkit::TestPort modem(4, QcusbName(4));
  ASSERT_TRUE(modem.Ok());
  linklayer link(Options());
  linktest::IndicationWatch watch(link);
  ASSERT_TRUE(watch.WaitFor(IdModemDetect));
  LinkLayerPeer::ModemPort(link) = 4;  // no second port: 0xFF is never listed
  ASSERT_TRUE(link.Connect(0, 0));

  ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1"));
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  EXPECT_EQ(watch.Seen(), (std::vector<Indication>{DevicePorts, DevicePorts}));
  EXPECT_EQ(link.CurrentPort(), nullptr);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link), 4);
}

// A device that answers and restarts at once: its answer is on the AT port
// when its ports leave the map. The read loop pauses long between reads
// here, so the detection comes while it pauses; the answer is handed on all
// the same, ahead of the detection's report.
TEST_F(Detection, AnAnswerOnThePortWhenTheDeviceGoesIsHandedOnFirst) {
  testkit::TestPort modem(4, QcusbName(4));
  ASSERT_TRUE(modem.Ok());
  LinkOptions options = Options();
  options.Timings.ReadPollMs = 5000;
  linklayer link(options);
  linktest::IndicationWatch watch(link);
  ASSERT_TRUE(watch.WaitFor(IdModemDetect));
  LinkLayerPeer::ModemPort(link) = 4;
  ASSERT_TRUE(link.Connect(0, 0));

  ASSERT_TRUE(modem.PeerWrite("\r\n+CSWITCHDM: SUCCEED\r\n\r\nOK\r\n"));
  modem.Unregister();
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  std::vector<Indication> seen;
  for (const Indication& indication : watch.Seen()) {
    if (indication.id == IdModemDetect || indication.id == IdDiagPortSwitch) seen.push_back(indication);
  }
  EXPECT_EQ(seen, (std::vector<Indication>{DevicePorts, {IdDiagPortSwitch, "\1"s}, NoDevicePort}));
  EXPECT_EQ(link.CurrentPort(), nullptr);
}

TEST_F(Detection, AChangeDuringADetectionGivesExactlyOneFurtherCycle) {
  ASSERT_TRUE(AddPort(5));
  LinkOptions options = Options();
  auto first = std::make_shared<std::atomic<bool>>(true);
  const uint32_t detectPause = options.Timings.DetectPauseMs;
  // Two changes inside the first detection's pause.
  options.Platform.Sleep = [first, detectPause](uint32_t ms) {
    if (ms == detectPause && first->exchange(false)) {
      plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1");
      plat::SerialMapWriter::AddValue("\\Device\\Serial1", "COM2");
    }
    plat::Sleep(ms);
  };
  linklayer link(options);
  linktest::IndicationWatch watch(link);
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 2));
  // One change after the second cycle: a third report, of its own kind.
  ASSERT_TRUE(plat::SerialMapWriter::RemoveValue(QcusbName(5)));
  ASSERT_TRUE(watch.WaitFor(IdModemDetect, 3));
  EXPECT_EQ(watch.Seen(), (std::vector<Indication>{DevicePorts, DevicePorts, NoDevicePort}));
}

// ---------------------------------------------------------------------------
// The loop itself, on the test thread, with a scripted watch.

struct ScriptedWatch {
  std::mutex mutex;
  int opens = 0;
  int arms = 0;
  int closes = 0;
  int failingArms = 0;  // arms that fail before they succeed (-1: all)
  bool openFails = false;

  LinkMapWatch Make(const std::shared_ptr<ScriptedWatch>& self) {
    return LinkMapWatch{[self] {
                          std::lock_guard lock(self->mutex);
                          ++self->opens;
                          return !self->openFails;
                        },
                        [self](plat::Event&) {
                          std::lock_guard lock(self->mutex);
                          ++self->arms;
                          return self->failingArms >= 0 && self->arms > self->failingArms;
                        },
                        [self] {
                          std::lock_guard lock(self->mutex);
                          ++self->closes;
                        }};
  }
  int Arms() {
    std::lock_guard lock(mutex);
    return arms;
  }
};

class MonitorLoop : public Detection {
 protected:
  LinkOptions Scripted() {
    LinkOptions options = linktest::TestOptions();
    options.Timings.WatchAttempts = 4;
    options.Platform.NewMapWatch = [watch = watch_] { return watch->Make(watch); };
    return options;
  }
  std::shared_ptr<ScriptedWatch> watch_ = std::make_shared<ScriptedWatch>();
};

TEST_F(MonitorLoop, AFailedArmIsRetriedOnAReopenedWatch) {
  watch_->failingArms = 2;
  ASSERT_TRUE(AddPort(5));
  linklayer link(Scripted());
  auto result = std::async(std::launch::async, [&] { return LinkLayerPeer::MonitorLoop(link); });
  ASSERT_TRUE(Eventually([&] { return !link.pReadQ->IsEmpty(); }));
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), std::vector<Indication>{DevicePorts});
  LinkLayerPeer::SignalStop(link);
  EXPECT_EQ(result.get(), 0u);
  EXPECT_EQ(watch_->arms, 3);
  EXPECT_EQ(watch_->opens, 3);  // the first, and one before each further arm
  EXPECT_EQ(watch_->closes, 3);  // after each failure, and at the end
}

struct GiveUpCase {
  const char* name;
  bool openFails;
};

void PrintTo(const GiveUpCase& c, std::ostream* os) { *os << c.name; }

class GiveUp : public MonitorLoop, public testing::WithParamInterface<GiveUpCase> {};

TEST_P(GiveUp, AfterTheLastAttemptWithoutADetection) {
  watch_->failingArms = -1;
  watch_->openFails = GetParam().openFails;
  linklayer link(Scripted());
  EXPECT_EQ(LinkLayerPeer::MonitorLoop(link), 1u);
  EXPECT_TRUE(link.pReadQ->IsEmpty());
  EXPECT_EQ(watch_->opens, 4);
  EXPECT_EQ(watch_->arms, GetParam().openFails ? 0 : 4);
}

INSTANTIATE_TEST_SUITE_P(Watch, GiveUp,
                         testing::Values(GiveUpCase{"ArmFails", false}, GiveUpCase{"OpenFails", true}),
                         [](const testing::TestParamInfo<GiveUpCase>& info) { return info.param.name; });

TEST_F(MonitorLoop, StopEndsTheBackOff) {
  watch_->failingArms = -1;
  LinkOptions options = Scripted();
  options.Timings.WatchRetryMs = 3600u * 1000u;  // an hour of system time
  linklayer link(options);
  auto result = std::async(std::launch::async, [&] { return LinkLayerPeer::MonitorLoop(link); });
  ASSERT_TRUE(Eventually([&] { return watch_->Arms() == 1; }));
  LinkLayerPeer::SignalStop(link);
  EXPECT_EQ(result.get(), 0u);
}

TEST_F(MonitorLoop, FailedWaitEndsTheLoop) {
  linklayer link(Scripted());
  LinkLayerPeer::CloseEvents(link);  // the object's events are gone, as at destruction
  EXPECT_EQ(LinkLayerPeer::MonitorLoop(link), 1u);
}

}  // namespace
