// The test kit over the platform layer: a test port is a plat::DevicePort
// whose device end the test plays, registered in the serial-port map when
// asked; the device root is a fresh folder per test.
#include "support/port_kit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <utility>

#include "plat/device_root.h"
#include "plat/serial_map.h"
#include "plat/thread.h"
#include "testkit/device_port.h"
#include "testkit/device_root.h"
#include "testkit/serial_map_writer.h"

namespace testkit {
namespace {

using Clock = std::chrono::steady_clock;

// How long a peer's write may take before it counts as failed.
constexpr uint32_t kPeerWriteMs = 10000;

uint32_t MsUntil(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(left);
}

// Waits until `deadline` for bytes and appends them to `out`, which grows to
// `limit` at most: false when none came in time or the port has failed.
bool ReadUntil(plat::DevicePort& device, std::string& out, size_t limit, Clock::time_point deadline) {
  char buffer[4096];
  for (;;) {
    const int got = device.Read(buffer, std::min(sizeof buffer, limit - out.size()), MsUntil(deadline));
    if (got > 0) {
      out.append(buffer, static_cast<size_t>(got));
      return true;
    }
    if (got < 0 || MsUntil(deadline) == 0) return false;
  }
}

// A folder of our own under the temporary folder: the name is random, and
// creating it fails when it exists, so two tests never share one.
std::string NewTempFolder() {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return "";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        base / ("tamri-root-" + std::to_string(random()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(path, error)) return path.string();
  }
  return "";
}

// The serial-port map may be shared beyond the root (on Windows it is the
// registry's key), so a test root starts and ends without one.
void RemoveMap() {
  if (plat::SerialMap::Exists()) plat::SerialMapWriter::Remove();
}

}  // namespace

// ---------------------------------------------------------------------------

TempDeviceRoot::TempDeviceRoot() : path_(NewTempFolder()) {
  plat::SetDeviceRoot(path_);
  RemoveMap();
}

TempDeviceRoot::~TempDeviceRoot() {
  RemoveMap();
  plat::SetDeviceRoot("");
  if (!path_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
}

// ---------------------------------------------------------------------------

struct TestPort::Impl {
  unsigned com = 0;
  std::string mapName;
  std::unique_ptr<plat::DevicePort> device;
  bool ok = false;
  std::mutex registration;
  bool mapped = false;
};

TestPort::TestPort(unsigned com, const std::string& mapName) : impl_(std::make_unique<Impl>()) {
  Impl& p = *impl_;
  p.com = com;
  p.mapName = mapName;
  p.device = plat::DevicePort::Create(com);
  if (!p.device) return;
  if (!mapName.empty()) {
    if (!plat::SerialMapWriter::AddValue(mapName, "COM" + std::to_string(com))) return;
    p.mapped = true;
  }
  p.ok = true;
}

TestPort::~TestPort() {
  Unregister();
  impl_->device.reset();  // a system still holding the port sees a hang-up where the backend can end the line
}

unsigned TestPort::Com() const { return impl_->com; }

bool TestPort::Ok() const { return impl_->ok; }

void TestPort::Unregister() {
  Impl& p = *impl_;
  std::lock_guard lock(p.registration);
  if (p.device) p.device->Unlink();
  if (p.mapped) {
    plat::SerialMapWriter::RemoveValue(p.mapName);
    p.mapped = false;
  }
}

bool TestPort::PeerWrite(const void* data, size_t count) {
  return impl_->device && impl_->device->Write(data, count, kPeerWriteMs);
}

std::string TestPort::PeerRead(size_t max, uint32_t ms) {
  std::string out;
  if (!impl_->device) return out;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < max && ReadUntil(*impl_->device, out, max, deadline))
    deadline = Clock::now() + std::chrono::milliseconds(ms);  // silence is counted from the last byte
  return out;
}

std::string TestPort::PeerReadExactly(size_t count, uint32_t ms) {
  std::string out;
  if (!impl_->device) return out;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < count && ReadUntil(*impl_->device, out, count, deadline)) {
  }
  return out;
}

void TestPort::PeerDrain() {
  if (impl_->device) impl_->device->Drain();
}

// ---------------------------------------------------------------------------

struct ScriptedPeer::Impl {
  plat::DevicePort* device = nullptr;
  Script script;
  plat::Thread thread;

  std::mutex stopMutex;
  std::condition_variable stopped;
  bool stop = false;

  mutable std::mutex mutex;
  std::string received;
  mutable std::condition_variable looked;  // a wait for bytes ended empty, or the port failed
  uint64_t emptyLooks = 0;
  bool failed = false;

  // How long one wait for bytes lasts, which bounds how late a stop is seen.
  static constexpr uint32_t kLookMs = 10;

  bool Stopping() {
    std::lock_guard lock(stopMutex);
    return stop;
  }

  void Run() {
    char buffer[4096];
    while (!Stopping()) {
      const int got = device->Read(buffer, sizeof buffer, kLookMs);
      if (got < 0) {
        {
          std::lock_guard lock(mutex);
          failed = true;
        }
        looked.notify_all();
        // The port has failed or was hung up: wait for the stop.
        std::unique_lock lock(stopMutex);
        stopped.wait(lock, [this] { return stop; });
        return;
      }
      if (got == 0) {
        {
          std::lock_guard lock(mutex);
          ++emptyLooks;
        }
        looked.notify_all();
        continue;
      }
      const std::string chunk(buffer, static_cast<size_t>(got));
      {
        std::lock_guard lock(mutex);
        received += chunk;
      }
      const std::string answer = script ? script(chunk) : std::string();
      if (!answer.empty()) device->Write(answer.data(), answer.size(), kPeerWriteMs);
    }
  }
};

ScriptedPeer::ScriptedPeer(TestPort& port, Script onData) : impl_(std::make_unique<Impl>()) {
  impl_->device = port.impl_->device.get();
  impl_->script = std::move(onData);
  if (impl_->device == nullptr) return;
  impl_->thread.Start([impl = impl_.get()]() -> uint32_t {
    impl->Run();
    return 0;
  });
}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard lock(impl_->stopMutex);
    impl_->stop = true;
  }
  impl_->stopped.notify_all();
  impl_->thread.Join();
}

std::string ScriptedPeer::Received() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

bool ScriptedPeer::WaitQuiet(uint32_t realMs) const {
  Impl& p = *impl_;
  if (p.device == nullptr) return true;
  std::unique_lock lock(p.mutex);
  // The next empty look may have begun before the call; the one after it
  // began after that one ended.
  const uint64_t after = p.emptyLooks + 2;
  return p.looked.wait_for(lock, std::chrono::milliseconds(realMs),
                           [&p, after] { return p.failed || p.emptyLooks >= after; });
}

}  // namespace testkit
