// What only the POSIX backend shows about serial ports: exclusive opens
// across handles and processes, the line settings as the tty holds them
// (termios2, so the non-standard rates too), raw mode, hang-ups, modem-line
// calls on a pseudo-terminal, aborts, write time-outs, settings kept between
// handles, and the device root's environment rules.
#include <asm/termbits.h>  // termios2; <termios.h> must not be included with it
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "plat/clock.h"
#include "plat/device_root.h"
#include "plat/serial.h"
#include "support/port_kit.h"
#include "support/wait.h"
#include "testkit/device_root.h"
#include "testkit/serial_faults.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kCom = 7;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string LinkTarget(const std::string& link) {
  char target[256];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

// The line as the tty holds it, read through a descriptor of its own.
std::optional<struct termios2> LineOf(const std::string& device) {
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct termios2 tio {};
  const bool ok = ::ioctl(fd, TCGETS2, &tio) == 0;
  ::close(fd);
  if (!ok) return std::nullopt;
  return tio;
}

class SerialPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetTimeScale(1);
    plat::serial_faults::Reset();
    ASSERT_TRUE(port_->Ok());
    device_ = LinkTarget(root_.Path() + "/COM" + std::to_string(kCom));
    ASSERT_FALSE(device_.empty());
  }
  void TearDown() override { plat::serial_faults::Reset(); }

  plat::PortHandle OpenPort(const plat::CommTimeouts& timeouts = {}) {
    plat::PortHandle handle = plat::SerialPort::Open(kCom);
    EXPECT_TRUE(handle);
    if (!handle) return handle;
    plat::Dcb dcb;
    EXPECT_TRUE(handle->GetCommState(dcb));
    dcb.BaudRate = 115200;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    EXPECT_TRUE(handle->SetCommState(dcb));
    EXPECT_TRUE(handle->SetCommTimeouts(timeouts));
    return handle;
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
  std::unique_ptr<testkit::TestPort> port_ = std::make_unique<testkit::TestPort>(kCom);
  std::string device_;  // the slave the COM link names
};

// ---------------------------------------------------------------------------
// Exclusive opens.

TEST_F(SerialPosixTest, SecondOpenIsBusyWhileTheFirstIsOpen) {
  plat::PortHandle first = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(first);
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::Busy);
  error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::OpenByName("\\\\.\\COM7", &error));
  EXPECT_EQ(error, plat::OpenError::Busy);
  EXPECT_TRUE(first->IsOpen());  // the failed opens leave the first alone
  first->Close();
  EXPECT_TRUE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::None);
}

TEST_F(SerialPosixTest, TheDeviceIsLockedEvenAgainstAPlainFlock) {
  plat::PortHandle first = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(first);
  const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  first->Close();
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST_F(SerialPosixTest, SecondOpenFromAnotherProcessIsBusy) {
  plat::PortHandle first = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(first);
  auto openInChild = [] {
    const pid_t child = ::fork();
    if (child == 0) {
      plat::OpenError error = plat::OpenError::None;
      plat::PortHandle port = plat::SerialPort::Open(kCom, &error);
      _exit(port ? 10 : static_cast<int>(error));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(openInChild(), static_cast<int>(plat::OpenError::Busy));
  first->Close();
  EXPECT_EQ(openInChild(), 10);
}

TEST_F(SerialPosixTest, ADanglingLinkIsNotFoundAndANonTtyFails) {
  const std::string dangling = root_.Path() + "/COM3";
  ASSERT_EQ(::symlink("/nonexistent/tty", dangling.c_str()), 0);
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(3, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);

  std::ofstream(root_.Path() + "/file") << "not a tty";
  ASSERT_EQ(::symlink((root_.Path() + "/file").c_str(), (root_.Path() + "/COM4").c_str()), 0);
  EXPECT_FALSE(plat::SerialPort::Open(4, &error));
  EXPECT_EQ(error, plat::OpenError::Failed);
}

TEST_F(SerialPosixTest, MalformedNamesAreNotFound) {
  for (const char* name : {"", "COM", "LPT1", "COM7x", "\\\\.\\", "COM-7", "\\\\?\\COM7"}) {
    plat::OpenError error = plat::OpenError::None;
    EXPECT_FALSE(plat::SerialPort::OpenByName(name, &error)) << name;
    EXPECT_EQ(error, plat::OpenError::NotFound) << name;
  }
  EXPECT_TRUE(plat::SerialPort::OpenByName("com7"));  // names are case-blind, as on the platform
}

TEST_F(SerialPosixTest, NumbersNoPortCanHaveAreNotFoundByNameThoughLinked) {
  // The device root could link any number; a name still names only the
  // ports 1 to 254 that the rest of the system can keep.
  for (const char* number : {"0", "255", "256", "1000"}) {
    ASSERT_EQ(::symlink(device_.c_str(), (root_.Path() + "/COM" + number).c_str()), 0) << number;
  }
  for (const char* name : {"COM0", "\\\\.\\COM0", "COM255", "COM256", "COM1000", "\\\\.\\COM1000"}) {
    plat::OpenError error = plat::OpenError::None;
    EXPECT_FALSE(plat::SerialPort::OpenByName(name, &error)) << name;
    EXPECT_EQ(error, plat::OpenError::NotFound) << name;
  }
}

TEST_F(SerialPosixTest, AFaultedOpenReportsFailed) {
  plat::serial_faults::FailOpens(1);
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::Failed);
  EXPECT_TRUE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::None);
}

TEST_F(SerialPosixTest, APortWhoseFarEndIsGoneIsNotFound) {
  const std::string link = root_.Path() + "/COM" + std::to_string(kCom);
  port_.reset();  // closes the master and removes the link
  ASSERT_EQ(::symlink(device_.c_str(), link.c_str()), 0);
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
}

// ---------------------------------------------------------------------------
// Line settings on the tty.

TEST_F(SerialPosixTest, EveryRateOfTheBaudTableIsAppliedAndReadBack) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  for (uint32_t baud : {9600u, 14400u, 19200u, 38400u, 57600u, 115200u, 203125u, 230400u, 406250u, 460800u,
                        812500u, 827586u, 921600u}) {
    plat::Dcb dcb;
    ASSERT_TRUE(handle->GetCommState(dcb));
    dcb.BaudRate = baud;
    ASSERT_TRUE(handle->SetCommState(dcb)) << baud;
    plat::Dcb back;
    ASSERT_TRUE(handle->GetCommState(back));
    EXPECT_EQ(back.BaudRate, baud);
    const auto line = LineOf(device_);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->c_ospeed, baud);
    EXPECT_EQ(line->c_ispeed, baud);
  }
}

TEST_F(SerialPosixTest, TheLineIsRawWithTheFramingAndFlowControlAsked) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  auto line = LineOf(device_);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line->c_oflag & OPOST, 0u);
  EXPECT_EQ(line->c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | BRKINT | PARMRK), 0u);
  EXPECT_EQ(line->c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line->c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line->c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));

  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.ByteSize = 7;
  dcb.Parity = plat::ODDPARITY;
  dcb.fParity = 1;
  dcb.StopBits = plat::TWOSTOPBITS;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = 0x21;
  dcb.XoffChar = 0x23;
  dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(handle->SetCommState(dcb));
  line = LineOf(device_);
  ASSERT_TRUE(line);
  // A pseudo-terminal forces CS8 and clears PARENB whatever is asked; the
  // other bits stay, and the control block still reports what was set.
  EXPECT_EQ(line->c_cflag & (PARODD | CSTOPB | CRTSCTS), static_cast<tcflag_t>(PARODD | CSTOPB | CRTSCTS));
  plat::Dcb back;
  ASSERT_TRUE(handle->GetCommState(back));
  EXPECT_EQ(back.ByteSize, 7);
  EXPECT_EQ(back.Parity, plat::ODDPARITY);
  EXPECT_EQ(line->c_iflag & (IXON | IXOFF | INPCK), static_cast<tcflag_t>(IXON | IXOFF | INPCK));
  EXPECT_EQ(line->c_cc[VSTART], 0x21);
  EXPECT_EQ(line->c_cc[VSTOP], 0x23);
  EXPECT_EQ(line->c_lflag & (ICANON | ECHO), 0u);

  dcb.Parity = plat::MARKPARITY;
  dcb.fOutxCtsFlow = 0;
  dcb.fRtsControl = plat::RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(handle->SetCommState(dcb));
  line = LineOf(device_);
  ASSERT_TRUE(line);
  EXPECT_EQ(line->c_cflag & (PARODD | CMSPAR | CRTSCTS), static_cast<tcflag_t>(PARODD | CMSPAR | CRTSCTS));
}

TEST_F(SerialPosixTest, InvalidControlBlocksAreRefusedAndChangeNothing) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  plat::Dcb good;
  ASSERT_TRUE(handle->GetCommState(good));
  auto refused = [&](auto edit) {
    plat::Dcb dcb = good;
    edit(dcb);
    return !handle->SetCommState(dcb);
  };
  EXPECT_TRUE(refused([](plat::Dcb& d) { d.ByteSize = 9; }));
  EXPECT_TRUE(refused([](plat::Dcb& d) { d.ByteSize = 4; }));
  EXPECT_TRUE(refused([](plat::Dcb& d) { d.Parity = 5; }));
  EXPECT_TRUE(refused([](plat::Dcb& d) { d.StopBits = 3; }));
  EXPECT_TRUE(refused([](plat::Dcb& d) { d.BaudRate = 0; }));
  EXPECT_TRUE(refused([](plat::Dcb& d) {
    d.fOutX = 1;
    d.XonChar = d.XoffChar = 0x11;
  }));
  plat::Dcb back;
  ASSERT_TRUE(handle->GetCommState(back));
  EXPECT_EQ(back.BaudRate, good.BaudRate);
  EXPECT_EQ(back.ByteSize, good.ByteSize);
  EXPECT_EQ(back.Parity, good.Parity);
  EXPECT_EQ(back.fOutX, good.fOutX);
}

TEST_F(SerialPosixTest, NothingIsEchoedOrTranslated) {
  plat::PortHandle handle = OpenPort({0, 0, 2000, 0, 2000});
  ASSERT_TRUE(handle);
  const std::string in = "a\r\nb\x03\x1a\x7f\x04\x11\x13\r";
  ASSERT_TRUE(port_->PeerWrite(in));
  EXPECT_EQ(ReadString(handle, static_cast<uint32_t>(in.size())), in);
  EXPECT_EQ(port_->PeerRead(64, 100), "");  // no echo
  const std::string out = "x\ny\r\n";
  uint32_t written = 0;
  ASSERT_TRUE(handle->Write(out.data(), static_cast<uint32_t>(out.size()), &written));
  EXPECT_EQ(port_->PeerRead(64, 100), out);  // no CR added
}

TEST_F(SerialPosixTest, AFreshDeviceGetsTheDefaultsAtItsOwnSpeed) {
  plat::PortHandle handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  const auto line = LineOf(device_);
  ASSERT_TRUE(line);
  EXPECT_EQ(dcb.BaudRate, line->c_ospeed);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, plat::NOPARITY);
  EXPECT_EQ(dcb.StopBits, plat::ONESTOPBIT);
  EXPECT_EQ(dcb.fOutX, 0u);
  EXPECT_EQ(dcb.fInX, 0u);
  plat::CommTimeouts timeouts{1, 1, 1, 1, 1};
  ASSERT_TRUE(handle->GetCommTimeouts(timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);
}

TEST_F(SerialPosixTest, SettingsLastFromOneHandleToTheNext) {
  plat::PortHandle handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.BaudRate = 115200;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonLim = 100;
  dcb.XoffLim = 100;
  ASSERT_TRUE(handle->SetCommState(dcb));
  ASSERT_TRUE(handle->SetCommTimeouts({10, 0, 100, 0, 100}));
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  handle->Close();

  handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  plat::Dcb back;
  ASSERT_TRUE(handle->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 115200u);
  EXPECT_EQ(back.fOutX, 1u);
  EXPECT_EQ(back.fInX, 1u);
  EXPECT_EQ(back.XonLim, 100);
  plat::CommTimeouts timeouts;
  ASSERT_TRUE(handle->GetCommTimeouts(timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 10u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 100u);
  // The event mask is not kept: a fresh handle's wait fails at once.
  uint32_t events = 0;
  EXPECT_FALSE(handle->WaitCommEvent(&events));
  handle->Close();

  // A new device, even on the same pseudo-terminal number, starts fresh.
  port_.reset();
  port_ = std::make_unique<testkit::TestPort>(kCom);
  ASSERT_TRUE(port_->Ok());
  handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->GetCommState(back));
  EXPECT_EQ(back.fOutX, 0u);
  ASSERT_TRUE(handle->GetCommTimeouts(timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 0u);
}

TEST_F(SerialPosixTest, SettingsChangedBehindOurBackAreNotRecalled) {
  plat::PortHandle handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.BaudRate = 57600;
  dcb.fOutX = 1;
  ASSERT_TRUE(handle->SetCommState(dcb));
  handle->Close();
  // Someone else turns flow control off and changes the speed.
  const int fd = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct termios2 tio {};
  ASSERT_EQ(::ioctl(fd, TCGETS2, &tio), 0);
  tio.c_iflag &= ~IXON;
  tio.c_cflag = (tio.c_cflag & ~CBAUD) | B19200;
  tio.c_ispeed = tio.c_ospeed = 19200;
  ASSERT_EQ(::ioctl(fd, TCSETS2, &tio), 0);
  ::close(fd);

  handle = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->GetCommState(dcb));
  EXPECT_EQ(dcb.BaudRate, 19200u);
  EXPECT_EQ(dcb.fOutX, 0u);
}

TEST_F(SerialPosixTest, XoffFromTheFarEndHoldsWritesUntilXon) {
  plat::PortHandle handle = OpenPort({0, 0, 0, 0, 300});
  ASSERT_TRUE(handle);
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.fOutX = 1;
  ASSERT_TRUE(handle->SetCommState(dcb));
  // The line takes the XOFF as it comes and keeps only what follows it: once
  // the mark has arrived, the output is held.
  ASSERT_TRUE(port_->PeerWrite("\x13" "m"));
  ASSERT_TRUE(testkit::Eventually([&] {
    uint32_t queued = 0;
    return handle->ClearCommError(nullptr, &queued) && queued >= 1;
  }));
  ASSERT_EQ(ReadString(handle, 1), "m");
  uint32_t written = 99;
  const auto start = Clock::now();
  EXPECT_TRUE(handle->Write("held", 4, &written));
  EXPECT_GE(MsSince(start), 250);
  EXPECT_EQ(port_->PeerRead(16, 50), "");
  ASSERT_TRUE(port_->PeerWrite("\x11"));
  const std::string expected = std::string("held").substr(0, written);
  EXPECT_EQ(port_->PeerRead(16, 200), expected);
}

// ---------------------------------------------------------------------------
// Modem lines and break on a pseudo-terminal: refused by the device,
// recorded, not failed.

TEST_F(SerialPosixTest, ModemLinesAndBreakSucceedOnAPseudoTerminal) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  for (uint32_t function : {plat::SETDTR, plat::CLRDTR, plat::SETRTS, plat::CLRRTS, plat::SETBREAK, plat::CLRBREAK,
                            plat::SETXOFF, plat::SETXON})
    EXPECT_TRUE(handle->EscapeCommFunction(function)) << function;
  EXPECT_TRUE(handle->SetCommBreak());
  EXPECT_TRUE(handle->ClearCommBreak());
  EXPECT_FALSE(handle->EscapeCommFunction(77));
  plat::Dcb dcb;
  ASSERT_TRUE(handle->GetCommState(dcb));
  dcb.fDtrControl = plat::DTR_CONTROL_DISABLE;
  dcb.fRtsControl = plat::RTS_CONTROL_ENABLE;
  EXPECT_TRUE(handle->SetCommState(dcb));
  // The port still carries data.
  uint32_t written = 0;
  ASSERT_TRUE(handle->Write("ok", 2, &written));
  EXPECT_EQ(port_->PeerReadExactly(2, 2000), "ok");
}

// ---------------------------------------------------------------------------
// Aborts, write time-outs, close.

TEST_F(SerialPosixTest, PurgeRxAbortEndsAPendingReadWithWhatItHad) {
  plat::PortHandle handle = OpenPort();  // no time-outs: waits for the full count
  ASSERT_TRUE(handle);
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 10); });
  ASSERT_TRUE(port_->PeerWrite("abc"));
  EXPECT_EQ(read.wait_for(200ms), std::future_status::timeout);
  ASSERT_TRUE(handle->PurgeComm(plat::PURGE_RXABORT));
  ASSERT_EQ(read.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(read.get(), "abc");
  EXPECT_TRUE(handle->IsOpen());
  // A read after the purge is not affected.
  ASSERT_TRUE(handle->SetCommTimeouts({0, 0, 2000, 0, 0}));
  ASSERT_TRUE(port_->PeerWrite("d"));
  EXPECT_EQ(ReadString(handle, 1), "d");
}

TEST_F(SerialPosixTest, PurgeRxAbortEndsAWaitCommEvent) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto wait = std::async(std::launch::async, [&] {
    uint32_t events = 0;
    return handle->WaitCommEvent(&events);
  });
  EXPECT_EQ(wait.wait_for(200ms), std::future_status::timeout);
  ASSERT_TRUE(handle->PurgeComm(plat::PURGE_RXABORT | plat::PURGE_RXCLEAR));
  ASSERT_EQ(wait.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(wait.get());
}

TEST_F(SerialPosixTest, PurgeTxAbortEndsAPendingWrite) {
  plat::PortHandle handle = OpenPort();  // no write time-out
  ASSERT_TRUE(handle);
  const std::string big(4 << 20, 'z');  // far more than the pseudo-terminal holds
  auto write = std::async(std::launch::async, [&] {
    uint32_t written = 0;
    const bool ok = handle->Write(big.data(), static_cast<uint32_t>(big.size()), &written);
    return std::make_pair(ok, written);
  });
  EXPECT_EQ(write.wait_for(300ms), std::future_status::timeout);
  ASSERT_TRUE(handle->PurgeComm(plat::PURGE_TXABORT | plat::PURGE_TXCLEAR));
  ASSERT_EQ(write.wait_for(3s), std::future_status::ready);
  const auto [ok, written] = write.get();
  EXPECT_FALSE(ok);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
}

TEST_F(SerialPosixTest, WriteTimeoutReportsThePartialCount) {
  plat::PortHandle handle = OpenPort({0, 0, 0, 0, 300});
  ASSERT_TRUE(handle);
  const std::string big(4 << 20, 'w');
  uint32_t written = 0;
  const auto start = Clock::now();
  EXPECT_TRUE(handle->Write(big.data(), static_cast<uint32_t>(big.size()), &written));
  const long elapsed = MsSince(start);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_GE(elapsed, 280);
  EXPECT_LT(elapsed, 3000);
  // The multiplier counts too: 1 ms a byte for 200 bytes, nothing goes.
  ASSERT_TRUE(handle->SetCommTimeouts({0, 0, 0, 1, 0}));
  const auto again = Clock::now();
  EXPECT_TRUE(handle->Write(big.data(), 200, &written));
  EXPECT_GE(MsSince(again), 180);
}

TEST_F(SerialPosixTest, CloseWakesABlockedWriteAndFreesTheDevice) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  const std::string big(4 << 20, 'c');
  auto write = std::async(std::launch::async, [&] {
    uint32_t written = 0;
    return handle->Write(big.data(), static_cast<uint32_t>(big.size()), &written);
  });
  EXPECT_EQ(write.wait_for(300ms), std::future_status::timeout);
  handle->Close();
  EXPECT_TRUE(plat::SerialPort::Open(kCom));
  ASSERT_EQ(write.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(write.get());
}

TEST_F(SerialPosixTest, ClearCommErrorReportsTheBytesWaiting) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(port_->PeerWrite("12345"));
  uint32_t errors = 9, inQueue = 0;
  for (int i = 0; i < 200 && inQueue < 5; ++i) {
    ASSERT_TRUE(handle->ClearCommError(&errors, &inQueue));
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(inQueue, 5u);
  EXPECT_EQ(errors, 0u);
}

TEST_F(SerialPosixTest, FirstBytesRuleReturnsAsSoonAsBytesArrive) {
  plat::PortHandle handle = OpenPort({plat::MAXDWORD, plat::MAXDWORD, 1000, 0, 0});
  ASSERT_TRUE(handle);
  auto start = Clock::now();
  EXPECT_EQ(ReadString(handle, 10), "");  // nothing within the constant
  EXPECT_GE(MsSince(start), 900);
  auto read = std::async(std::launch::async, [&] { return ReadString(handle, 10); });
  std::this_thread::sleep_for(100ms);
  start = Clock::now();
  ASSERT_TRUE(port_->PeerWrite("ab"));
  ASSERT_EQ(read.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(read.get(), "ab");
  EXPECT_LT(MsSince(start), 500);
}

// ---------------------------------------------------------------------------
// Hang-up: the far end (the master) goes away while the port is open.

TEST_F(SerialPosixTest, AfterAHangUpReadsFailWithoutSpinning) {
  plat::PortHandle handle = OpenPort();  // no time-outs
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto blocked = std::async(std::launch::async, [&] {
    bool ok = true;
    ReadString(handle, 10, &ok);
    return ok;
  });
  EXPECT_EQ(blocked.wait_for(200ms), std::future_status::timeout);
  port_.reset();
  ASSERT_EQ(blocked.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(blocked.get());

  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) {
    bool ok = true;
    ReadString(handle, 10, &ok);
    EXPECT_FALSE(ok);
  }
  EXPECT_LT(MsSince(start), 1000);
  uint32_t written = 9;
  EXPECT_FALSE(handle->Write("x", 1, &written));
  EXPECT_EQ(written, 0u);

  // An event wait fails too, after a pause, so a loop that retries it at
  // once does not spin.
  const auto waitStart = Clock::now();
  uint32_t events = 0;
  EXPECT_FALSE(handle->WaitCommEvent(&events));
  const long waited = MsSince(waitStart);
  EXPECT_GE(waited, 20);
  EXPECT_LT(waited, 1000);

  handle->Close();
  EXPECT_FALSE(handle->IsOpen());
}

TEST_F(SerialPosixTest, AHangUpEndsAPendingEventWait) {
  plat::PortHandle handle = OpenPort();
  ASSERT_TRUE(handle);
  ASSERT_TRUE(handle->SetCommMask(plat::EV_RXCHAR));
  auto wait = std::async(std::launch::async, [&] {
    uint32_t events = 0;
    return handle->WaitCommEvent(&events);
  });
  EXPECT_EQ(wait.wait_for(200ms), std::future_status::timeout);
  port_.reset();
  ASSERT_EQ(wait.wait_for(3s), std::future_status::ready);
  EXPECT_FALSE(wait.get());
}

// ---------------------------------------------------------------------------
// The device root.

class EnvironmentGuard {
 public:
  explicit EnvironmentGuard(const char* name) : name_(name) {
    if (const char* value = std::getenv(name)) saved_ = value;
  }
  ~EnvironmentGuard() {
    if (saved_) ::setenv(name_, saved_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

TEST(DeviceRootPosixTest, TheEnvironmentChoosesTheRoot) {
  EnvironmentGuard root("TAMRI_DEVICE_ROOT"), runtime("XDG_RUNTIME_DIR");
  plat::SetDeviceRoot("");
  ::setenv("TAMRI_DEVICE_ROOT", "/tmp/some-root", 1);
  ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
  EXPECT_EQ(plat::DeviceRoot(), "/tmp/some-root");
  ::unsetenv("TAMRI_DEVICE_ROOT");
  EXPECT_EQ(plat::DeviceRoot(), "/run/user/1234/tamri");
  ::setenv("TAMRI_DEVICE_ROOT", "", 1);  // empty counts as unset
  EXPECT_EQ(plat::DeviceRoot(), "/run/user/1234/tamri");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(plat::DeviceRoot(), "/tmp/tamri-" + std::to_string(::getuid()));
}

TEST(DeviceRootPosixTest, TheTestHookWinsAndEmptyReturnsToTheEnvironment) {
  EnvironmentGuard root("TAMRI_DEVICE_ROOT");
  ::setenv("TAMRI_DEVICE_ROOT", "/tmp/from-env", 1);
  plat::SetDeviceRoot("/tmp/from-hook");
  EXPECT_EQ(plat::DeviceRoot(), "/tmp/from-hook");
  plat::SetDeviceRoot("");
  EXPECT_EQ(plat::DeviceRoot(), "/tmp/from-env");
}

TEST(DeviceRootPosixTest, TheHookIsThreadSafe) {
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    for (int i = 0; i < 2000; ++i) plat::SetDeviceRoot(i % 2 ? "/tmp/a" : "/tmp/bb");
    stop = true;
  });
  while (!stop) {
    const std::string root = plat::DeviceRoot();
    EXPECT_TRUE(root == "/tmp/a" || root == "/tmp/bb" || !root.empty());
  }
  setter.join();
  plat::SetDeviceRoot("");
}

TEST(DeviceRootPosixTest, ATempRootIsMadeSetAndRemoved) {
  std::string path;
  {
    testkit::TempDeviceRoot root;
    path = root.Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(plat::DeviceRoot(), path);
    EXPECT_EQ(::access(path.c_str(), W_OK), 0);
    testkit::TestPort port(2, "\\Device\\QCUSB_COM2_0");
    EXPECT_TRUE(port.Ok());
    EXPECT_FALSE(LinkTarget(path + "/COM2").empty());
  }
  EXPECT_NE(::access(path.c_str(), F_OK), 0);
  EXPECT_NE(plat::DeviceRoot(), path);
}

}  // namespace
