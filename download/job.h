// The block the main window fills before each transfer: where the firmware
// package lies, which port the device waits on, and the windows that hear
// what the transfer does.
#pragma once

#include <cstdint>

#include "ui/window.h"

struct DownloadJob {
  char ImagePath[260] = {};                  // the package folder, NUL-terminated
  int32_t ComPort = 0;                       // COM number of the device's diagnostic port
  ui::WindowHandle StatusWnd = ui::NoWindow;    // the status line
  ui::WindowHandle ProgressWnd = ui::NoWindow;  // the progress bar, set to a percent
  ui::WindowHandle DialogWnd = ui::NoWindow;    // told when a transfer has completed
};
