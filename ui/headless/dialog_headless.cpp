// Headless dialogs: a modal dialog is a window with its controls, built from
// its template, whose messages the calling thread handles in a loop of the
// backend's core until the dialog ends.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "plat/clock.h"
#include "res/templates.h"
#include "ui/common/dialog_common.h"
#include "ui/common/shown_cache.h"
#include "ui/dialog.h"
#include "ui/headless/core.h"
#include "ui/headless/dialog_internal.h"

namespace ui {
namespace {

using headless::Clock;
using headless::Find;
using headless::State;

// The platform's shortest timer period, in system milliseconds: a shorter
// one would have the UI thread spin.
constexpr uint32_t kMinimumTimerMs = 10;

// The client area of a dialog, in pixels (template 102's 318 x 76 dialog
// units in its font).
constexpr int kClientWidth = 477;
constexpr int kClientHeight = 123;

char Folded(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The order of a sorted combo box's list: without regard to case.
bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Folded(x) < Folded(y); });
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char x, char y) { return Folded(x) == Folded(y); });
}

bool IsCombo(const headless::Window& window) {
  return window.control && window.control->kind == res::ControlKind::ComboBox;
}

// Reads from the window under the registry's lock; `fallback` for no window.
template <typename T, typename Read>
T ReadWindow(WindowHandle window, T fallback, Read read) {
  headless::Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const headless::Window* found = Find(registry, window);
  return found == nullptr ? fallback : read(*found);
}

// The dialog behind `window` while its window exists; null otherwise. The
// object outlives every message of its window: DoModal returns only after
// its loop on this very thread has ended.
Dialog* LiveDialog(WindowHandle window) {
  return ReadWindow(window, static_cast<Dialog*>(nullptr), [](const headless::Window& w) {
    return w.dialog ? w.dialog->dialog : nullptr;
  });
}

// The first enabled control that takes the focus by the tab key, where
// focus goes when OnInitDialog returns true.
WindowHandle FirstTabStop(headless::Registry& registry, const headless::DialogState& dialog) {
  for (WindowHandle control : dialog.controls) {
    const headless::Window* window = Find(registry, control);
    if (window == nullptr || !window->enabled) continue;
    const res::ControlKind kind = window->control->kind;
    if (kind == res::ControlKind::PushButton || kind == res::ControlKind::ComboBox) return control;
  }
  return NoWindow;
}

// The UI thread of a modal loop: the calling thread's own when it runs one
// already (a UiThread's, or an outer dialog's), else one made for it for as
// long as this dialog runs.
class ModalThread {
 public:
  ModalThread() {
    if (headless::UiThread::Impl* current = headless::CurrentThread()) {
      impl_ = current->shared_from_this();
      return;
    }
    impl_ = std::make_shared<headless::UiThread::Impl>();
    {
      std::lock_guard lock(State().mutex);
      impl_->id = std::this_thread::get_id();
    }
    headless::SetCurrentThread(impl_.get());
    owned_ = true;
  }
  ~ModalThread() {
    if (!owned_) return;
    headless::SetCurrentThread(nullptr);
    headless::EndThread(impl_);
  }
  ModalThread(const ModalThread&) = delete;
  ModalThread& operator=(const ModalThread&) = delete;

  const std::shared_ptr<headless::UiThread::Impl>& Impl() const { return impl_; }

 private:
  std::shared_ptr<headless::UiThread::Impl> impl_;
  bool owned_ = false;
};

// The dialog's window and its controls, as the template says.
WindowHandle CreateWindows(const res::DialogTemplate& templ, Dialog& dialog,
                           const std::shared_ptr<headless::UiThread::Impl>& owner,
                           std::shared_ptr<headless::DialogState>& state) {
  headless::Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  state = std::make_shared<headless::DialogState>();
  state->dialog = &dialog;
  state->templateId = templ.id;
  headless::Window window;
  window.model.text = templ.caption;
  window.dialog = state;
  const WindowHandle handle = headless::AddWindow(registry, owner, std::move(window));
  for (const res::ControlTemplate& control : templ.controls) {
    headless::Window child;
    child.model.text = control.caption;
    child.enabled = !control.disabled;
    child.control = headless::ControlState{control.id, control.kind, handle, control.sorted, {}, -1};
    state->controls.push_back(headless::AddWindow(registry, owner, std::move(child)));
  }
  return handle;
}

// Runs `apply` with the window on its UI thread, as a sent message.
void Send(WindowHandle window, std::function<void(headless::Window&)> apply) {
  headless::Deliver(window, std::move(apply), true);
}

}  // namespace

Dialog::Dialog(int templateId, WindowHandle parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  const res::DialogTemplate* templ = res::FindTemplate(templateId_);
  if (templ == nullptr) return -1;
  const ModalThread thread;
  std::shared_ptr<headless::DialogState> state;
  const WindowHandle handle = CreateWindows(*templ, *this, thread.Impl(), state);
  // The windows go also when a handler throws: senders waiting on them must
  // return.
  struct Destroyer {
    Dialog& dialog;
    WindowHandle handle;
    ~Destroyer() {
      headless::DestroyWindow(handle);
      DialogAccess::SetWindow(dialog, NoWindow);
    }
  } destroyer{*this, handle};
  DialogAccess::SetWindow(*this, handle);
  const bool focusDefault = DialogAccess::OnInitDialog(*this);
  headless::Registry& registry = State();
  {
    std::lock_guard lock(registry.mutex);
    if (focusDefault) state->focus = FirstTabStop(registry, *state);
    state->running = !state->ended && registry.windows.contains(handle);
    registry.changed.notify_all();
  }
  headless::RunLoop(*thread.Impl(), [&] { return state->ended || !registry.windows.contains(handle); });
  std::lock_guard lock(registry.mutex);
  // A window destroyed from outside ends the dialog without a result.
  return state->ended ? state->result : -1;
}

WindowHandle Dialog::Item(int id) const {
  if (id == -1) return NoWindow;
  headless::Registry& registry = State();
  std::lock_guard lock(registry.mutex);
  const headless::Window* window = Find(registry, Handle());
  if (window == nullptr || !window->dialog) return NoWindow;
  for (WindowHandle control : window->dialog->controls) {
    const headless::Window* child = Find(registry, control);
    if (child != nullptr && child->control->id == id) return control;
  }
  return NoWindow;
}

void Dialog::EndDialog(int result) {
  headless::Registry& registry = State();
  std::shared_ptr<headless::UiThread::Impl> owner;
  {
    std::lock_guard lock(registry.mutex);
    headless::Window* window = Find(registry, Handle());
    if (window == nullptr || !window->dialog) return;
    headless::DialogState& state = *window->dialog;
    if (!state.ended) {
      state.ended = true;
      state.result = result;
      state.running = false;
      registry.changed.notify_all();
    }
    owner = window->owner;
  }
  owner->Signal();
}

bool Dialog::UpdateData(bool save) {
  DataExchange dx(*this, save);
  DoDataExchange(dx);
  return true;
}

bool Dialog::SetTimer(uintptr_t id, uint32_t ms) {
  const WindowHandle handle = Handle();
  const Clock::duration period = std::chrono::milliseconds(plat::RealMs(std::max(ms, kMinimumTimerMs)));
  bool set = false;
  Send(handle, [&](headless::Window& window) {
    if (!window.dialog) return;
    // The loop looks at its timers again once this message is handled.
    const Clock::time_point due = Clock::now() + period;
    std::vector<headless::Timer>& timers = window.owner->timers;
    const auto it = std::find_if(timers.begin(), timers.end(),
                                 [&](const headless::Timer& t) { return t.window == handle && t.id == id; });
    if (it != timers.end()) {
      it->period = period;
      it->due = due;
    } else {
      timers.push_back({handle, id, period, due, [handle, id] {
                          if (Dialog* dialog = LiveDialog(handle)) DialogAccess::OnTimer(*dialog, id);
                        }});
    }
    set = true;
  });
  return set;
}

bool Dialog::KillTimer(uintptr_t id) {
  const WindowHandle handle = Handle();
  bool killed = false;
  Send(handle, [&](headless::Window& window) {
    killed = std::erase_if(window.owner->timers,
                           [&](const headless::Timer& t) { return t.window == handle && t.id == id; }) > 0;
  });
  return killed;
}

void Dialog::SetIcon(IconHandle icon, bool big) {
  Send(Handle(), [&](headless::Window& window) {
    if (!window.dialog) return;
    (big ? window.dialog->bigIcon : window.dialog->smallIcon) = icon;
  });
}

bool Dialog::AppendSystemMenuItem(uint32_t /*id*/, const std::string& text) {
  bool appended = false;
  Send(Handle(), [&](headless::Window& window) {
    if (!window.dialog) return;
    window.dialog->systemMenu.push_back("");
    window.dialog->systemMenu.push_back(text);
    appended = true;
  });
  return appended;
}

bool Dialog::IsIconic() const {
  return ReadWindow(Handle(), false, [](const headless::Window& w) { return w.dialog && w.dialog->minimised; });
}

namespace detail {

void LoadExchangedText(WindowHandle control, const std::string& value) {
  const int match = ReadWindow(control, -1, [&](const headless::Window& w) {
    if (!IsCombo(w)) return -1;
    const auto& items = w.control->items;
    const auto it = std::find_if(items.begin(), items.end(),
                                 [&](const std::string& item) { return StartsWithIgnoringCase(item, value); });
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
  });
  if (match >= 0) {
    ComboSetCurSel(control, match);
  } else {
    SetWindowText(control, value);
  }
}

}  // namespace detail

struct PaintContext::Impl {
  WindowHandle dialog;
};

PaintContext::PaintContext(Dialog& dialog) : dialog_(dialog), impl_(new Impl{dialog.Handle()}) {}

PaintContext::~PaintContext() { delete impl_; }

int PaintContext::ClientWidth() const { return kClientWidth; }

int PaintContext::ClientHeight() const { return kClientHeight; }

void PaintContext::EraseIconBackground() {
  Send(impl_->dialog, [](headless::Window& window) {
    if (window.dialog) ++window.dialog->iconBackgroundErases;
  });
}

void PaintContext::DrawIcon(int x, int y, IconHandle icon) {
  Send(impl_->dialog, [&](headless::Window& window) {
    if (window.dialog) window.dialog->iconDraws.push_back({x, y, icon});
  });
}

int SystemIconWidth() { return 32; }
int SystemIconHeight() { return 32; }

void SetWindowText(WindowHandle window, const std::string& text) {
  detail::OtherWrite(window, [&] {
    Send(window, [&](headless::Window& target) { headless::ApplyText(State(), target, text); });
  });
}

std::string GetWindowText(WindowHandle window) {
  return ReadWindow(window, std::string(), [](const headless::Window& w) { return w.model.text; });
}

void EnableWindow(WindowHandle window, bool enable) {
  Send(window, [enable](headless::Window& target) { target.enabled = enable; });
}

bool IsWindowEnabled(WindowHandle window) {
  return ReadWindow(window, false, [](const headless::Window& w) { return w.enabled; });
}

void SetFocus(WindowHandle window) {
  Send(window, [window](headless::Window& target) {
    if (!target.control) return;
    if (headless::Window* dialog = Find(State(), target.control->dialog)) dialog->dialog->focus = window;
  });
}

int ComboAddString(WindowHandle combo, const std::string& text) {
  int index = -1;
  Send(combo, [&](headless::Window& target) {
    if (!IsCombo(target)) return;
    headless::ControlState& control = *target.control;
    // After the entries equal to it, so that equal ones keep the order they came in.
    const auto at = control.sorted ? std::upper_bound(control.items.begin(), control.items.end(), text, LessIgnoringCase)
                                   : control.items.end();
    index = static_cast<int>(at - control.items.begin());
    control.items.insert(at, text);
    if (control.selection >= index) ++control.selection;  // the same entry stays selected
  });
  return index;
}

int ComboCount(WindowHandle combo) {
  return ReadWindow(combo, 0, [](const headless::Window& w) {
    return IsCombo(w) ? static_cast<int>(w.control->items.size()) : 0;
  });
}

std::string ComboItem(WindowHandle combo, int index) {
  return ReadWindow(combo, std::string(), [&](const headless::Window& w) {
    if (!IsCombo(w) || index < 0 || static_cast<std::size_t>(index) >= w.control->items.size()) return std::string();
    return w.control->items[static_cast<std::size_t>(index)];
  });
}

void ComboSetCurSel(WindowHandle combo, int index) {
  detail::OtherWrite(combo, [&] {
    Send(combo, [&](headless::Window& target) {
      if (!IsCombo(target)) return;
      headless::ControlState& control = *target.control;
      // An index outside the list clears the selection and the edit field, as -1 does.
      const bool inList = index >= 0 && static_cast<std::size_t>(index) < control.items.size();
      target.model.text = inList ? control.items[static_cast<std::size_t>(index)] : std::string();
      control.selection = inList ? index : -1;
      State().changed.notify_all();
    });
  });
}

int ComboCurSel(WindowHandle combo) {
  return ReadWindow(combo, -1, [](const headless::Window& w) { return IsCombo(w) ? w.control->selection : -1; });
}

int GetProgress(WindowHandle progress) {
  return ReadWindow(progress, 0, [](const headless::Window& w) { return w.model.progress; });
}

void PostCommand(WindowHandle window, uint32_t id) {
  const bool isDialog = ReadWindow(window, false, [](const headless::Window& w) { return w.dialog != nullptr; });
  if (isDialog) {
    headless::PostToDialog(window, [id](Dialog& dialog) { headless::DispatchCommand(dialog, id); });
  } else {
    headless::Deliver(window, [id](headless::Window& target) { target.model.commands.push_back(id); }, false);
  }
}

}  // namespace ui

namespace ui::headless {

bool PostToDialog(WindowHandle dialog, std::function<void(Dialog&)> handler) {
  const bool isDialog = ReadWindow(dialog, false, [](const Window& w) { return w.dialog != nullptr; });
  if (!isDialog) return false;
  return PostTask(dialog, [dialog, handler = std::move(handler)] {
    if (Dialog* live = LiveDialog(dialog)) handler(*live);
  });
}

void DispatchCommand(Dialog& dialog, uint32_t id) {
  if (DialogAccess::OnCommand(dialog, id)) return;
  if (id == static_cast<uint32_t>(IdOk)) {
    DialogAccess::OnOK(dialog);
  } else if (id == static_cast<uint32_t>(IdCancel)) {
    DialogAccess::OnCancel(dialog);
  }
}

void DispatchSysCommand(Dialog& dialog, uint32_t id, intptr_t param) {
  if (DialogAccess::OnSysCommand(dialog, id, param)) return;
  // The low four bits of a system command are the platform's own.
  if ((id & 0xFFF0u) == ScClose) DialogAccess::OnClose(dialog);
}

void DispatchPaint(Dialog& dialog) { DialogAccess::OnPaint(dialog); }

}  // namespace ui::headless
