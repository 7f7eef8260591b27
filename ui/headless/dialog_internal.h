// The headless backend's entry to a dialog's handlers, shared by the
// dialogs and the test driver.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/dialog.h"
#include "ui/window.h"

namespace ui {

struct DialogAccess {
  static void SetWindow(Dialog& dialog, WindowHandle window) { dialog.window_.store(window); }
  static bool OnInitDialog(Dialog& dialog) { return dialog.OnInitDialog(); }
  static void DoDataExchange(Dialog& dialog, DataExchange& dx) { dialog.DoDataExchange(dx); }
  static void OnOK(Dialog& dialog) { dialog.OnOK(); }
  static void OnCancel(Dialog& dialog) { dialog.OnCancel(); }
  static bool OnCommand(Dialog& dialog, uint32_t id) { return dialog.OnCommand(id); }
  static void OnTimer(Dialog& dialog, uintptr_t id) { dialog.OnTimer(id); }
  static void OnClose(Dialog& dialog) { dialog.OnClose(); }
  static bool OnSysCommand(Dialog& dialog, uint32_t id, intptr_t param) { return dialog.OnSysCommand(id, param); }
  static bool OnPaint(Dialog& dialog) { return dialog.OnPaint(); }
};

}  // namespace ui

namespace ui::headless {

// Queues `handler` for the dialog's UI thread, which runs it with the dialog
// unless the dialog's window is gone first. False when `dialog` names no
// dialog.
bool PostToDialog(WindowHandle dialog, std::function<void(Dialog&)> handler);

// What the platform's dialog does with these messages, on the UI thread.
void DispatchCommand(Dialog& dialog, uint32_t id);
void DispatchSysCommand(Dialog& dialog, uint32_t id, intptr_t param);
void DispatchPaint(Dialog& dialog);

}  // namespace ui::headless
