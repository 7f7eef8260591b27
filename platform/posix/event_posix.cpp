#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "event_internal.h"
#include "plat/event.h"
#include "plat/notify_record.h"

namespace plat {
namespace {

// One lock for the state of all events of the process: a wait on several
// events then reads them all under one lock, and an auto-reset event is
// consumed by whichever waiter takes the lock first. A waiting thread has a
// wake word of its own, registered with each event it waits on, so a Set
// wakes only the threads waiting on that event, and a Set that finds no
// waiter makes no system call. The thread sleeps on its word outside the
// lock (a futex, not a condition variable: a condition's waiter takes the
// lock back marked as contended, which costs every wait one more system call
// to release it).
struct Sleeper {
  std::atomic<uint32_t> woken{0};

  // Sleeps while the word is 0, until `deadline` (nullptr: no limit) or a
  // wake; a wake may also be spurious.
  void Sleep(const timespec* deadline) {
    ::syscall(SYS_futex, &woken, FUTEX_WAIT_BITSET_PRIVATE, 0u, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  }
  void Wake() {
    woken.store(1, std::memory_order_release);
    ::syscall(SYS_futex, &woken, FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
  }
};
using SleeperRef = std::shared_ptr<Sleeper>;

struct Hub {
  std::mutex mutex;
};

Hub& TheHub() {
  // Never destroyed: threads may still wait while static objects are torn down.
  static Hub* hub = new Hub;
  return *hub;
}

// The layout that plat/notify_record.h tells other languages.
static_assert(offsetof(NuvoNotifyRecord, self) == 8 && offsetof(NuvoNotifyRecord, set) == 8 + sizeof(void*) &&
              offsetof(NuvoNotifyRecord, context) == 8 + 2 * sizeof(void*) &&
              sizeof(NuvoNotifyRecord) == 8 + 3 * sizeof(void*) && alignof(NuvoNotifyRecord) == alignof(void*));

// An event's handle, made the first time it is asked for and never freed:
// another copy of this layer may keep the handle as long as it likes. The
// event is held weakly, so a handle that outlived its event sets nothing.
// The record is read by whichever copy of this layer is handed the handle (a
// module loaded at run time has its own copy, with its own hub); its
// function belongs to the copy that made the event and sets it under that
// copy's lock.
struct OwnRecord {
  NuvoNotifyRecord record;
  std::weak_ptr<Event::Impl> event;  // written once, before the handle is handed out
};

// This copy's records; reachable until the process ends.
std::vector<std::unique_ptr<OwnRecord>>& Records() {
  static auto* records = new std::vector<std::unique_ptr<OwnRecord>>;
  return *records;
}

int SetFromRecord(void* context);

}  // namespace

struct Event::Impl {
  bool manualReset = false;
  bool set = false;
  bool closed = false;
  OwnRecord* record = nullptr;  // made with the first NotifyHandle; guarded by the hub's lock
  std::vector<SleeperRef> sleepers;  // threads waiting on this event; guarded by the hub's lock

  static std::shared_ptr<Impl> Of(const Event& event) { return event.impl_; }

  // Takes the signal if there is one; caller holds the hub's lock.
  bool TryConsume() {
    if (!set) return false;
    if (!manualReset) set = false;
    return true;
  }
};

namespace {

// Under the hub's lock: the threads to wake for a change of `impl`. They are
// woken after the lock is released (Wake), so that none wakes only to wait
// for the lock; the references keep their sleepers alive until then.
std::vector<SleeperRef> ToWake(const Event::Impl& impl) { return impl.sleepers; }

void Wake(const std::vector<SleeperRef>& sleepers) {
  for (const SleeperRef& sleeper : sleepers) sleeper->Wake();
}

// Sets `impl` unless it has been closed; false then.
bool SetImpl(Event::Impl& impl) {
  std::vector<SleeperRef> wake;
  {
    std::lock_guard lock(TheHub().mutex);
    if (impl.closed) return false;
    impl.set = true;
    wake = ToWake(impl);
  }
  Wake(wake);
  return true;
}

int SetFromRecord(void* context) {
  const std::shared_ptr<Event::Impl> impl = static_cast<OwnRecord*>(context)->event.lock();
  return impl && SetImpl(*impl) ? 1 : 0;
}

using Clock = std::chrono::steady_clock;

// Waits, registered with each of `impls`, until `ready` returns true or the
// time-out passes; false on time-out. `ready` runs under the hub's lock,
// which is released while the thread sleeps on `sleeper` (made before the
// lock was taken, so that no allocation holds up a Set).
template <typename Ready>
bool WaitOnHub(std::unique_lock<std::mutex>& lock, const SleeperRef& sleeper,
               std::span<const std::shared_ptr<Event::Impl>> impls, uint32_t ms, Ready ready) {
  if (ready()) return true;
  if (ms == 0) return false;
  const bool timed = ms != INFINITE;
  Clock::time_point until{};
  timespec deadline{};
  if (timed) {
    until = Clock::now() + std::chrono::milliseconds(RealMs(ms));
    // The steady clock is the monotonic one, which the futex's deadline uses.
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch()).count();
    deadline.tv_sec = static_cast<time_t>(ns / 1000000000);
    deadline.tv_nsec = static_cast<long>(ns % 1000000000);
  }
  for (const auto& impl : impls) impl->sleepers.push_back(sleeper);
  bool ended;
  for (;;) {
    // Cleared under the lock: a change made after this look comes with a wake
    // that either finds the word set before the sleep begins or ends it.
    sleeper->woken.store(0, std::memory_order_relaxed);
    lock.unlock();
    sleeper->Sleep(timed ? &deadline : nullptr);
    lock.lock();
    if (ready()) {
      ended = true;
      break;
    }
    if (timed && Clock::now() >= until) {
      ended = false;
      break;
    }
  }
  for (const auto& impl : impls) std::erase(impl->sleepers, sleeper);
  return ended;
}

}  // namespace

Event::~Event() { Close(); }

Event::Event(Event&& other) noexcept {
  std::lock_guard lock(TheHub().mutex);
  impl_ = std::move(other.impl_);
}

Event& Event::operator=(Event&& other) noexcept {
  if (this == &other) return *this;
  Close();
  std::lock_guard lock(TheHub().mutex);
  impl_ = std::move(other.impl_);
  return *this;
}

bool Event::Create(bool manualReset, bool initiallySet) {
  Close();
  auto impl = std::make_shared<Impl>();
  impl->manualReset = manualReset;
  impl->set = initiallySet;
  std::lock_guard lock(TheHub().mutex);
  impl_ = std::move(impl);
  return true;
}

bool Event::IsValid() const {
  std::lock_guard lock(TheHub().mutex);
  return impl_ != nullptr;
}

void Event::Close() {
  std::shared_ptr<Impl> impl;
  std::vector<SleeperRef> wake;
  {
    std::lock_guard lock(TheHub().mutex);
    if (!impl_) return;
    impl = std::move(impl_);
    impl->closed = true;
    wake = ToWake(*impl);
  }
  Wake(wake);
}

bool Event::Set() {
  std::vector<SleeperRef> wake;
  {
    std::lock_guard lock(TheHub().mutex);
    if (!impl_) return false;
    impl_->set = true;
    wake = ToWake(*impl_);
  }
  Wake(wake);
  return true;
}

bool Event::Reset() {
  std::lock_guard lock(TheHub().mutex);
  if (!impl_) return false;
  impl_->set = false;
  return true;
}

WaitResult Event::Wait(uint32_t ms) const {
  const SleeperRef sleeper = std::make_shared<Sleeper>();
  std::unique_lock lock(TheHub().mutex);
  // A copy: Close() on another thread may drop this object's reference.
  const std::shared_ptr<Impl> impl = impl_;
  if (!impl) return WaitResult::Failed;
  bool signaled = false;
  const bool ended =
      WaitOnHub(lock, sleeper, std::span(&impl, 1), ms, [&] { return impl->closed || (signaled = impl->TryConsume()); });
  if (!ended) return WaitResult::Timeout;
  return signaled ? WaitResult::Signaled : WaitResult::Failed;
}

void* Event::NotifyHandle() const {
  std::lock_guard lock(TheHub().mutex);
  if (!impl_) return nullptr;
  if (impl_->record == nullptr) {
    auto own = std::make_unique<OwnRecord>();
    own->record = {NUVO_NOTIFY_MAGIC, NUVO_NOTIFY_VERSION, &own->record, &SetFromRecord, own.get()};
    own->event = impl_;
    impl_->record = own.get();
    Records().push_back(std::move(own));
  }
  return &impl_->record->record;
}

// A handle comes from outside: from our own events, from another copy of
// this layer (the module's, or the program's that loaded it), from a caller
// in another language, or by mistake from anywhere (a stale or made-up
// value). Windows' SetEvent fails on a bad handle; here it must be refused
// just as harmlessly, never read where it cannot be read, and no function
// pointer may be called unless it is part of a record.
//
// Why this check: a list of the records this copy made does not know those
// of other copies or foreign callers, and a list shared by all copies would
// need a symbol that the module's export list hides and that a foreign caller
// could not reach. Reading the memory directly faults on an unmapped address,
// and catching the fault would take the process's signal handling. Asking
// whether the pages are mapped (mincore, msync) says nothing of whether they
// are readable, and they may go between the look and the read. So the kernel
// copies the candidate's bytes (CopyIfReadable), failing instead of faulting
// on any byte that cannot be read, and the copy is checked and used, so that
// nothing can change between check and call. A record carries its own
// address: memory that happens to hold the magic is not taken for one, nor
// is a copy of a record, and the magic and version refuse other layouts (the
// earlier one had no version field and another magic).
bool SetNotifyHandle(void* handle) {
  if (handle == nullptr || reinterpret_cast<uintptr_t>(handle) % alignof(NuvoNotifyRecord) != 0) return false;
  NuvoNotifyRecord record;
  if (!posix::CopyIfReadable(handle, &record, sizeof record)) return false;
  if (record.magic != NUVO_NOTIFY_MAGIC || record.version != NUVO_NOTIFY_VERSION || record.self != handle ||
      record.set == nullptr)
    return false;
  return record.set(record.context) != 0;
}

WaitAnyResult Event::WaitAny(std::span<const Event* const> events, uint32_t ms) {
  const SleeperRef sleeper = std::make_shared<Sleeper>();
  std::unique_lock lock(TheHub().mutex);
  std::vector<std::shared_ptr<Impl>> impls;
  impls.reserve(events.size());
  for (const Event* event : events) {
    if (event == nullptr || !event->impl_) return {};
    impls.push_back(event->impl_);
  }
  if (impls.empty()) return {};

  WaitAnyResult outcome;
  const auto ready = [&] {
    for (const auto& impl : impls) {
      if (impl->closed) return true;  // outcome stays Failed
    }
    for (size_t i = 0; i < impls.size(); ++i) {
      if (impls[i]->TryConsume()) {
        outcome = {WaitResult::Signaled, static_cast<int>(i)};
        return true;
      }
    }
    return false;
  };
  if (!WaitOnHub(lock, sleeper, impls, ms, ready)) return {WaitResult::Timeout, -1};
  return outcome;
}

namespace posix {

EventRef RetainEvent(const Event& event) {
  std::lock_guard lock(TheHub().mutex);
  return Event::Impl::Of(event);
}

void SetRetained(const EventRef& event) {
  if (event) SetImpl(*event);
}

namespace {

// Set once the system refuses process_vm_readv (a sandbox's system-call
// filter: EPERM or ENOSYS); the pipe does the same copy then.
std::atomic<bool> vmReadRefused{false};

// 1 copied, 0 not readable, -1 the call itself was refused.
int CopyByVmRead(const void* address, void* out, size_t size) {
  iovec local{out, size};
  iovec remote{const_cast<void*>(address), size};
  const ssize_t copied = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
  if (copied == static_cast<ssize_t>(size)) return 1;
  // Short, or failed (EFAULT): the bytes run into memory that cannot be read.
  if (copied < 0 && (errno == EPERM || errno == ENOSYS)) return -1;
  return 0;
}

// The kernel reads the bytes to put them in the pipe, and fails the write
// with EFAULT when it cannot. A pipe of its own for each copy: nothing of
// another call's can be in it, and up to PIPE_BUF bytes (far more than a
// record) go into an empty pipe at once, never blocking.
bool CopyByPipe(const void* address, void* out, size_t size) {
  if (size > PIPE_BUF) return false;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const bool copied = ::write(fds[1], address, size) == static_cast<ssize_t>(size) &&
                      ::read(fds[0], out, size) == static_cast<ssize_t>(size);
  ::close(fds[0]);
  ::close(fds[1]);
  return copied;
}

}  // namespace

bool CopyIfReadable(const void* address, void* out, size_t size, Probe probe) {
  if (probe == Probe::Pipe) return CopyByPipe(address, out, size);
  if (probe == Probe::Any && vmReadRefused.load(std::memory_order_relaxed)) return CopyByPipe(address, out, size);
  const int copied = CopyByVmRead(address, out, size);
  if (copied >= 0 || probe == Probe::VmRead) return copied > 0;
  vmReadRefused.store(true, std::memory_order_relaxed);
  return CopyByPipe(address, out, size);
}

}  // namespace posix
}  // namespace plat
