// The Win32 backend's window calls and controls: every call is the window
// message of the same meaning, sent with SendMessageA, which the system
// hands to the window's UI thread and waits for when the caller is another
// thread.
#include <string>
#include <vector>

#include "ui/common/dialog_common.h"
#include "ui/common/shown_cache.h"
#include "ui/dialog.h"
#include "ui/window.h"

#include "ui/win32/win32_api.h"

namespace ui {

using win32::ToHwnd;

namespace {

bool HasClass(HWND window, const char* name) {
  char buffer[64];
  return GetClassNameA(window, buffer, sizeof buffer) > 0 && lstrcmpiA(buffer, name) == 0;
}

bool IsComboBox(HWND window) { return HasClass(window, WC_COMBOBOXA); }

void RawSendText(WindowHandle window, const char* text) {
  SendMessageA(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : ""));
}
void RawSendProgress(WindowHandle window, int position) {
  SendMessageA(ToHwnd(window), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

using detail::OtherWrite;

// Reads a text whose length another thread may change between the length
// and the read: the buffer grows until the text fits with room to spare.
template <typename Length, typename Read>
std::string ReadText(Length length, Read read) {
  const LRESULT first = length();
  if (first <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(first) + 2);
  for (;;) {
    const LRESULT got = read(buffer.data(), buffer.size());
    if (got < 0) return {};
    if (static_cast<size_t>(got) + 1 < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(got));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

bool IsWindow(WindowHandle window) { return window != NoWindow && ::IsWindow(ToHwnd(window)) != FALSE; }

// A send that the window already shows is left out: the download engine
// repeats its status line and progress value for every block.
void SendText(WindowHandle window, const char* text) { detail::SendTextOnce(window, text, RawSendText); }

void SendProgress(WindowHandle window, int position) { detail::SendProgressOnce(window, position, RawSendProgress); }

void PostCommand(WindowHandle window, uint32_t id) {
  // WM_COMMAND carries a 16-bit id: a larger one would arrive as another
  // command, so it is dropped.
  if (id > 0xFFFF) return;
  PostMessageA(ToHwnd(window), WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void SetWindowText(WindowHandle window, const std::string& text) {
  OtherWrite(window, [&] { SendMessageA(ToHwnd(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())); });
}

std::string GetWindowText(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  return ReadText([&] { return SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0); },
                  [&](char* buffer, size_t size) {
                    return SendMessageA(hwnd, WM_GETTEXT, size, reinterpret_cast<LPARAM>(buffer));
                  });
}

void EnableWindow(WindowHandle window, bool enable) { ::EnableWindow(ToHwnd(window), enable ? TRUE : FALSE); }

bool IsWindowEnabled(WindowHandle window) { return ::IsWindowEnabled(ToHwnd(window)) != FALSE; }

int ComboAddString(WindowHandle combo, const std::string& text) {
  if (!IsComboBox(ToHwnd(combo))) return -1;
  const LRESULT index = SendMessageA(ToHwnd(combo), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  return index < 0 ? -1 : static_cast<int>(index);
}

int ComboCount(WindowHandle combo) {
  if (!IsComboBox(ToHwnd(combo))) return 0;
  const LRESULT count = SendMessageA(ToHwnd(combo), CB_GETCOUNT, 0, 0);
  return count < 0 ? 0 : static_cast<int>(count);
}

std::string ComboItem(WindowHandle combo, int index) {
  const HWND hwnd = ToHwnd(combo);
  if (!IsComboBox(hwnd)) return {};
  return ReadText([&] { return SendMessageA(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0); },
                  [&](char* buffer, size_t size) -> LRESULT {
                    // CB_GETLBTEXT takes no buffer size: make sure the entry
                    // still fits before it is copied.
                    const LRESULT length = SendMessageA(hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
                    if (length < 0) return -1;
                    if (static_cast<size_t>(length) + 1 >= size) return static_cast<LRESULT>(size);
                    return SendMessageA(hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer));
                  });
}

void ComboSetCurSel(WindowHandle combo, int index) {
  if (!IsComboBox(ToHwnd(combo))) return;
  OtherWrite(combo, [&] { SendMessageA(ToHwnd(combo), CB_SETCURSEL, static_cast<WPARAM>(index), 0); });
}

int ComboCurSel(WindowHandle combo) {
  if (!IsComboBox(ToHwnd(combo))) return -1;
  return static_cast<int>(SendMessageA(ToHwnd(combo), CB_GETCURSEL, 0, 0));
}

int GetProgress(WindowHandle progress) {
  if (!HasClass(ToHwnd(progress), PROGRESS_CLASSA)) return 0;
  return static_cast<int>(SendMessageA(ToHwnd(progress), PBM_GETPOS, 0, 0));
}

namespace detail {

void LoadExchangedText(WindowHandle control, const std::string& value) {
  if (!IsComboBox(ToHwnd(control))) {
    SetWindowText(control, value);
    return;
  }
  OtherWrite(control, [&] {
    const LRESULT found =
        SendMessageA(ToHwnd(control), CB_SELECTSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(value.c_str()));
    if (found == CB_ERR) SendMessageA(ToHwnd(control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
  });
}

}  // namespace detail

}  // namespace ui
