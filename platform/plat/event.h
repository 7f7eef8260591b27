// Events with the platform's semantics: manual-reset (stays set until Reset)
// or auto-reset (one Set releases exactly one wait), and a wait on several
// events that reports the first set event in list order.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "plat/clock.h"

namespace plat {

enum class WaitResult { Signaled, Timeout, Failed };

struct WaitAnyResult {
  WaitResult result = WaitResult::Failed;
  int index = -1;  // the event that ended the wait when Signaled
};

class Event {
 public:
  Event() = default;  // no event: every operation fails
  ~Event();
  Event(Event&&) noexcept;
  Event& operator=(Event&&) noexcept;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  // Creates the event; false when the platform refuses.
  bool Create(bool manualReset, bool initiallySet);
  bool IsValid() const;
  // Releases the event; waits still pending on it end with Failed.
  void Close();

  bool Set();
  bool Reset();

  // Waits up to `ms` of system time (INFINITE for no limit).
  WaitResult Wait(uint32_t ms) const;

  // Waits for any of `events`; when several are set the lowest index wins
  // (and only that one is consumed if it is auto-reset). A null or invalid
  // entry makes the wait fail at once.
  static WaitAnyResult WaitAny(std::span<const Event* const> events, uint32_t ms);

  // A handle for code that knows nothing of this class, such as a module
  // loaded at run time with a platform layer of its own: SetNotifyHandle sets
  // the event through it. On Windows it is the event's HANDLE, elsewhere the
  // address of a NuvoNotifyRecord (plat/notify_record.h). Null for no event.
  // Keep the event while anything may set it through the handle; a handle
  // that outlives its event sets nothing (on Windows, as any closed HANDLE,
  // it may name another object by then).
  void* NotifyHandle() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// Sets the event behind a handle from Event::NotifyHandle, whichever copy of
// the platform layer made it (elsewhere than on Windows also a record that
// another caller made, plat/notify_record.h); false for a null handle, when
// the event cannot be set, and for a value that is no handle, which is
// ignored without a fault.
bool SetNotifyHandle(void* handle);

}  // namespace plat
