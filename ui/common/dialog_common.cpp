// What the dialog class does the same on every backend: the base handlers,
// the data exchange over the backend's controls, and the library's message
// box over the platform's.
#include "ui/common/dialog_common.h"

#include "ui/dialog.h"

namespace ui {

bool Dialog::OnInitDialog() {
  UpdateData(false);
  return true;
}

void Dialog::DoDataExchange(DataExchange& /*dx*/) {}

void Dialog::OnOK() {
  UpdateData(true);
  EndDialog(IdOk);
}

void Dialog::OnCancel() { EndDialog(IdCancel); }

bool Dialog::OnCommand(uint32_t /*id*/) { return false; }

void Dialog::OnTimer(uintptr_t /*id*/) {}

void Dialog::OnClose() { OnCancel(); }

bool Dialog::OnSysCommand(uint32_t /*id*/, intptr_t /*param*/) { return false; }

bool Dialog::OnPaint() { return false; }

IconHandle Dialog::OnQueryDragIcon() { return 0; }

void ExchangeControl(DataExchange& dx, int id, WindowHandle& control) { control = dx.Owner().Item(id); }

void ExchangeText(DataExchange& dx, int id, std::string& value) {
  const WindowHandle control = dx.Owner().Item(id);
  if (control == NoWindow) return;
  if (dx.Saving()) {
    // A combo box's window text is its edit field.
    value = GetWindowText(control);
    return;
  }
  detail::LoadExchangedText(control, value);
}

int MessageBox(WindowHandle owner, const std::string& text, unsigned flags) {
  if ((flags & MbIconMask) == 0) flags |= MbIconExclamation;
  return PlatformMessageBox(owner, text, flags);
}

}  // namespace ui
