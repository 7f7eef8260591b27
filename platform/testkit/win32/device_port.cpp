// The device's end of a serial port under wine: tools/win32/wine-test.sh
// links COM<n> and COM<n+100> of the wine prefix to the two ends of a socat
// pseudo-terminal pair, for every n of its pool. The system opens COM<n>;
// the device end is COM<n+100>, opened here through the backend itself.
//
// The pairs belong to the run and are reused by one test after another, so
// a new port first discards whatever an earlier one left in either
// direction. The prefix's link for COM<n> leads through the folder
// com-switch/port<n> of the prefix: unlinking renames that folder out of the
// way (to port<n>.off), so the link points at nothing and COM<n> is not
// found; Link and the next Create put it back. (Renaming the link itself
// cannot work: wine renames what a link points to, which fails for a
// terminal.) Where the rename fails, the link stays and Linked() keeps
// saying so. Ending the line is not possible: socat keeps the system's end
// alive whatever happens here.
#include "testkit/device_port.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "plat/clock.h"
#include "plat/serial.h"

// Last: the platform's macros share the names of plat's constants, which
// below are spelt unqualified (same values).
#include <windows.h>

namespace plat {
namespace {

constexpr unsigned kDeviceOffset = 100;

// The folder the wine prefix's link for COM<n> leads through, as a Windows
// path through drive Z:; empty outside wine.
std::string LinkPath(unsigned com) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (!prefix) return "";
  std::string path = std::string("Z:") + prefix + "/com-switch/port" + std::to_string(com);
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string OffPath(const std::string& link) { return link + ".off"; }

// Raw 8N1 without flow control, reads returning at once with what is there.
bool MakeRaw(SerialPort& port) {
  Dcb dcb;
  dcb.BaudRate = 115200;
  return port.SetCommState(dcb) && port.SetCommTimeouts({MAXDWORD, 0, 0, 0, 0});
}

// Serial time-outs run on the system's (scaled) time: `realMs` in it.
uint32_t SystemMs(uint32_t realMs) {
  const uint64_t ms = static_cast<uint64_t>(realMs) * static_cast<uint64_t>(TimeScale());
  return ms >= MAXDWORD ? MAXDWORD - 1 : static_cast<uint32_t>(ms);
}

}  // namespace

struct DevicePort::Impl {
  unsigned com = 0;
  std::string linkPath;  // empty outside wine: the links cannot be changed
  PortHandle port;       // COM<com + 100>

  std::mutex mutex;
  bool linked = true;
  // The time-outs last set on `port` (system ms). A reader and a writer
  // share them, so each changes only its own half, and only when it differs:
  // every setting is a round trip to the wine server.
  CommTimeouts timeouts{MAXDWORD, 0, 0, 0, 0};

  // Changes the time-outs under the lock, so that a reader and a writer
  // never put back each other's half from an older copy.
  template <typename Change>
  bool UpdateTimeouts(Change change) {
    std::lock_guard lock(mutex);
    CommTimeouts wanted = timeouts;
    change(wanted);
    if (wanted.ReadIntervalTimeout == timeouts.ReadIntervalTimeout &&
        wanted.ReadTotalTimeoutMultiplier == timeouts.ReadTotalTimeoutMultiplier &&
        wanted.ReadTotalTimeoutConstant == timeouts.ReadTotalTimeoutConstant &&
        wanted.WriteTotalTimeoutMultiplier == timeouts.WriteTotalTimeoutMultiplier &&
        wanted.WriteTotalTimeoutConstant == timeouts.WriteTotalTimeoutConstant) {
      return true;
    }
    if (!port->SetCommTimeouts(wanted)) return false;
    timeouts = wanted;
    return true;
  }

  bool SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    return UpdateTimeouts([&](CommTimeouts& t) {
      t.ReadIntervalTimeout = interval;
      t.ReadTotalTimeoutMultiplier = multiplier;
      t.ReadTotalTimeoutConstant = constant;
    });
  }

  // Reads by the time-outs set: the count, or -1 on a failure.
  int ReadNow(void* buffer, size_t max) {
    uint32_t got = 0;
    const uint32_t want = static_cast<uint32_t>(std::min<size_t>(max, 1u << 30));
    if (!port->Read(buffer, want, &got)) return -1;
    return static_cast<int>(got);
  }

  // What is waiting now, at most `max` bytes: the count, or -1 on a failure.
  int Available(void* buffer, size_t max) {
    if (!SetReadTimeouts(MAXDWORD, 0, 0)) return -1;
    return ReadNow(buffer, max);
  }
};

std::unique_ptr<DevicePort> DevicePort::Create(unsigned com) {
  auto impl = std::make_unique<Impl>();
  impl->com = com;
  impl->linkPath = LinkPath(com);
  // An earlier port of the run may have left the link renamed.
  if (!impl->linkPath.empty()) MoveFileA(OffPath(impl->linkPath).c_str(), impl->linkPath.c_str());
  // Bytes an earlier port left in either direction must not reach this one:
  // purging both ends is not enough, as socat may still hold some in flight,
  // so both ends are read until the line has been quiet for a while.
  PortHandle system = SerialPort::Open(com);
  if (system && !system->SetCommTimeouts({MAXDWORD, 0, 0, 0, 0})) system.reset();
  if (system) system->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR);
  impl->port = SerialPort::Open(com + kDeviceOffset);
  if (!impl->port || !MakeRaw(*impl->port)) return nullptr;
  impl->port->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR);
  char discarded[4096];
  constexpr int kQuietLooks = 4, kLookMs = 5, kMaxLooks = 400;
  for (int quiet = 0, looks = 0; system && quiet < kQuietLooks && looks < kMaxLooks; ++looks) {
    uint32_t fromSystem = 0;
    if (!system->Read(discarded, sizeof discarded, &fromSystem)) break;
    const int fromDevice = impl->Available(discarded, sizeof discarded);
    if (fromDevice < 0) break;
    quiet = fromSystem == 0 && fromDevice == 0 ? quiet + 1 : 0;
    if (quiet > 0) ::Sleep(kLookMs);
  }
  if (system) system->Close();
  return std::make_unique<DevicePort>(std::move(impl));
}

DevicePort::DevicePort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DevicePort::~DevicePort() {
  Unlink();
  impl_->port->Close();
}

unsigned DevicePort::Com() const { return impl_->com; }

bool DevicePort::Link() {
  std::lock_guard lock(impl_->mutex);
  if (impl_->linked) return true;
  impl_->linked = MoveFileA(OffPath(impl_->linkPath).c_str(), impl_->linkPath.c_str());
  return impl_->linked;
}

void DevicePort::Unlink() {
  std::lock_guard lock(impl_->mutex);
  if (!impl_->linked || impl_->linkPath.empty()) return;
  impl_->linked = !MoveFileA(impl_->linkPath.c_str(), OffPath(impl_->linkPath).c_str());
}

bool DevicePort::Linked() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->linked;
}

bool DevicePort::Write(const void* data, size_t count, uint32_t timeoutMs) {
  const uint32_t constant = std::max<uint32_t>(SystemMs(timeoutMs), 1);
  if (!impl_->UpdateTimeouts([&](CommTimeouts& t) {
        t.WriteTotalTimeoutMultiplier = 0;
        t.WriteTotalTimeoutConstant = constant;
      })) {
    return false;
  }
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < count) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(count - done, 1u << 30));
    uint32_t written = 0;
    if (!impl_->port->Write(bytes + done, chunk, &written)) return false;
    if (written < chunk) return false;  // the write time-out ended it
    done += written;
  }
  return true;
}

int DevicePort::Read(void* buffer, size_t max, uint32_t timeoutMs) {
  if (max == 0 || timeoutMs == 0) return max == 0 ? 0 : impl_->Available(buffer, max);
  // One read that returns with what is there, or at the first byte, or
  // after the wait: the device end is woken by its bytes, not by a poll.
  if (!impl_->SetReadTimeouts(MAXDWORD, MAXDWORD, SystemMs(timeoutMs))) return -1;
  return impl_->ReadNow(buffer, max);
}

void DevicePort::Drain() {
  impl_->port->PurgeComm(PURGE_RXCLEAR);
  char discarded[4096];
  while (impl_->Available(discarded, sizeof discarded) > 0) {
  }
}

bool DevicePort::HangUp() { return false; }

}  // namespace plat
