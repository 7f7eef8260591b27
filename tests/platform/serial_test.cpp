// plat::SerialPort against test ports, through plat and the test kit only:
// the same file runs against every backend. What only one backend can show
// (exclusive opens across handles, line settings reaching the device, hang-up
// behaviour, modem lines on a pseudo-terminal) is in the backend's own tests.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "plat/clock.h"
#include "plat/serial.h"
#include "support/port_kit.h"
#include "support/wait.h"
#include "testkit/serial_faults.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kCom = 7;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetTimeScale(1);
    plat::serial_faults::Reset();
    ASSERT_TRUE(port_.Ok());
  }
  void TearDown() override {
    plat::serial_faults::Reset();
    plat::SetTimeScale(1);
  }

  plat::PortHandle OpenPort(const plat::CommTimeouts& timeouts = {}) {
    plat::OpenError error = plat::OpenError::None;
    plat::PortHandle handle = plat::SerialPort::Open(kCom, &error);
    EXPECT_TRUE(handle) << "open error " << static_cast<int>(error);
    if (!handle) return handle;
    plat::Dcb dcb;
    EXPECT_TRUE(handle->GetCommState(dcb));
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = plat::NOPARITY;
    dcb.StopBits = plat::ONESTOPBIT;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fOutxCtsFlow = 0;
    EXPECT_TRUE(handle->SetCommState(dcb));
    EXPECT_TRUE(handle->SetCommTimeouts(timeouts));
    return handle;
  }

  // Waits until the port has a byte to read (not consuming it).
  static bool WaitForData(const plat::PortHandle& handle, std::chrono::milliseconds limit = 5s) {
    if (!handle->SetCommMask(plat::EV_RXCHAR)) return false;
    auto wait = std::async(std::launch::async, [&] {
      uint32_t events = 0;
      return handle->WaitCommEvent(&events) && (events & plat::EV_RXCHAR) != 0;
    });
    if (wait.wait_for(limit) != std::future_status::ready) {
      handle->SetCommMask(plat::EV_RXCHAR);  // ends the wait
      wait.get();
      return false;
    }
    return wait.get();
  }

  // Waits until the port holds at least `count` unread bytes (not consuming
  // them).
  static bool WaitForQueued(const plat::PortHandle& handle, uint32_t count) {
    return testkit::Eventually([&] {
      uint32_t queued = 0;
      return handle->ClearCommError(nullptr, &queued) && queued >= count;
    });
  }

  static std::string ReadString(const plat::PortHandle& handle, uint32_t count, bool* result = nullptr) {
    std::string buffer(count, '\0');
    uint32_t got = 0;
    const bool ok = handle->Read(buffer.data(), count, &got);
    if (result != nullptr) *result = ok;
    buffer.resize(got);
    return buffer;
  }

  testkit::TempDeviceRoot root_;
  testkit::TestPort port_{kCom};
};

// ---------------------------------------------------------------------------
// Opening.

TEST(SerialOpenTest, MissingComIsNotFound) {
  testkit::TempDeviceRoot root;
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(9, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
  error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::OpenByName("\\\\.\\COM9", &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
  error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::OpenByName("COM9", &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
}

TEST(SerialOpenTest, UnregisteredPortIsNotFound) {
  testkit::TempDeviceRoot root;
  testkit::TestPort port(kCom);
  ASSERT_TRUE(port.Ok());
  port.Unregister();
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
}

TEST_F(SerialTest, NameAndNumberOpenTheLinkedPort) {
  const std::vector<std::string> names = {"\\\\.\\COM7", "COM7"};
  for (const std::string& name : names) {
    plat::OpenError error = plat::OpenError::Failed;
    plat::PortHandle handle = plat::SerialPort::OpenByName(name, &error);
    ASSERT_TRUE(handle) << name;
    EXPECT_EQ(error, plat::OpenError::None);
    EXPECT_EQ(handle->Number(), kCom);
    EXPECT_TRUE(handle->IsOpen());
    uint32_t written = 0;
    ASSERT_TRUE(handle->Write(name.data(), static_cast<uint32_t>(name.size()), &written));
    EXPECT_EQ(written, name.size());
    EXPECT_EQ(port_.PeerReadExactly(name.size(), 2000), name);
    handle->Close();
  }
  plat::PortHandle handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  EXPECT_EQ(handle->Number(), kCom);
}

TEST_F(SerialTest, NamesAreReadByOneRuleOnEveryBackend) {
  // COM7 is linked: these open it, whatever the spelling.
  for (const char* name : {"COM7", "\\\\.\\COM7", "com7", "COM07", "COM0007", "\\\\.\\com007"}) {
    plat::OpenError error = plat::OpenError::Failed;
    plat::PortHandle handle = plat::SerialPort::OpenByName(name, &error);
    ASSERT_TRUE(handle) << name;
    EXPECT_EQ(error, plat::OpenError::None) << name;
    EXPECT_EQ(handle->Number(), kCom) << name;
    handle->Close();
  }
  // No port, though a careless reading of each would reach COM7.
  for (const char* name : {"COM263", "COM4294967303", "COM18446744073709551623", "COM7x", "COM 7", "COM+7",
                           "\\\\?\\COM7", "COM0", "COM"}) {
    plat::OpenError error = plat::OpenError::None;
    EXPECT_FALSE(plat::SerialPort::OpenByName(name, &error)) << name;
    EXPECT_EQ(error, plat::OpenError::NotFound) << name;
  }
}

TEST_F(SerialTest, OpensAgainAfterClose) {
  plat::PortHandle first = OpenPort();
  ASSERT_TRUE(first);
  first->Close();
  EXPECT_FALSE(first->IsOpen());
  plat::PortHandle second = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->IsOpen());
}

TEST_F(SerialTest, OpensAgainAfterTheLastReferenceGoes) {
  plat::PortHandle first = OpenPort();
  ASSERT_TRUE(first);
  first.reset();  // the destructor closes
  EXPECT_TRUE(plat::SerialPort::Open(kCom));
}

TEST_F(SerialTest, OpensAgainAfterCloseFromAnotherThreadDuringBlockedRead) {
  plat::PortHandle first = OpenPort();  // no time-outs: the read waits for its full count
  ASSERT_TRUE(first);
  std::atomic<bool> returned{false};
  bool result = true;
  std::thread reader([&] {
    char buffer[16];
    uint32_t got = 99;
    result = first->Read(buffer, sizeof buffer, &got);
    returned = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(returned);
  first->Close();
  // The device is free as soon as Close returns.
  plat::PortHandle second = plat::SerialPort::Open(kCom);
  EXPECT_TRUE(second);
  reader.join();
  EXPECT_FALSE(result);
}

// ---------------------------------------------------------------------------
// Read time-outs.

TEST_F(SerialTest, ReadReturnsWhenTheBufferIsFull) {
  plat::PortHandle handle = OpenPort({0, 0, 5000, 0, 0});
  ASSERT_TRUE(handle);
  ASSERT_TRUE(port_.PeerWrite("abcdef"));
  const auto start = Clock::now();
  EXPECT_EQ(ReadString(handle, 4), "abcd");
  EXPECT_EQ(ReadString(handle, 2), "ef");
  EXPECT_LT(MsSince(start), 2000);
}

TEST_F(SerialTest, ReadIntervalTimeoutEndsTheReadAfterSilence) {
  plat::PortHandle handle = OpenPort({50, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  ASSERT_TRUE(port_.PeerWrite("abc"));
  ASSERT_TRUE(WaitForData(handle));
  const auto start = Clock::now();
  bool ok = false;
  EXPECT_EQ(ReadString(handle, 100, &ok), "abc");
  EXPECT_TRUE(ok);
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 40);
  EXPECT_LT(elapsed, 2000);
}

TEST_F(SerialTest, ReadIntervalTimerStartsWithTheFirstByte) {
  plat::PortHandle handle = OpenPort({50, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 100); });
  EXPECT_EQ(read.wait_for(300ms), std::future_status::timeout);  // no byte yet: no interval
  ASSERT_TRUE(port_.PeerWrite("x"));
  ASSERT_EQ(read.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(read.get(), "x");
}

TEST_F(SerialTest, ReadIntervalTimeoutKeepsTheReadGoingWhileBytesFlow) {
  plat::PortHandle handle = OpenPort({300, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 100); });
  for (char c : std::string("12345")) {
    ASSERT_TRUE(port_.PeerWrite(std::string(1, c)));
    std::this_thread::sleep_for(60ms);
  }
  ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(read.get(), "12345");
}

TEST_F(SerialTest, ReadTotalTimeoutConstantEndsTheRead) {
  plat::PortHandle handle = OpenPort({0, 0, 200, 0, 0});
  ASSERT_TRUE(handle);
  ASSERT_TRUE(port_.PeerWrite("abc"));
  const auto start = Clock::now();
  bool ok = false;
  EXPECT_EQ(ReadString(handle, 10, &ok), "abc");
  EXPECT_TRUE(ok);
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 180);
  EXPECT_LT(elapsed, 2000);
}

TEST_F(SerialTest, ReadTotalTimeoutCountsTheMultiplier) {
  plat::PortHandle handle = OpenPort({0, 20, 100, 0, 0});  // 100 + 20 x 10 = 300 ms
  ASSERT_TRUE(handle);
  const auto start = Clock::now();
  bool ok = false;
  EXPECT_EQ(ReadString(handle, 10, &ok), "");
  EXPECT_TRUE(ok);
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 2500);
}

TEST_F(SerialTest, ReadWithoutTimeoutsWaitsForTheFullCount) {
  plat::PortHandle handle = OpenPort({0, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 5); });
  ASSERT_TRUE(port_.PeerWrite("ab"));
  EXPECT_EQ(read.wait_for(400ms), std::future_status::timeout);
  ASSERT_TRUE(port_.PeerWrite("cde"));
  ASSERT_EQ(read.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(read.get(), "abcde");
}

TEST_F(SerialTest, ReadWithMaxdwordIntervalReturnsAtOnce) {
  plat::PortHandle handle = OpenPort({plat::MAXDWORD, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  auto start = Clock::now();
  bool ok = false;
  EXPECT_EQ(ReadString(handle, 10, &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_LT(MsSince(start), 200);

  ASSERT_TRUE(port_.PeerWrite("xyz"));
  ASSERT_TRUE(WaitForData(handle));
  ASSERT_TRUE(WaitForQueued(handle, 3));
  start = Clock::now();
  EXPECT_EQ(ReadString(handle, 10, &ok), "xyz");
  EXPECT_TRUE(ok);
  EXPECT_LT(MsSince(start), 200);
}

// MAXDWORD interval and multiplier with a constant: what is there at once,
// else the first bytes to arrive, else nothing after the constant. The
// constant is long here, so a read that returns in time did not wait for it.
TEST_F(SerialTest, FirstByteReadRule) {
  struct Case {
    const char* name;
    const char* before;  // written before the read starts
    const char* during;  // written while the read waits
    uint32_t constantMs;
    const char* expected;
  };
  const Case cases[] = {
      {"bytes waiting: returned at once", "abc", "", 30000, "abc"},
      {"nothing waiting: the first bytes end the wait", "", "d", 30000, "d"},
      {"nothing comes: empty after the constant", "", "", 150, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plat::PortHandle handle = OpenPort({plat::MAXDWORD, plat::MAXDWORD, c.constantMs, 0, 0});
    ASSERT_TRUE(handle);
    if (*c.before != '\0') {
      ASSERT_TRUE(port_.PeerWrite(c.before));
      ASSERT_TRUE(WaitForData(handle));
      std::this_thread::sleep_for(50ms);  // all of them are in
    }
    bool ok = false;
    auto read = std::async(std::launch::async, [&] { return ReadString(handle, 100, &ok); });
    if (*c.during != '\0') {
      EXPECT_EQ(read.wait_for(200ms), std::future_status::timeout);
      ASSERT_TRUE(port_.PeerWrite(c.during));
    }
    ASSERT_EQ(read.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(read.get(), c.expected);
    EXPECT_TRUE(ok);
    handle->Close();
  }
}

TEST_F(SerialTest, RxAbortPurgeEndsAFirstByteRead) {
  plat::PortHandle handle = OpenPort({plat::MAXDWORD, plat::MAXDWORD, 30000, 0, 0});
  ASSERT_TRUE(handle);
  bool ok = true;
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 100, &ok); });
  EXPECT_EQ(read.wait_for(200ms), std::future_status::timeout);
  // Purged until the read has ended: an abort that comes before the read is
  // under way ends nothing.
  const auto deadline = Clock::now() + 5s;
  while (read.wait_for(20ms) != std::future_status::ready && Clock::now() < deadline)
    ASSERT_TRUE(handle->PurgeComm(plat::PURGE_RXABORT));
  ASSERT_EQ(read.wait_for(0ms), std::future_status::ready);
  EXPECT_EQ(read.get(), "");
  EXPECT_FALSE(ok);
}

TEST_F(SerialTest, ReadTimeoutsFollowTheTimeScale) {
  plat::SetTimeScale(10);
  plat::PortHandle handle = OpenPort({0, 0, 2000, 0, 0});  // 2000 ms of system time = 200 ms
  ASSERT_TRUE(handle);
  const auto start = Clock::now();
  EXPECT_EQ(ReadString(handle, 10), "");
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 150);
  EXPECT_LT(elapsed, 1500);
}

// ---------------------------------------------------------------------------
// Event waits.

TEST_F(SerialTest, WaitCommEventReturnsWhenDataArrives) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto wait = std::async(std::launch::async, [&] {
    uint32_t events = 0;
    const bool ok = handle->WaitCommEvent(&events);
    return ok ? events : 0xDEADu;
  });
  EXPECT_EQ(wait.wait_for(200ms), std::future_status::timeout);
  ASSERT_TRUE(port_.PeerWrite("!"));
  ASSERT_EQ(wait.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(wait.get() & plat::EV_RXCHAR, plat::EV_RXCHAR);
  EXPECT_EQ(ReadString(handle, 1), "!");
}

TEST_F(SerialTest, WaitCommEventEndsWithFailureOnClose) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto wait = std::async(std::launch::async, [&] {
    uint32_t events = 0;
    return handle->WaitCommEvent(&events);
  });
  EXPECT_EQ(wait.wait_for(200ms), std::future_status::timeout);
  handle->Close();
  ASSERT_EQ(wait.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(wait.get());
}

TEST_F(SerialTest, WaitCommEventEndsWithFailureWhenTheMaskIsSet) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto wait = std::async(std::launch::async, [&] {
    uint32_t events = 0;
    return handle->WaitCommEvent(&events);
  });
  EXPECT_EQ(wait.wait_for(200ms), std::future_status::timeout);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  ASSERT_EQ(wait.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(wait.get());
  EXPECT_TRUE(handle->IsOpen());
}

TEST_F(SerialTest, WaitCommEventWithAnEmptyMaskFailsAtOnce) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(0));
  const auto start = Clock::now();
  uint32_t events = 0;
  EXPECT_FALSE(handle->WaitCommEvent(&events));
  EXPECT_LT(MsSince(start), 500);
}

// A receive loop is stopped by a flag and an emptied mask. Whatever point
// of its wait the loop has reached when the mask empties, it must end: a
// wait issued just after the mask went empty would otherwise never return.
TEST_F(SerialTest, AWaitLoopStoppedByEmptyingTheMaskAlwaysEnds) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  for (int round = 0; round < 300; ++round) {
    ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
    std::atomic<bool> stop{false};
    auto loop = std::async(std::launch::async, [&] {
      while (!stop) {
        uint32_t events = 0;
        handle->WaitCommEvent(&events);
      }
    });
    // Stop at a different point of the loop's way into its wait each round.
    std::this_thread::sleep_for(std::chrono::microseconds(round % 30 * 7));
    stop = true;
    ASSERT_TRUE(handle->SetCommMask(0));
    ASSERT_EQ(loop.wait_for(3s), std::future_status::ready) << "round " << round;
  }
}

// ---------------------------------------------------------------------------
// Data.

TEST_F(SerialTest, PurgeRxClearDiscardsReceivedData) {
  plat::PortHandle handle = OpenPort({plat::MAXDWORD, 0, 0, 0, 0});
  ASSERT_TRUE(handle);
  ASSERT_TRUE(port_.PeerWrite("stale bytes"));
  ASSERT_TRUE(WaitForData(handle));
  ASSERT_TRUE(WaitForQueued(handle, 11));
  ASSERT_TRUE(handle->PurgeComm(plat::PURGE_RXCLEAR));
  EXPECT_EQ(ReadString(handle, 64), "");
  ASSERT_TRUE(port_.PeerWrite("fresh"));
  ASSERT_TRUE(handle->SetCommTimeouts({0, 0, 2000, 0, 0}));
  EXPECT_EQ(ReadString(handle, 5), "fresh");
}

TEST_F(SerialTest, EveryByteValuePassesUnchangedBothWays) {
  plat::PortHandle handle = OpenPort({0, 0, 5000, 0, 5000});
  ASSERT_TRUE(handle);
  std::string all;
  for (int round = 0; round < 4; ++round)
    for (int value = 0; value < 256; ++value) all.push_back(static_cast<char>(value));

  ASSERT_TRUE(port_.PeerWrite(all));
  EXPECT_EQ(ReadString(handle, static_cast<uint32_t>(all.size())), all);

  uint32_t written = 0;
  ASSERT_TRUE(handle->Write(all.data(), static_cast<uint32_t>(all.size()), &written));
  EXPECT_EQ(written, all.size());
  EXPECT_EQ(port_.PeerReadExactly(all.size(), 5000), all);
  EXPECT_EQ(port_.PeerRead(16, 100), "");  // nothing echoed or added
}

TEST_F(SerialTest, WriteReportsTheCountWritten) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  std::string data(3000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('A' + i % 26);
  uint32_t written = 0;
  ASSERT_TRUE(handle->Write(data.data(), static_cast<uint32_t>(data.size()), &written));
  EXPECT_EQ(written, data.size());
  EXPECT_EQ(port_.PeerReadExactly(data.size(), 5000), data);
  written = 7;
  EXPECT_TRUE(handle->Write(data.data(), 0, &written));
  EXPECT_EQ(written, 0u);
}

TEST_F(SerialTest, ScriptedPeerAnswers) {
  plat::PortHandle handle = OpenPort({10, 0, 2000, 0, 1000});
  ASSERT_TRUE(handle);
  testkit::ScriptedPeer peer(port_, [](const std::string& received) -> std::string {
    return received.find("AT\r") != std::string::npos ? "\r\nOK\r\n" : "";
  });
  uint32_t written = 0;
  ASSERT_TRUE(handle->Write("AT\r", 3, &written));
  std::string answer;
  for (int turn = 0; turn < 20 && answer.find("OK\r\n") == std::string::npos; ++turn) answer += ReadString(handle, 64);
  EXPECT_EQ(answer, "\r\nOK\r\n");
  EXPECT_EQ(peer.Received(), "AT\r");
}

// ---------------------------------------------------------------------------
// Control block and time-outs.

TEST_F(SerialTest, GetCommStateReturnsWhatWasSet) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  for (uint32_t baud : {9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u}) {
    plat::Dcb dcb;
    ASSERT_TRUE(handle->GetCommState(dcb));
    dcb.BaudRate = baud;
    ASSERT_TRUE(handle->SetCommState(dcb)) << baud;
    plat::Dcb back;
    ASSERT_TRUE(handle->GetCommState(back));
    EXPECT_EQ(back.BaudRate, baud);
  }
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.BaudRate = 115200;
  dcb.ByteSize = 7;
  dcb.Parity = plat::EVENPARITY;
  dcb.StopBits = plat::TWOSTOPBITS;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(handle->SetCommState(dcb));
  plat::Dcb back;
  ASSERT_TRUE(handle->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 115200u);
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, plat::EVENPARITY);
  EXPECT_EQ(back.StopBits, plat::TWOSTOPBITS);
  EXPECT_EQ(back.fOutX, 1u);
  EXPECT_EQ(back.fInX, 1u);
  EXPECT_EQ(back.XonChar, 0x11);
  EXPECT_EQ(back.XoffChar, 0x13);
}

TEST_F(SerialTest, GetCommTimeoutsReturnsWhatWasSet) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  const plat::CommTimeouts set{10, 0, 100, 0, 100};
  ASSERT_TRUE(handle->SetCommTimeouts(set));
  plat::CommTimeouts back{1, 2, 3, 4, 5};
  ASSERT_TRUE(handle->GetCommTimeouts(back));
  EXPECT_EQ(back.ReadIntervalTimeout, 10u);
  EXPECT_EQ(back.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(back.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(back.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(back.WriteTotalTimeoutConstant, 100u);
}

TEST_F(SerialTest, HousekeepingCallsSucceedOnAnOpenPort) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  EXPECT_TRUE(handle->SetupComm(8192, 8192));
  uint32_t errors = 99, inQueue = 99;
  EXPECT_TRUE(handle->ClearCommError(&errors, &inQueue));
  EXPECT_TRUE(handle->ClearCommError());
  EXPECT_TRUE(handle->PurgeComm(plat::PURGE_TXABORT | plat::PURGE_RXABORT | plat::PURGE_TXCLEAR |
                                plat::PURGE_RXCLEAR));
  // The port still works after the purge.
  ASSERT_TRUE(handle->SetCommTimeouts({0, 0, 2000, 0, 0}));
  ASSERT_TRUE(port_.PeerWrite("ok"));
  EXPECT_EQ(ReadString(handle, 2), "ok");
}

// ---------------------------------------------------------------------------
// Closing.

TEST_F(SerialTest, CallsOnAClosedPortFailAtOnce) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  handle->Close();
  handle->Close();  // idempotent
  EXPECT_FALSE(handle->IsOpen());
  EXPECT_EQ(handle->Number(), kCom);
  const auto start = Clock::now();
  plat::Dcb dcb;
  plat::CommTimeouts timeouts;
  char buffer[8];
  uint32_t count = 5;
  uint32_t events = 5;
  EXPECT_FALSE(handle->GetCommState(dcb));
  EXPECT_FALSE(handle->SetCommState(dcb));
  EXPECT_FALSE(handle->GetCommTimeouts(timeouts));
  EXPECT_FALSE(handle->SetCommTimeouts(timeouts));
  EXPECT_FALSE(handle->SetupComm(8192, 8192));
  EXPECT_FALSE(handle->SetCommMask(plat::EV_RXCHAR));
  EXPECT_FALSE(handle->WaitCommEvent(&events));
  EXPECT_FALSE(handle->Read(buffer, sizeof buffer, &count));
  EXPECT_EQ(count, 0u);
  count = 5;
  EXPECT_FALSE(handle->Write("x", 1, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(handle->PurgeComm(plat::PURGE_RXCLEAR));
  EXPECT_FALSE(handle->ClearCommError());
  EXPECT_FALSE(handle->EscapeCommFunction(plat::SETDTR));
  EXPECT_FALSE(handle->SetCommBreak());
  EXPECT_FALSE(handle->ClearCommBreak());
  EXPECT_LT(MsSince(start), 500);
  EXPECT_EQ(port_.PeerRead(8, 50), "");  // the write reached nothing
}

TEST_F(SerialTest, CloseFromSeveralThreadsAtOnce) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  std::vector<std::thread> closers;
  for (int i = 0; i < 4; ++i) closers.emplace_back([&] { handle->Close(); });
  for (std::thread& closer : closers) closer.join();
  EXPECT_FALSE(handle->IsOpen());
  EXPECT_TRUE(plat::SerialPort::Open(kCom));
}

// One reader, one writer, one event waiter and a closer at the same time.
TEST_F(SerialTest, ConcurrentCallsAndCloseAreSafe) {
  for (int round = 0; round < 10; ++round) {
    plat::PortHandle handle = OpenPort({5, 0, 50, 0, 200});
    ASSERT_TRUE(handle);
    ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      char buffer[64];
      uint32_t got = 0;
      while (!stop && handle->Read(buffer, sizeof buffer, &got)) {
      }
    });
    std::thread writer([&] {
      uint32_t written = 0;
      while (!stop && handle->Write("ping", 4, &written)) std::this_thread::sleep_for(1ms);
    });
    std::thread waiter([&] {
      uint32_t events = 0;
      while (!stop && handle->IsOpen()) handle->WaitCommEvent(&events);
    });
    std::thread peer([&] {
      for (int i = 0; i < 20 && !stop; ++i) {
        port_.PeerWrite("pong");
        port_.PeerDrain();
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + 5 * round));
    std::thread closer([&] { handle->Close(); });
    closer.join();
    EXPECT_FALSE(handle->IsOpen());
    stop = true;
    reader.join();
    writer.join();
    waiter.join();
    peer.join();
    port_.PeerDrain();
  }
  EXPECT_TRUE(plat::SerialPort::Open(kCom));
}

// ---------------------------------------------------------------------------
// Fault hooks.

TEST_F(SerialTest, FaultHooksFailTheNextCalls) {
  plat::serial_faults::FailOpens(2);
  EXPECT_FALSE(plat::SerialPort::Open(kCom));
  EXPECT_FALSE(plat::SerialPort::OpenByName("COM7"));
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);

  plat::Dcb dcb;
  plat::serial_faults::FailGetCommState(1);
  EXPECT_FALSE(handle->GetCommState(dcb));
  EXPECT_TRUE(handle->GetCommState(dcb));

  plat::serial_faults::FailSetCommState(2);
  EXPECT_FALSE(handle->SetCommState(dcb));
  EXPECT_FALSE(handle->SetCommState(dcb));
  EXPECT_TRUE(handle->SetCommState(dcb));
}

TEST_F(SerialTest, FaultHooksWithMinusOneFailUntilReset) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  plat::Dcb dcb;
  plat::serial_faults::FailGetCommState(-1);
  plat::serial_faults::FailSetCommState(-1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(handle->GetCommState(dcb));
    EXPECT_FALSE(handle->SetCommState(dcb));
  }
  handle->Close();
  plat::serial_faults::FailOpens(-1);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(plat::SerialPort::Open(kCom));
  plat::serial_faults::Reset();
  handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(handle->GetCommState(dcb));
  EXPECT_TRUE(handle->SetCommState(dcb));
}

TEST_F(SerialTest, FaultHooksAreThreadSafe) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  plat::serial_faults::FailGetCommState(400);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      plat::Dcb dcb;
      for (int i = 0; i < 200; ++i)
        if (!handle->GetCommState(dcb)) ++failures;
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 400);
}

}  // namespace
