// The headless window backend: UI threads with message queues and a model of
// what each window has received, for tests and for builds without a desktop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/window.h"

namespace ui::headless {

// What a window shows and has been told.
struct WindowModel {
  std::string text;
  int progress = 0;
  std::vector<uint32_t> commands;  // in the order the thread handled them
};

// One UI thread: it owns the windows it creates and handles their messages
// and the tasks posted to it one at a time, in queue order.
class UiThread {
 public:
  UiThread();
  // Handles what is still queued, ends the thread and destroys its windows.
  ~UiThread();
  UiThread(const UiThread&) = delete;
  UiThread& operator=(const UiThread&) = delete;

  // A new window owned by this thread: empty text, progress 0.
  WindowHandle NewWindow();

  // Runs `task` on this thread after everything queued before it.
  void Post(std::function<void()> task);
  // Returns once everything queued before the call has been handled. Not to
  // be called on this thread.
  void Flush();
  // Returns once at least `count` messages and tasks wait in the queue (the
  // one being handled not counted).
  void WaitUntilQueued(std::size_t count);

  struct Impl;

 private:
  std::shared_ptr<Impl> impl_;
};

// Destroys `window` from any thread: its queued messages are dropped and
// senders waiting on it return. No effect when it names no window.
void DestroyWindow(WindowHandle window);

// A copy of the window's model; empty when `window` names no window.
std::optional<WindowModel> Model(WindowHandle window);

}  // namespace ui::headless
