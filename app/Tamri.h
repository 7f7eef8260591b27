// The application object: the start-up guards (no second copy of the
// program, not while the PC manager runs), then the main dialog, run
// modally; the program ends when the dialog ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/window.h"

class CTamriApp {
 public:
  CTamriApp() = default;
  virtual ~CTamriApp() = default;

  // Runs the guards and the main dialog; always false: there is no message
  // loop to run after the dialog.
  virtual bool InitInstance();

  // 1 when no other copy runs; else 0, after bringing that copy's window to
  // the front.
  int ActivatePreviousInstance();
  // 1 when the PC manager does not run, or stopped within three checks two
  // seconds apart; else 0.
  int WaitForPcManagerExit();

  // Not called by the program.
  uint32_t KillTargetProcess();
  uint32_t EnableDebugPrivilege();
};

extern CTamriApp theApp;

// The access code for the diagnostic-mode switch, filled from the settings
// by the main window.
extern std::string DmPassword;

// The id of another process whose executable path contains `name` (letters
// compared without regard to case, folders included), or 0.
uint32_t FindProcessByName(const char* name);

// The window-enumeration step: for a window of process `pid`, stores its
// topmost parent or owner as the found window and stops (false).
bool FindTopWindowProc(ui::WindowHandle window, uint32_t pid);
// The window FindTopWindowProc found last; NoWindow for none.
extern ui::WindowHandle FoundTopWindow;

// What the guards ask of the platform, replaceable by tests.
struct GuardCalls {
  bool (*EnumProcessIds)(std::vector<uint32_t>& ids);
  bool (*ProcessImagePath)(uint32_t pid, std::string& path);
  uint32_t (*CurrentProcessId)();
  void (*Sleep)(uint32_t ms);
  void (*EnumTopWindows)(bool (*visit)(ui::WindowHandle, uint32_t), uint32_t pid);
  uint32_t (*WindowProcessId)(ui::WindowHandle window);
  ui::WindowHandle (*GetParent)(ui::WindowHandle window);
  bool (*SetForegroundWindow)(ui::WindowHandle window);
  bool (*TerminateProcessById)(uint32_t pid, uint32_t exitCode);
  bool (*EnableOwnPrivilege)(const std::string& name);
};
extern GuardCalls Guards;
GuardCalls RealGuardCalls();
