// Port discovery and the port scan: the device ports of the serial-port map,
// and the roles the scan gives them by their answers, against scripted peers
// on test ports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "handoff/scan_diag_port.h"
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
using namespace std::string_literals;

using linktest::Answers;
using linktest::Inq;
using linktest::kBootPrompt;
using linktest::kDiagReply;
using linktest::kInquiry;
using linktest::kProbe;
using linktest::QcusbName;
using linktest::ScanPeer;

const std::string kBootCommand = "AT$QCDMG\r";
const std::string kNopFrame = "\x7E\x06\x4E\x95\x7E";

constexpr uint8_t kNone = linklayer::NoPort;
constexpr uint8_t kUnchanged = 7;  // DualPortFlag before the scan, when no answer may change it

class PortScan : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(4);
    // An unrelated serial device the listing must pass over.
    ASSERT_TRUE(plat::SerialMapWriter::AddValue("\\Device\\Serial0", "COM1"));
    DualPortFlag = kUnchanged;
  }
  void TearDown() override {
    handoff::ScanDiagPortHandle.Clear();
    DualPortFlag = 0;
    plat::SetTimeScale(savedScale_);
  }

  // Runs one scan and returns its one report.
  std::vector<Indication> Scan() {
    LinkLayerPeer::ScanPorts(link_);
    return linktest::TakeAll(*link_.pReadQ);
  }
  static std::vector<Indication> Report(uint8_t found, uint8_t type) {
    return {{IdPortScanResult, std::string{static_cast<char>(found), static_cast<char>(type)}}};
  }

  int savedScale_ = 1;
  testkit::TempDeviceRoot root_;
  linklayer link_{linktest::TestOptions()};
};

// ---------------------------------------------------------------------------
// The roles by the answers met: a diagnostic port first, then two candidate
// ports for the AT port.

struct RoleCase {
  const char* name;
  std::string first;   // inquiry answer of the first candidate
  std::string second;  // of the second
  uint8_t found;
  uint8_t type;
  int modem;   // 0 the first candidate, 1 the second, -1 none
  int second_; // the same for SecondModemPort
  uint8_t dual;
};

void PrintTo(const RoleCase& c, std::ostream* os) { *os << c.name; }

class Roles : public PortScan, public testing::WithParamInterface<RoleCase> {};

TEST_P(Roles, FollowTheAnswers) {
  const RoleCase& c = GetParam();
  ScanPeer diag(3, {kDiagReply, ""});
  ScanPeer first(4, {"", c.first});
  ScanPeer second(5, {"", c.second});
  ASSERT_TRUE(diag.Ok() && first.Ok() && second.Ok());
  const unsigned candidates[] = {first.Com(), second.Com()};
  auto role = [&](int which) { return which < 0 ? kNone : static_cast<uint8_t>(candidates[which]); };

  EXPECT_EQ(Scan(), Report(c.found, c.type));
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), diag.Com());
  EXPECT_EQ(LinkLayerPeer::DiagMode(link_), 0);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link_), role(c.modem));
  EXPECT_EQ(LinkLayerPeer::SecondModemPort(link_), role(c.second_));
  EXPECT_EQ(DualPortFlag, c.dual);
  // Pass 2 passes over the diagnostic port; every other port is asked twice
  // (the first answer is purged) until the search is over.
  EXPECT_EQ(diag.Inquiries(), 0);
  EXPECT_EQ(first.Inquiries(), 2);
  EXPECT_EQ(handoff::ScanDiagPortHandle.Take().Port, nullptr);
}

const std::string kY2 = Inq("+CINQP: MODEM PORT,y2");
const std::string kModem1 = Inq("+CINQP: MODEM PORTy,1");
const std::string kAtOnly = Inq("+CINQP: AT ONLY PORTy,2");

INSTANTIATE_TEST_SUITE_P(
    Scan, Roles,
    testing::Values(
        RoleCase{"ModemPortY2", kY2, "", 3, 2, 0, -1, 0},
        RoleCase{"ModemPortY2OnTheSecond", "", kY2, 3, 2, 1, -1, 0},
        RoleCase{"ModemOfType1AloneIsMovedAtTheEnd", kModem1, "", 3, 1, 0, -1, kUnchanged},
        RoleCase{"ModemWithALineFeedForItsType", Inq("+CINQP: MODEM PORTy"), "", 3, 0xDA, 0, -1, kUnchanged},
        RoleCase{"ModemOfAnotherType", Inq("+CINQP: MODEM PORTy,3"), "", 3, 3, 0, -1, 0},
        RoleCase{"ModemThenAtOnly", kModem1, kAtOnly, 3, 2, 1, 0, 1},
        RoleCase{"AtOnlyThenModem", kAtOnly, kModem1, 3, 1, 0, 1, 1},
        RoleCase{"AtOnlyAloneFindsNoAtPort", kAtOnly, "", 2, 2, 0, -1, 1},
        RoleCase{"NoAnswer", "\r\nERROR\r\n", "", 2, 2, -1, -1, kUnchanged},
        // The answer is searched over the bytes read, a NUL among them included.
        RoleCase{"AnswerAfterANul", "\0\r\n+CINQP: MODEM PORT,y2\r\n"s, "", 3, 2, 0, -1, 0},
        // Where the type would stand the read delivered nothing: NUL, not a
        // byte of an earlier answer.
        RoleCase{"TypeBeyondTheBytesRead", "+CINQP: MODEM PORTy,", "", 3, static_cast<uint8_t>('\0' - '0'), 0, -1,
                 0}),
    [](const testing::TestParamInfo<RoleCase>& info) { return info.param.name; });

TEST_F(PortScan, AfterAnY2AnswerNoFurtherPortIsAsked) {
  ScanPeer modem(4, {"", kY2});
  ScanPeer other(5, {"", kAtOnly});
  ASSERT_TRUE(modem.Ok() && other.Ok());
  EXPECT_EQ(Scan(), Report(1, 2));
  EXPECT_EQ(other.Inquiries(), 0);
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), kNone);
}

TEST_F(PortScan, TheFirstDiagnosticReplyWins) {
  ScanPeer diag(3, {kDiagReply, ""});
  ScanPeer alsoDiag(4, {kDiagReply, kY2});
  ASSERT_TRUE(diag.Ok() && alsoDiag.Ok());
  EXPECT_EQ(Scan(), Report(3, 2));
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), 3);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link_), 4);
  // Pass 1 ended at the first port.
  EXPECT_EQ(alsoDiag.Received().find(kProbe), std::string::npos);
}

TEST_F(PortScan, AShortOrWrongProbeAnswerIsNoDiagnosticPort) {
  ScanPeer shortReply(3, {"\x0C\xE1\x00"s, ""});
  ScanPeer shortPrompt(4, {kBootPrompt.substr(0, 17), kY2});
  ASSERT_TRUE(shortReply.Ok() && shortPrompt.Ok());
  EXPECT_EQ(Scan(), Report(1, 2));
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), kNone);
  EXPECT_EQ(LinkLayerPeer::DiagMode(link_), 0);
  EXPECT_EQ(shortReply.Inquiries(), 2);
}

TEST_F(PortScan, BootLoaderPortIsLeftOpenInTheSlotAndSkippedInPassTwo) {
  // A handle an earlier scan left in the slot, of another port: replaced and
  // closed.
  testkit::TestPort earlier(6);
  ASSERT_TRUE(earlier.Ok());
  plat::PortHandle earlierHandle = plat::SerialPort::Open(6);
  ASSERT_TRUE(earlierHandle);
  handoff::ScanDiagPortHandle.Put(earlierHandle, 6);

  ScanPeer boot(3, {kBootPrompt, ""});
  ScanPeer modem(4, {"", kY2});
  ASSERT_TRUE(boot.Ok() && modem.Ok());
  EXPECT_EQ(Scan(), Report(3, 2));
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), 3);
  EXPECT_EQ(LinkLayerPeer::DiagMode(link_), 1);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link_), 4);
  EXPECT_FALSE(earlierHandle->IsOpen());

  // Pass 1's two probes, then the switch into download mode.
  EXPECT_EQ(boot.Received(), kProbe + kProbe + kProbe + kProbe + kBootCommand + kBootCommand + kNopFrame + kNopFrame);
  EXPECT_EQ(boot.Inquiries(), 0);

  handoff::ScannedPort kept = handoff::ScanDiagPortHandle.Take();
  ASSERT_TRUE(kept.Port);
  EXPECT_TRUE(kept.Port->IsOpen());
  EXPECT_EQ(kept.ComPort, 3);
  // The port is still the device's line.
  ASSERT_TRUE(boot.Port().PeerWrite("ping"));
  char got[8] = {};
  uint32_t count = 0;
  ASSERT_TRUE(kept.Port->Read(got, 4, &count));
  EXPECT_EQ(std::string(got, count), "ping");
  kept.Port->Close();
}

TEST_F(PortScan, NoDevicePortResetsEverything) {
  {
    ScanPeer boot(3, {kBootPrompt, ""});
    ScanPeer modem(4, {"", kModem1});
    ASSERT_TRUE(boot.Ok() && modem.Ok());
    EXPECT_EQ(Scan(), Report(3, 1));
    ASSERT_EQ(LinkLayerPeer::DiagMode(link_), 1);
  }
  handoff::ScanDiagPortHandle.Clear();
  EXPECT_EQ(Scan(), Report(0, 2));
  EXPECT_EQ(LinkLayerPeer::DiagMode(link_), 0);
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), kNone);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link_), kNone);
  EXPECT_EQ(LinkLayerPeer::SecondModemPort(link_), kNone);
  EXPECT_EQ(DualPortFlag, kUnchanged);
}

TEST_F(PortScan, NoMapAtAll) {
  ASSERT_TRUE(plat::SerialMapWriter::Remove());
  EXPECT_EQ(Scan(), Report(0, 2));
  unsigned char ports[linklayer::MaxDevicePorts];
  EXPECT_EQ(LinkLayerPeer::ListDevicePorts(link_, ports), 0);
}

TEST_F(PortScan, APortHeldElsewhereIsSkipped) {
  ScanPeer diag(3, {kDiagReply, kY2});
  ScanPeer modem(4, {"", kY2});
  ASSERT_TRUE(diag.Ok() && modem.Ok());
  plat::PortHandle held = plat::SerialPort::Open(3);
  ASSERT_TRUE(held);
  if (plat::SerialPort::Open(3)) GTEST_SKIP() << "this platform opens a held port a second time";
  EXPECT_EQ(Scan(), Report(1, 2));
  EXPECT_EQ(LinkLayerPeer::DiagPort(link_), kNone);
  EXPECT_EQ(LinkLayerPeer::ModemPort(link_), 4);
  EXPECT_EQ(diag.Received(), "");
}

// ---------------------------------------------------------------------------
// The listing.

class Listing : public PortScan {
 protected:
  std::vector<unsigned> List() {
    unsigned char ports[linklayer::MaxDevicePorts + 1];
    ports[linklayer::MaxDevicePorts] = 0xEE;  // nothing is written past the 30
    const int count = LinkLayerPeer::ListDevicePorts(link_, ports);
    EXPECT_EQ(ports[linklayer::MaxDevicePorts], 0xEE);
    return std::vector<unsigned>(ports, ports + count);
  }
};

TEST_F(Listing, TakesDevicePortsOnlyAndSkipsWhatNoPortCanBe) {
  const std::pair<std::string, std::string> values[] = {
      {QcusbName(5), "COM5"},
      {"\\Device\\QCUSB_COM300", "COM300"},  // not COM44: no such port
      {"\\Device\\QCUSB_COM0", "COM0"},
      {"\\Device\\QCUSB_COM255", "COM255"},
      {"\\Device\\QCUSB_COM", "COM"},
      {"\\Device\\QCUSB_COM254", "COM254"},
      {std::string(60, 'N') + "QCUSB", "COM9"},  // too long a name: skipped, the listing goes on
      {QcusbName(8), "COM8" + std::string(60, '0')},  // too long a data
      {"\\Device\\qcusb_COM10", "COM10"},
      {"\\Device\\QCUSB_COM11", "com11"},
      {"\\Device\\Modem\\QCUSB", "COM12x"},
      {"\\Device\\QCUSB_COM13", "COM013"},
      {std::string(59 - 5, 'n') + "QCUSB", "COM14"},  // 59 characters: fits
  };
  for (const auto& [name, data] : values) ASSERT_TRUE(plat::SerialMapWriter::AddValue(name, data)) << name;
  // In the map's enumeration order, which is the platform's.
  std::vector<unsigned> listed = List();
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<unsigned>{5, 12, 13, 14, 254}));
}

TEST_F(Listing, AtMostThirtyPortsAreListedAndProbed) {
  for (unsigned com = 100; com < 135; ++com) ASSERT_TRUE(plat::SerialMapWriter::AddValue(QcusbName(com), "COM" + std::to_string(com)));
  std::vector<unsigned> expected;
  for (unsigned com = 100; com < 130; ++com) expected.push_back(com);
  EXPECT_EQ(List(), expected);

  // Every listed port is tried in both passes (none of them opens here).
  auto opened = std::make_shared<std::vector<std::string>>();
  LinkOptions options = linktest::TestOptions();
  options.Platform.OpenSerialPort = [opened](const std::string& name) {
    opened->push_back(name);
    return plat::PortHandle();
  };
  linklayer link(options);
  LinkLayerPeer::ScanPorts(link);
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), Report(0, 2));
  ASSERT_EQ(opened->size(), 60u);
  EXPECT_EQ(opened->front(), "\\\\.\\COM100");
  EXPECT_EQ((*opened)[29], "\\\\.\\COM129");
  EXPECT_EQ((*opened)[30], "\\\\.\\COM100");
  EXPECT_EQ(opened->back(), "\\\\.\\COM129");
}

TEST(IsPortInList, ComparesTheFirstCountEntries) {
  const unsigned char ports[] = {3, 200, 7};
  EXPECT_EQ(IsPortInList(ports, 200, 3), 1);
  EXPECT_EQ(IsPortInList(ports, 7, 2), 0);
  EXPECT_EQ(IsPortInList(ports, linklayer::NoPort, 3), 0);
  EXPECT_EQ(IsPortInList(ports, 3, 0), 0);
}

// ---------------------------------------------------------------------------
// The link stopping during a scan: the scan ends before the next port, and
// reports nothing.

TEST(PortScanStop, EndsBeforeTheNextPort) {
  constexpr uint32_t kListed = linklayer::MaxDevicePorts;
  LinkOptions options = linktest::TestOptions();
  options.Platform.EnumSerialMap = [](uint32_t index, char* name, uint32_t nameSize, char* data, uint32_t dataSize) {
    if (index >= kListed) return plat::EnumStatus::NoMoreItems;
    std::snprintf(name, nameSize, "%s", QcusbName(index + 2).c_str());
    std::snprintf(data, dataSize, "COM%u", index + 2);
    return plat::EnumStatus::Ok;
  };
  linklayer* stopping = nullptr;
  int opens = 0;
  options.Platform.OpenSerialPort = [&](const std::string&) {
    if (++opens == 1) LinkLayerPeer::SignalStop(*stopping);
    return plat::PortHandle();
  };
  linklayer link(options);
  stopping = &link;
  LinkLayerPeer::ScanPorts(link);
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(linktest::TakeAll(*link.pReadQ).empty());
}

}  // namespace
