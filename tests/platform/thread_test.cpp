#include "plat/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "plat/event.h"

namespace {

using plat::Thread;
using plat::ThreadPriority;

struct ExitCase {
  ThreadPriority priority;
  uint32_t code;
};

TEST(Thread, JoinReturnsTheBodysResultAtEveryPriority) {
  const ExitCase cases[] = {
      {ThreadPriority::Normal, 0},
      {ThreadPriority::Normal, 7},
      {ThreadPriority::AboveNormal, 1},
      {ThreadPriority::Highest, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) {
    Thread thread;
    std::atomic<bool> ran{false};
    ASSERT_TRUE(thread.Start(
        [&] {
          ran = true;
          return c.code;
        },
        c.priority));
    EXPECT_TRUE(thread.Joinable());
    EXPECT_EQ(thread.Join(), c.code);
    EXPECT_TRUE(ran.load());
    EXPECT_FALSE(thread.Joinable());
    EXPECT_EQ(thread.Join(), c.code) << "a second Join reports the same code";
  }
}

TEST(Thread, NothingStartedJoinsWithZero) {
  Thread thread;
  EXPECT_FALSE(thread.Joinable());
  EXPECT_EQ(thread.Join(), 0u);
}

TEST(Thread, StartRefusedWhileAThreadIsHeld) {
  plat::Event release;
  ASSERT_TRUE(release.Create(true, false));
  Thread thread;
  ASSERT_TRUE(thread.Start([&] { return release.Wait(plat::INFINITE) == plat::WaitResult::Signaled ? 5u : 6u; }));
  EXPECT_FALSE(thread.Start([] { return 9u; }));
  release.Set();
  EXPECT_EQ(thread.Join(), 5u);
}

TEST(Thread, DestructorWaitsForTheBody) {
  std::atomic<bool> finished{false};
  plat::Event started;
  ASSERT_TRUE(started.Create(true, false));
  {
    Thread thread;
    ASSERT_TRUE(thread.Start([&] {
      started.Set();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      finished = true;
      return 0u;
    }));
    ASSERT_EQ(started.Wait(10000), plat::WaitResult::Signaled);
  }
  EXPECT_TRUE(finished.load());
}

TEST(Thread, MovesCarryTheThread) {
  Thread a;
  ASSERT_TRUE(a.Start([] { return 3u; }));
  Thread b(std::move(a));
  EXPECT_FALSE(a.Joinable());
  Thread c;
  ASSERT_TRUE(c.Start([] { return 4u; }));
  c = std::move(b);  // joins the thread c held
  EXPECT_EQ(c.Join(), 3u);
}

}  // namespace
