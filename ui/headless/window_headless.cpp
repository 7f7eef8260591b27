#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace ui::headless {
namespace {

struct Message {
  WindowHandle window = NoWindow;           // the addressee; none for a task
  std::function<void(WindowModel&)> apply;  // a window message, applied under the lock
  std::function<void()> task;               // a task, run without the lock
  bool* done = nullptr;                     // set once handled, for a caller that waits
};

}  // namespace

struct UiThread::Impl {
  std::condition_variable wake;  // the queue grew, or the thread is to stop
  std::deque<Message> queue;
  bool stopping = false;
  std::thread::id id;  // set by the thread itself before it handles anything
  std::thread thread;
};

namespace {

struct Window {
  UiThread::Impl* owner;
  WindowModel model;
};

// All windows and queues share one lock: every operation is a few steps of
// bookkeeping, and one lock keeps a send, its wait and a destroy consistent.
struct Registry {
  std::mutex mutex;
  std::condition_variable changed;  // a message was queued or handled, a window went
  std::unordered_map<WindowHandle, Window> windows;
  WindowHandle last = NoWindow;  // handles are never reused
};

Registry& State() {
  // Never destroyed: a UI thread may outlive static destruction.
  static Registry* registry = new Registry;
  return *registry;
}

void Push(Registry& registry, UiThread::Impl& thread, Message message) {
  thread.queue.push_back(std::move(message));
  thread.wake.notify_one();
  registry.changed.notify_all();
}

void RunLoop(UiThread::Impl& self) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  self.id = std::this_thread::get_id();
  for (;;) {
    self.wake.wait(lock, [&] { return self.stopping || !self.queue.empty(); });
    if (self.queue.empty()) return;
    Message message = std::move(self.queue.front());
    self.queue.pop_front();
    if (message.task) {
      lock.unlock();
      message.task();
      lock.lock();
    } else if (auto it = registry.windows.find(message.window); it != registry.windows.end()) {
      message.apply(it->second.model);
    }
    if (message.done != nullptr) {
      *message.done = true;
      registry.changed.notify_all();
    }
  }
}

// Hands `apply` to the window's UI thread. A send waits until the thread has
// applied it or the window is gone; on the owning thread it applies at once,
// since waiting there for itself would never end.
void Deliver(WindowHandle window, std::function<void(WindowModel&)> apply, bool send) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  const auto it = registry.windows.find(window);
  if (it == registry.windows.end()) return;
  UiThread::Impl& owner = *it->second.owner;
  if (send && owner.id == std::this_thread::get_id()) {
    apply(it->second.model);
    return;
  }
  bool done = false;
  Push(registry, owner, {window, std::move(apply), {}, send ? &done : nullptr});
  if (!send) return;
  // DestroyWindow drops the message with the window, so `done` is never
  // touched after this returns.
  registry.changed.wait(lock, [&] { return done || !registry.windows.contains(window); });
}

}  // namespace

UiThread::UiThread() : impl_(std::make_unique<Impl>()) {
  Impl* self = impl_.get();
  impl_->thread = std::thread([self] { RunLoop(*self); });
}

UiThread::~UiThread() {
  Registry& registry = State();
  {
    std::lock_guard lock(registry.mutex);
    impl_->stopping = true;
    impl_->wake.notify_one();
  }
  impl_->thread.join();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.windows, [&](const auto& entry) { return entry.second.owner == impl_.get(); });
  registry.changed.notify_all();
}

WindowHandle UiThread::NewWindow() {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const WindowHandle window = ++registry.last;
  registry.windows.emplace(window, Window{impl_.get(), {}});
  return window;
}

void UiThread::Post(std::function<void()> task) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  Push(registry, *impl_, {NoWindow, {}, std::move(task), nullptr});
}

void UiThread::Flush() {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  bool done = false;
  Push(registry, *impl_, {NoWindow, {}, [] {}, &done});
  registry.changed.wait(lock, [&] { return done; });
}

void UiThread::WaitUntilQueued(std::size_t count) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  registry.changed.wait(lock, [&] { return impl_->queue.size() >= count; });
}

void DestroyWindow(WindowHandle window) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.windows.find(window);
  if (it == registry.windows.end()) return;
  std::erase_if(it->second.owner->queue, [&](const Message& message) { return message.window == window; });
  registry.windows.erase(it);
  registry.changed.notify_all();
}

std::optional<WindowModel> Model(WindowHandle window) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const auto it = registry.windows.find(window);
  if (it == registry.windows.end()) return std::nullopt;
  return it->second.model;
}

}  // namespace ui::headless

namespace ui {

bool IsWindow(WindowHandle window) {
  headless::Registry& registry = headless::State();
  std::lock_guard lock(registry.mutex);
  return registry.windows.contains(window);
}

void SendText(WindowHandle window, const char* text) {
  headless::Deliver(window, [text = std::string(text != nullptr ? text : "")](headless::WindowModel& model) { model.text = text; }, true);
}

void SendProgress(WindowHandle window, int position) {
  headless::Deliver(window, [position](headless::WindowModel& model) { model.progress = position; }, true);
}

void PostCommand(WindowHandle window, uint32_t id) {
  headless::Deliver(window, [id](headless::WindowModel& model) { model.commands.push_back(id); }, false);
}

}  // namespace ui
