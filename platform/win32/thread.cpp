#include "plat/thread.h"

#include <windows.h>
#include <process.h>

namespace plat {

struct Thread::Impl {
  std::function<uint32_t()> body;
  HANDLE handle = nullptr;
  uint32_t exitCode = 0;  // kept after the join, so a second Join reports it again
};

namespace {

unsigned __stdcall ThreadMain(void* argument) { return static_cast<Thread::Impl*>(argument)->body(); }

int PriorityValue(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::AboveNormal: return THREAD_PRIORITY_ABOVE_NORMAL;
    case ThreadPriority::Highest: return THREAD_PRIORITY_HIGHEST;
    case ThreadPriority::Normal: break;
  }
  return THREAD_PRIORITY_NORMAL;
}

}  // namespace

Thread::Thread() = default;
Thread::~Thread() { Join(); }

Thread::Thread(Thread&&) noexcept = default;

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
  impl->body = std::move(body);
  // Suspended until the priority is set, so the body never runs at the
  // wrong one.
  const uintptr_t handle = _beginthreadex(nullptr, 0, &ThreadMain, impl.get(), CREATE_SUSPENDED, nullptr);
  if (handle == 0) return false;
  impl->handle = reinterpret_cast<HANDLE>(handle);
  if (priority != ThreadPriority::Normal) SetThreadPriority(impl->handle, PriorityValue(priority));
  ResumeThread(impl->handle);
  impl_ = std::move(impl);
  return true;
}

bool Thread::Joinable() const { return impl_ && impl_->handle; }

uint32_t Thread::Join() {
  if (!impl_) return 0;
  if (impl_->handle) {
    WaitForSingleObject(impl_->handle, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(impl_->handle, &code);
    CloseHandle(impl_->handle);
    impl_->handle = nullptr;
    impl_->exitCode = code;
  }
  return impl_->exitCode;
}

}  // namespace plat
