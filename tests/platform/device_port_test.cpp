// plat::DevicePort against the system's side of the same port (plat::SerialPort
// opening COM<n>): the same file runs against every backend; what a backend
// cannot do (HangUp returning false) is skipped there.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "plat/clock.h"
#include "plat/serial.h"
#include "support/port_kit.h"
#include "testkit/device_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kCom = 6;
constexpr uint32_t kGenerousMs = 5000;

long MsSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

std::string Pattern(size_t size) {
  std::string block(size, '\0');
  for (size_t i = 0; i < size; ++i) block[i] = static_cast<char>(i * 13 + 1);
  return block;
}

// Everything the device end receives until `count` bytes came or the port
// stops delivering.
std::string DeviceReceives(plat::DevicePort& device, size_t count) {
  std::string received;
  std::vector<char> buffer(4096);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kGenerousMs);
  while (received.size() < count && Clock::now() < deadline) {
    const int got = device.Read(buffer.data(), std::min(buffer.size(), count - received.size()), 100);
    if (got < 0) break;
    received.append(buffer.data(), static_cast<size_t>(got));
  }
  return received;
}

// The system's side: raw 8N1, reads waiting up to a total time-out.
plat::PortHandle OpenSystem(plat::OpenError* error = nullptr) {
  plat::PortHandle handle = plat::SerialPort::Open(kCom, error);
  if (!handle) return handle;
  plat::Dcb dcb;
  if (!handle->GetCommState(dcb)) return nullptr;
  dcb.BaudRate = 115200;
  if (!handle->SetCommState(dcb) || !handle->SetCommTimeouts({0, 0, kGenerousMs, 0, kGenerousMs})) return nullptr;
  return handle;
}

std::string SystemReceives(const plat::PortHandle& handle, size_t count) {
  std::string received(count, '\0');
  uint32_t got = 0;
  if (!handle->Read(received.data(), static_cast<uint32_t>(count), &got)) got = 0;
  received.resize(got);
  return received;
}

bool SystemSends(const plat::PortHandle& handle, const std::string& bytes) {
  uint32_t written = 0;
  return handle->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) && written == bytes.size();
}

class DevicePortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::SetTimeScale(1);
    device_ = plat::DevicePort::Create(kCom);
    ASSERT_TRUE(device_);
    ASSERT_TRUE(device_->Linked());
    EXPECT_EQ(device_->Com(), kCom);
  }

  testkit::TempDeviceRoot root_;
  std::unique_ptr<plat::DevicePort> device_;
};

TEST_F(DevicePortTest, BytesFlowBothWays) {
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  // Blocks larger than a pseudo-terminal's buffer take the writer's wait for
  // room, so each direction runs its reader on another thread.
  for (const size_t size : {size_t{1}, size_t{100}, size_t{200000}}) {
    const std::string block = Pattern(size);
    auto toDevice = std::async(std::launch::async, [&] { return DeviceReceives(*device_, size); });
    EXPECT_TRUE(SystemSends(system, block)) << size;
    EXPECT_EQ(toDevice.get(), block) << size;

    auto toSystem = std::async(std::launch::async, [&] { return SystemReceives(system, size); });
    EXPECT_TRUE(device_->Write(block.data(), block.size(), kGenerousMs)) << size;
    EXPECT_EQ(toSystem.get(), block) << size;
  }
}

TEST_F(DevicePortTest, ReadWaitsForItsTimeoutAndWriteGivesUpAtItsDeadline) {
  char byte;
  auto start = Clock::now();
  EXPECT_EQ(device_->Read(&byte, 1, 100), 0);
  EXPECT_GE(MsSince(start), 90);

  // Nobody reads the system's side: the line fills up, and a write that
  // cannot finish ends at its deadline instead of waiting for room.
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  const std::string flood = Pattern(1 << 22);
  start = Clock::now();
  EXPECT_FALSE(device_->Write(flood.data(), flood.size(), 300));
  const long elapsed = MsSince(start);
  EXPECT_GE(elapsed, 250);
  EXPECT_LT(elapsed, 4000);
}

TEST_F(DevicePortTest, UnlinkedPortCannotBeOpenedByNumberButAnOpenHandleKeepsWorking) {
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  device_->Unlink();
  device_->Unlink();
  EXPECT_FALSE(device_->Linked());
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);

  ASSERT_TRUE(SystemSends(system, "up"));
  EXPECT_EQ(DeviceReceives(*device_, 2), "up");
  ASSERT_TRUE(device_->Write("on", 2, kGenerousMs));
  EXPECT_EQ(SystemReceives(system, 2), "on");

  EXPECT_TRUE(device_->Link());
  EXPECT_TRUE(device_->Link());
  EXPECT_TRUE(device_->Linked());
  system->Close();
  system = OpenSystem();
  ASSERT_TRUE(system);
  ASSERT_TRUE(SystemSends(system, "again"));
  EXPECT_EQ(DeviceReceives(*device_, 5), "again");
}

TEST_F(DevicePortTest, ALinkLeftBehindByAnEarlierRunIsReplaced) {
  device_.reset();
  // What a port of a process that died leaves: a link to a terminal that is
  // gone (harmless where the root does not hold the links).
  std::error_code ignored;
  std::filesystem::create_symlink("/dev/pts/no-such-terminal", root_.Path() + "/COM" + std::to_string(kCom), ignored);
  device_ = plat::DevicePort::Create(kCom);
  ASSERT_TRUE(device_);
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  ASSERT_TRUE(SystemSends(system, "fresh"));
  EXPECT_EQ(DeviceReceives(*device_, 5), "fresh");
}

TEST_F(DevicePortTest, DrainDiscardsWhatWasReceivedAndNotRead) {
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  ASSERT_TRUE(SystemSends(system, "stale"));
  // Taking the first byte shows the rest has arrived too (one write).
  EXPECT_EQ(DeviceReceives(*device_, 1), "s");
  device_->Drain();
  ASSERT_TRUE(SystemSends(system, "fresh"));
  EXPECT_EQ(DeviceReceives(*device_, 5), "fresh");
}

TEST_F(DevicePortTest, TheSystemClosingAndReopeningIsNoHangUp) {
  for (int round = 0; round < 3; ++round) {
    plat::PortHandle system = OpenSystem();
    ASSERT_TRUE(system) << round;
    ASSERT_TRUE(SystemSends(system, "hi"));
    EXPECT_EQ(DeviceReceives(*device_, 2), "hi") << round;
    ASSERT_TRUE(device_->Write("ok", 2, kGenerousMs));
    EXPECT_EQ(SystemReceives(system, 2), "ok") << round;
    system->Close();
    char byte;
    EXPECT_EQ(device_->Read(&byte, 1, 50), 0) << round;  // quiet, not failed
  }
}

TEST_F(DevicePortTest, HangUpFailsTheSystemsHandleWithoutBlockingOrSpinning) {
  plat::PortHandle system = OpenSystem();
  ASSERT_TRUE(system);
  ASSERT_TRUE(system->SetCommTimeouts({}));  // reads wait for their full count
  auto blocked = std::async(std::launch::async, [&] { return SystemReceives(system, 10); });
  EXPECT_EQ(blocked.wait_for(100ms), std::future_status::timeout);

  // A device read blocked on another thread ends with the hang-up too.
  auto deviceBlocked = std::async(std::launch::async, [&] {
    char byte;
    return device_->Read(&byte, 1, kGenerousMs);
  });
  if (!device_->HangUp()) {
    SystemSends(system, "x");  // ends the device's read
    deviceBlocked.get();
    system->Close();  // ends the system's
    blocked.get();
    GTEST_SKIP() << "this backend cannot end the line";
  }
  ASSERT_EQ(deviceBlocked.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(deviceBlocked.get(), -1);
  ASSERT_EQ(blocked.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(blocked.get(), "");

  // Reads that return at once fail too, rather than reporting "nothing yet"
  // to a caller that would then retry for ever.
  ASSERT_TRUE(system->IsOpen());
  system->SetCommTimeouts({plat::MAXDWORD, 0, 0, 0, 0});
  char buffer[8];
  uint32_t got = 0;
  EXPECT_FALSE(system->Read(buffer, sizeof buffer, &got));
  uint32_t written = 0;
  EXPECT_FALSE(system->Write("x", 1, &written));

  EXPECT_TRUE(device_->HangUp());
  EXPECT_EQ(device_->Read(buffer, sizeof buffer, 0), -1);
  EXPECT_FALSE(device_->Write("x", 1, 100));
  EXPECT_FALSE(device_->Linked());
  EXPECT_FALSE(device_->Link());
  plat::OpenError error = plat::OpenError::None;
  EXPECT_FALSE(plat::SerialPort::Open(kCom, &error));
  EXPECT_EQ(error, plat::OpenError::NotFound);
}

}  // namespace
