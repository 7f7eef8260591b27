#include "plat/event.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace plat {

// Closing a handle that another thread waits on is undefined on Windows, so
// Close only signals `closed`, which every wait includes; the handles go
// with the last reference.
struct Event::Impl {
  HANDLE event = nullptr;
  HANDLE closed = nullptr;  // manual-reset, set by Close

  ~Impl() {
    if (event) CloseHandle(event);
    if (closed) CloseHandle(closed);
  }
  bool IsClosed() const { return WaitForSingleObject(closed, 0) == WAIT_OBJECT_0; }
};

// An event that goes away, by destruction or by being assigned over, ends the
// waits still pending on it, as Close does.
Event::~Event() { Close(); }
Event::Event(Event&&) noexcept = default;
Event& Event::operator=(Event&& other) noexcept {
  if (this != &other) {
    Close();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

bool Event::Create(bool manualReset, bool initiallySet) {
  Close();
  auto impl = std::make_shared<Impl>();
  impl->event = CreateEventA(nullptr, manualReset, initiallySet, nullptr);
  impl->closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!impl->event || !impl->closed) return false;
  impl_ = std::move(impl);
  return true;
}

bool Event::IsValid() const { return impl_ && !impl_->IsClosed(); }

void Event::Close() {
  if (impl_) SetEvent(impl_->closed);
}

bool Event::Set() { return IsValid() && SetEvent(impl_->event); }
bool Event::Reset() { return IsValid() && ResetEvent(impl_->event); }

WaitResult Event::Wait(uint32_t ms) const {
  const Event* self = this;
  const WaitAnyResult r = WaitAny(std::span<const Event* const>(&self, 1), ms);
  return r.result;
}

// The waits include the close marker, so setting the raw handle from outside
// wakes them exactly as Set does.
void* Event::NotifyHandle() const { return IsValid() ? impl_->event : nullptr; }

bool SetNotifyHandle(void* handle) { return handle != nullptr && SetEvent(handle) != 0; }

WaitAnyResult Event::WaitAny(std::span<const Event* const> events, uint32_t ms) {
  // The close markers come first: a closed event fails the wait even when
  // another one is set. Each event appears once (the platform refuses a
  // handle twice in one wait); a repeat can never be the lowest set index.
  std::vector<std::shared_ptr<Impl>> held;
  std::vector<int> indexOf;
  for (size_t i = 0; i < events.size(); ++i) {
    if (!events[i] || !events[i]->impl_) return {};
    const auto& impl = events[i]->impl_;
    if (std::find(held.begin(), held.end(), impl) != held.end()) continue;
    held.push_back(impl);
    indexOf.push_back(static_cast<int>(i));
  }
  const size_t n = held.size();
  if (n == 0 || 2 * n > MAXIMUM_WAIT_OBJECTS) return {};
  std::vector<HANDLE> handles;
  for (const auto& impl : held) handles.push_back(impl->closed);
  for (const auto& impl : held) handles.push_back(impl->event);

  const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, RealMs(ms));
  if (r == WAIT_TIMEOUT) return {WaitResult::Timeout, -1};
  if (r >= WAIT_OBJECT_0 + n && r < WAIT_OBJECT_0 + 2 * n) return {WaitResult::Signaled, indexOf[r - WAIT_OBJECT_0 - n]};
  return {};
}

}  // namespace plat
