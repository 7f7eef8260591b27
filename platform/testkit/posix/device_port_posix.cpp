// The device's end of a serial port on POSIX: a pseudo-terminal. The system
// opens its slave through the <device root>/COM<n> symlink; the device end
// is the master. A slave descriptor of our own stays open, so the master
// never sees a hang-up while the system has the port closed. Both ends are
// raw (no echo, no translation, no flow control) from the start.
//
// Every call counts itself in flight and polls together with a wake
// descriptor (an eventfd) that HangUp signals; HangUp then waits until no
// call is in flight before it closes the descriptors, so no call ever uses a
// descriptor number that may have been reused.
#include "testkit/device_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>

#include "plat/device_root.h"
#include "testkit/posix/tty_posix.h"

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// How long Drain waits for quiet: bytes the system wrote just before may
// still be on their way through the pseudo-terminal.
constexpr int kDrainQuietMs = 5;

}  // namespace

struct DevicePort::Impl {
  unsigned com = 0;
  std::string linkPath;
  std::string slavePath;
  int master = -1;
  int slave = -1;  // our own slave descriptor
  int wake = -1;   // readable once the port is hung up

  std::mutex mutex;
  std::condition_variable idle;  // inflight reached 0 during a hang-up
  bool hungUp = false;
  int inflight = 0;
  bool linked = false;

  ~Impl() {
    CloseFd(slave);
    CloseFd(master);  // a system still holding the port sees a hang-up
    CloseFd(wake);
  }

  // Under `mutex`.
  void RemoveOwnLink() {
    if (!linked) return;
    // Only our own link: a later port may have taken the name meanwhile.
    char target[4096];
    const ssize_t n = ::readlink(linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath) ::unlink(linkPath.c_str());
    linked = false;
  }
};

namespace {

// One call on the port, counted in flight for its whole length.
class Use {
 public:
  explicit Use(DevicePort::Impl& port) : port_(port) {
    std::lock_guard lock(port_.mutex);
    if (port_.hungUp) return;
    ++port_.inflight;
    ok_ = true;
  }
  ~Use() {
    if (!ok_) return;
    std::lock_guard lock(port_.mutex);
    if (--port_.inflight == 0 && port_.hungUp) port_.idle.notify_all();
  }
  Use(const Use&) = delete;
  Use& operator=(const Use&) = delete;
  explicit operator bool() const { return ok_; }

 private:
  DevicePort::Impl& port_;
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<DevicePort> DevicePort::Create(unsigned com) {
  auto impl = std::make_unique<Impl>();
  impl->com = com;
  impl->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (impl->master < 0) return nullptr;
  if (::grantpt(impl->master) != 0 || ::unlockpt(impl->master) != 0) return nullptr;
  char name[128];
  if (::ptsname_r(impl->master, name, sizeof name) != 0) return nullptr;
  impl->slavePath = name;
  impl->slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (impl->slave < 0) return nullptr;
  if (!posix_tty::MakeRaw(impl->slave) || !posix_tty::MakeRaw(impl->master)) return nullptr;
  const int flags = ::fcntl(impl->master, F_GETFL);
  if (flags < 0 || ::fcntl(impl->master, F_SETFL, flags | O_NONBLOCK) != 0) return nullptr;
  impl->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (impl->wake < 0) return nullptr;
  impl->linkPath = DeviceRoot() + "/COM" + std::to_string(com);
  auto port = std::make_unique<DevicePort>(std::move(impl));
  if (!port->Link()) return nullptr;
  return port;
}

DevicePort::DevicePort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DevicePort::~DevicePort() { Unlink(); }

unsigned DevicePort::Com() const { return impl_->com; }

bool DevicePort::Link() {
  Impl& p = *impl_;
  std::lock_guard lock(p.mutex);
  if (p.hungUp) return false;
  if (p.linked) return true;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(p.linkPath).parent_path(), error);
  ::unlink(p.linkPath.c_str());  // a stale link, or another port's
  if (::symlink(p.slavePath.c_str(), p.linkPath.c_str()) != 0) return false;
  p.linked = true;
  return true;
}

void DevicePort::Unlink() {
  std::lock_guard lock(impl_->mutex);
  impl_->RemoveOwnLink();
}

bool DevicePort::Linked() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->linked;
}

bool DevicePort::Write(const void* data, size_t count, uint32_t timeoutMs) {
  Use use(*impl_);
  if (!use) return false;
  const int timeout = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
  return posix_tty::WriteAll(impl_->master, data, count, timeout, impl_->wake);
}

int DevicePort::Read(void* buffer, size_t max, uint32_t timeoutMs) {
  Use use(*impl_);
  if (!use) return -1;
  const int master = impl_->master;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // Poll first: a caller that waits for bytes mostly finds none there yet.
  for (;;) {
    struct pollfd fds[2] = {{master, POLLIN, 0}, {impl_->wake, POLLIN, 0}};
    const int result = ::poll(fds, 2, MsUntil(deadline));
    if (result < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if ((fds[1].revents & POLLIN) != 0) return -1;
    if (result == 0) return 0;
    if ((fds[0].revents & POLLIN) == 0) return -1;  // hang-up or error without data
    if (max == 0) return 0;
    const ssize_t n = ::read(master, buffer, max);
    if (n > 0) return static_cast<int>(n > INT_MAX ? INT_MAX : n);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (MsUntil(deadline) == 0) return 0;
      continue;
    }
    return -1;
  }
}

void DevicePort::Drain() {
  Use use(*impl_);
  if (!use) return;
  const int master = impl_->master;
  ::tcflush(master, TCIFLUSH);
  char discarded[4096];
  for (;;) {
    const ssize_t n = ::read(master, discarded, sizeof discarded);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return;
    struct pollfd fds[2] = {{master, POLLIN, 0}, {impl_->wake, POLLIN, 0}};
    const int result = ::poll(fds, 2, kDrainQuietMs);
    if (result == 0) return;
    if (result < 0 && errno != EINTR) return;
    if (result > 0 && (fds[0].revents & POLLIN) == 0) return;
  }
}

bool DevicePort::HangUp() {
  Impl& p = *impl_;
  std::unique_lock lock(p.mutex);
  if (p.hungUp) return true;
  p.hungUp = true;
  const uint64_t one = 1;
  ssize_t wrote;
  do {
    wrote = ::write(p.wake, &one, sizeof one);
  } while (wrote < 0 && errno == EINTR);
  p.idle.wait(lock, [&p] { return p.inflight == 0; });
  // The pseudo-terminal's number is free for reuse once both ends are
  // closed: the link must not outlive them.
  p.RemoveOwnLink();
  // Closing the master hangs up every open slave, the system's included.
  CloseFd(p.master);
  CloseFd(p.slave);
  return true;
}

}  // namespace plat
