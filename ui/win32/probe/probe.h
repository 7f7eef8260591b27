// What a test of the Win32 dialog layer reads of the real windows and how it
// acts on them as a user would: the facts of a dialog's controls, menus,
// the program's version resource, and the message boxes and common dialogs
// shown by the program. Built into the Windows test only, so that the test
// itself includes no header of the platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/window.h"

namespace ui::probe {

// Style bits, with the platform's values.
inline constexpr uint32_t WsPopup = 0x80000000;
inline constexpr uint32_t WsVisible = 0x10000000;
inline constexpr uint32_t WsDisabled = 0x08000000;
inline constexpr uint32_t WsCaption = 0x00C00000;
inline constexpr uint32_t WsSysMenu = 0x00080000;
inline constexpr uint32_t DsModalFrame = 0x00000080;
inline constexpr uint32_t WsBorder = 0x00800000;
inline constexpr uint32_t WsVScroll = 0x00200000;
inline constexpr uint32_t WsGroup = 0x00020000;
inline constexpr uint32_t WsTabStop = 0x00010000;
inline constexpr uint32_t WsExStaticEdge = 0x00020000;
inline constexpr uint32_t WsExAppWindow = 0x00040000;
inline constexpr uint32_t BsTypeMask = 0x0000000F;
inline constexpr uint32_t BsPushButton = 0x00000000;
inline constexpr uint32_t BsDefPushButton = 0x00000001;
inline constexpr uint32_t CbsDropDown = 0x00000002;
inline constexpr uint32_t CbsAutoHScroll = 0x00000040;
inline constexpr uint32_t CbsSort = 0x00000100;
inline constexpr uint32_t SsTypeMask = 0x0000001F;
inline constexpr uint32_t SsLeft = 0x00000000;
inline constexpr uint32_t SsIcon = 0x00000003;
inline constexpr uint32_t SsNoPrefix = 0x00000080;

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

struct WindowFacts {
  WindowHandle window = NoWindow;
  int id = 0;  // -1 for IDC_STATIC
  std::string className;
  std::string text;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  Rect pixels;  // in the parent's client area (a top-level window: on the screen)
};

WindowFacts Facts(WindowHandle window);
// The child windows of `dialog` in their order, which is the template's.
std::vector<WindowFacts> Children(WindowHandle dialog);
// A dialog template of the program's resources as compiled, read from the
// executable: the real windows change some styles of their own (a combo box
// hands its scroll bar to its list, the dialog manager moves the default
// button), so the styles the script asked for are read here.
struct TemplateItem {
  int id = 0;
  std::string className;  // "Button", "Static", ... for the predefined classes
  std::string text;
  int textResource = -1;  // a text given as a resource id (a static icon's icon)
  uint32_t style = 0;
  uint32_t exStyle = 0;
  Rect units;
};
struct DialogResource {
  bool found = false;
  std::string caption;
  std::string font;
  int pointSize = 0;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  Rect units;
  std::vector<TemplateItem> items;
};
DialogResource ReadDialogResource(int id);
// The dialog's default button (DM_GETDEFID); 0 for none.
int DefaultButton(WindowHandle dialog);

// A rectangle in the dialog's units, in its client area's pixels, mapped as
// the dialog manager maps a control's place and size.
Rect DialogUnitsToPixels(WindowHandle dialog, Rect units);
Rect ClientRect(WindowHandle window);
WindowHandle Owner(WindowHandle window);
// Control `id` of any dialog window (also one the system shows).
WindowHandle DialogItem(WindowHandle dialog, int id);

// The items of popup `index` of menu resource `menuId`: the popup's text and
// each item's id and text.
struct MenuItem {
  uint32_t id = 0;  // 0 for a separator
  std::string text;
  bool operator==(const MenuItem&) const = default;
};
struct Popup {
  std::string text;
  std::vector<MenuItem> items;
};
Popup MenuPopup(int menuId, int index);
// The dialog's system menu.
std::vector<MenuItem> SystemMenu(WindowHandle dialog);

// The icon a window shows: WM_GETICON big or small; STM_GETICON of a static.
IconHandle WindowIcon(WindowHandle window, bool big);
IconHandle StaticIcon(WindowHandle staticControl);
// The icon the window answers to WM_QUERYDRAGICON; any thread.
IconHandle QueryDragIcon(WindowHandle window);
// The size of an icon in pixels; 0 x 0 for no icon.
Rect IconSize(IconHandle icon);
// An icon of the program's resources at a chosen size.
IconHandle LoadIconSized(int id, int width, int height);
// The platform's shared exclamation and stop icons.
IconHandle ExclamationIcon();
IconHandle StopIcon();

// A text of the executable's version resource ("ProductName", ...); empty
// when it has none. The version numbers as major << 16 | minor.
std::string VersionText(const std::string& key);
uint32_t FileVersionMajorMinor();

// The thread's cursor and the platform's wait cursor.
std::uintptr_t CurrentCursor();
std::uintptr_t WaitCursor();

// The window with the keyboard focus of the calling thread's input.
WindowHandle Focused();

// A user's input, posted to the window's thread, returning at once.
// Click: a click on the button `id` of `dialog`, refused (false) when the
// button is missing or disabled. Notify: a control's notification code for
// the dialog (not a click). Close: the close box. SysCommand: a system menu
// command.
bool Click(WindowHandle dialog, int id);
void Notify(WindowHandle dialog, int id, int code);
void Close(WindowHandle dialog);
void SysCommand(WindowHandle dialog, uint32_t command);
// Asks the window to paint now (invalidates it and sends WM_PAINT). Any thread.
void Repaint(WindowHandle window);
void Minimise(WindowHandle window);

// A top-level dialog window ("#32770") of this process with caption
// `caption` (empty: any caption, not `except`), waited for up to `ms` of
// real time; NoWindow when none came.
WindowHandle WaitForDialogWindow(const std::string& caption, uint32_t ms, WindowHandle except = NoWindow);
// A message box's text and icon (0 for none).
std::string MessageBoxText(WindowHandle box);
IconHandle MessageBoxIcon(WindowHandle box);
// The ids of the buttons a dialog window shows, in their order.
std::vector<int> ButtonIds(WindowHandle dialog);
// Types `text` into the edit field of control `id` of a dialog window (the
// combo box's edit field for a combo box).
void TypeText(WindowHandle dialog, int id, const std::string& text);

}  // namespace ui::probe
