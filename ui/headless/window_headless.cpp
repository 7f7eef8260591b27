#include <algorithm>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ui/common/shown_cache.h"
#include "ui/headless/core.h"
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

void Finish(Message& message) {
  if (message.completion) message.completion->Mark();
}

// Queues `message`; the caller signals the thread once it has left the lock.
void Push(Registry& registry, UiThread::Impl& thread, Message message) {
  thread.queue.push_back(std::move(message));
  registry.queued.notify_all();
}

// The timer that is due first; null when the thread has none.
Timer* NextTimer(UiThread::Impl& self) {
  const auto first = std::min_element(self.timers.begin(), self.timers.end(),
                                      [](const Timer& a, const Timer& b) { return a.due < b.due; });
  return first == self.timers.end() ? nullptr : &*first;
}

thread_local UiThread::Impl* t_current = nullptr;

// Removes `window` (and, for a dialog, its controls) under the lock; what
// was queued for them goes to `dropped`.
void Remove(Registry& registry, WindowHandle window, std::vector<Message>& dropped,
            std::vector<WindowHandle>& removed) {
  const auto it = registry.windows.find(window);
  if (it == registry.windows.end()) return;
  if (it->second.dialog) {
    for (WindowHandle control : it->second.dialog->controls) Remove(registry, control, dropped, removed);
  }
  UiThread::Impl& owner = *it->second.owner;
  const auto kept = std::stable_partition(owner.queue.begin(), owner.queue.end(),
                                          [&](const Message& message) { return message.window != window; });
  std::move(kept, owner.queue.end(), std::back_inserter(dropped));
  owner.queue.erase(kept, owner.queue.end());
  std::erase_if(owner.timers, [&](const Timer& timer) { return timer.window == window; });
  registry.windows.erase(it);
  removed.push_back(window);
}

}  // namespace

void Completion::Mark() {
  {
    std::lock_guard lock(mutex);
    done = true;
  }
  changed.notify_all();
}

void Completion::Wait() {
  YieldThenWait(mutex, changed, [&] { return done.load(); });
}

void UiThread::Impl::Signal() {
  {
    std::lock_guard lock(signalMutex);
    ++signals;
  }
  signalled.notify_one();
}

void UiThread::Impl::WaitForSignalAfter(uint32_t seen, std::optional<Clock::time_point> until) {
  const auto ready = [&] { return signals.load() != seen; };
  if (!until) {
    YieldThenWait(signalMutex, signalled, ready);
    return;
  }
  std::unique_lock lock(signalMutex);
  signalled.wait_until(lock, *until, ready);
}

Registry& State() {
  // Never destroyed: a UI thread may outlive static destruction.
  static Registry* registry = new Registry;
  return *registry;
}

Window* Find(Registry& registry, WindowHandle window) {
  const auto it = registry.windows.find(window);
  return it == registry.windows.end() ? nullptr : &it->second;
}

WindowHandle AddWindow(Registry& registry, std::shared_ptr<UiThread::Impl> owner, Window window) {
  const WindowHandle handle = ++registry.last;
  window.owner = std::move(owner);
  registry.windows.emplace(handle, std::move(window));
  return handle;
}

UiThread::Impl* CurrentThread() { return t_current; }
void SetCurrentThread(UiThread::Impl* thread) { t_current = thread; }

void RunLoop(UiThread::Impl& self, const std::function<bool()>& done) {
  Registry& registry = State();
  for (;;) {
    // Read before the queue is looked at: a signal given after that look
    // changes the count, so the wait below does not miss it.
    const uint32_t seen = self.Signals();
    Message message;
    {
      std::unique_lock lock(registry.mutex);
      if (done && done()) return;
      if (self.queue.empty()) {
        if (!done && self.stopping) return;
        // Timers come after the queue, as the platform's WM_TIMER does: a
        // due timer fires once, however late, and is due again a period on.
        Timer* next = NextTimer(self);
        const Clock::time_point now = Clock::now();
        if (next == nullptr || next->due > now) {
          const std::optional<Clock::time_point> until =
              next != nullptr ? std::optional<Clock::time_point>(next->due) : std::nullopt;
          lock.unlock();
          self.WaitForSignalAfter(seen, until);
          continue;
        }
        next->due = now + next->period;
        message.task = next->fire;
      } else {
        message = std::move(self.queue.front());
        self.queue.pop_front();
        if (message.window != NoWindow) {
          Window* window = Find(registry, message.window);
          if (window == nullptr) {
            message.task = nullptr;
          } else if (message.apply) {
            message.apply(*window);
          }
        }
      }
    }
    if (message.task) message.task();
    Finish(message);
  }
}

void EndThread(const std::shared_ptr<UiThread::Impl>& self) {
  Registry& registry = State();
  std::deque<Message> late;
  std::vector<WindowHandle> removed;
  {
    std::lock_guard lock(registry.mutex);
    self->stopping = true;
    for (auto it = registry.windows.begin(); it != registry.windows.end();) {
      if (it->second.owner == self) {
        removed.push_back(it->first);
        it = registry.windows.erase(it);
      } else {
        ++it;
      }
    }
    late.swap(self->queue);
    self->timers.clear();
    if (!removed.empty()) registry.changed.notify_all();
  }
  for (WindowHandle window : removed) ui::detail::Forget(window);
  for (Message& message : late) Finish(message);
}

bool Deliver(WindowHandle window, std::function<void(Window&)> apply, bool send) {
  Registry& registry = State();
  std::shared_ptr<UiThread::Impl> owner;
  std::shared_ptr<Completion> completion;
  {
    std::lock_guard lock(registry.mutex);
    Window* target = Find(registry, window);
    if (target == nullptr) return false;
    owner = target->owner;
    if (send && owner->id == std::this_thread::get_id()) {
      apply(*target);
      return true;
    }
    if (send) completion = std::make_shared<Completion>();
    Push(registry, *owner, {window, std::move(apply), {}, completion});
  }
  owner->Signal();
  // DestroyWindow finishes the message when it drops it with the window.
  if (completion) completion->Wait();
  return true;
}

bool PostTask(WindowHandle window, std::function<void()> task) {
  Registry& registry = State();
  std::shared_ptr<UiThread::Impl> owner;
  {
    std::lock_guard lock(registry.mutex);
    Window* target = Find(registry, window);
    if (target == nullptr) return false;
    owner = target->owner;
    Push(registry, *owner, {window, {}, std::move(task), nullptr});
  }
  owner->Signal();
  return true;
}

void ApplyText(Registry& registry, Window& window, const std::string& text) {
  window.model.text = text;
  // The edit field no longer shows a list entry chosen before.
  if (window.control) window.control->selection = -1;
  registry.changed.notify_all();
}

UiThread::UiThread() : impl_(std::make_shared<Impl>()) {
  Impl* self = impl_.get();
  impl_->thread = std::thread([self] {
    {
      std::lock_guard lock(State().mutex);  // senders compare it under the lock
      self->id = std::this_thread::get_id();
    }
    SetCurrentThread(self);
    RunLoop(*self, {});
    SetCurrentThread(nullptr);
  });
}

UiThread::~UiThread() {
  {
    std::lock_guard lock(State().mutex);
    impl_->stopping = true;
  }
  impl_->Signal();
  impl_->thread.join();
  // A send can still have come in between the thread's last look at its
  // queue and the windows going: it is finished here, unhandled, as a send
  // to a window destroyed meanwhile.
  EndThread(impl_);
}

WindowHandle UiThread::NewWindow() {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  return AddWindow(registry, impl_, {});
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
  std::vector<WindowHandle> removed;
  {
    std::lock_guard lock(registry.mutex);
    Remove(registry, window, dropped, removed);
    if (!removed.empty()) registry.changed.notify_all();
  }
  for (WindowHandle gone : removed) ui::detail::Forget(gone);
  for (Message& message : dropped) Finish(message);
}

std::optional<WindowModel> Model(WindowHandle window) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const Window* found = Find(registry, window);
  if (found == nullptr) return std::nullopt;
  return found->model;
}

}  // namespace ui::headless

namespace ui {
namespace {

void RawSendText(WindowHandle window, const char* text) {
  headless::Deliver(
      window,
      [text = std::string(text)](headless::Window& target) { headless::ApplyText(headless::State(), target, text); },
      true);
}

void RawSendProgress(WindowHandle window, int position) {
  headless::Deliver(window, [position](headless::Window& target) { target.model.progress = position; }, true);
}

}  // namespace

bool IsWindow(WindowHandle window) {
  headless::Registry& registry = headless::State();
  std::lock_guard lock(registry.mutex);
  return registry.windows.contains(window);
}

void SendText(WindowHandle window, const char* text) {
  detail::SendTextOnce(window, text != nullptr ? text : "", RawSendText);
}

void SendProgress(WindowHandle window, int position) { detail::SendProgressOnce(window, position, RawSendProgress); }

}  // namespace ui
