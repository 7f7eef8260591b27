#include "app/Tamri.h"

#include <cstring>

#include "app/TamriDlg.h"
#include "plat/clock.h"
#include "plat/process.h"
#include "plat/process_control.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/window_tree.h"

CTamriApp theApp;
std::string DmPassword;
ui::WindowHandle FoundTopWindow = ui::NoWindow;

namespace {

// The longest path the platform's module-name call returns.
constexpr std::size_t kMaxPath = 260;

constexpr const char* kProgramName = "Tamri";
constexpr const char* kPcManagerName = "Corvane";
constexpr const char* kTargetProcessName = "YourTargetProcess.exe";

constexpr int kPcManagerChecks = 3;
constexpr uint32_t kPcManagerPauseMs = 2000;

void ToLowerAscii(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

void EnumTopWindowsReal(bool (*visit)(ui::WindowHandle, uint32_t), uint32_t pid) {
  ui::EnumTopWindows([&](ui::WindowHandle window) { return visit(window, pid); });
}

}  // namespace

GuardCalls RealGuardCalls() {
  return {
      .EnumProcessIds = plat::EnumProcessIds,
      .ProcessImagePath = plat::ProcessImagePath,
      .CurrentProcessId = plat::CurrentProcessId,
      .Sleep = plat::Sleep,
      .EnumTopWindows = EnumTopWindowsReal,
      .WindowProcessId = ui::WindowProcessId,
      .GetParent = ui::GetParent,
      .SetForegroundWindow = ui::SetForegroundWindow,
      .TerminateProcessById = plat::TerminateProcessById,
      .EnableOwnPrivilege = plat::EnableOwnPrivilege,
  };
}

GuardCalls Guards = RealGuardCalls();

uint32_t FindProcessByName(const char* name) {
  std::vector<uint32_t> ids;
  if (!Guards.EnumProcessIds(ids)) return 0;
  // The name as the platform's call would take it: at most a path's length.
  std::string wanted(name, strnlen(name, kMaxPath - 1));
  ToLowerAscii(wanted);
  const uint32_t self = Guards.CurrentProcessId();
  for (const uint32_t id : ids) {
    // The path is read with the process opened and closed inside the call,
    // so no handle outlives it whatever it returns.
    std::string path;
    if (!Guards.ProcessImagePath(id, path)) continue;
    if (path.size() > kMaxPath - 1) path.resize(kMaxPath - 1);
    ToLowerAscii(path);
    if (path.find(wanted) != std::string::npos && id != self) return id;
  }
  return 0;
}

bool FindTopWindowProc(ui::WindowHandle window, uint32_t pid) {
  if (Guards.WindowProcessId(window) != pid) return true;
  ui::WindowHandle top = window;
  for (ui::WindowHandle parent = Guards.GetParent(top); parent != ui::NoWindow; parent = Guards.GetParent(top)) {
    top = parent;
  }
  FoundTopWindow = top;
  return false;
}

int CTamriApp::ActivatePreviousInstance() {
  const uint32_t pid = FindProcessByName(kProgramName);
  if (pid == 0) return 1;
  FoundTopWindow = ui::NoWindow;
  Guards.EnumTopWindows(FindTopWindowProc, pid);
  if (FoundTopWindow != ui::NoWindow) Guards.SetForegroundWindow(FoundTopWindow);
  return 0;
}

int CTamriApp::WaitForPcManagerExit() {
  ui::BeginWaitCursor();
  for (int check = 0; check < kPcManagerChecks; ++check) {
    if (FindProcessByName(kPcManagerName) == 0) {
      ui::EndWaitCursor();
      return 1;
    }
    Guards.Sleep(kPcManagerPauseMs);
  }
  ui::EndWaitCursor();
  return 0;
}

uint32_t CTamriApp::KillTargetProcess() {
  const uint32_t pid = FindProcessByName(kTargetProcessName);
  if (pid == 0) return 0;
  return Guards.TerminateProcessById(pid, 0) ? 1 : 0;
}

uint32_t CTamriApp::EnableDebugPrivilege() { return Guards.EnableOwnPrivilege("SeDebugPrivilege") ? 1 : 0; }

bool CTamriApp::InitInstance() {
  if (ActivatePreviousInstance() == 0) return false;
  if (WaitForPcManagerExit() == 0) {
    ui::MessageBox(ui::NoWindow, ui::LoadString(IDS_PC_MANAGER_RUNNING), ui::MbOk);
    return false;
  }
  {
    CTamriDlg dialog;
    dialog.DoModal();
    // The driver thread ends before the window object goes.
    dialog.ShutdownDriverThread();
  }
  return false;
}
