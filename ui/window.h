// Window handles and the few calls the download engine makes on them. A
// window belongs to the UI thread that created it; the backend the build picks
// supplies the windows (the Win32 one maps these calls one to one onto
// IsWindow, SendMessageA and PostMessageA).
#pragma once

#include <cstdint>

namespace ui {

// An opaque window handle; 0 names no window.
using WindowHandle = std::uintptr_t;
inline constexpr WindowHandle NoWindow = 0;

// True while `window` names a window that has not been destroyed.
bool IsWindow(WindowHandle window);

// The two sends return once the window's UI thread has applied them; called
// on that thread they apply at once. For no window, or one destroyed while
// the call waits, they return without effect.

// Sets the window's text (WM_SETTEXT).
void SendText(WindowHandle window, const char* text);

// Sets a progress bar's position (PBM_SETPOS); the value is passed unchanged,
// the bar keeps it within its own range.
void SendProgress(WindowHandle window, int position);

// Queues the command `id` (WM_COMMAND) for the window's UI thread and returns
// at once; the thread handles a window's commands in the order they were
// posted. Dropped for no window, or when the window is destroyed first.
void PostCommand(WindowHandle window, uint32_t id);

}  // namespace ui
