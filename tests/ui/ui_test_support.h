// Helpers of the dialog layer's tests: holding a UI thread, counting what a
// handler saw, running a dialog modally on a thread of its own and running
// test code on a dialog's UI thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace ui_test {

// Every wait of the tests gives up after this long (real time).
inline constexpr uint32_t kDeadlineMs = 10000;
inline constexpr std::chrono::milliseconds kDeadline{kDeadlineMs};

// Holds a UI thread inside a task until opened, so that what is sent or
// posted meanwhile stays queued. Opens at the latest when it goes out of
// scope, before the thread it holds is destroyed.
class Gate {
 public:
  explicit Gate(ui::headless::UiThread& thread) {
    // Shared with the task: the UI thread may still be leaving its wait when
    // the gate itself has gone.
    thread.Post([state = state_] {
      std::unique_lock lock(state->mutex);
      state->entered = true;
      state->changed.notify_all();
      state->changed.wait(lock, [&] { return state->open; });
    });
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, [&] { return state_->entered; });
  }
  ~Gate() { Open(); }
  void Open() {
    std::lock_guard lock(state_->mutex);
    state_->open = true;
    state_->changed.notify_all();
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool open = false;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A count that one thread raises and another waits on.
class Counter {
 public:
  void Add() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  int Count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  // True once the count has reached `n`; false at the deadline.
  bool WaitFor(int n) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return count_ >= n; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  int count_ = 0;
};

// A latch a handler on the UI thread blocks on until the test opens it.
class Latch {
 public:
  // Called by the blocked side: tells it has arrived, then waits (at most
  // the deadline, so that a failed test does not hang).
  void Arrive() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, kDeadline, [&] { return open_; });
  }
  bool WaitArrived() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return arrived_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

// A dialog that runs test code on its UI thread: Run hands the code to the
// thread as a command and returns once it has run there.
class TestDialog : public ui::Dialog {
 public:
  static constexpr uint32_t kRunCommand = 40000;
  using ui::Dialog::Dialog;

  void Run(std::function<void()> code) {
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(std::move(code));
    }
    ui::PostCommand(Handle(), kRunCommand);
    ui::headless::Sync(Handle());
  }

  // Made public for the tests.
  using ui::Dialog::OnCancel;
  using ui::Dialog::OnOK;

 protected:
  // The commands other than Run's.
  virtual bool OnTestCommand(uint32_t id) { return ui::Dialog::OnCommand(id); }

 private:
  bool OnCommand(uint32_t id) final {
    if (id != kRunCommand) return OnTestCommand(id);
    std::function<void()> code;
    {
      std::lock_guard lock(mutex_);
      code = std::move(pending_.front());
      pending_.pop_front();
    }
    code();
    return true;
  }

  std::mutex mutex_;
  std::deque<std::function<void()>> pending_;
};

// Runs `dialog.DoModal()` on a thread of its own. Ends the dialog when the
// test leaves early, so that a failed test does not hang.
class ModalRun {
 public:
  explicit ModalRun(ui::Dialog& dialog)
      : dialog_(dialog), thread_([this] {
          threadId_ = std::this_thread::get_id();
          result_ = dialog_.DoModal();
        }) {}
  ~ModalRun() {
    if (thread_.joinable()) {
      dialog_.EndDialog(-99);
      thread_.join();
    }
  }
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;

  // The dialog's window once it runs (after OnInitDialog); NoWindow when it
  // did not come before the deadline.
  ui::WindowHandle Window() const {
    const ui::WindowHandle window = ui::headless::WaitForDialog(dialog_.TemplateId(), kDeadlineMs);
    return window == dialog_.Handle() ? window : ui::NoWindow;
  }
  // Waits for DoModal to return and gives its result; a dialog that did
  // not end by the deadline is ended with -99, so that the test fails
  // rather than hangs.
  int Result() {
    if (!ui::headless::WaitForDialogEnd(dialog_.Handle(), kDeadlineMs)) {
      ADD_FAILURE() << "the dialog did not end";
      dialog_.EndDialog(-99);
    }
    if (thread_.joinable()) thread_.join();
    return result_;
  }
  // The thread DoModal runs on; read after Window() returned one.
  std::thread::id ThreadId() const { return threadId_; }

 private:
  ui::Dialog& dialog_;
  std::thread::id threadId_;
  int result_ = 0;
  std::thread thread_;
};

}  // namespace ui_test
