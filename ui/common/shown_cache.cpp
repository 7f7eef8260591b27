#include "ui/common/shown_cache.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace ui::detail {
namespace {

// One attribute (text or position) of one window.
//
// A write may be remembered only when no other write of the attribute was
// under way at any moment of it: one begun earlier and still running when it
// began (inFlight), or one begun while it ran (generation). Either could
// have reached the window after it.
template <typename T>
struct Slot {
  uint64_t generation = 0;  // writes begun
  int inFlight = 0;         // writes begun and not yet ended
  std::optional<T> shown;   // what the last write left on screen, when known

  bool Idle() const { return inFlight == 0 && !shown; }
};

struct Entry {
  uint64_t epoch = 0;  // tells this entry from a later one of a reused handle
  Slot<std::string> text;
  Slot<int> progress;
};

struct Cache {
  std::mutex mutex;
  std::unordered_map<WindowHandle, Entry> entries;
  uint64_t epochs = 0;
};

Cache& TheCache() {
  // Never destroyed: a UI thread may still send during static destruction.
  static Cache* cache = new Cache;
  return *cache;
}

Entry& EntryOf(Cache& cache, WindowHandle w) {
  auto [it, added] = cache.entries.try_emplace(w);
  if (added) it->second.epoch = ++cache.epochs;
  return it->second;
}

// What a write saw when it began, for its end to decide whether it may be
// remembered.
struct Ticket {
  uint64_t epoch;
  uint64_t generation;
  bool alone;
};

template <typename T>
Ticket Begin(const Entry& entry, Slot<T>& slot) {
  const bool alone = slot.inFlight == 0;
  ++slot.inFlight;
  slot.shown.reset();
  return {entry.epoch, ++slot.generation, alone};
}

// Ends a write; `written` is what it put on screen, null when that is not
// to be remembered.
template <typename T, typename V>
void End(Cache& cache, WindowHandle w, Slot<T> Entry::*slotOf, const Ticket& ticket, const V* written) {
  const auto it = cache.entries.find(w);
  if (it == cache.entries.end() || it->second.epoch != ticket.epoch) return;  // forgotten meanwhile
  Slot<T>& slot = it->second.*slotOf;
  --slot.inFlight;
  if (written != nullptr && ticket.alone && slot.generation == ticket.generation) {
    slot.shown = *written;
  } else {
    slot.shown.reset();
  }
  if (it->second.text.Idle() && it->second.progress.Idle()) cache.entries.erase(it);
}

template <typename T, typename V, typename Send>
void SendOnce(WindowHandle w, const V& value, Slot<T> Entry::*slotOf, Send send) {
  if (w == NoWindow) {
    send();
    return;
  }
  Cache& cache = TheCache();
  Ticket ticket;
  {
    std::lock_guard lock(cache.mutex);
    Entry& entry = EntryOf(cache, w);
    Slot<T>& slot = entry.*slotOf;
    if (slot.shown && *slot.shown == value) return;
    ticket = Begin(entry, slot);
  }
  send();
  std::lock_guard lock(cache.mutex);
  End(cache, w, slotOf, ticket, &value);
}

}  // namespace

void SendTextOnce(WindowHandle w, const char* text, void (*rawSend)(WindowHandle, const char*)) {
  if (text == nullptr) text = "";
  SendOnce(w, text, &Entry::text, [&] { rawSend(w, text); });
}

void SendProgressOnce(WindowHandle w, int position, void (*rawSend)(WindowHandle, int)) {
  SendOnce(w, position, &Entry::progress, [&] { rawSend(w, position); });
}

void OtherWrite(WindowHandle w, const std::function<void()>& write) {
  if (w == NoWindow) {
    write();
    return;
  }
  Cache& cache = TheCache();
  Ticket text;
  Ticket progress;
  {
    std::lock_guard lock(cache.mutex);
    Entry& entry = EntryOf(cache, w);
    text = Begin(entry, entry.text);
    progress = Begin(entry, entry.progress);
  }
  // Ended also when the write throws, or the slots would stay in flight.
  struct Ender {
    Cache& cache;
    WindowHandle w;
    const Ticket& text;
    const Ticket& progress;
    ~Ender() {
      std::lock_guard lock(cache.mutex);
      End<std::string, std::string>(cache, w, &Entry::text, text, nullptr);
      End<int, int>(cache, w, &Entry::progress, progress, nullptr);
    }
  } ender{cache, w, text, progress};
  write();
}

void Forget(WindowHandle w) {
  Cache& cache = TheCache();
  std::lock_guard lock(cache.mutex);
  cache.entries.erase(w);
}

}  // namespace ui::detail
