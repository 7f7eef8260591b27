#include "plat/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <system_error>
#include <thread>

namespace plat {

struct Thread::Impl {
  std::thread thread;
  // Shared with the thread, which may outlive this object when it was
  // detached (a thread that ends its own Thread object).
  std::shared_ptr<uint32_t> exitCode = std::make_shared<uint32_t>(0);
};

namespace {

// Raising a thread's share of the processor: real-time policies would let a
// spinning thread starve the machine, so the hint is a lower nice value for
// this one thread, which unprivileged users are refused (and then ignore).
void ApplyPriority(ThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case ThreadPriority::Normal: return;
    case ThreadPriority::AboveNormal: nice = -5; break;
    case ThreadPriority::Highest: nice = -10; break;
  }
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  (void)::setpriority(PRIO_PROCESS, tid, nice);
}

}  // namespace

Thread::Thread() = default;

Thread::~Thread() { Join(); }

Thread::Thread(Thread&& other) noexcept = default;

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    Join();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

bool Thread::Start(std::function<uint32_t()> body, ThreadPriority priority) {
  if (Joinable() || !body) return false;
  auto impl = std::make_unique<Impl>();
  try {
    impl->thread = std::thread([code = impl->exitCode, priority, body = std::move(body)] {
      ApplyPriority(priority);
      *code = body();
    });
  } catch (const std::system_error&) {
    return false;
  }
  impl_ = std::move(impl);
  return true;
}

bool Thread::Joinable() const { return impl_ && impl_->thread.joinable(); }

uint32_t Thread::Join() {
  if (!impl_) return 0;
  if (impl_->thread.joinable()) {
    if (impl_->thread.get_id() == std::this_thread::get_id()) {
      // A thread cannot wait for itself; let it run to its end on its own.
      impl_->thread.detach();
      impl_.reset();
      return 0;
    }
    impl_->thread.join();
  }
  return *impl_->exitCode;
}

}  // namespace plat
