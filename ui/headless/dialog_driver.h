// Driving the headless backend's dialogs from a test, as a person would:
// find a running dialog, read what its controls show, press its buttons,
// close it; and answer the message boxes, folder browsers and open-file
// dialogs the program shows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/window.h"

namespace ui::headless {

// What one control or dialog window shows. A snapshot.
struct ControlView {
  int id = -1;
  std::string text;  // window text; a combo box's edit field
  bool enabled = true;
  bool focused = false;
  int progress = 0;                // progress bars
  std::vector<std::string> items;  // combo boxes, in list order
  int selection = -1;              // combo boxes
};

struct DialogView {
  int templateId = 0;
  std::string caption;
  bool enabled = true;
  bool minimised = false;
  IconHandle bigIcon = 0;
  IconHandle smallIcon = 0;
  std::vector<std::string> systemMenu;      // the items appended, a separator as ""
  std::vector<uintptr_t> timers;            // the ids of the running timers
  struct Draw {
    int x, y;
    IconHandle icon;
  };
  std::vector<Draw> iconDraws;              // every DrawIcon of a paint, in order
  int iconBackgroundErases = 0;             // WM_ICONERASEBKGND sent by paints
  std::vector<ControlView> controls;        // in template order
};

// The newest running dialog of `templateId` (0: of any template); waits up
// to `ms` of real time. NoWindow when none came.
WindowHandle WaitForDialog(int templateId, uint32_t ms);
// Waits up to `ms` of real time for the dialog to have ended.
bool WaitForDialogEnd(WindowHandle dialog, uint32_t ms);
std::optional<DialogView> View(WindowHandle dialog);
std::optional<ControlView> Control(WindowHandle dialog, int id);
// Waits up to `ms` of real time until the control's text equals `text`;
// false when it did not, with the last text in `last` when given.
bool WaitForText(WindowHandle dialog, int id, const std::string& text, uint32_t ms, std::string* last = nullptr);

// Input, each queued for the dialog's UI thread and returned from at once.
// Click: a button click (WM_COMMAND with the button's id), refused (false)
// when the button is disabled or the dialog is; Command: any command id;
// Close: WM_CLOSE (the close box); Escape: the cancel command IdCancel;
// SysCommand: WM_SYSCOMMAND; Type: the user types into a combo box's edit
// field (replaces its text).
bool Click(WindowHandle dialog, int id);
void Command(WindowHandle dialog, uint32_t id);
void Close(WindowHandle dialog);
void Escape(WindowHandle dialog);
void SysCommand(WindowHandle dialog, uint32_t id);
void Type(WindowHandle dialog, int id, const std::string& text);
// Minimises or restores the dialog, then paints it (WM_PAINT).
void SetMinimised(WindowHandle dialog, bool minimised);
void Paint(WindowHandle dialog);
// Returns once the dialog's UI thread has handled everything queued before.
void Sync(WindowHandle dialog);

// A message box, folder browser or open-file dialog the program shows.
struct BoxRequest {
  WindowHandle owner = NoWindow;
  std::string caption;
  std::string text;
  unsigned flags = 0;  // as shown: with the icon MessageBox adds where none was given
};
// Answers each message box on the thread that shows it. Without a responder a
// box answers its default button and is kept in UnansweredBoxes().
using BoxResponder = std::function<int(const BoxRequest&)>;
void SetBoxResponder(BoxResponder responder);
std::vector<BoxRequest> UnansweredBoxes();
void ClearUnansweredBoxes();

// The folder browser's and open-file dialog's answers: a path, or nothing
// for cancel. Without a responder both are cancelled.
using PathResponder = std::function<std::optional<std::string>()>;
void SetFolderResponder(PathResponder responder);
void SetOpenFileResponder(PathResponder responder);

// The program's name (default "Tamri") and the wait cursor's depth.
void SetAppName(const std::string& name);
int WaitCursorDepth();

}  // namespace ui::headless
