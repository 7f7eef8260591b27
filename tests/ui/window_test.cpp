#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ui_test_support.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace {

using ui::NoWindow;
using ui::WindowHandle;
using ui::headless::DestroyWindow;
using ui::headless::Model;
using ui::headless::UiThread;
using ui_test::Gate;

class WindowTest : public ::testing::Test {
 protected:
  UiThread thread_;
  WindowHandle window_ = thread_.NewWindow();
};

TEST_F(WindowTest, TextIsAppliedBeforeTheSendReturns) {
  for (const char* text : {"begin to download:", "download Nuvo 42%\r", ""}) {
    SCOPED_TRACE(text);
    ui::SendText(window_, text);
    EXPECT_EQ(Model(window_)->text, text);
  }
}

TEST_F(WindowTest, ProgressIsAppliedUnchangedBeforeTheSendReturns) {
  for (int position : {0, 57, 100, 150, -1}) {
    SCOPED_TRACE(position);
    ui::SendProgress(window_, position);
    EXPECT_EQ(Model(window_)->progress, position);
  }
}

TEST_F(WindowTest, PostsReturnAtOnceAndArriveInOrder) {
  const WindowHandle other = thread_.NewWindow();
  {
    Gate gate(thread_);
    for (uint32_t id : {32771u, 7u, 32771u, 1u}) ui::PostCommand(window_, id);
    ui::PostCommand(other, 2);
    ui::PostCommand(window_, 3);
    EXPECT_TRUE(Model(window_)->commands.empty());
  }
  thread_.Flush();
  EXPECT_EQ(Model(window_)->commands, (std::vector<uint32_t>{32771, 7, 32771, 1, 3}));
  EXPECT_EQ(Model(other)->commands, std::vector<uint32_t>{2});
}

TEST_F(WindowTest, CallsOnMissingWindowsAreSkipped) {
  const WindowHandle destroyed = thread_.NewWindow();
  DestroyWindow(destroyed);
  const WindowHandle neverIssued = ~WindowHandle{0};
  for (WindowHandle missing : {NoWindow, destroyed, neverIssued}) {
    SCOPED_TRACE(missing);
    EXPECT_FALSE(ui::IsWindow(missing));
    ui::SendText(missing, "lost");
    ui::SendProgress(missing, 50);
    ui::PostCommand(missing, 32771);
    DestroyWindow(missing);
    EXPECT_FALSE(Model(missing).has_value());
  }
  thread_.Flush();
  EXPECT_TRUE(ui::IsWindow(window_));
  const ui::headless::WindowModel model = *Model(window_);
  EXPECT_EQ(model.text, "");
  EXPECT_EQ(model.progress, 0);
  EXPECT_TRUE(model.commands.empty());
}

TEST_F(WindowTest, CommandQueuedForAWindowDestroyedFirstIsDropped) {
  const WindowHandle other = thread_.NewWindow();
  {
    Gate gate(thread_);
    ui::PostCommand(window_, 32771);
    ui::PostCommand(other, 1);
    DestroyWindow(window_);
    ui::PostCommand(other, 2);
  }
  thread_.Flush();
  EXPECT_FALSE(Model(window_).has_value());
  EXPECT_EQ(Model(other)->commands, (std::vector<uint32_t>{1, 2}));
}

// The worker of a transfer sends while the window closes: the send must
// return, whether the window goes on its own UI thread or from elsewhere.
TEST_F(WindowTest, DestroyReleasesAWaitingSender) {
  struct Case {
    const char* name;
    void (*send)(WindowHandle);
    bool fromUiThread;
  };
  const Case cases[] = {
      {"text, destroyed on the UI thread", [](WindowHandle w) { ui::SendText(w, "never shown"); }, true},
      {"progress, destroyed on the UI thread", [](WindowHandle w) { ui::SendProgress(w, 99); }, true},
      {"text, destroyed elsewhere", [](WindowHandle w) { ui::SendText(w, "never shown"); }, false},
      {"progress, destroyed elsewhere", [](WindowHandle w) { ui::SendProgress(w, 99); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const WindowHandle window = thread_.NewWindow();
    if (c.fromUiThread) {
      thread_.Post([this, window] {
        thread_.WaitUntilQueued(1);
        DestroyWindow(window);
      });
      std::thread sender(c.send, window);
      sender.join();
    } else {
      Gate gate(thread_);
      std::thread sender(c.send, window);
      thread_.WaitUntilQueued(1);
      DestroyWindow(window);
      sender.join();  // while the UI thread is still held
    }
    thread_.Flush();
    EXPECT_FALSE(ui::IsWindow(window));
  }
}

TEST_F(WindowTest, SendsOnTheUiThreadApplyAtOnce) {
  ui::headless::WindowModel seen;
  thread_.Post([&] {
    ui::SendText(window_, "from the UI thread");
    ui::SendProgress(window_, 30);
    seen = *Model(window_);
  });
  thread_.Flush();
  EXPECT_EQ(seen.text, "from the UI thread");
  EXPECT_EQ(seen.progress, 30);
}

TEST_F(WindowTest, PostsOnTheUiThreadAreQueuedBehindTheRunningTask) {
  std::vector<uint32_t> seen;
  thread_.Post([&] {
    ui::PostCommand(window_, 5);
    seen = Model(window_)->commands;
  });
  thread_.Flush();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(Model(window_)->commands, std::vector<uint32_t>{5});
}

// Senders on several threads at once, while one window is destroyed and
// then the whole UI thread ends: every send returns, and each window that
// stayed up shows the last value its own sender gave it.
TEST(UiThreadTest, ConcurrentSendersAllReturnThroughDestroyAndThreadEnd) {
  constexpr int kSenders = 4;
  constexpr int kSends = 2000;
  for (int round = 0; round < 5; ++round) {
    auto thread = std::make_unique<UiThread>();
    std::vector<WindowHandle> windows;
    for (int i = 0; i < kSenders; ++i) windows.push_back(thread->NewWindow());
    std::vector<std::thread> senders;
    std::atomic<int> halfway{0};
    for (int i = 0; i < kSenders; ++i) {
      senders.emplace_back([&, window = windows[i]] {
        for (int n = 1; n <= kSends; ++n) {
          ui::SendProgress(window, n);
          if (n == kSends / 2) ++halfway;
        }
      });
    }
    while (halfway < kSenders) std::this_thread::yield();
    DestroyWindow(windows[0]);
    if (round % 2 == 0) {
      for (auto& sender : senders) sender.join();
      for (int i = 1; i < kSenders; ++i) EXPECT_EQ(Model(windows[i])->progress, kSends);
      thread.reset();
    } else {
      thread.reset();  // the senders of the other windows are still sending
      for (auto& sender : senders) sender.join();
    }
    for (WindowHandle window : windows) EXPECT_FALSE(ui::IsWindow(window));
  }
}

TEST(UiThreadTest, WindowsEndWithTheirThread) {
  WindowHandle window;
  {
    UiThread thread;
    window = thread.NewWindow();
    ui::SendText(window, "x");
    EXPECT_TRUE(ui::IsWindow(window));
  }
  EXPECT_FALSE(ui::IsWindow(window));
  ui::SendText(window, "after the thread ended");
}

}  // namespace
