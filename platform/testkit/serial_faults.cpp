// The test kit's side of the serial-call seam (common/test_seams.h): the
// planned failures, counted down by the backend's calls. It is linked as an
// object, never from an archive, so that it replaces the product's
// definition, which fails nothing.
#include "testkit/serial_faults.h"

#include <atomic>

#include "common/test_seams.h"

namespace plat {
namespace {

// Constant-initialised: ready for calls made during static construction.
std::atomic<int> g_failOpens{0};
std::atomic<int> g_failGetCommState{0};
std::atomic<int> g_failSetCommState{0};

std::atomic<int>& Counter(detail::SerialCall call) {
  switch (call) {
    case detail::SerialCall::Open: return g_failOpens;
    case detail::SerialCall::GetCommState: return g_failGetCommState;
    case detail::SerialCall::SetCommState: break;
  }
  return g_failSetCommState;
}

}  // namespace

namespace detail {

// True when the call is to fail: a negative count fails every call, a
// positive one the next `count` calls.
bool SerialCallFails(SerialCall call) {
  std::atomic<int>& counter = Counter(call);
  int value = counter.load(std::memory_order_relaxed);
  for (;;) {
    if (value == 0) return false;
    if (value < 0) return true;
    if (counter.compare_exchange_weak(value, value - 1, std::memory_order_relaxed)) return true;
  }
}

}  // namespace detail

namespace serial_faults {

void FailOpens(int count) { g_failOpens.store(count, std::memory_order_relaxed); }
void FailGetCommState(int count) { g_failGetCommState.store(count, std::memory_order_relaxed); }
void FailSetCommState(int count) { g_failSetCommState.store(count, std::memory_order_relaxed); }
void Reset() {
  g_failOpens.store(0, std::memory_order_relaxed);
  g_failGetCommState.store(0, std::memory_order_relaxed);
  g_failSetCommState.store(0, std::memory_order_relaxed);
}

}  // namespace serial_faults
}  // namespace plat
