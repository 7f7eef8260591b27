// Our dialog layer: modal dialogs built from a template id, their controls,
// timers, message boxes, the shell's folder browser and the open-file dialog.
// The application is written against this header only; the build picks the
// backend (Win32 for the product, headless for tests).
//
// Threads: a dialog belongs to the thread that runs DoModal (its UI thread).
// Every free function on a window handle may be called from any thread: off
// the UI thread it waits until the UI thread has applied it, as a sent window
// message does. A handle that names no window (also one destroyed
// meanwhile) makes every call a no-op returning the empty value.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ui/window.h"

namespace ui {

// Message box styles and answers, with the platform's values.
inline constexpr unsigned MbOk = 0x0000;
inline constexpr unsigned MbOkCancel = 0x0001;
inline constexpr unsigned MbYesNo = 0x0004;
inline constexpr unsigned MbIconStop = 0x0010;
inline constexpr unsigned MbIconExclamation = 0x0030;
inline constexpr unsigned MbIconMask = 0x00F0;
inline constexpr unsigned MbDefButton2 = 0x0100;

inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;

// The system menu's Close command.
inline constexpr uint32_t ScClose = 0xF060;

// An icon loaded from the program's resources; 0 is none.
using IconHandle = std::uintptr_t;

class Dialog;

// The data exchange between a dialog's controls and its members.
class DataExchange {
 public:
  DataExchange(Dialog& dialog, bool saving) : dialog_(dialog), saving_(saving) {}
  // True: controls to members (UpdateData(true)); false: members to controls.
  bool Saving() const { return saving_; }
  Dialog& Owner() const { return dialog_; }

 private:
  Dialog& dialog_;
  bool saving_;
};

// Attaches control `id` to `control` (its window handle).
void ExchangeControl(DataExchange& dx, int id, WindowHandle& control);
// The window text of control `id` with `value`. For a combo box, loading
// selects the first list entry that begins with `value` (without regard to
// case), else puts `value` into the edit field; saving reads the edit field.
void ExchangeText(DataExchange& dx, int id, std::string& value);

// A modal dialog, in the manner of the platform's dialog class: the handlers
// are virtual, and each base handler does what the platform's does.
class Dialog {
 public:
  explicit Dialog(int templateId, WindowHandle parent = NoWindow);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the dialog from its template, runs it on the calling thread until
  // EndDialog, destroys its window and returns the code given to EndDialog;
  // -1 when the dialog cannot be created.
  int DoModal();

  int TemplateId() const { return templateId_; }
  WindowHandle Parent() const { return parent_; }
  // The dialog's window, from just before OnInitDialog until its window is
  // destroyed; NoWindow otherwise. Any thread.
  WindowHandle Handle() const { return window_.load(); }
  // The window of control `id`; NoWindow when there is none.
  WindowHandle Item(int id) const;

  // Ends the dialog with `result`: DoModal returns once the UI thread gets to
  // it. Any thread; a second call keeps the first result.
  void EndDialog(int result);

  // Runs the data exchange: true, controls to members; false, members to
  // controls. UI thread. Always true (no exchange of ours can fail).
  bool UpdateData(bool save);

  // Timers of this dialog (WM_TIMER to OnTimer, repeating until killed, on
  // the scaled system time). Setting an id again restarts it. Any thread.
  bool SetTimer(uintptr_t id, uint32_t ms);
  bool KillTimer(uintptr_t id);

  // Sets the dialog's big or small icon.
  void SetIcon(IconHandle icon, bool big);
  // Appends a separator and then an item to the dialog's system menu; false
  // when it has none.
  bool AppendSystemMenuItem(uint32_t id, const std::string& text);
  bool IsIconic() const;

 protected:
  // Base: runs the data exchange to the controls; returns true (focus to the
  // default control).
  virtual bool OnInitDialog();
  virtual void DoDataExchange(DataExchange& dx);
  // Base: saves the data and ends the dialog with IdOk.
  virtual void OnOK();
  // Base: ends the dialog with IdCancel.
  virtual void OnCancel();
  // A command (button click, posted command). Return true when handled;
  // otherwise the base sends IdOk to OnOK and IdCancel to OnCancel.
  virtual bool OnCommand(uint32_t id);
  virtual void OnTimer(uintptr_t id);
  // Base: OnCancel.
  virtual void OnClose();
  // Return true when handled; otherwise the platform's default handling
  // (ScClose becomes OnClose).
  virtual bool OnSysCommand(uint32_t id, intptr_t param);
  // Return true when painted; otherwise the platform paints.
  virtual bool OnPaint();
  // The icon dragged for the minimised window; 0 for the platform's.
  virtual IconHandle OnQueryDragIcon();

 private:
  friend struct DialogAccess;  // the backend's entry to the handlers
  const int templateId_;
  const WindowHandle parent_;
  std::atomic<WindowHandle> window_{NoWindow};  // set and cleared by the backend
};

// A paint context of a dialog, open between construction and destruction
// (BeginPaint and EndPaint). UI thread, inside OnPaint.
class PaintContext {
 public:
  explicit PaintContext(Dialog& dialog);
  ~PaintContext();
  PaintContext(const PaintContext&) = delete;
  PaintContext& operator=(const PaintContext&) = delete;
  int ClientWidth() const;
  int ClientHeight() const;
  // Sends the dialog WM_ICONERASEBKGND with this context's device.
  void EraseIconBackground();
  void DrawIcon(int x, int y, IconHandle icon);

 private:
  Dialog& dialog_;
  struct Impl;
  Impl* impl_;
};

// The system metrics for an icon's size.
int SystemIconWidth();
int SystemIconHeight();

// Controls.
void SetWindowText(WindowHandle window, const std::string& text);
std::string GetWindowText(WindowHandle window);
void EnableWindow(WindowHandle window, bool enable);
bool IsWindowEnabled(WindowHandle window);
void SetFocus(WindowHandle window);
// A combo box's list: AddString inserts at the sorted place when the box is
// sorted, else at the end, and returns the index; -1 for no combo box.
int ComboAddString(WindowHandle combo, const std::string& text);
int ComboCount(WindowHandle combo);
std::string ComboItem(WindowHandle combo, int index);
// Selects entry `index` (its text goes to the edit field); -1 clears.
void ComboSetCurSel(WindowHandle combo, int index);
int ComboCurSel(WindowHandle combo);
// A progress bar's position (PBM_GETPOS); SendProgress sets it.
int GetProgress(WindowHandle progress);

// The program's name: the executable's base name without its extension. It
// captions every message box.
std::string AppName();
// A text of the program's string table; empty when there is none.
std::string LoadString(int id);
// An icon of the program's resources.
IconHandle LoadIcon(int id);

// A message box with the program's name as caption, owned by `owner` (may be
// NoWindow), modal on the calling thread, which may be any thread; returns
// the answer (IdOk, IdCancel, IdYes, IdNo). Without an icon in `flags` the
// exclamation icon is added, as the platform's dialog library does.
int MessageBox(WindowHandle owner, const std::string& text, unsigned flags);
// The same box as the platform itself shows it: with exactly `flags`, so
// without an icon in them it has none.
int PlatformMessageBox(WindowHandle owner, const std::string& text, unsigned flags);

// The shell's folder browser (no owner, the desktop as root, no title,
// file-system folders only, status text). True with the chosen folder's path
// in `path`; false when cancelled or the choice has no file-system path.
bool BrowseForFolder(std::string& path);
// The open-file dialog for one existing file, owned by `owner`; `filter` in
// the platform's form ("Text (*.txt)|*.txt||"), empty for none. On entry
// `path` is the initial file name (empty for none). True with the path.
bool OpenFileDialog(WindowHandle owner, const std::string& filter, std::string& path);

// The wait cursor, counted: shown from the first Begin to the last End.
void BeginWaitCursor();
void EndWaitCursor();

}  // namespace ui
