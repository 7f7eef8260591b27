// The top-level windows of the desktop, for finding another process's
// window and bringing it to the front.
#pragma once

#include <cstdint>
#include <functional>

#include "ui/window.h"

namespace ui {

// Calls `visit` for each top-level window in the platform's order until it
// returns false.
void EnumTopWindows(const std::function<bool(WindowHandle)>& visit);
// The id of the process that created `window`; 0 for none.
uint32_t WindowProcessId(WindowHandle window);
// The window's parent or owner; NoWindow for none.
WindowHandle GetParent(WindowHandle window);
bool SetForegroundWindow(WindowHandle window);

}  // namespace ui
