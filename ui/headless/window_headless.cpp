#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace ui::headless {
namespace {

// A sent message is answered within a few microseconds once the UI thread
// runs, and the next one usually follows as fast (a progress value after its
// status line): a waiter first gives its processor away this many times
// before it sleeps, which spares both sides a sleep and a wake-up by the
// scheduler, the bulk of a message's cost.
constexpr int kYieldsBeforeSleep = 16;

// Waits until `ready()`; `ready` is read without the lock first.
template <typename Ready>
void YieldThenWait(std::mutex& mutex, std::condition_variable& changed, Ready ready) {
  for (int i = 0; i < kYieldsBeforeSleep; ++i) {
    if (ready()) return;
    std::this_thread::yield();
  }
  std::unique_lock lock(mutex);
  changed.wait(lock, ready);
}

// The end of one send or flush, shared by the caller that waits and the
// message: whoever finishes the message (the UI thread, or a destroy that
// drops it) marks it, and the waiter may be gone the moment it is marked.
struct Completion {
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<bool> done{false};

  void Mark() {
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    changed.notify_all();
  }
  void Wait() {
    YieldThenWait(mutex, changed, [&] { return done.load(); });
  }
};

struct Message {
  WindowHandle window = NoWindow;           // the addressee; none for a task
  std::function<void(WindowModel&)> apply;  // a window message, applied under the lock
  std::function<void()> task;               // a task, run without the lock
  std::shared_ptr<Completion> completion;   // for a caller that waits
};

void Finish(Message& message) {
  if (message.completion) message.completion->Mark();
}

}  // namespace

// Wake-ups go through a counter with a lock of its own rather than through
// the registry's lock: the waker signals after it has let go of the
// registry, so the woken thread does not run straight into a lock its waker
// still holds. A message is a round trip per status line of a transfer, so
// this is on its hot path.
struct UiThread::Impl {
  std::deque<Message> queue;  // under the registry's lock
  bool stopping = false;      // under the registry's lock
  std::thread::id id;         // under the registry's lock; set by the thread itself first
  std::thread thread;

  std::mutex signalMutex;
  std::condition_variable signalled;
  std::atomic<uint32_t> signals{0};  // changed under signalMutex

  void Signal() {
    {
      std::lock_guard lock(signalMutex);
      ++signals;
    }
    signalled.notify_one();
  }
  uint32_t Signals() const { return signals.load(); }
  void WaitForSignalAfter(uint32_t seen) {
    YieldThenWait(signalMutex, signalled, [&] { return signals.load() != seen; });
  }
};

namespace {

struct Window {
  // Shared: a sender signals the owner after it has left the lock, when the
  // UiThread object may already be on its way out.
  std::shared_ptr<UiThread::Impl> owner;
  WindowModel model;
};

// All windows and queues share one lock: every operation is a few steps of
// bookkeeping, and one lock keeps a send, its wait and a destroy consistent.
struct Registry {
  std::mutex mutex;
  std::condition_variable queued;  // a queue grew, for WaitUntilQueued
  std::unordered_map<WindowHandle, Window> windows;
  WindowHandle last = NoWindow;  // handles are never reused
};

Registry& State() {
  // Never destroyed: a UI thread may outlive static destruction.
  static Registry* registry = new Registry;
  return *registry;
}

// Queues `message`; the caller signals the thread once it has left the lock.
void Push(Registry& registry, UiThread::Impl& thread, Message message) {
  thread.queue.push_back(std::move(message));
  registry.queued.notify_all();
}

void RunLoop(UiThread::Impl& self) {
  Registry& registry = State();
  {
    std::lock_guard lock(registry.mutex);  // senders compare it under the lock
    self.id = std::this_thread::get_id();
  }
  for (;;) {
    // Read before the queue is looked at: a signal given after that look
    // changes the count, so the wait below does not miss it.
    const uint32_t seen = self.Signals();
    Message message;
    {
      std::unique_lock lock(registry.mutex);
      if (self.queue.empty()) {
        if (self.stopping) return;
        lock.unlock();
        self.WaitForSignalAfter(seen);
        continue;
      }
      message = std::move(self.queue.front());
      self.queue.pop_front();
      if (!message.task) {
        if (auto it = registry.windows.find(message.window); it != registry.windows.end()) {
          message.apply(it->second.model);
        }
      }
    }
    if (message.task) message.task();
    Finish(message);
  }
}

// Hands `apply` to the window's UI thread. A send waits until the thread has
// applied it or the window is gone; on the owning thread it applies at once,
// since waiting there for itself would never end.
void Deliver(WindowHandle window, std::function<void(WindowModel&)> apply, bool send) {
  Registry& registry = State();
  std::shared_ptr<UiThread::Impl> owner;
  std::shared_ptr<Completion> completion;
  {
    std::lock_guard lock(registry.mutex);
    const auto it = registry.windows.find(window);
    if (it == registry.windows.end()) return;
    owner = it->second.owner;
    if (send && owner->id == std::this_thread::get_id()) {
      apply(it->second.model);
      return;
    }
    if (send) completion = std::make_shared<Completion>();
    Push(registry, *owner, {window, std::move(apply), {}, completion});
  }
  owner->Signal();
  // DestroyWindow finishes the message when it drops it with the window.
  if (completion) completion->Wait();
}

}  // namespace

UiThread::UiThread() : impl_(std::make_shared<Impl>()) {
  Impl* self = impl_.get();
  impl_->thread = std::thread([self] { RunLoop(*self); });
}

UiThread::~UiThread() {
  Registry& registry = State();
  {
    std::lock_guard lock(registry.mutex);
    impl_->stopping = true;
  }
  impl_->Signal();
  impl_->thread.join();
  // A send can still have come in between the thread's last look at its
  // queue and the windows going: it is finished here, unhandled, as a send
  // to a window destroyed meanwhile.
  std::deque<Message> late;
  {
    std::lock_guard lock(registry.mutex);
    std::erase_if(registry.windows, [&](const auto& entry) { return entry.second.owner == impl_; });
    late.swap(impl_->queue);
  }
  for (Message& message : late) Finish(message);
}

WindowHandle UiThread::NewWindow() {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const WindowHandle window = ++registry.last;
  registry.windows.emplace(window, Window{impl_, {}});
  return window;
}

void UiThread::Post(std::function<void()> task) {
  Registry& registry = State();
  {
    std::lock_guard lock(registry.mutex);
    Push(registry, *impl_, {NoWindow, {}, std::move(task), nullptr});
  }
  impl_->Signal();
}

void UiThread::Flush() {
  Registry& registry = State();
  auto completion = std::make_shared<Completion>();
  {
    std::lock_guard lock(registry.mutex);
    Push(registry, *impl_, {NoWindow, {}, [] {}, completion});
  }
  impl_->Signal();
  completion->Wait();
}

void UiThread::WaitUntilQueued(std::size_t count) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  registry.queued.wait(lock, [&] { return impl_->queue.size() >= count; });
}

void DestroyWindow(WindowHandle window) {
  Registry& registry = State();
  std::vector<Message> dropped;
  {
    std::lock_guard lock(registry.mutex);
    const auto it = registry.windows.find(window);
    if (it == registry.windows.end()) return;
    auto& queue = it->second.owner->queue;
    const auto kept = std::stable_partition(queue.begin(), queue.end(),
                                            [&](const Message& message) { return message.window != window; });
    std::move(kept, queue.end(), std::back_inserter(dropped));
    queue.erase(kept, queue.end());
    registry.windows.erase(it);
  }
  for (Message& message : dropped) Finish(message);
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
