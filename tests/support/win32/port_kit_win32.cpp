// Test ports under wine: tools/win32/wine-test.sh links COM<n> and
// COM<n+100> of the wine prefix to the two ends of a socat pseudo-terminal
// pair, for every n of its pool. The system opens COM<n>; the peer is
// COM<n+100>, opened here through the backend itself. The serial-port map is
// the real registry key, shared by every test, so a test root starts and
// ends with no map.
#include "support/port_kit.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "plat/clock.h"
#include "plat/device_root.h"
#include "plat/serial.h"
#include "plat/serial_map.h"
#include "plat/thread.h"

// Last: the platform's macros share the names of plat's constants, which
// below are spelt unqualified (same values).
#include <windows.h>

namespace testkit {
namespace {

constexpr unsigned kPeerOffset = 100;

std::string NewTempFolder() {
  static std::atomic<int> counter{0};
  std::error_code error;
  const auto path = std::filesystem::temp_directory_path(error) /
                    ("tamri-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path, error);
  return path.string();
}

// The wine prefix's link for COM<n>, as a Windows path through drive Z:.
std::string LinkPath(unsigned com) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (!prefix) return "";
  std::string path = std::string("Z:") + prefix + "/dosdevices/com" + std::to_string(com);
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// Raw 8N1 without flow control, reads returning at once with what is there.
bool MakeRaw(plat::SerialPort& port) {
  plat::Dcb dcb;
  dcb.BaudRate = 115200;
  return port.SetCommState(dcb) && port.SetCommTimeouts({MAXDWORD, 0, 0, 0, 0});
}

}  // namespace

TempDeviceRoot::TempDeviceRoot() : path_(NewTempFolder()) {
  plat::SetDeviceRoot(path_);
  plat::SerialMap::Remove();
}

TempDeviceRoot::~TempDeviceRoot() {
  plat::SerialMap::Remove();
  plat::SetDeviceRoot("");
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

struct TestPort::Impl {
  unsigned com = 0;
  std::string mapName;
  plat::PortHandle peer;
  bool registered = false;
  bool unlinked = false;

  // What is waiting on the peer side, at most `max` bytes.
  std::string Available(size_t max) {
    std::string bytes(max, '\0');
    uint32_t got = 0;
    if (!peer || !peer->Read(bytes.data(), static_cast<uint32_t>(max), &got)) got = 0;
    bytes.resize(got);
    return bytes;
  }
};

TestPort::TestPort(unsigned com, const std::string& mapName) : impl_(std::make_unique<Impl>()) {
  impl_->com = com;
  impl_->mapName = mapName;
  // Bytes a former test left in either direction must not reach this one.
  if (auto system = plat::SerialPort::Open(com)) {
    system->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR);
    system->Close();
  }
  impl_->peer = plat::SerialPort::Open(com + kPeerOffset);
  if (!impl_->peer || !MakeRaw(*impl_->peer)) {
    impl_->peer.reset();
    return;
  }
  impl_->peer->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR);
  impl_->registered = mapName.empty() || plat::SerialMap::AddValue(mapName, "COM" + std::to_string(com));
}

TestPort::~TestPort() {
  Unregister();
  // The link belongs to the run's pool: put it back for the next test.
  if (impl_->unlinked) MoveFileA((LinkPath(impl_->com) + ".off").c_str(), LinkPath(impl_->com).c_str());
}

unsigned TestPort::Com() const { return impl_->com; }
bool TestPort::Ok() const { return impl_->peer && impl_->registered; }

void TestPort::Unregister() {
  if (!impl_->mapName.empty() && impl_->registered) plat::SerialMap::RemoveValue(impl_->mapName);
  impl_->registered = false;
  if (!impl_->unlinked && !LinkPath(impl_->com).empty())
    impl_->unlinked = MoveFileA(LinkPath(impl_->com).c_str(), (LinkPath(impl_->com) + ".off").c_str());
}

bool TestPort::PeerWrite(const void* data, size_t count) {
  uint32_t written = 0;
  return impl_->peer && impl_->peer->Write(data, static_cast<uint32_t>(count), &written) && written == count;
}

std::string TestPort::PeerRead(size_t max, uint32_t ms) {
  std::string received;
  DWORD quietSince = ::GetTickCount();
  while (received.size() < max && ::GetTickCount() - quietSince < ms) {
    const std::string chunk = impl_->Available(max - received.size());
    if (chunk.empty()) {
      ::Sleep(1);
      continue;
    }
    received += chunk;
    quietSince = ::GetTickCount();
  }
  return received;
}

std::string TestPort::PeerReadExactly(size_t count, uint32_t ms) {
  std::string received;
  const DWORD start = ::GetTickCount();
  while (received.size() < count && ::GetTickCount() - start < ms) {
    const std::string chunk = impl_->Available(count - received.size());
    if (chunk.empty()) ::Sleep(1);
    received += chunk;
  }
  return received;
}

void TestPort::PeerDrain() {
  if (!impl_->peer) return;
  impl_->peer->PurgeComm(PURGE_RXCLEAR);
  while (!impl_->Available(4096).empty()) {
  }
}

struct ScriptedPeer::Impl {
  TestPort& port;
  Script onData;
  std::atomic<bool> stop{false};
  mutable std::mutex mutex;
  std::string received;
  plat::Thread thread;

  Impl(TestPort& p, Script s) : port(p), onData(std::move(s)) {}
};

ScriptedPeer::ScriptedPeer(TestPort& port, Script onData) : impl_(std::make_unique<Impl>(port, std::move(onData))) {
  Impl* impl = impl_.get();
  impl_->thread.Start([impl]() -> uint32_t {
    while (!impl->stop) {
      const std::string chunk = impl->port.PeerRead(4096, 2);
      if (chunk.empty()) continue;
      {
        std::lock_guard lock(impl->mutex);
        impl->received += chunk;
      }
      const std::string answer = impl->onData(chunk);
      if (!answer.empty()) impl->port.PeerWrite(answer);
    }
    return 0;
  });
}

ScriptedPeer::~ScriptedPeer() {
  impl_->stop = true;
  impl_->thread.Join();
}

std::string ScriptedPeer::Received() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

}  // namespace testkit
