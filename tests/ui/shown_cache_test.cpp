#include "ui/common/shown_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"
#include "ui_test_support.h"

namespace {

using ui::WindowHandle;
using ui::detail::Forget;
using ui::detail::OtherWrite;
using ui::detail::SendProgressOnce;
using ui::detail::SendTextOnce;
using ui_test::kDeadline;

// Windows the raw sends write to, as a UI thread would. The raw sends are
// plain functions, so they reach the fixture through a global.
struct FakeWindows {
  std::mutex mutex;
  std::map<WindowHandle, std::string> text;
  std::map<WindowHandle, int> progress;
  std::atomic<int> sends{0};
  // Runs inside each raw send, after it has written (the round trip's end).
  std::function<void(WindowHandle, const std::string&)> afterTextSend;

  std::string Text(WindowHandle w) {
    std::lock_guard lock(mutex);
    return text[w];
  }
  int Progress(WindowHandle w) {
    std::lock_guard lock(mutex);
    return progress[w];
  }
  void SetText(WindowHandle w, const std::string& value) {
    std::lock_guard lock(mutex);
    text[w] = value;
  }
};

FakeWindows* g_windows = nullptr;

void RawText(WindowHandle w, const char* text) {
  ++g_windows->sends;
  g_windows->SetText(w, text);
  if (g_windows->afterTextSend) g_windows->afterTextSend(w, text);
}

void RawProgress(WindowHandle w, int position) {
  ++g_windows->sends;
  std::lock_guard lock(g_windows->mutex);
  g_windows->progress[w] = position;
}

// Handles of their own, far from the headless backend's, so that what these
// tests teach the cache meets no real window.
WindowHandle TestWindow(int n) { return WindowHandle{0x7F000000} + static_cast<WindowHandle>(n); }

class ShownCacheTest : public ::testing::Test {
 protected:
  ShownCacheTest() { g_windows = &windows_; }
  ~ShownCacheTest() override {
    for (int n = 0; n < 8; ++n) Forget(TestWindow(n));
    g_windows = nullptr;
  }
  // Sends `text` and tells whether the raw send ran.
  bool Text(WindowHandle w, const std::string& text) {
    const int before = windows_.sends;
    SendTextOnce(w, text.c_str(), RawText);
    return windows_.sends != before;
  }
  bool Progress(WindowHandle w, int position) {
    const int before = windows_.sends;
    SendProgressOnce(w, position, RawProgress);
    return windows_.sends != before;
  }
  void Other(WindowHandle w, const std::string& text) {
    OtherWrite(w, [&] { windows_.SetText(w, text); });
  }

  FakeWindows windows_;
};

TEST_F(ShownCacheTest, ARepeatIsLeftOutUntilSomethingElseMayHaveChangedTheWindow) {
  enum Op { kText, kProgress, kOther, kForget };
  struct Step {
    Op op;
    int window;
    std::string text;
    int position;
    bool sent;  // for kText and kProgress
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"the same text twice", {{kText, 0, "a", 0, true}, {kText, 0, "a", 0, false}}},
      {"an empty text is remembered too", {{kText, 0, "", 0, true}, {kText, 0, "", 0, false}}},
      {"another text in between", {{kText, 0, "a", 0, true}, {kText, 0, "b", 0, true}, {kText, 0, "a", 0, true}}},
      {"another write in between",
       {{kText, 0, "a", 0, true}, {kOther, 0, "b", 0, false}, {kText, 0, "a", 0, true}, {kText, 0, "a", 0, false}}},
      {"another write of the very text", {{kText, 0, "a", 0, true}, {kOther, 0, "a", 0, false}, {kText, 0, "a", 0, true}}},
      {"a forgotten window", {{kText, 0, "a", 0, true}, {kForget, 0, "", 0, false}, {kText, 0, "a", 0, true}}},
      {"windows apart", {{kText, 0, "a", 0, true}, {kText, 1, "a", 0, true}, {kText, 0, "a", 0, false}}},
      {"the same position twice", {{kProgress, 0, "", 57, true}, {kProgress, 0, "", 57, false}}},
      {"text and position apart",
       {{kProgress, 0, "", 5, true}, {kText, 0, "5", 0, true}, {kProgress, 0, "", 5, false}, {kText, 0, "5", 0, false}}},
      {"another write forgets the position too", {{kProgress, 0, "", 5, true}, {kOther, 0, "x", 0, false}, {kProgress, 0, "", 5, true}}},
      {"a forgotten position", {{kProgress, 0, "", 5, true}, {kForget, 0, "", 0, false}, {kProgress, 0, "", 5, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int n = 0; n < 2; ++n) Forget(TestWindow(n));
    int index = 0;
    for (const Step& step : c.steps) {
      SCOPED_TRACE(index++);
      const WindowHandle w = TestWindow(step.window);
      switch (step.op) {
        case kText:
          EXPECT_EQ(Text(w, step.text), step.sent);
          EXPECT_EQ(windows_.Text(w), step.text);
          break;
        case kProgress:
          EXPECT_EQ(Progress(w, step.position), step.sent);
          EXPECT_EQ(windows_.Progress(w), step.position);
          break;
        case kOther:
          Other(w, step.text);
          break;
        case kForget:
          Forget(w);
          break;
      }
    }
  }
}

// The dangerous orders, one by one: in each the window ends up showing
// another text than the send's, and a later send of the send's text must
// not be left out.
TEST_F(ShownCacheTest, AWriteOverlappingASendIsNotTakenForTheSend) {
  const WindowHandle w = TestWindow(0);

  // Another thread's write lands after the send's own, before it returns.
  windows_.afterTextSend = [&](WindowHandle, const std::string& text) {
    if (text != "send") return;
    std::thread other([&] { Other(w, "other"); });
    other.join();
  };
  Text(w, "send");
  windows_.afterTextSend = nullptr;
  ASSERT_EQ(windows_.Text(w), "other");
  EXPECT_TRUE(Text(w, "send"));
  EXPECT_EQ(windows_.Text(w), "send");
}

TEST_F(ShownCacheTest, ASendOverlappingAWriteIsNotRemembered) {
  const WindowHandle w = TestWindow(0);
  // A whole send runs while another write is under way and lands before it.
  OtherWrite(w, [&] {
    std::thread sender([&] { Text(w, "send"); });
    sender.join();
    windows_.SetText(w, "other");
  });
  ASSERT_EQ(windows_.Text(w), "other");
  EXPECT_TRUE(Text(w, "send"));
}

// Hold the raw send below before it writes and after it has written.
ui_test::Latch* g_before = nullptr;
ui_test::Latch* g_after = nullptr;

void HeldRawText(WindowHandle w, const char* text) {
  g_before->Arrive();
  RawText(w, text);
  g_after->Arrive();
}

TEST_F(ShownCacheTest, TwoSendsThatLandInTheOtherOrderAreNeitherRemembered) {
  const WindowHandle w = TestWindow(0);
  ui_test::Latch before;
  ui_test::Latch after;
  g_before = &before;
  g_after = &after;
  // The first send is held before it writes; the second begins and ends
  // meanwhile; then the first writes last, and is held once more before it
  // returns.
  std::thread early([&] { SendTextOnce(w, "early", HeldRawText); });
  ASSERT_TRUE(before.WaitArrived());
  EXPECT_TRUE(Text(w, "late"));
  before.Open();
  ASSERT_TRUE(after.WaitArrived());
  ASSERT_EQ(windows_.Text(w), "early");
  EXPECT_TRUE(Text(w, "late"));
  after.Open();
  early.join();
  g_before = g_after = nullptr;
  EXPECT_EQ(windows_.Text(w), "late");
  EXPECT_TRUE(Text(w, "early"));
}

TEST_F(ShownCacheTest, ASendOverlappingForgetIsNotRememberedForTheNextWindow) {
  const WindowHandle w = TestWindow(0);
  windows_.afterTextSend = [&](WindowHandle, const std::string& text) {
    if (text != "old window") return;
    // The window goes and its handle names a new one, which is sent a text
    // of its own before the old send has returned.
    Forget(w);
    windows_.SetText(w, "");
    Text(w, "new window");
  };
  Text(w, "old window");
  windows_.afterTextSend = nullptr;
  ASSERT_EQ(windows_.Text(w), "new window");
  EXPECT_TRUE(Text(w, "old window"));
}

// The UI thread may write through the layer while a send waits on it: the
// cache must not hold its lock through the raw send.
TEST_F(ShownCacheTest, NoLockIsHeldWhileTheRawSendRuns) {
  const WindowHandle w = TestWindow(0);
  const WindowHandle other = TestWindow(1);
  std::atomic<bool> inTime{false};
  windows_.afterTextSend = [&](WindowHandle, const std::string& text) {
    if (text != "waits") return;
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::thread ui([&] {
      Other(w, "written by the UI thread");
      Text(other, "sent by the UI thread");
      SendProgressOnce(w, 3, RawProgress);
      std::lock_guard lock(mutex);
      done = true;
      changed.notify_all();
    });
    {
      std::unique_lock lock(mutex);
      inTime = changed.wait_for(lock, kDeadline, [&] { return done; });
    }
    ui.join();
  };
  Text(w, "waits");
  windows_.afterTextSend = nullptr;
  EXPECT_TRUE(inTime);
}

// Many threads send and write at once; whatever the order, a later send is
// left out only when the window shows its text already.
TEST_F(ShownCacheTest, AfterAnyInterleavingTheCacheClaimsOnlyWhatIsShown) {
  const std::vector<std::string> texts = {"a", "b", "c"};
  constexpr int kThreads = 8;
  constexpr int kSteps = 400;
  constexpr int kRounds = 40;
  constexpr int kWindows = 2;
  windows_.afterTextSend = [](WindowHandle, const std::string&) {
    if (std::rand() % 2 == 0) std::this_thread::yield();  // NOLINT: any spread will do
  };
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, seed = round * kThreads + t] {
        std::mt19937 random(static_cast<unsigned>(seed));
        for (int step = 0; step < kSteps; ++step) {
          const WindowHandle w = TestWindow(static_cast<int>(random() % kWindows));
          const std::string& text = texts[random() % texts.size()];
          switch (random() % 4) {
            case 0:
              Other(w, text);
              break;
            case 1:
              SendProgressOnce(w, static_cast<int>(random() % 3), RawProgress);
              break;
            default:
              SendTextOnce(w, text.c_str(), RawText);
              break;
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int n = 0; n < kWindows; ++n) {
      SCOPED_TRACE(round);
      const WindowHandle w = TestWindow(n);
      const std::string probe = texts[static_cast<std::size_t>(round) % texts.size()];
      SendTextOnce(w, probe.c_str(), RawText);
      EXPECT_EQ(windows_.Text(w), probe);
      const int position = round % 3;
      SendProgressOnce(w, position, RawProgress);
      EXPECT_EQ(windows_.Progress(w), position);
    }
  }
}

// The backend's sends go through the cache: a repeated status line does not
// wait for the UI thread at all.
TEST(HeadlessShownCacheTest, ARepeatReturnsWithoutTheUiThread) {
  ui::headless::UiThread thread;
  const WindowHandle window = thread.NewWindow();
  ui::SendText(window, "upload Nuvo 42%\r");
  ui::SendProgress(window, 42);
  ui_test::Counter returned;
  {
    ui_test::Gate gate(thread);
    std::thread sender([&] {
      ui::SendText(window, "upload Nuvo 42%\r");
      ui::SendProgress(window, 42);
      returned.Add();
    });
    EXPECT_TRUE(returned.WaitFor(1));
    gate.Open();
    sender.join();
  }
}

TEST(HeadlessShownCacheTest, ATextSetOtherwiseIsSentAgain) {
  ui::headless::UiThread thread;
  const WindowHandle window = thread.NewWindow();
  ui::SendText(window, "Found Device.");
  ui::SetWindowText(window, "Resetting...");
  ui::SendText(window, "Found Device.");
  EXPECT_EQ(ui::headless::Model(window)->text, "Found Device.");
}

// The real backend under senders and other writers on several threads.
TEST(HeadlessShownCacheTest, ConcurrentSendsAndWritesLeaveNoFalseClaim) {
  ui::headless::UiThread thread;
  const WindowHandle window = thread.NewWindow();
  const std::vector<std::string> texts = {"a", "b", "c"};
  for (int round = 0; round < 20; ++round) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, seed = round * 4 + t] {
        std::mt19937 random(static_cast<unsigned>(seed));
        for (int step = 0; step < 200; ++step) {
          const std::string& text = texts[random() % texts.size()];
          if (random() % 3 == 0) {
            ui::SetWindowText(window, text);
          } else {
            ui::SendText(window, text.c_str());
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();
    const std::string& probe = texts[static_cast<std::size_t>(round) % texts.size()];
    ui::SendText(window, probe.c_str());
    EXPECT_EQ(ui::headless::Model(window)->text, probe) << "round " << round;
  }
}

}  // namespace
