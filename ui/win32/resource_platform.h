// The platform's definitions a resource script needs (window, control and
// dialog styles, language ids, version-information flags), supplied by the
// Win32 backend so that res/ names no platform header of its own.
#pragma once

#include <windows.h>
#include <commctrl.h>
