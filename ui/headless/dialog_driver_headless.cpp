// The test driver of headless dialogs: reads what they show under the
// registry's lock, and queues input for their UI threads as the platform
// queues a person's.
#include <chrono>
#include <mutex>
#include <string>
#include <utility>

#include "ui/common/shown_cache.h"
#include "ui/headless/core.h"
#include "ui/headless/dialog_driver.h"
#include "ui/headless/dialog_internal.h"

namespace ui::headless {
namespace {

Clock::time_point Deadline(uint32_t ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// The dialog behind `handle` under the registry's lock; null for no dialog.
const DialogState* FindDialog(Registry& registry, WindowHandle handle) {
  const Window* window = Find(registry, handle);
  return window == nullptr ? nullptr : window->dialog.get();
}

// The dialog's control `id` under the registry's lock; NoWindow for none.
WindowHandle FindControl(Registry& registry, WindowHandle dialog, int id) {
  const DialogState* state = FindDialog(registry, dialog);
  if (state == nullptr) return NoWindow;
  for (WindowHandle control : state->controls) {
    const Window* window = Find(registry, control);
    if (window != nullptr && window->control->id == id) return control;
  }
  return NoWindow;
}

ControlView ViewOf(const Window& window, WindowHandle handle, const DialogState& dialog) {
  ControlView view;
  view.id = window.control->id;
  view.text = window.model.text;
  view.enabled = window.enabled;
  view.focused = dialog.focus == handle;
  view.progress = window.model.progress;
  view.items = window.control->items;
  view.selection = window.control->selection;
  return view;
}

WindowHandle NewestRunning(Registry& registry, int templateId) {
  WindowHandle newest = NoWindow;
  for (const auto& [handle, window] : registry.windows) {
    if (!window.dialog || !window.dialog->running) continue;
    if (templateId != 0 && window.dialog->templateId != templateId) continue;
    if (handle > newest) newest = handle;  // handles grow with every window
  }
  return newest;
}

}  // namespace

WindowHandle WaitForDialog(int templateId, uint32_t ms) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  WindowHandle found = NoWindow;
  registry.changed.wait_until(lock, Deadline(ms), [&] {
    found = NewestRunning(registry, templateId);
    return found != NoWindow;
  });
  return found;
}

bool WaitForDialogEnd(WindowHandle dialog, uint32_t ms) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  return registry.changed.wait_until(lock, Deadline(ms), [&] { return FindDialog(registry, dialog) == nullptr; });
}

std::optional<DialogView> View(WindowHandle dialog) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const Window* window = Find(registry, dialog);
  if (window == nullptr || !window->dialog) return std::nullopt;
  const DialogState& state = *window->dialog;
  DialogView view;
  view.templateId = state.templateId;
  view.caption = window->model.text;
  view.enabled = window->enabled;
  view.minimised = state.minimised;
  view.bigIcon = state.bigIcon;
  view.smallIcon = state.smallIcon;
  view.systemMenu = state.systemMenu;
  for (const Timer& timer : window->owner->timers) {
    if (timer.window == dialog) view.timers.push_back(timer.id);
  }
  view.iconDraws = state.iconDraws;
  view.iconBackgroundErases = state.iconBackgroundErases;
  for (WindowHandle control : state.controls) {
    if (const Window* child = Find(registry, control)) view.controls.push_back(ViewOf(*child, control, state));
  }
  return view;
}

std::optional<ControlView> Control(WindowHandle dialog, int id) {
  Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const WindowHandle control = FindControl(registry, dialog, id);
  if (control == NoWindow) return std::nullopt;
  return ViewOf(*Find(registry, control), control, *FindDialog(registry, dialog));
}

bool WaitForText(WindowHandle dialog, int id, const std::string& text, uint32_t ms, std::string* last) {
  Registry& registry = State();
  std::unique_lock lock(registry.mutex);
  std::string shown;
  bool gone = false;
  const bool equal = registry.changed.wait_until(lock, Deadline(ms), [&] {
    const WindowHandle control = FindControl(registry, dialog, id);
    gone = control == NoWindow;
    shown = gone ? std::string() : Find(registry, control)->model.text;
    return gone || shown == text;
  });
  if (last != nullptr) *last = shown;
  return equal && !gone;
}

bool Click(WindowHandle dialog, int id) {
  {
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    const Window* window = Find(registry, dialog);
    const WindowHandle control = FindControl(registry, dialog, id);
    if (control == NoWindow || !window->enabled) return false;
    const Window& button = *Find(registry, control);
    if (button.control->kind != res::ControlKind::PushButton || !button.enabled) return false;
  }
  return PostToDialog(dialog, [id](Dialog& target) { DispatchCommand(target, static_cast<uint32_t>(id)); });
}

void Command(WindowHandle dialog, uint32_t id) {
  PostToDialog(dialog, [id](Dialog& target) { DispatchCommand(target, id); });
}

void Close(WindowHandle dialog) {
  PostToDialog(dialog, [](Dialog& target) { DialogAccess::OnClose(target); });
}

void Escape(WindowHandle dialog) { Command(dialog, static_cast<uint32_t>(IdCancel)); }

void SysCommand(WindowHandle dialog, uint32_t id) {
  PostToDialog(dialog, [id](Dialog& target) { DispatchSysCommand(target, id, 0); });
}

void Type(WindowHandle dialog, int id, const std::string& text) {
  WindowHandle combo = NoWindow;
  {
    Registry& registry = State();
    std::lock_guard lock(registry.mutex);
    combo = FindControl(registry, dialog, id);
    if (combo == NoWindow || Find(registry, combo)->control->kind != res::ControlKind::ComboBox) return;
  }
  PostToDialog(dialog, [combo, text](Dialog&) {
    // On the UI thread the write applies at once, inside the cache's bracket.
    ui::detail::OtherWrite(combo, [&] {
      Deliver(combo, [&](Window& target) { ApplyText(State(), target, text); }, true);
    });
  });
}

void SetMinimised(WindowHandle dialog, bool minimised) {
  PostToDialog(dialog, [dialog, minimised](Dialog& target) {
    {
      Registry& registry = State();
      std::lock_guard lock(registry.mutex);
      if (Window* window = Find(registry, dialog)) window->dialog->minimised = minimised;
    }
    DispatchPaint(target);
  });
}

void Paint(WindowHandle dialog) {
  PostToDialog(dialog, [](Dialog& target) { DispatchPaint(target); });
}

void Sync(WindowHandle dialog) {
  Deliver(dialog, [](Window&) {}, true);
}

}  // namespace ui::headless
