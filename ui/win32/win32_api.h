// The platform's headers for the Win32 backend's sources, each of which
// includes this last, after its own headers: the platform's macros must not
// reach a header of ours. Also the conversions between our window handles
// and the platform's.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <objbase.h>
#include <shlobj.h>

#include "ui/window.h"

// The platform's headers name their functions through macros (MessageBox
// for MessageBoxA, ...) that would rename ours.
#undef GetWindowText
#undef LoadIcon
#undef LoadString
#undef MessageBox
#undef SetWindowText

namespace ui::win32 {

inline HWND ToHwnd(WindowHandle window) { return reinterpret_cast<HWND>(window); }
inline WindowHandle ToHandle(HWND window) { return reinterpret_cast<WindowHandle>(window); }

}  // namespace ui::win32
