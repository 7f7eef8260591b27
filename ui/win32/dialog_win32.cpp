// The Win32 backend's modal dialog: DialogBoxParamA on the template of the
// program's resources, with one dialog procedure that hands the messages to
// the Dialog object's virtual handlers.
#include <functional>
#include <mutex>
#include <unordered_map>

#include "plat/clock.h"
#include "ui/common/shown_cache.h"
#include "ui/dialog.h"

#include "ui/win32/win32_api.h"

namespace ui {

using win32::ToHandle;
using win32::ToHwnd;

namespace {

// Private messages of our dialogs. kEndMessage ends the dialog with the
// result that Dialog::EndDialog recorded; kRunMessage runs the function its
// lParam points to (a sent message: the sender's function lives until the
// send returns).
constexpr UINT kEndMessage = WM_APP + 1;
constexpr UINT kRunMessage = WM_APP + 2;

// The dialogs that exist, with the first result asked for by EndDialog.
// EndDialog may come from any thread while the dialog goes away, so what it
// needs is kept here, under a lock, and not in the window.
struct Ending {
  bool asked = false;
  int result = 0;
};
struct Dialogs {
  std::mutex mutex;
  std::unordered_map<HWND, Ending> live;
};
Dialogs& LiveDialogs() {
  // Never destroyed: threads may still end dialogs during static destruction.
  static Dialogs* dialogs = new Dialogs;
  return *dialogs;
}

bool OnWindowThread(HWND window) { return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId(); }

// Runs `run` on the UI thread of `window` (one of our dialogs or a control
// on one) and returns when it has run; not at all for a window that is gone
// or not ours.
void RunOnWindowThread(HWND window, const std::function<void()>& run) {
  const HWND root = GetAncestor(window, GA_ROOT);
  if (root == nullptr) return;
  if (OnWindowThread(root)) {
    run();
    return;
  }
  {
    Dialogs& dialogs = LiveDialogs();
    std::lock_guard lock(dialogs.mutex);
    if (!dialogs.live.contains(root)) return;
  }
  SendMessageA(root, kRunMessage, 0, reinterpret_cast<LPARAM>(&run));
}

// What the shown cache knew of a dialog's windows: the handles are the
// system's, which it reuses, so this runs when the dialog comes and when it
// goes.
BOOL CALLBACK ForgetChild(HWND child, LPARAM) {
  detail::Forget(ToHandle(child));
  return TRUE;
}
void ForgetWindows(HWND dialog) {
  detail::Forget(ToHandle(dialog));
  EnumChildWindows(dialog, ForgetChild, 0);
}

void InitCommonControlsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
  });
}

}  // namespace

struct DialogAccess {
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      Dialog& dialog = *reinterpret_cast<Dialog*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      {
        Dialogs& dialogs = LiveDialogs();
        std::lock_guard lock(dialogs.mutex);
        dialogs.live[window] = Ending{};
      }
      ForgetWindows(window);
      dialog.window_.store(ToHandle(window));
      return dialog.OnInitDialog() ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    return Dispatch(*dialog, window, message, wParam, lParam);
  }

  static INT_PTR Dispatch(Dialog& dialog, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
      case WM_COMMAND:
        return Command(dialog, wParam, lParam) ? TRUE : FALSE;
      case WM_TIMER:
        dialog.OnTimer(wParam);
        return TRUE;
      case WM_CLOSE:
        dialog.OnClose();
        return TRUE;
      case WM_SYSCOMMAND:
        return dialog.OnSysCommand(static_cast<uint32_t>(wParam), lParam) ? TRUE : FALSE;
      case WM_PAINT:
        return dialog.OnPaint() ? TRUE : FALSE;
      case WM_QUERYDRAGICON:
        // One of the messages whose answer is the procedure's return value.
        return static_cast<INT_PTR>(dialog.OnQueryDragIcon());
      case kEndMessage:
        EndNow(window);
        return TRUE;
      case kRunMessage:
        (*reinterpret_cast<const std::function<void()>*>(lParam))();
        return TRUE;
      case WM_DESTROY:
        ForgetWindows(window);
        return FALSE;
      case WM_NCDESTROY: {
        {
          Dialogs& dialogs = LiveDialogs();
          std::lock_guard lock(dialogs.mutex);
          dialogs.live.erase(window);
        }
        dialog.window_.store(NoWindow);
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
      }
      default:
        return FALSE;
    }
  }

  // A button click, a menu or accelerator command, or a posted command;
  // other notifications of the controls are no commands.
  static bool Command(Dialog& dialog, WPARAM wParam, LPARAM lParam) {
    if (lParam != 0 && HIWORD(wParam) != BN_CLICKED) return false;
    const uint32_t id = LOWORD(wParam);
    if (dialog.OnCommand(id)) return true;
    if (id == IDOK) {
      dialog.OnOK();
      return true;
    }
    if (id == IDCANCEL) {
      dialog.OnCancel();
      return true;
    }
    return false;
  }

  // Ends the dialog with the result EndDialog recorded. UI thread.
  static void EndNow(HWND window) {
    int result = 0;
    {
      Dialogs& dialogs = LiveDialogs();
      std::lock_guard lock(dialogs.mutex);
      const auto it = dialogs.live.find(window);
      if (it == dialogs.live.end() || !it->second.asked) return;
      result = it->second.result;
    }
    ::EndDialog(window, result);
  }
};

Dialog::Dialog(int templateId, WindowHandle parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() = default;

int Dialog::DoModal() {
  InitCommonControlsOnce();
  HWND owner = ToHwnd(parent_);
  if (owner != nullptr && !::IsWindow(owner)) return -1;
  // Without a parent the dialog is owned by the thread's active window, as
  // the platform's dialog class does: the about box keeps the main dialog
  // disabled while it shows.
  if (owner == nullptr) owner = GetActiveWindow();
  const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), owner,
                                         DialogAccess::Procedure, reinterpret_cast<LPARAM>(this));
  return static_cast<int>(result);
}

WindowHandle Dialog::Item(int id) const {
  const HWND window = ToHwnd(Handle());
  if (window == nullptr) return NoWindow;
  return reinterpret_cast<WindowHandle>(GetDlgItem(window, id));
}

void Dialog::EndDialog(int result) {
  const HWND window = ToHwnd(Handle());
  if (window == nullptr) return;
  {
    Dialogs& dialogs = LiveDialogs();
    std::lock_guard lock(dialogs.mutex);
    const auto it = dialogs.live.find(window);
    if (it == dialogs.live.end() || it->second.asked) return;
    it->second = Ending{true, result};
  }
  // The platform's EndDialog belongs to the dialog's own thread.
  if (OnWindowThread(window)) {
    DialogAccess::EndNow(window);
  } else {
    PostMessageA(window, kEndMessage, 0, 0);
  }
}

bool Dialog::UpdateData(bool save) {
  DataExchange dx(*this, save);
  DoDataExchange(dx);
  return true;
}

bool Dialog::SetTimer(uintptr_t id, uint32_t ms) {
  const HWND window = ToHwnd(Handle());
  if (window == nullptr) return false;
  // The system's timers may be set on another thread's window of the process.
  return ::SetTimer(window, id, plat::RealMs(ms), nullptr) != 0;
}

bool Dialog::KillTimer(uintptr_t id) {
  const HWND window = ToHwnd(Handle());
  if (window == nullptr) return false;
  return ::KillTimer(window, id) != FALSE;
}

void Dialog::SetIcon(IconHandle icon, bool big) {
  SendMessageA(ToHwnd(Handle()), WM_SETICON, big ? ICON_BIG : ICON_SMALL, static_cast<LPARAM>(icon));
}

bool Dialog::AppendSystemMenuItem(uint32_t id, const std::string& text) {
  const HWND window = ToHwnd(Handle());
  if (window == nullptr) return false;
  const HMENU menu = GetSystemMenu(window, FALSE);
  if (menu == nullptr) return false;
  return AppendMenuA(menu, MF_SEPARATOR, 0, nullptr) != FALSE &&
         AppendMenuA(menu, MF_STRING, id, text.c_str()) != FALSE;
}

bool Dialog::IsIconic() const { return ::IsIconic(ToHwnd(Handle())) != FALSE; }


void SetFocus(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  // The keyboard focus belongs to a thread's input: it is set on the thread
  // that owns the window.
  RunOnWindowThread(hwnd, [hwnd] { ::SetFocus(hwnd); });
}

struct PaintContext::Impl {
  HWND window = nullptr;
  PAINTSTRUCT paint{};
  HDC device = nullptr;
};

PaintContext::PaintContext(Dialog& dialog) : dialog_(dialog), impl_(new Impl) {
  impl_->window = ToHwnd(dialog_.Handle());
  impl_->device = BeginPaint(impl_->window, &impl_->paint);
}

PaintContext::~PaintContext() {
  if (impl_->device != nullptr) EndPaint(impl_->window, &impl_->paint);
  delete impl_;
}

int PaintContext::ClientWidth() const {
  RECT client{};
  GetClientRect(impl_->window, &client);
  return client.right - client.left;
}

int PaintContext::ClientHeight() const {
  RECT client{};
  GetClientRect(impl_->window, &client);
  return client.bottom - client.top;
}

void PaintContext::EraseIconBackground() {
  if (impl_->device == nullptr) return;
  SendMessageA(impl_->window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(impl_->device), 0);
}

void PaintContext::DrawIcon(int x, int y, IconHandle icon) {
  if (impl_->device == nullptr) return;
  ::DrawIcon(impl_->device, x, y, reinterpret_cast<HICON>(icon));
}

int SystemIconWidth() { return GetSystemMetrics(SM_CXICON); }

int SystemIconHeight() { return GetSystemMetrics(SM_CYICON); }

}  // namespace ui
