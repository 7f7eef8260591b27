#include "download/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "handoff/scan_diag_port.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "testkit/device_port.h"
#include "plat/serial.h"
#include "plat/thread.h"
#include "support/port_kit.h"
#include "support/wait.h"
#include "testkit/serial_faults.h"

namespace download {
using handoff::ScanDiagPortHandle;
namespace {

constexpr unsigned kCom = 7;
constexpr unsigned kOtherCom = 8;
constexpr int kScale = 20;
// System ms; generous, real time is this divided by the scale.
constexpr int kLongWaitMs = 100000;
constexpr uint32_t kPeerMs = 5000;  // real ms

std::string AllByteValues() {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  return bytes;
}

void Push(const std::string& bytes) {
  transport_testing::Push(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

std::string Pop(int max) {
  std::vector<uint8_t> buffer(max);
  const int got = RecvPop(buffer.data(), max);
  return std::string(buffer.begin(), buffer.begin() + got);
}

int Send(const std::string& bytes) {
  return SendBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
}

// A pattern that does not repeat within the ring's size.
std::string Pattern(int count, int seed) {
  std::string bytes(count, '\0');
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
  return bytes;
}

class DownloadTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_testing::Reset();
    ScanDiagPortHandle.Clear();
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
  }
  void TearDown() override {
    transport_testing::Reset();
    ScanDiagPortHandle.Clear();
    plat::serial_faults::Reset();
    plat::SetDebugSink(nullptr);
    plat::SetTimeScale(savedScale_);
  }

  // A port as the link layer's scan leaves it: software flow control on.
  static plat::PortHandle ScannedPort(unsigned com) {
    plat::PortHandle port = plat::SerialPort::Open(com);
    if (!port) return port;
    plat::Dcb dcb;
    port->GetCommState(dcb);
    dcb.fOutX = 1;
    dcb.fInX = 1;
    dcb.fParity = 0;
    dcb.fBinary = 1;
    port->SetCommState(dcb);
    return port;
  }

  static plat::Dcb StateOf(const plat::PortHandle& port) {
    plat::Dcb dcb;
    EXPECT_TRUE(port->GetCommState(dcb));
    return dcb;
  }

  testkit::TempDeviceRoot root_;
  int savedScale_ = 1;
};

TEST_F(DownloadTransport, BaudTableKnowsEachRateByItsFullValueAndItsThousands) {
  struct Case {
    int key;
    int rate;
  };
  const Case cases[] = {
      {9600, 9600},     {9, 9600},        {14400, 14400},   {14, 14400},      {19200, 19200},   {19, 19200},
      {38400, 38400},   {38, 38400},      {57600, 57600},   {57, 57600},      {115200, 115200}, {115, 115200},
      {203125, 203125}, {203, 203125},    {230400, 230400}, {230, 230400},    {406250, 406250}, {406, 406250},
      {460800, 460800}, {460, 460800},    {812500, 812500}, {812, 812500},    {921600, 921600}, {921, 921600},
      {0, 0},           {100, 0},         {115201, 0},      {-115200, 0},     {827586, 0},      {1000000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupBaudRate(c.key), c.rate) << "key " << c.key;
}

TEST_F(DownloadTransport, WithoutAnOpenPortNothingTouchesAPort) {
  EXPECT_EQ(CloseDownloadPort(), 1);
  EXPECT_EQ(ByteTimeMs(1000), 0);
  EXPECT_EQ(Send("x"), kErrWrite);
  EXPECT_EQ(SetBaudRate(115200), kErrBaudRate);
  EXPECT_FALSE(SetRts(true));
  EXPECT_FALSE(SetDtr(true));
  EXPECT_FALSE(SetBreak(true));
  PurgeRx();
  PurgeAll();
  EXPECT_EQ(CloseDownloadPort(), 1);
}

TEST_F(DownloadTransport, RecvPopTakesAtMostWhatIsUnread) {
  Push("abcd");
  EXPECT_EQ(Pop(10), "abcd");
  uint8_t buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(RecvPop(buffer, 4), 0);
  EXPECT_EQ(buffer[0], 0xAA);
}

TEST_F(DownloadTransport, RingWrapsAroundInOrder) {
  Push(Pattern(40000, 1));
  EXPECT_EQ(Pop(40000), Pattern(40000, 1));
  const std::string across = Pattern(40000, 2);  // stored across the ring's end
  Push(across);
  std::string out;
  for (std::string chunk; !(chunk = Pop(999)).empty();) out += chunk;
  EXPECT_EQ(out, across);

  // Byte by byte, as the framing reads, across the end once more.
  const std::string bytewise = Pattern(40000, 3);
  Push(bytewise);
  out.clear();
  for (size_t i = 0; i < bytewise.size(); ++i) out += static_cast<char>(RecvTakeByte(1000));
  EXPECT_EQ(out, bytewise);
  EXPECT_EQ(Pop(10), "");
}

TEST_F(DownloadTransport, RecvTakeByteWaitsForAByteAndOtherwiseTimesOut) {
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(RecvTakeByte(1000), kRecvTimeout);
  EXPECT_GE(plat::GetTickCount() - start, 1000u);

  ASSERT_TRUE(peer.PeerWrite(std::string("\xFF\x00", 2)));
  EXPECT_EQ(RecvTakeByte(kLongWaitMs), 0xFF) << "a byte is never mistaken for a failure";
  EXPECT_EQ(RecvTakeByte(kLongWaitMs), 0x00);
  EXPECT_EQ(CloseDownloadPort(), 1);
}

TEST_F(DownloadTransport, FullRingDropsTheExcessAndCountsIt) {
  std::vector<std::string> dumps;
  plat::SetDebugSink([&](plat::DebugChannel channel, std::string_view text) {
    if (channel == plat::DebugChannel::Dump) dumps.emplace_back(text);
  });
  const std::string sent = Pattern(65535 + 100, 3);
  for (size_t at = 0; at < sent.size(); at += 4096) Push(sent.substr(at, 4096));

  ASSERT_FALSE(dumps.empty());
  EXPECT_NE(dumps.back().find(" 100 bytes dropped"), std::string::npos) << dumps.back();
  std::string out;
  for (std::string chunk; !(chunk = Pop(4096)).empty();) out += chunk;
  EXPECT_EQ(out, sent.substr(0, 65535)) << "unread bytes are never overwritten";

  Push("after");
  EXPECT_EQ(Pop(10), "after");
}

TEST_F(DownloadTransport, RecvWaitForNoBytesIsAPauseThatLeavesTheRing) {
  Push("abc");
  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(RecvWait(0, 500), 0);
  EXPECT_GE(plat::GetTickCount() - start, 450u);
  EXPECT_EQ(Pop(10), "abc");
}

TEST_F(DownloadTransport, RecvWaitReturnsAtOnceWhenEnoughIsUnread) {
  // No port is open, so there is nothing a wait could end on: the result
  // can only come from the unread count.
  Push("abcd");
  EXPECT_EQ(RecvWait(1, 1000), 4);
  EXPECT_EQ(RecvWait(4, 1000), 4);
}

TEST_F(DownloadTransport, OpensThePortByNameAndMovesBytesBothWays) {
  testkit::TestPort peer(kCom);
  ASSERT_TRUE(peer.Ok());
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  EXPECT_EQ(GetBaudRate(), 115200);
  EXPECT_EQ(ByteTimeMs(1031), 89);

  const std::string all = AllByteValues();
  EXPECT_EQ(Send(all), 256);
  EXPECT_EQ(peer.PeerReadExactly(all.size(), kPeerMs), all);

  ASSERT_TRUE(peer.PeerWrite(all));
  EXPECT_GE(RecvWait(256, kLongWaitMs), 256);
  EXPECT_EQ(Pop(1000), all);

  EXPECT_EQ(CloseDownloadPort(), 1);
  EXPECT_NE(plat::SerialPort::Open(kCom), nullptr) << "the close releases the port";
}

TEST_F(DownloadTransport, TheLineSettingsSurviveTheClose) {
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 57, "pn"), 0);
  CloseDownloadPort();
  EXPECT_EQ(GetBaudRate(), 57600);
  EXPECT_EQ(ByteTimeMs(1000), 0) << "no port, no line time";
}

TEST_F(DownloadTransport, RecvWaitTimesOutKeepingWhatArrived) {
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  ASSERT_TRUE(peer.PeerWrite("abc"));
  ASSERT_EQ(RecvWait(3, kLongWaitMs), 3);

  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(RecvWait(5, 1000), kRecvTimeout);
  EXPECT_GE(plat::GetTickCount() - start, 1000u);
  EXPECT_EQ(Pop(10), "abc");
}

TEST_F(DownloadTransport, RecvWaitTimeLimitIsRealTimeAtScaleOne) {
  plat::SetTimeScale(1);
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RecvWait(2, 200), kRecvTimeout);
  // The limit is counted in whole milliseconds of the tick, which may have
  // been all but over when the wait began.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(199));
}

TEST_F(DownloadTransport, ASpareSignalDoesNotEndALaterWaitEarly) {
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  ASSERT_TRUE(peer.PeerWrite("abc"));
  ASSERT_EQ(RecvWait(3, kLongWaitMs), 3);

  transport_testing::SignalDataReady();
  EXPECT_EQ(RecvWait(5, 1000), kRecvTimeout) << "3 bytes are not 5";

  transport_testing::SignalDataReady();
  plat::Thread late;
  late.Start([&] {
    plat::Sleep(200);
    return peer.PeerWrite("de") ? 0u : 1u;
  });
  EXPECT_GE(RecvWait(5, kLongWaitMs), 5);
  EXPECT_EQ(late.Join(), 0u);
  EXPECT_EQ(Pop(10), "abcde");
}

TEST_F(DownloadTransport, PurgeRxKeepsTheRingAndReceptionGoesOn) {
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  ASSERT_TRUE(peer.PeerWrite("abc"));
  ASSERT_EQ(RecvWait(3, kLongWaitMs), 3);
  PurgeRx();
  ASSERT_TRUE(peer.PeerWrite("de"));
  EXPECT_GE(RecvWait(5, kLongWaitMs), 5);
  EXPECT_EQ(Pop(10), "abcde");
}

TEST_F(DownloadTransport, AnOpenEmptiesTheRing) {
  Push("stale");
  testkit::TestPort peer(kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  EXPECT_EQ(Pop(10), "");
}

TEST_F(DownloadTransport, AMissingPortFailsToOpen) {
  EXPECT_EQ(OpenDownloadPort(kCom, 115200, "pn"), kErrPortOpen);
  EXPECT_EQ(Send("x"), kErrWrite);
}

TEST_F(DownloadTransport, AFailedOpenReleasesThePort) {
  struct Case {
    const char* what;
    int rate;
    void (*fault)();
    int result;
  };
  const Case cases[] = {
      {"unknown rate key", 100, [] {}, kErrBaudRate},
      {"rate key 0", 0, [] {}, kErrBaudRate},
      {"state unreadable", 115200, [] { plat::serial_faults::FailGetCommState(1); }, kErrPortOpen},
      {"state refused", 115200, [] { plat::serial_faults::FailSetCommState(1); }, kErrPortOpen},
      {"port will not open", 115200, [] { plat::serial_faults::FailOpens(1); }, kErrPortOpen},
  };
  testkit::TestPort peer(kCom);
  for (const Case& c : cases) {
    c.fault();
    EXPECT_EQ(OpenDownloadPort(kCom, c.rate, "pn"), c.result) << c.what;
    plat::serial_faults::Reset();
    EXPECT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0) << "after: " << c.what;
    CloseDownloadPort();
  }
}

TEST_F(DownloadTransport, AdoptsTheScanHandleOfItsPortAndClosesItAtTheEnd) {
  testkit::TestPort peer(kCom);
  plat::PortHandle scanned = ScannedPort(kCom);
  ASSERT_NE(scanned, nullptr);
  ScanDiagPortHandle.Put(scanned, kCom);

  // The scan holds the port exclusively: only an adoption can succeed.
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  ASSERT_TRUE(peer.PeerWrite("abc"));
  EXPECT_GE(RecvWait(3, kLongWaitMs), 3);
  EXPECT_EQ(Pop(10), "abc");

  CloseDownloadPort();
  EXPECT_FALSE(scanned->IsOpen());
  EXPECT_EQ(ScanDiagPortHandle.Take().Port, nullptr);
  EXPECT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0) << "next open by name";
}

TEST_F(DownloadTransport, AFailedOpenClosesTheAdoptedHandle) {
  testkit::TestPort peer(kCom);
  plat::PortHandle scanned = ScannedPort(kCom);
  ASSERT_NE(scanned, nullptr);
  ScanDiagPortHandle.Put(scanned, kCom);
  EXPECT_EQ(OpenDownloadPort(kCom, 100, "pn"), kErrBaudRate);
  EXPECT_FALSE(scanned->IsOpen());
  EXPECT_EQ(ScanDiagPortHandle.Take().Port, nullptr);
  EXPECT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
}

TEST_F(DownloadTransport, AScanHandleOfAnotherPortIsClosedAndTheJobPortOpened) {
  testkit::TestPort peer(kCom);
  testkit::TestPort other(kOtherCom);
  plat::PortHandle scanned = ScannedPort(kOtherCom);
  ASSERT_NE(scanned, nullptr);
  ScanDiagPortHandle.Put(scanned, kOtherCom);

  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  EXPECT_FALSE(scanned->IsOpen());
  EXPECT_EQ(ScanDiagPortHandle.Take().Port, nullptr);
  EXPECT_EQ(Send("x"), 1);
  EXPECT_EQ(peer.PeerReadExactly(1, kPeerMs), "x");
}

TEST_F(DownloadTransport, ModeLettersSetTheLinesAndSoftwareFlowControlGoesOff) {
  struct Case {
    const char* mode;
    uint32_t dtr;
    uint32_t rts;
  };
  const Case cases[] = {
      {"pn", plat::DTR_CONTROL_ENABLE, plat::RTS_CONTROL_DISABLE},
      {"np", plat::DTR_CONTROL_DISABLE, plat::RTS_CONTROL_ENABLE},
      {"hh", plat::DTR_CONTROL_HANDSHAKE, plat::RTS_CONTROL_HANDSHAKE},
      {"xx", plat::DTR_CONTROL_ENABLE, plat::RTS_CONTROL_DISABLE},
      {"pp", plat::DTR_CONTROL_ENABLE, plat::RTS_CONTROL_ENABLE},
      {"nn", plat::DTR_CONTROL_DISABLE, plat::RTS_CONTROL_DISABLE},
  };
  testkit::TestPort peer(kCom);
  for (const Case& c : cases) {
    plat::PortHandle scanned = ScannedPort(kCom);
    ASSERT_NE(scanned, nullptr);
    ScanDiagPortHandle.Put(scanned, kCom);
    ASSERT_EQ(OpenDownloadPort(kCom, 115200, c.mode), 0) << c.mode;
    const plat::Dcb dcb = StateOf(scanned);
    EXPECT_EQ(dcb.fDtrControl, c.dtr) << c.mode;
    EXPECT_EQ(dcb.fRtsControl, c.rts) << c.mode;
    EXPECT_EQ(dcb.fOutX, 0u) << c.mode;
    EXPECT_EQ(dcb.fInX, 0u) << c.mode;
    EXPECT_EQ(dcb.fBinary, 1u) << c.mode;
    EXPECT_EQ(dcb.ByteSize, 8) << c.mode;
    EXPECT_EQ(dcb.Parity, plat::NOPARITY) << c.mode;
    EXPECT_EQ(dcb.StopBits, plat::ONESTOPBIT) << c.mode;
    EXPECT_EQ(dcb.BaudRate, 115200u) << c.mode;
    CloseDownloadPort();
  }
}

TEST_F(DownloadTransport, Rate812500IsProgrammedAs827586) {
  testkit::TestPort peer(kCom);
  plat::PortHandle scanned = ScannedPort(kCom);
  ASSERT_NE(scanned, nullptr);
  ScanDiagPortHandle.Put(scanned, kCom);
  ASSERT_EQ(OpenDownloadPort(kCom, 812, "pn"), 0);
  EXPECT_EQ(StateOf(scanned).BaudRate, 827586u);
  EXPECT_EQ(GetBaudRate(), 827586);
  EXPECT_EQ(ByteTimeMs(1000), 12);
  EXPECT_EQ(SetBaudRate(812500), 812500);
  EXPECT_EQ(SetBaudRate(921), 921600);
  EXPECT_EQ(GetBaudRate(), 921600);
  EXPECT_EQ(SetBaudRate(1), kErrBaudRate);
  EXPECT_EQ(GetBaudRate(), 921600);
}

TEST_F(DownloadTransport, ClosesAfterThePortVanished) {
  std::unique_ptr<plat::DevicePort> device = plat::DevicePort::Create(kCom);
  ASSERT_TRUE(device);
  ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  if (!device->HangUp()) GTEST_SKIP() << "this backend cannot end the line";
  // The receive thread has met the hang-up once its rounds fail, and keeps
  // failing them, pausing between: the close must end it there.
  ASSERT_TRUE(testkit::Eventually([] { return transport_testing::FailedRecvRounds() >= 2; }))
      << "the receive thread never saw the line end";
  EXPECT_EQ(CloseDownloadPort(), 1);
}

}  // namespace
}  // namespace download
