#include "plat/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "plat/clock.h"

namespace {

using plat::Event;
using plat::WaitResult;
using RealClock = std::chrono::steady_clock;

Event Make(bool manualReset, bool initiallySet) {
  Event event;
  EXPECT_TRUE(event.Create(manualReset, initiallySet));
  return event;
}

// Polls `done` for up to 5 real seconds; for conditions another thread makes true.
template <typename Done>
bool Eventually(Done done) {
  const auto deadline = RealClock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (RealClock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

struct InitialStateCase {
  bool manualReset;
  bool initiallySet;
  WaitResult first;
  WaitResult second;
};

TEST(Event, InitialStateAndConsumption) {
  const InitialStateCase cases[] = {
      {false, false, WaitResult::Timeout, WaitResult::Timeout},
      {false, true, WaitResult::Signaled, WaitResult::Timeout},  // the first wait consumes it
      {true, false, WaitResult::Timeout, WaitResult::Timeout},
      {true, true, WaitResult::Signaled, WaitResult::Signaled},  // stays set
  };
  for (const auto& c : cases) {
    Event event = Make(c.manualReset, c.initiallySet);
    EXPECT_TRUE(event.IsValid());
    EXPECT_EQ(event.Wait(0), c.first) << c.manualReset << c.initiallySet;
    EXPECT_EQ(event.Wait(0), c.second) << c.manualReset << c.initiallySet;
  }
}

TEST(Event, SetAndReset) {
  for (const bool manualReset : {false, true}) {
    Event event = Make(manualReset, false);
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Set());  // a second Set does not count twice
    EXPECT_EQ(event.Wait(0), WaitResult::Signaled) << manualReset;
    EXPECT_EQ(event.Wait(0), manualReset ? WaitResult::Signaled : WaitResult::Timeout) << manualReset;
    EXPECT_TRUE(event.Set());
    EXPECT_TRUE(event.Reset());
    EXPECT_EQ(event.Wait(0), WaitResult::Timeout) << manualReset;
  }
}

TEST(Event, NoEventFailsEveryOperation) {
  Event none;
  Event moved = Make(true, true);
  Event target = std::move(moved);
  Event closed = Make(true, true);
  closed.Close();
  for (Event* event : {&none, &moved, &closed}) {
    EXPECT_FALSE(event->IsValid());
    EXPECT_FALSE(event->Set());
    EXPECT_FALSE(event->Reset());
    EXPECT_EQ(event->Wait(0), WaitResult::Failed);
    EXPECT_EQ(event->Wait(10), WaitResult::Failed);
    const Event* list[] = {event};
    EXPECT_EQ(Event::WaitAny(list, 0).result, WaitResult::Failed);
  }
  EXPECT_EQ(target.Wait(0), WaitResult::Signaled);  // the move took the state along
}

TEST(Event, MoveAssignmentReleasesTheOldEvent) {
  // A waiter that reached its wait only after the move waits on the new,
  // set event and says nothing about the old one: such a round is run again.
  for (int round = 0; round < 20; ++round) {
    Event a = Make(true, false);
    Event b = Make(true, true);
    std::atomic<bool> started{false};
    WaitResult result = WaitResult::Timeout;
    std::thread waiter([&] {
      started = true;
      result = a.Wait(5000);  // bounded: a move that left the old wait running ends it as Timeout
    });
    ASSERT_TRUE(Eventually([&] { return started.load(); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely waiting by now
    a = std::move(b);
    waiter.join();
    EXPECT_EQ(a.Wait(0), WaitResult::Signaled);
    if (result == WaitResult::Signaled) continue;
    EXPECT_EQ(result, WaitResult::Failed);
    return;
  }
  FAIL() << "the waiter never began its wait before the move";
}

TEST(Event, TimeoutWaitsAtLeastItsTime) {
  plat::SetTimeScale(1);
  Event event = Make(false, false);
  const auto start = RealClock::now();
  EXPECT_EQ(event.Wait(50), WaitResult::Timeout);
  const auto waited = RealClock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(45));
  EXPECT_LT(waited, std::chrono::seconds(3));
}

TEST(Event, TimeoutIsScaled) {
  plat::SetTimeScale(100);
  Event event = Make(true, false);
  const auto start = RealClock::now();
  EXPECT_EQ(event.Wait(1000), WaitResult::Timeout);  // 10 real ms
  const Event* list[] = {&event};
  EXPECT_EQ(Event::WaitAny(list, 1000).result, WaitResult::Timeout);
  const auto waited = RealClock::now() - start;
  plat::SetTimeScale(1);
  EXPECT_GE(waited, std::chrono::milliseconds(18));
  EXPECT_LT(waited, std::chrono::milliseconds(900));
}

TEST(Event, SetFromAnotherThreadEndsAWait) {
  for (const bool manualReset : {false, true}) {
    Event event = Make(manualReset, false);
    std::thread setter([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      event.Set();
    });
    const auto start = RealClock::now();
    EXPECT_EQ(event.Wait(10000), WaitResult::Signaled) << manualReset;
    EXPECT_LT(RealClock::now() - start, std::chrono::seconds(5));
    setter.join();
  }
}

// The handle is what code without this class (another module, with a
// platform layer of its own) is given to set the event.
TEST(Event, NotifyHandleSetsTheEventAsSetDoes) {
  for (const bool manualReset : {false, true}) {
    SCOPED_TRACE(manualReset);
    Event event = Make(manualReset, false);
    void* const handle = event.NotifyHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(event.NotifyHandle(), handle);
    EXPECT_TRUE(plat::SetNotifyHandle(handle));
    EXPECT_EQ(event.Wait(0), WaitResult::Signaled);
    EXPECT_EQ(event.Wait(0), manualReset ? WaitResult::Signaled : WaitResult::Timeout);
    ASSERT_TRUE(event.Reset());

    // A wait in progress ends, and a moved event keeps its handle.
    Event moved = std::move(event);
    EXPECT_EQ(moved.NotifyHandle(), handle);
    EXPECT_EQ(event.NotifyHandle(), nullptr);
    std::atomic<bool> started{false};
    std::thread waiter([&] {
      started = true;
      EXPECT_EQ(moved.Wait(plat::INFINITE), WaitResult::Signaled);
    });
    ASSERT_TRUE(Eventually([&] { return started.load(); }));
    EXPECT_TRUE(plat::SetNotifyHandle(handle));
    waiter.join();
  }
}

TEST(Event, NoEventHasNoNotifyHandle) {
  Event none;
  Event closed = Make(true, false);
  closed.Close();
  EXPECT_EQ(none.NotifyHandle(), nullptr);
  EXPECT_EQ(closed.NotifyHandle(), nullptr);
  EXPECT_FALSE(plat::SetNotifyHandle(nullptr));
#if !defined(_WIN32)
  // Not a handle of any event: refused, not followed.
  uint32_t notAnEvent[4] = {};
  EXPECT_FALSE(plat::SetNotifyHandle(notAnEvent));
#endif
}

#if !defined(_WIN32)
// A module may go on setting a handle after its user's event has gone; here
// the memory stays valid and the set does nothing.
TEST(Event, AHandleThatOutlivedItsEventSetsNothing) {
  void* closedHandle = nullptr;
  void* destroyedHandle = nullptr;
  {
    Event closed = Make(true, false);
    closedHandle = closed.NotifyHandle();
    closed.Close();
    EXPECT_FALSE(plat::SetNotifyHandle(closedHandle));
    Event destroyed = Make(false, false);
    destroyedHandle = destroyed.NotifyHandle();
  }
  EXPECT_FALSE(plat::SetNotifyHandle(closedHandle));
  EXPECT_FALSE(plat::SetNotifyHandle(destroyedHandle));
  // Another event made since has a handle of its own.
  Event later = Make(true, false);
  EXPECT_NE(later.NotifyHandle(), destroyedHandle);
  EXPECT_FALSE(plat::SetNotifyHandle(destroyedHandle));
  EXPECT_EQ(later.Wait(0), WaitResult::Timeout);
}
#endif

// Counts the waits on `event` that end Signaled, from `waiters` threads.
class Waiters {
 public:
  Waiters(const Event& event, int waiters) {
    for (int i = 0; i < waiters; ++i) {
      threads_.emplace_back([&event, this] {
        const WaitResult result = event.Wait(plat::INFINITE);
        if (result == WaitResult::Signaled) ++released_;
        else ++failed_;
      });
    }
  }
  ~Waiters() { Join(); }
  void Join() {
    for (auto& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  int Released() const { return released_; }
  int Failed() const { return failed_; }

 private:
  std::atomic<int> released_{0};
  std::atomic<int> failed_{0};
  std::vector<std::thread> threads_;
};

TEST(Event, AutoResetReleasesExactlyOneWaitPerSet) {
  Event event = Make(false, false);
  Waiters waiters(event, 2);
  ASSERT_TRUE(event.Set());
  ASSERT_TRUE(Eventually([&] { return waiters.Released() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(waiters.Released(), 1) << "one Set released both waits";
  EXPECT_EQ(event.Wait(0), WaitResult::Timeout) << "the released wait did not consume the signal";
  ASSERT_TRUE(event.Set());
  ASSERT_TRUE(Eventually([&] { return waiters.Released() == 2; }));
  waiters.Join();
  EXPECT_EQ(event.Wait(0), WaitResult::Timeout);
}

TEST(Event, ManualResetReleasesAllWaits) {
  Event event = Make(true, false);
  Waiters waiters(event, 3);
  ASSERT_TRUE(event.Set());
  ASSERT_TRUE(Eventually([&] { return waiters.Released() == 3; }));
  waiters.Join();
  EXPECT_EQ(event.Wait(0), WaitResult::Signaled);
}

TEST(Event, CloseEndsPendingWaitsWithFailed) {
  Event event = Make(false, false);
  Event other = Make(false, false);
  Waiters waiters(event, 2);
  std::atomic<int> anyResult{-1};
  std::thread anyWaiter([&] {
    const Event* list[] = {&other, &event};
    anyResult = static_cast<int>(Event::WaitAny(list, plat::INFINITE).result);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely waiting by now
  event.Close();
  ASSERT_TRUE(Eventually([&] { return waiters.Failed() == 2 && anyResult.load() != -1; }));
  anyWaiter.join();
  EXPECT_EQ(waiters.Released(), 0);
  EXPECT_EQ(anyResult.load(), static_cast<int>(WaitResult::Failed));
  EXPECT_EQ(other.Wait(0), WaitResult::Timeout);
}

// WaitAny over {auto, auto, manual, auto}: which of them are set before the
// wait, which index wins, and which events stay set afterwards.
struct WaitAnyCase {
  std::vector<bool> set;
  int winner;
  std::vector<bool> setAfter;
};

TEST(Event, WaitAnyLowestSetIndexWinsAndOnlyItIsConsumed) {
  const bool manual[] = {false, false, true, false};
  const WaitAnyCase cases[] = {
      {{true, false, false, false}, 0, {false, false, false, false}},
      {{false, true, true, true}, 1, {false, false, true, true}},
      {{false, false, true, true}, 2, {false, false, true, true}},  // manual: not consumed
      {{false, false, false, true}, 3, {false, false, false, false}},
      {{true, true, true, true}, 0, {false, true, true, true}},
  };
  for (size_t n = 0; n < std::size(cases); ++n) {
    const auto& c = cases[n];
    Event events[4];
    const Event* list[4];
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(events[i].Create(manual[i], c.set[i]));
      list[i] = &events[i];
    }
    const plat::WaitAnyResult result = Event::WaitAny(list, 0);
    EXPECT_EQ(result.result, WaitResult::Signaled) << "case " << n;
    EXPECT_EQ(result.index, c.winner) << "case " << n;
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(events[i].Wait(0) == WaitResult::Signaled, c.setAfter[i]) << "case " << n << " event " << i;
    }
  }
}

TEST(Event, WaitAnyTimesOutWhenNoneIsSet) {
  Event a = Make(false, false);
  Event b = Make(true, false);
  const Event* list[] = {&a, &b};
  EXPECT_EQ(Event::WaitAny(list, 0).result, WaitResult::Timeout);
  EXPECT_EQ(Event::WaitAny(list, 30).result, WaitResult::Timeout);
}

TEST(Event, WaitAnyFailsOnBadLists) {
  Event set = Make(true, true);
  Event none;
  const Event* withNull[] = {&set, nullptr};
  const Event* withInvalid[] = {&set, &none};
  EXPECT_EQ(Event::WaitAny(withNull, 0).result, WaitResult::Failed);
  EXPECT_EQ(Event::WaitAny(withInvalid, 0).result, WaitResult::Failed);
  EXPECT_EQ(Event::WaitAny({}, 0).result, WaitResult::Failed);
}

TEST(Event, WaitAnyWakesForALaterEntry) {
  Event stop = Make(false, false);
  Event changed = Make(false, false);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    changed.Set();
  });
  const Event* list[] = {&stop, &changed};
  const plat::WaitAnyResult result = Event::WaitAny(list, plat::INFINITE);
  setter.join();
  EXPECT_EQ(result.result, WaitResult::Signaled);
  EXPECT_EQ(result.index, 1);
  EXPECT_EQ(changed.Wait(0), WaitResult::Timeout);
}

TEST(Event, ManySetsAndWaitsFromSeveralThreadsLoseNoRelease) {
  // Every Set of an auto-reset event that happens while no signal is
  // pending must release exactly one wait: the setters wait for their
  // signal to be taken before they set again.
  Event event = Make(false, false);
  Event taken = Make(false, false);
  constexpr int kRounds = 200;
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (int w = 0; w < 3; ++w) {
    waiters.emplace_back([&] {
      for (;;) {
        if (event.Wait(plat::INFINITE) != WaitResult::Signaled) return;
        ++released;
        taken.Set();
      }
    });
  }
  for (int i = 0; i < kRounds; ++i) {
    ASSERT_TRUE(event.Set());
    ASSERT_EQ(taken.Wait(10000), WaitResult::Signaled) << "round " << i;
  }
  event.Close();
  for (auto& thread : waiters) thread.join();
  EXPECT_EQ(released.load(), kRounds);
}

}  // namespace
