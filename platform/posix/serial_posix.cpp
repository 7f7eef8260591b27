// Serial ports on POSIX: COM<n> is the tty that <device root>/COM<n> links to.
//
// Open: O_NOCTTY|O_NONBLOCK, then flock(LOCK_EX|LOCK_NB) on the descriptor,
// which makes the open exclusive against every other open of the device in
// this or another process (root included), like a Win32 open without
// sharing. The line is always raw (serial_line_posix.cpp).
//
// Blocking calls (Read, Write, WaitCommEvent) never block inside a syscall:
// the descriptor is non-blocking and each such call polls on it together
// with a wake descriptor (an eventfd) of its own, registered with the port
// for the length of the call. Close, PurgeComm's aborts and SetCommMask end
// the registered calls they concern by marking them and signalling their wake
// descriptors. Every call on the port counts itself in flight; Close waits
// until no call is in flight before it closes the descriptor (which drops the
// lock), so the device is free when Close returns and no call ever uses a
// descriptor number that may have been reused.
//
// The device control block and the time-outs last set are kept per device
// for the life of the process and given back to the next open of the same
// device, as long as the device still has the line settings this process
// gave it (the platform's serial driver keeps them between handles, too).
#include "plat/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "common/test_seams.h"
#include "plat/clock.h"
#include "plat/com_name.h"
#include "plat/device_root.h"
#include "serial_line_posix.h"

namespace plat {
namespace {

using Clock = std::chrono::steady_clock;
using posix_serial::LineSettings;
using posix_serial::LineSnapshot;

// ---------------------------------------------------------------------------
// Time.

// Real milliseconds for `ms` of system time, for sums that may pass 32 bits.
uint64_t RealMs64(uint64_t ms) {
  if (ms < INFINITE) return RealMs(static_cast<uint32_t>(ms));
  return ms / static_cast<uint64_t>(TimeScale());
}

// Milliseconds for poll until `deadline` (rounded up; at most INT_MAX).
int MsUntil(Clock::time_point deadline) {
  const auto now = Clock::now();
  if (deadline <= now) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

Clock::time_point After(uint64_t realMs) {
  // Far deadlines are capped at about 100 years, which is "never".
  constexpr uint64_t kCap = 100ull * 365 * 24 * 3600 * 1000;
  return Clock::now() + std::chrono::milliseconds(std::min(realMs, kCap));
}

// ---------------------------------------------------------------------------
// Line settings kept per device for the life of the process.

struct DeviceId {
  dev_t dev = 0;
  ino_t ino = 0;
  dev_t rdev = 0;
  struct timespec ctime {};
  bool SameNode(const DeviceId& other) const { return dev == other.dev && ino == other.ino && rdev == other.rdev; }
  bool SameBirth(const DeviceId& other) const {
    return ctime.tv_sec == other.ctime.tv_sec && ctime.tv_nsec == other.ctime.tv_nsec;
  }
};

struct Remembered {
  DeviceId id;
  Dcb dcb;
  CommTimeouts timeouts;
  LineSnapshot applied;
};

std::mutex g_rememberedMutex;
std::vector<Remembered> g_remembered;  // at most one entry per device node

void Remember(const DeviceId& id, const Dcb& dcb, const CommTimeouts& timeouts, const LineSnapshot& applied) {
  std::lock_guard lock(g_rememberedMutex);
  for (Remembered& entry : g_remembered) {
    if (entry.id.SameNode(id)) {
      entry = Remembered{id, dcb, timeouts, applied};
      return;
    }
  }
  g_remembered.push_back(Remembered{id, dcb, timeouts, applied});
}

// The settings this process last gave the device, if the device still has
// them (not re-created, not reconfigured by anyone else).
bool Recall(const DeviceId& id, const LineSnapshot& current, Dcb* dcb, CommTimeouts* timeouts) {
  std::lock_guard lock(g_rememberedMutex);
  for (const Remembered& entry : g_remembered) {
    if (!entry.id.SameNode(id)) continue;
    if (!entry.id.SameBirth(id) || !(entry.applied == current)) return false;
    *dcb = entry.dcb;
    *timeouts = entry.timeouts;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------

bool ValidDcb(const Dcb& dcb) {
  if (dcb.BaudRate == 0) return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8) return false;
  if (dcb.Parity > SPACEPARITY || dcb.StopBits > TWOSTOPBITS) return false;
  if (dcb.fDtrControl > DTR_CONTROL_HANDSHAKE || dcb.fRtsControl > RTS_CONTROL_TOGGLE) return false;
  if ((dcb.fOutX || dcb.fInX) && dcb.XonChar == dcb.XoffChar) return false;
  return true;
}

LineSettings ToLine(const Dcb& dcb) {
  LineSettings line;
  line.baud = dcb.BaudRate;
  line.byteSize = dcb.ByteSize;
  line.parity = dcb.Parity;
  line.stopBits = dcb.StopBits;
  line.parityCheck = dcb.fParity != 0;
  line.outX = dcb.fOutX != 0;
  line.inX = dcb.fInX != 0;
  line.ctsRts = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
  line.xonChar = dcb.XonChar;
  line.xoffChar = dcb.XoffChar;
  return line;
}

bool Refused(int error) { return error == ENOTTY || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP; }

bool Ioctl(int fd, unsigned long request, const void* argument) {
  int result;
  do {
    result = ::ioctl(fd, request, argument);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

constexpr unsigned kRead = 1, kWrite = 2, kEvent = 4;

// A blocking call in progress, registered with its port.
struct Waiter {
  unsigned kinds = 0;
  int wakeFd = -1;
  std::atomic<bool> ended{false};  // closed, aborted or (event waits) mask changed
  bool signaled = false;           // wakeFd holds a count (guarded by the port's mutex)
};

enum class PollResult { Ready, Hangup, Timeout, Ended, Interrupted, Error };

}  // namespace

// ---------------------------------------------------------------------------

struct SerialPort::Impl {
  unsigned number = 0;
  DeviceId id;

  std::mutex mutex;
  std::condition_variable idle;  // inflight reached 0 / the port was released
  int fd = -1;                   // closed (and -1) only once no call is in flight
  bool closing = false;
  bool released = false;
  int inflight = 0;
  std::atomic<bool> open{true};

  Dcb dcb;
  CommTimeouts timeouts;
  uint32_t mask = 0;
  // Modem-control state as asked; lines the device refused are recorded here.
  bool dtr = false, rts = false, brk = false;
  int refusedLineError = 0;

  std::vector<int> spareWakeFds;
  std::vector<Waiter*> waiters;

  ~Impl() { Release(); }

  // Under `mutex`: ends the registered calls of `kinds`.
  void EndWaiters(unsigned kinds) {
    for (Waiter* waiter : waiters) {
      if ((waiter->kinds & kinds) == 0) continue;
      waiter->ended.store(true, std::memory_order_release);
      if (!waiter->signaled) {
        const uint64_t one = 1;
        ssize_t wrote;
        do {
          wrote = ::write(waiter->wakeFd, &one, sizeof one);
        } while (wrote < 0 && errno == EINTR);
        waiter->signaled = true;
      }
    }
  }

  // Under `mutex`, with no call in flight: closes everything.
  void Release() {
    if (fd >= 0) ::close(fd);  // drops the flock
    fd = -1;
    for (int wake : spareWakeFds) ::close(wake);
    spareWakeFds.clear();
  }

  void Close() {
    std::unique_lock lock(mutex);
    if (!closing) {
      closing = true;
      open.store(false, std::memory_order_release);
      EndWaiters(kRead | kWrite | kEvent);
      idle.wait(lock, [this] { return inflight == 0; });
      Release();
      released = true;
      idle.notify_all();
    } else {
      idle.wait(lock, [this] { return released; });
    }
  }

  // Modem lines. Under `mutex` (the descriptor is in use by the caller).
  bool SetLine(int line, bool on) {
    if (Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line)) return true;
    if (!Refused(errno)) return false;
    refusedLineError = errno;
    return true;
  }
  bool SetBreakLine(bool on) {
    if (Ioctl(fd, on ? TIOCSBRK : TIOCCBRK, nullptr)) return true;
    if (!Refused(errno)) return false;
    refusedLineError = errno;
    return true;
  }
  bool ApplyModemLines(const Dcb& next) {
    const bool dtrOn = next.fDtrControl != DTR_CONTROL_DISABLE;
    if (!SetLine(TIOCM_DTR, dtrOn)) return false;
    dtr = dtrOn;
    // With RTS handshake the driver drives RTS (CRTSCTS).
    if (next.fRtsControl != RTS_CONTROL_HANDSHAKE) {
      const bool rtsOn = next.fRtsControl != RTS_CONTROL_DISABLE;
      if (!SetLine(TIOCM_RTS, rtsOn)) return false;
      rts = rtsOn;
    }
    return true;
  }

  bool ApplyDcb(const Dcb& next) {
    if (!posix_serial::ApplyLine(fd, ToLine(next))) return false;
    return ApplyModemLines(next);
  }

  void RememberSettings() {
    LineSnapshot applied;
    if (posix_serial::ReadSnapshot(fd, &applied)) Remember(id, dcb, timeouts, applied);
  }
};

namespace {

// One call on a port: counted in flight for its whole length; a blocking
// call also registers a waiter with a wake descriptor.
class Call {
 public:
  Call(SerialPort::Impl& port, unsigned kinds) : port_(port) {
    std::lock_guard lock(port_.mutex);
    if (port_.closing) return;
    if (kinds != 0) {
      if (!port_.spareWakeFds.empty()) {
        waiter_.wakeFd = port_.spareWakeFds.back();
        port_.spareWakeFds.pop_back();
      } else {
        waiter_.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (waiter_.wakeFd < 0) return;
      }
      waiter_.kinds = kinds;
      port_.waiters.push_back(&waiter_);
    }
    ++port_.inflight;
    fd_ = port_.fd;
    ok_ = true;
  }

  ~Call() {
    if (!ok_) return;
    std::lock_guard lock(port_.mutex);
    if (waiter_.wakeFd >= 0) {
      auto& waiters = port_.waiters;
      waiters.erase(std::remove(waiters.begin(), waiters.end(), &waiter_), waiters.end());
      if (waiter_.signaled) {
        uint64_t count;
        ssize_t got;
        do {
          got = ::read(waiter_.wakeFd, &count, sizeof count);
        } while (got < 0 && errno == EINTR);
      }
      port_.spareWakeFds.push_back(waiter_.wakeFd);
    }
    if (--port_.inflight == 0 && port_.closing) port_.idle.notify_all();
  }

  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  bool ok() const { return ok_; }
  int fd() const { return fd_; }
  bool ended() const { return waiter_.ended.load(std::memory_order_acquire); }

  // Waits for `events` on the port's descriptor, the end of the call, or
  // `timeoutMs` (-1: no limit).
  PollResult Wait(short events, int timeoutMs, short* revents = nullptr) {
    if (ended()) return PollResult::Ended;
    struct pollfd fds[2] = {{fd_, events, 0}, {waiter_.wakeFd, POLLIN, 0}};
    const int result = ::poll(fds, 2, timeoutMs);
    if (result < 0) return errno == EINTR ? PollResult::Interrupted : PollResult::Error;
    if (ended() || (fds[1].revents & POLLIN) != 0) return PollResult::Ended;
    if (result == 0) return PollResult::Timeout;
    if (revents != nullptr) *revents = fds[0].revents;
    if ((fds[0].revents & events) != 0) return PollResult::Ready;
    if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return PollResult::Hangup;
    return PollResult::Interrupted;  // nothing of ours: look again
  }

  // Pauses up to `ms` real milliseconds unless the call is ended first.
  void Pause(int ms) {
    if (ended()) return;
    struct pollfd wake = {waiter_.wakeFd, POLLIN, 0};
    ::poll(&wake, 1, ms);
  }

 private:
  SerialPort::Impl& port_;
  Waiter waiter_;
  int fd_ = -1;
  bool ok_ = false;
};

// How long a wait on a hung-up port pauses before it fails, so that a caller
// that retries at once does not spin.
constexpr int kHangupPauseMs = 50;

void SetError(OpenError* error, OpenError value) {
  if (error != nullptr) *error = value;
}

}  // namespace

// ---------------------------------------------------------------------------

std::shared_ptr<SerialPort> SerialPort::Open(unsigned number, OpenError* error) {
  SetError(error, OpenError::None);
  if (detail::SerialCallFails(detail::SerialCall::Open)) {
    SetError(error, OpenError::Failed);
    return nullptr;
  }
  const std::string path = DeviceRoot() + "/COM" + std::to_string(number);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENOTDIR:
      case ENXIO:
      case ENODEV:
      case EIO:  // a pseudo-terminal whose far end is gone
        SetError(error, OpenError::NotFound);
        break;
      case EBUSY: SetError(error, OpenError::Busy); break;
      default: SetError(error, OpenError::Failed); break;
    }
    return nullptr;
  }
  std::unique_ptr<Impl> impl;
  auto fail = [&](OpenError reason) -> std::shared_ptr<SerialPort> {
    if (impl) impl->fd = -1;
    ::close(fd);
    SetError(error, reason);
    return nullptr;
  };
  if (!::isatty(fd)) return fail(OpenError::Failed);
  int locked;
  do {
    locked = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return fail(errno == EWOULDBLOCK ? OpenError::Busy : OpenError::Failed);

  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(OpenError::Failed);

  impl = std::make_unique<Impl>();
  impl->number = number;
  impl->fd = fd;
  impl->id.dev = info.st_dev;
  impl->id.ino = info.st_ino;
  impl->id.rdev = info.st_rdev;
  impl->id.ctime = info.st_ctim;

  LineSnapshot current;
  if (!posix_serial::ReadSnapshot(fd, &current)) return fail(OpenError::Failed);
  if (!Recall(impl->id, current, &impl->dcb, &impl->timeouts)) {
    // A device new to this process: the default control block at the
    // device's present speed, no time-outs.
    impl->dcb = Dcb{};
    uint32_t baud = 0;
    if (posix_serial::ReadBaud(fd, &baud) && baud != 0) impl->dcb.BaudRate = baud;
    impl->timeouts = CommTimeouts{};
  }
  if (!impl->ApplyDcb(impl->dcb)) return fail(OpenError::Failed);
  impl->RememberSettings();
  return std::make_shared<SerialPort>(std::move(impl));
}

std::shared_ptr<SerialPort> SerialPort::OpenByName(const std::string& name, OpenError* error) {
  const unsigned number = ComNameNumber(name);
  if (number == 0) {
    SetError(error, OpenError::NotFound);
    return nullptr;
  }
  return Open(number, error);
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

SerialPort::~SerialPort() {
  if (impl_) impl_->Close();
}

unsigned SerialPort::Number() const { return impl_->number; }

bool SerialPort::IsOpen() const { return impl_->open.load(std::memory_order_acquire); }

void SerialPort::Close() { impl_->Close(); }

bool SerialPort::GetCommState(Dcb& dcb) {
  if (detail::SerialCallFails(detail::SerialCall::GetCommState)) return false;
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  dcb = impl_->dcb;
  return true;
}

bool SerialPort::SetCommState(const Dcb& dcb) {
  if (detail::SerialCallFails(detail::SerialCall::SetCommState)) return false;
  if (!ValidDcb(dcb)) return false;
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  if (!impl_->ApplyDcb(dcb)) {
    // Back to what the port reports, as far as the device takes it.
    impl_->ApplyDcb(impl_->dcb);
    return false;
  }
  impl_->dcb = dcb;
  impl_->RememberSettings();
  return true;
}

bool SerialPort::GetCommTimeouts(CommTimeouts& timeouts) {
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  timeouts = impl_->timeouts;
  return true;
}

bool SerialPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->timeouts = timeouts;
  impl_->RememberSettings();
  return true;
}

bool SerialPort::SetupComm(uint32_t, uint32_t) {
  Call call(*impl_, 0);
  return call.ok();
}

bool SerialPort::SetCommMask(uint32_t mask) {
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->mask = mask;
  impl_->EndWaiters(kEvent);
  return true;
}

bool SerialPort::WaitCommEvent(uint32_t* events) {
  if (events != nullptr) *events = 0;
  Call call(*impl_, kEvent);
  if (!call.ok()) return false;
  uint32_t mask;
  {
    std::lock_guard lock(impl_->mutex);
    mask = impl_->mask;
  }
  if (mask == 0) return false;
  const bool rxchar = (mask & EV_RXCHAR) != 0;
  for (;;) {
    short revents = 0;
    // Without EV_RXCHAR in the mask no event this backend knows can occur:
    // the wait lasts until it is ended.
    const PollResult result = call.Wait(rxchar ? POLLIN : 0, -1, &revents);
    switch (result) {
      case PollResult::Ended:
      case PollResult::Error: return false;
      case PollResult::Timeout:
      case PollResult::Interrupted: continue;
      case PollResult::Ready:
      case PollResult::Hangup: break;
    }
    int waiting = 0;
    const bool counted = Ioctl(call.fd(), FIONREAD, &waiting);
    if (counted && waiting > 0) {
      if (events != nullptr) *events = EV_RXCHAR;
      return true;
    }
    if (!counted || result == PollResult::Hangup || (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      call.Pause(kHangupPauseMs);
      return false;
    }
    call.Pause(1);  // readable without a byte counted: look again shortly
  }
}

bool SerialPort::Read(void* buffer, uint32_t count, uint32_t* got) {
  uint32_t done = 0;
  if (got != nullptr) *got = 0;
  Call call(*impl_, kRead);
  if (!call.ok()) return false;
  CommTimeouts t;
  {
    std::lock_guard lock(impl_->mutex);
    t = impl_->timeouts;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  auto finish = [&](bool result) {
    if (got != nullptr) *got = done;
    return result;
  };
  if (count == 0) return finish(true);

  // Win32 rules. MAXDWORD interval with zero totals: whatever is there now.
  // MAXDWORD interval and multiplier with a constant: whatever is there now,
  // else the first bytes to arrive within the constant.
  const bool immediate =
      t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
  const bool firstBytes = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                          t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  uint64_t totalMs;
  if (firstBytes)
    totalMs = t.ReadTotalTimeoutConstant;
  else
    totalMs = static_cast<uint64_t>(t.ReadTotalTimeoutMultiplier) * count + t.ReadTotalTimeoutConstant;
  const bool hasTotal = totalMs != 0;
  const Clock::time_point totalDeadline = After(RealMs64(totalMs));
  const bool hasInterval = !firstBytes && t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD;
  const uint32_t intervalMs = hasInterval ? RealMs(t.ReadIntervalTimeout) : 0;
  Clock::time_point intervalDeadline{};

  bool hungUp = false;
  // A first-bytes read is mostly made before its bytes are there (a receive
  // thread reads again as soon as it has handed on a burst): it waits first
  // and reads once, so a burst costs one poll and one read. The poll returns
  // at once when bytes are already waiting.
  for (bool waitFirst = firstBytes;; waitFirst = false) {
    if (call.ended()) return finish(false);
    if (!waitFirst) {
      const ssize_t n = ::read(call.fd(), bytes + done, count - done);
      if (n > 0) {
        done += static_cast<uint32_t>(n);
        if (done == count || firstBytes) return finish(true);
        if (hasInterval) intervalDeadline = After(intervalMs);
        continue;
      }
      if (n == 0) return finish(false);  // hung up
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return finish(false);
      if (hungUp || immediate) return finish(!hungUp);
    }

    int waitMs = -1;
    if (hasTotal) waitMs = MsUntil(totalDeadline);
    if (hasInterval && done > 0) {
      const int untilInterval = MsUntil(intervalDeadline);
      waitMs = waitMs < 0 ? untilInterval : std::min(waitMs, untilInterval);
    }
    // Ended by a time-out, but not before the first look at the line.
    if (waitMs == 0 && !waitFirst) return finish(true);
    switch (call.Wait(POLLIN, waitMs)) {
      case PollResult::Ready:
      case PollResult::Interrupted:
      case PollResult::Timeout: break;  // the deadlines are looked at again after the next read
      case PollResult::Hangup: hungUp = true; break;
      case PollResult::Ended:
      case PollResult::Error: return finish(false);
    }
  }
}

bool SerialPort::Write(const void* data, uint32_t count, uint32_t* written) {
  uint32_t done = 0;
  if (written != nullptr) *written = 0;
  Call call(*impl_, kWrite);
  if (!call.ok()) return false;
  CommTimeouts t;
  {
    std::lock_guard lock(impl_->mutex);
    t = impl_->timeouts;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  auto finish = [&](bool result) {
    if (written != nullptr) *written = done;
    return result;
  };
  const uint64_t totalMs = static_cast<uint64_t>(t.WriteTotalTimeoutMultiplier) * count + t.WriteTotalTimeoutConstant;
  const bool hasTotal = totalMs != 0;
  const Clock::time_point deadline = After(RealMs64(totalMs));

  bool hungUp = false;
  while (done < count) {
    if (call.ended()) return finish(false);
    const ssize_t n = ::write(call.fd(), bytes + done, count - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return finish(false);
    if (hungUp) return finish(false);
    const int waitMs = hasTotal ? MsUntil(deadline) : -1;
    if (waitMs == 0) return finish(true);  // the write time-out ended it
    switch (call.Wait(POLLOUT, waitMs)) {
      case PollResult::Ready:
      case PollResult::Interrupted:
      case PollResult::Timeout: break;
      case PollResult::Hangup: hungUp = true; break;
      case PollResult::Ended:
      case PollResult::Error: return finish(false);
    }
  }
  return finish(true);
}

bool SerialPort::PurgeComm(uint32_t flags) {
  if ((flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) != 0) return false;
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  {
    std::lock_guard lock(impl_->mutex);
    unsigned kinds = 0;
    if (flags & PURGE_RXABORT) kinds |= kRead | kEvent;
    if (flags & PURGE_TXABORT) kinds |= kWrite;
    if (kinds != 0) impl_->EndWaiters(kinds);
  }
  bool ok = true;
  if ((flags & PURGE_RXCLEAR) && !posix_serial::FlushInput(call.fd())) ok = false;
  if ((flags & PURGE_TXCLEAR) && !posix_serial::FlushOutput(call.fd())) ok = false;
  return ok;
}

bool SerialPort::ClearCommError(uint32_t* errors, uint32_t* inQueue) {
  if (errors != nullptr) *errors = 0;
  if (inQueue != nullptr) *inQueue = 0;
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  int waiting = 0;
  if (inQueue != nullptr && Ioctl(call.fd(), FIONREAD, &waiting) && waiting > 0)
    *inQueue = static_cast<uint32_t>(waiting);
  return true;
}

bool SerialPort::EscapeCommFunction(uint32_t function) {
  Call call(*impl_, 0);
  if (!call.ok()) return false;
  std::lock_guard lock(impl_->mutex);
  Impl& port = *impl_;
  switch (function) {
    case SETXOFF: return posix_serial::SuspendOutput(call.fd(), true) || Refused(errno);
    case SETXON: return posix_serial::SuspendOutput(call.fd(), false) || Refused(errno);
    case SETRTS:
      if (!port.SetLine(TIOCM_RTS, true)) return false;
      port.rts = true;
      return true;
    case CLRRTS:
      if (!port.SetLine(TIOCM_RTS, false)) return false;
      port.rts = false;
      return true;
    case SETDTR:
      if (!port.SetLine(TIOCM_DTR, true)) return false;
      port.dtr = true;
      return true;
    case CLRDTR:
      if (!port.SetLine(TIOCM_DTR, false)) return false;
      port.dtr = false;
      return true;
    case SETBREAK:
      if (!port.SetBreakLine(true)) return false;
      port.brk = true;
      return true;
    case CLRBREAK:
      if (!port.SetBreakLine(false)) return false;
      port.brk = false;
      return true;
    default: return false;
  }
}

bool SerialPort::SetCommBreak() { return EscapeCommFunction(SETBREAK); }

bool SerialPort::ClearCommBreak() { return EscapeCommFunction(CLRBREAK); }

}  // namespace plat
