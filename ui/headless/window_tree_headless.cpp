// Headless windows belong to no desktop and no other process can own one:
// the desktop's list of top-level windows is empty here.
#include "ui/window_tree.h"

namespace ui {

void EnumTopWindows(const std::function<bool(WindowHandle)>& /*visit*/) {}
uint32_t WindowProcessId(WindowHandle /*window*/) { return 0; }
WindowHandle GetParent(WindowHandle /*window*/) { return NoWindow; }
bool SetForegroundWindow(WindowHandle /*window*/) { return false; }

}  // namespace ui
