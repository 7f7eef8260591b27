// The test kit on POSIX: a test port is a pseudo-terminal. The system opens
// its slave through the <device root>/COM<n> symlink; the test plays the far
// end on the master. The kit keeps a slave descriptor of its own open, so the
// master never sees a hang-up while the system has the port closed. Both ends
// are raw (no echo, no translation) from the start.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "plat/device_root.h"
#include "plat/serial_map.h"
#include "support/port_kit.h"

namespace testkit {
namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

bool MakeRaw(int fd) {
  struct termios tio {};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Writes all of `data` to the non-blocking `fd` within `timeoutMs`; gives up
// early when `stopFd` (if any) becomes readable.
bool WriteAll(int fd, const void* data, size_t count, int timeoutMs, int stopFd = -1) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int wait = MsUntil(deadline);
    if (wait == 0) return false;
    struct pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    const int result = ::poll(fds, stopFd >= 0 ? 2 : 1, wait);
    if (result < 0 && errno != EINTR) return false;
    if (stopFd >= 0 && (fds[1].revents & POLLIN) != 0) return false;
  }
  return true;
}

// Reads what is there now into `out` (at most `max` bytes in all); returns
// the count read, or -1 when the descriptor fails or ends.
ssize_t ReadAvailable(int fd, std::string& out, size_t max) {
  ssize_t total = 0;
  char buffer[4096];
  while (out.size() < max) {
    const size_t want = std::min(sizeof buffer, max - out.size());
    const ssize_t n = ::read(fd, buffer, want);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
      total += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    return total > 0 ? total : -1;
  }
  return total;
}

}  // namespace

// ---------------------------------------------------------------------------

TempDeviceRoot::TempDeviceRoot() {
  char pattern[] = "/tmp/tamri-root-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  plat::SetDeviceRoot(path_);
}

TempDeviceRoot::~TempDeviceRoot() {
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
  std::string linkPath;
  std::string slavePath;
  int master = -1;
  int slave = -1;  // the kit's own slave descriptor
  bool ok = false;
  std::mutex registration;
  bool linked = false;
  bool mapped = false;
};

namespace {

// ScriptedPeer reaches the master of a TestPort through this table.
std::mutex g_portsMutex;
std::map<const TestPort*, TestPort::Impl*> g_ports;

TestPort::Impl* ImplOf(const TestPort& port) {
  std::lock_guard lock(g_portsMutex);
  const auto found = g_ports.find(&port);
  return found == g_ports.end() ? nullptr : found->second;
}

}  // namespace

TestPort::TestPort(unsigned com, const std::string& mapName) : impl_(std::make_unique<Impl>()) {
  Impl& p = *impl_;
  p.com = com;
  p.mapName = mapName;
  {
    std::lock_guard lock(g_portsMutex);
    g_ports[this] = impl_.get();
  }

  p.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (p.master < 0) return;
  if (::grantpt(p.master) != 0 || ::unlockpt(p.master) != 0) return;
  char name[128];
  if (::ptsname_r(p.master, name, sizeof name) != 0) return;
  p.slavePath = name;
  p.slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (p.slave < 0) return;
  if (!MakeRaw(p.slave) || !MakeRaw(p.master)) return;
  const int flags = ::fcntl(p.master, F_GETFL);
  if (flags < 0 || ::fcntl(p.master, F_SETFL, flags | O_NONBLOCK) != 0) return;

  const std::string root = plat::DeviceRoot();
  std::error_code error;
  std::filesystem::create_directories(root, error);
  p.linkPath = root + "/COM" + std::to_string(com);
  ::unlink(p.linkPath.c_str());  // a stale link from an earlier run
  if (::symlink(p.slavePath.c_str(), p.linkPath.c_str()) != 0) return;
  p.linked = true;
  if (!mapName.empty()) {
    if (!plat::SerialMap::AddValue(mapName, "COM" + std::to_string(com))) return;
    p.mapped = true;
  }
  p.ok = true;
}

TestPort::~TestPort() {
  Unregister();
  {
    std::lock_guard lock(g_portsMutex);
    g_ports.erase(this);
  }
  if (impl_->slave >= 0) ::close(impl_->slave);
  if (impl_->master >= 0) ::close(impl_->master);  // a system still holding the port sees a hang-up
}

unsigned TestPort::Com() const { return impl_->com; }

bool TestPort::Ok() const { return impl_->ok; }

void TestPort::Unregister() {
  Impl& p = *impl_;
  std::lock_guard lock(p.registration);
  if (p.linked) {
    // Only our own link: a later port may have taken the name meanwhile.
    char target[256];
    const ssize_t n = ::readlink(p.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == p.slavePath) ::unlink(p.linkPath.c_str());
    p.linked = false;
  }
  if (p.mapped) {
    plat::SerialMap::RemoveValue(p.mapName);
    p.mapped = false;
  }
}

bool TestPort::PeerWrite(const void* data, size_t count) {
  if (impl_->master < 0) return false;
  return WriteAll(impl_->master, data, count, 10000);
}

std::string TestPort::PeerRead(size_t max, uint32_t ms) {
  std::string out;
  if (impl_->master < 0) return out;
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < max) {
    const ssize_t got = ReadAvailable(impl_->master, out, max);
    if (got < 0) break;
    if (got > 0) {
      deadline = Clock::now() + std::chrono::milliseconds(ms);  // silence is counted from the last byte
      continue;
    }
    const int wait = MsUntil(deadline);
    if (wait == 0) break;
    struct pollfd fds = {impl_->master, POLLIN, 0};
    if (::poll(&fds, 1, wait) < 0 && errno != EINTR) break;
  }
  return out;
}

std::string TestPort::PeerReadExactly(size_t count, uint32_t ms) {
  std::string out;
  if (impl_->master < 0) return out;
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (out.size() < count) {
    const ssize_t got = ReadAvailable(impl_->master, out, count);
    if (got < 0) break;
    if (got > 0) continue;
    const int wait = MsUntil(deadline);
    if (wait == 0) break;
    struct pollfd fds = {impl_->master, POLLIN, 0};
    if (::poll(&fds, 1, wait) < 0 && errno != EINTR) break;
  }
  return out;
}

void TestPort::PeerDrain() {
  if (impl_->master < 0) return;
  ::tcflush(impl_->master, TCIFLUSH);
  // Bytes the system wrote just before may still be on their way through
  // the pseudo-terminal: discard until it has been quiet for a moment.
  std::string discarded;
  for (;;) {
    discarded.clear();
    if (ReadAvailable(impl_->master, discarded, SIZE_MAX) < 0) return;
    struct pollfd fds = {impl_->master, POLLIN, 0};
    const int result = ::poll(&fds, 1, 5);
    if (result == 0) return;
    if (result < 0 && errno != EINTR) return;
    if (result > 0 && (fds.revents & POLLIN) == 0) return;
  }
}

// ---------------------------------------------------------------------------

struct ScriptedPeer::Impl {
  int master = -1;
  Script script;
  int stopRead = -1;
  int stopWrite = -1;
  std::thread thread;
  mutable std::mutex mutex;
  std::string received;

  void Run() {
    char buffer[4096];
    for (;;) {
      struct pollfd fds[2] = {{master, POLLIN, 0}, {stopRead, POLLIN, 0}};
      const int result = ::poll(fds, 2, -1);
      if (result < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if ((fds[1].revents & POLLIN) != 0) return;
      if ((fds[0].revents & POLLIN) == 0) {
        // Hang-up or error without data: wait for the stop without spinning.
        struct pollfd stop = {stopRead, POLLIN, 0};
        ::poll(&stop, 1, 10);
        continue;
      }
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) continue;
      const std::string chunk(buffer, static_cast<size_t>(n));
      {
        std::lock_guard lock(mutex);
        received += chunk;
      }
      const std::string answer = script ? script(chunk) : std::string();
      if (!answer.empty()) WriteAll(master, answer.data(), answer.size(), 10000, stopRead);
    }
  }
};

ScriptedPeer::ScriptedPeer(TestPort& port, Script onData) : impl_(std::make_unique<Impl>()) {
  TestPort::Impl* target = ImplOf(port);
  impl_->master = target != nullptr ? target->master : -1;
  impl_->script = std::move(onData);
  int pipeFds[2];
  if (impl_->master < 0 || ::pipe2(pipeFds, O_CLOEXEC) != 0) return;
  impl_->stopRead = pipeFds[0];
  impl_->stopWrite = pipeFds[1];
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
}

ScriptedPeer::~ScriptedPeer() {
  if (impl_->thread.joinable()) {
    const char stop = 1;
    ssize_t wrote;
    do {
      wrote = ::write(impl_->stopWrite, &stop, 1);
    } while (wrote < 0 && errno == EINTR);
    impl_->thread.join();
  }
  if (impl_->stopRead >= 0) ::close(impl_->stopRead);
  if (impl_->stopWrite >= 0) ::close(impl_->stopWrite);
}

std::string ScriptedPeer::Received() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->received;
}

}  // namespace testkit
