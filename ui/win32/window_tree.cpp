#include "ui/window_tree.h"

#include <windows.h>

namespace ui {
namespace {

BOOL CALLBACK VisitTopWindow(HWND window, LPARAM context) {
  const auto& visit = *reinterpret_cast<const std::function<bool(WindowHandle)>*>(context);
  return visit(reinterpret_cast<WindowHandle>(window)) ? TRUE : FALSE;
}

HWND Hwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }

}  // namespace

void EnumTopWindows(const std::function<bool(WindowHandle)>& visit) {
  EnumWindows(VisitTopWindow, reinterpret_cast<LPARAM>(&visit));
}

uint32_t WindowProcessId(WindowHandle window) {
  DWORD pid = 0;
  if (GetWindowThreadProcessId(Hwnd(window), &pid) == 0) return 0;
  return pid;
}

WindowHandle GetParent(WindowHandle window) { return reinterpret_cast<WindowHandle>(::GetParent(Hwnd(window))); }

bool SetForegroundWindow(WindowHandle window) { return ::SetForegroundWindow(Hwnd(window)) != 0; }

}  // namespace ui
