// The inside of the headless backend, shared by its plain windows, its
// dialogs and the test driver: the registry of windows, the UI threads'
// queues, timers and message loop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "res/templates.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace ui::headless {

using Clock = std::chrono::steady_clock;

struct Window;

// The end of one send or flush, shared by the caller that waits and the
// message: whoever finishes the message (the UI thread, or a destroy that
// drops it) marks it, and the waiter may be gone the moment it is marked.
struct Completion {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> done{false};

  void Mark();
  void Wait();
};

struct Message {
  WindowHandle window = NoWindow;         // the addressee; none for a thread's task
  std::function<void(Window&)> apply;     // applied under the lock while the window exists
  std::function<void()> task;             // run without the lock (after `apply`)
  std::shared_ptr<Completion> completion;  // for a caller that waits
};

// A dialog's timer. `fire` runs on the UI thread without the lock.
struct Timer {
  WindowHandle window = NoWindow;
  uintptr_t id = 0;
  Clock::duration period{};
  Clock::time_point due{};
  std::function<void()> fire;
};

// Wake-ups go through a counter with a lock of its own rather than through
// the registry's lock: the waker signals after it has let go of the
// registry, so the woken thread does not run straight into a lock its waker
// still holds. A message is a round trip per status line of a transfer, so
// this is on its hot path.
//
// A UiThread object's thread runs one; so does a thread that runs a modal
// dialog, for as long as its outermost dialog runs.
struct UiThread::Impl : std::enable_shared_from_this<UiThread::Impl> {
  std::deque<Message> queue;  // under the registry's lock
  std::vector<Timer> timers;  // under the registry's lock
  bool stopping = false;      // under the registry's lock
  std::thread::id id;         // under the registry's lock; set by the thread itself first
  std::thread thread;         // a UiThread object's only

  std::mutex signalMutex;
  std::condition_variable signalled;
  std::atomic<uint32_t> signals{0};  // changed under signalMutex

  void Signal();
  uint32_t Signals() const { return signals.load(); }
  // Returns once the count differs from `seen`, or at `until` when given.
  void WaitForSignalAfter(uint32_t seen, std::optional<Clock::time_point> until);
};

// What a dialog's control keeps beside its model.
struct ControlState {
  int id = -1;
  res::ControlKind kind = res::ControlKind::StaticText;
  WindowHandle dialog = NoWindow;
  bool sorted = false;
  std::vector<std::string> items;  // combo boxes
  int selection = -1;
};

// What a dialog window keeps beside its model (whose text is the caption).
struct DialogState {
  Dialog* dialog = nullptr;
  int templateId = 0;
  std::vector<WindowHandle> controls;  // in template order
  WindowHandle focus = NoWindow;
  bool running = false;  // from the end of OnInitDialog until EndDialog
  bool ended = false;
  int result = -1;
  bool minimised = false;
  IconHandle bigIcon = 0;
  IconHandle smallIcon = 0;
  std::vector<std::string> systemMenu;
  std::vector<DialogView::Draw> iconDraws;
  int iconBackgroundErases = 0;
};

struct Window {
  // Shared: a sender signals the owner after it has left the lock, when the
  // UiThread object may already be on its way out.
  std::shared_ptr<UiThread::Impl> owner;
  WindowModel model;
  bool enabled = true;
  std::optional<ControlState> control;   // a dialog's control
  std::shared_ptr<DialogState> dialog;   // a dialog
};

// All windows and queues share one lock: every operation is a few steps of
// bookkeeping, and one lock keeps a send, its wait and a destroy consistent.
struct Registry {
  std::mutex mutex;
  std::condition_variable queued;   // a queue grew, for WaitUntilQueued
  std::condition_variable changed;  // a text changed, a dialog came or went: for the driver's waits
  std::unordered_map<WindowHandle, Window> windows;
  WindowHandle last = NoWindow;  // handles are never reused
};

Registry& State();

// The window under the registry's lock; null when there is none.
Window* Find(Registry& registry, WindowHandle window);
// A new window of `owner`, under the registry's lock.
WindowHandle AddWindow(Registry& registry, std::shared_ptr<UiThread::Impl> owner, Window window);

// The UI thread the calling thread runs; null when it runs none.
UiThread::Impl* CurrentThread();
// Makes `thread` the calling thread's (null: none).
void SetCurrentThread(UiThread::Impl* thread);

// Handles the thread's messages, tasks and timers until `done()` (asked
// under the registry's lock) is true; with no `done`, until the thread is
// stopping and its queue is empty. Runs on `self`'s thread; nests.
void RunLoop(UiThread::Impl& self, const std::function<bool()>& done);

// After a UI thread has run its last loop: its windows go and what is still
// queued is finished, unhandled, as for a window destroyed meanwhile.
void EndThread(const std::shared_ptr<UiThread::Impl>& self);

// Hands `apply` to the window's UI thread. A send waits until the thread has
// applied it or the window is gone; on the owning thread it applies at once,
// since waiting there for itself would never end. False when there is no
// such window.
bool Deliver(WindowHandle window, std::function<void(Window&)> apply, bool send);

// Queues `task` for the window's UI thread and returns at once; dropped
// when the window is destroyed first. False when there is no such window.
bool PostTask(WindowHandle window, std::function<void()> task);

// Sets a window's text (WM_SETTEXT), under the registry's lock.
void ApplyText(Registry& registry, Window& window, const std::string& text);

}  // namespace ui::headless
