#include "ui/win32/probe/probe.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "ui/win32/win32_api.h"

namespace ui::probe {

using win32::ToHandle;
using win32::ToHwnd;

namespace {

std::string ClassName(HWND window) {
  char buffer[256] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

std::string Text(HWND window) {
  char buffer[4096] = {};
  SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

bool IsIconStatic(HWND window) {
  return lstrcmpiA(ClassName(window).c_str(), "Static") == 0 &&
         (static_cast<uint32_t>(GetWindowLongA(window, GWL_STYLE)) & SsTypeMask) == SsIcon;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

std::string MenuText(HMENU menu, UINT position) {
  char buffer[256] = {};
  GetMenuStringA(menu, position, buffer, sizeof buffer, MF_BYPOSITION);
  return buffer;
}

std::vector<MenuItem> Items(HMENU menu) {
  std::vector<MenuItem> items;
  const int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    const UINT id = GetMenuItemID(menu, i);
    items.push_back({id == static_cast<UINT>(-1) ? 0 : id, MenuText(menu, static_cast<UINT>(i))});
  }
  return items;
}

// The version resource of the running executable; empty when it has none.
std::vector<char> VersionBlock() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  std::vector<char> block(size);
  if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) return {};
  return block;
}

// Reads the parts of a dialog template in their order; every read stays
// within the resource.
class TemplateReader {
 public:
  TemplateReader(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  bool Ok() const { return ok_; }
  template <typename T>
  T Read() {
    T value{};
    if (at_ + sizeof(T) > size_) {
      ok_ = false;
      return value;
    }
    memcpy(&value, data_ + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }
  std::string String() {
    std::string text;
    for (uint16_t c = Read<uint16_t>(); ok_ && c != 0; c = Read<uint16_t>()) text += static_cast<char>(c < 0x80 ? c : '?');
    return text;
  }
  // A name or ordinal: the ordinal, or -1 with the name in `name`.
  int NameOrOrdinal(std::string& name) {
    const uint16_t first = Read<uint16_t>();
    if (first == 0) return -1;
    if (first == 0xFFFF) return Read<uint16_t>();
    at_ -= sizeof(uint16_t);
    name = String();
    return -1;
  }
  void AlignTo4() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  void Skip(size_t n) { at_ += n; }

 private:
  const unsigned char* data_;
  size_t size_;
  size_t at_ = 0;
  bool ok_ = true;
};

const char* PredefinedClass(int ordinal) {
  switch (ordinal) {
    case 0x80:
      return "Button";
    case 0x81:
      return "Edit";
    case 0x82:
      return "Static";
    case 0x83:
      return "ListBox";
    case 0x84:
      return "ScrollBar";
    case 0x85:
      return "ComboBox";
    default:
      return "?";
  }
}

struct DialogSearch {
  std::string caption;
  HWND except;
  HWND found = nullptr;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<DialogSearch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || window == search.except || ClassName(window) != "#32770") return TRUE;
  if (!search.caption.empty() && Text(window) != search.caption) return TRUE;
  search.found = window;
  return FALSE;
}

}  // namespace

WindowFacts Facts(WindowHandle window) {
  const HWND hwnd = ToHwnd(window);
  WindowFacts facts;
  facts.window = window;
  facts.id = static_cast<int>(static_cast<short>(GetDlgCtrlID(hwnd)));
  facts.className = ClassName(hwnd);
  facts.text = Text(hwnd);
  facts.style = static_cast<uint32_t>(GetWindowLongA(hwnd, GWL_STYLE));
  facts.exStyle = static_cast<uint32_t>(GetWindowLongA(hwnd, GWL_EXSTYLE));
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  if (const HWND parent = GetParent(hwnd); parent != nullptr && (facts.style & WS_CHILD) != 0) {
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  }
  facts.pixels = {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
  return facts;
}

std::vector<WindowFacts> Children(WindowHandle dialog) {
  std::vector<WindowFacts> facts;
  for (HWND child : ChildWindows(ToHwnd(dialog))) facts.push_back(Facts(ToHandle(child)));
  return facts;
}

DialogResource ReadDialogResource(int id) {
  DialogResource dialog;
  const HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));
  if (found == nullptr) return dialog;
  TemplateReader in(static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, found))),
                    SizeofResource(nullptr, found));
  // Only the extended form: version 1, signature 0xFFFF.
  if (in.Read<uint16_t>() != 1 || in.Read<uint16_t>() != 0xFFFF) return dialog;
  in.Read<uint32_t>();  // help id
  dialog.exStyle = in.Read<uint32_t>();
  dialog.style = in.Read<uint32_t>();
  const uint16_t count = in.Read<uint16_t>();
  dialog.units.x = in.Read<int16_t>();
  dialog.units.y = in.Read<int16_t>();
  dialog.units.width = in.Read<int16_t>();
  dialog.units.height = in.Read<int16_t>();
  std::string ignored;
  in.NameOrOrdinal(ignored);  // menu
  in.NameOrOrdinal(ignored);  // class
  dialog.caption = in.String();
  if ((dialog.style & DS_SETFONT) != 0) {
    dialog.pointSize = in.Read<uint16_t>();
    in.Read<uint16_t>();  // weight
    in.Read<uint8_t>();   // italic
    in.Read<uint8_t>();   // character set
    dialog.font = in.String();
  }
  for (uint16_t i = 0; i < count && in.Ok(); ++i) {
    in.AlignTo4();
    TemplateItem item;
    in.Read<uint32_t>();  // help id
    item.exStyle = in.Read<uint32_t>();
    item.style = in.Read<uint32_t>();
    item.units.x = in.Read<int16_t>();
    item.units.y = in.Read<int16_t>();
    item.units.width = in.Read<int16_t>();
    item.units.height = in.Read<int16_t>();
    item.id = static_cast<int>(in.Read<int32_t>());
    if (const int ordinal = in.NameOrOrdinal(item.className); ordinal >= 0) item.className = PredefinedClass(ordinal);
    item.textResource = in.NameOrOrdinal(item.text);
    in.Skip(in.Read<uint16_t>());  // creation data
    dialog.items.push_back(item);
  }
  dialog.found = in.Ok();
  return dialog;
}

int DefaultButton(WindowHandle dialog) {
  const LRESULT answer = SendMessageA(ToHwnd(dialog), DM_GETDEFID, 0, 0);
  return HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : 0;
}

Rect DialogUnitsToPixels(WindowHandle dialog, Rect units) {
  // The dialog manager maps a control's place and size each on its own.
  RECT place{units.x, units.y, units.x, units.y};
  RECT size{0, 0, units.width, units.height};
  MapDialogRect(ToHwnd(dialog), &place);
  MapDialogRect(ToHwnd(dialog), &size);
  return {place.left, place.top, size.right, size.bottom};
}

Rect ClientRect(WindowHandle window) {
  RECT rect{};
  GetClientRect(ToHwnd(window), &rect);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

WindowHandle Owner(WindowHandle window) { return ToHandle(GetWindow(ToHwnd(window), GW_OWNER)); }

WindowHandle DialogItem(WindowHandle dialog, int id) { return ToHandle(GetDlgItem(ToHwnd(dialog), id)); }

Popup MenuPopup(int menuId, int index) {
  Popup popup;
  const HMENU menu = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(menuId));
  if (menu == nullptr) return popup;
  popup.text = MenuText(menu, static_cast<UINT>(index));
  if (const HMENU sub = GetSubMenu(menu, index); sub != nullptr) popup.items = Items(sub);
  DestroyMenu(menu);
  return popup;
}

std::vector<MenuItem> SystemMenu(WindowHandle dialog) {
  const HMENU menu = GetSystemMenu(ToHwnd(dialog), FALSE);
  return menu == nullptr ? std::vector<MenuItem>{} : Items(menu);
}

IconHandle WindowIcon(WindowHandle window, bool big) {
  return static_cast<IconHandle>(SendMessageA(ToHwnd(window), WM_GETICON, big ? ICON_BIG : ICON_SMALL, 0));
}

IconHandle StaticIcon(WindowHandle staticControl) {
  return static_cast<IconHandle>(SendMessageA(ToHwnd(staticControl), STM_GETICON, 0, 0));
}

IconHandle QueryDragIcon(WindowHandle window) {
  return static_cast<IconHandle>(SendMessageA(ToHwnd(window), WM_QUERYDRAGICON, 0, 0));
}

Rect IconSize(IconHandle icon) {
  ICONINFO info{};
  if (icon == 0 || !GetIconInfo(reinterpret_cast<HICON>(icon), &info)) return {};
  BITMAP bitmap{};
  GetObjectA(info.hbmMask, sizeof bitmap, &bitmap);
  const int height = info.hbmColor != nullptr ? bitmap.bmHeight : bitmap.bmHeight / 2;
  if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return {0, 0, bitmap.bmWidth, height};
}

IconHandle LoadIconSized(int id, int width, int height) {
  return reinterpret_cast<IconHandle>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(id), IMAGE_ICON, width, height, LR_SHARED));
}

IconHandle ExclamationIcon() { return reinterpret_cast<IconHandle>(LoadIconA(nullptr, IDI_EXCLAMATION)); }

IconHandle StopIcon() { return reinterpret_cast<IconHandle>(LoadIconA(nullptr, IDI_HAND)); }

std::string VersionText(const std::string& key) {
  std::vector<char> block = VersionBlock();
  void* value = nullptr;
  UINT length = 0;
  const std::string path = "\\StringFileInfo\\000004b0\\" + key;
  if (block.empty() || !VerQueryValueA(block.data(), path.c_str(), &value, &length) || length == 0) return {};
  return static_cast<const char*>(value);
}

uint32_t FileVersionMajorMinor() {
  std::vector<char> block = VersionBlock();
  void* value = nullptr;
  UINT length = 0;
  if (block.empty() || !VerQueryValueA(block.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
    return 0;
  }
  return static_cast<const VS_FIXEDFILEINFO*>(value)->dwFileVersionMS;
}

std::uintptr_t CurrentCursor() { return reinterpret_cast<std::uintptr_t>(GetCursor()); }

std::uintptr_t WaitCursor() { return reinterpret_cast<std::uintptr_t>(LoadCursorA(nullptr, IDC_WAIT)); }

WindowHandle Focused() { return ToHandle(GetFocus()); }

bool Click(WindowHandle dialog, int id) {
  const HWND button = GetDlgItem(ToHwnd(dialog), id);
  if (button == nullptr || !IsWindowEnabled(button) || !IsWindowEnabled(ToHwnd(dialog))) return false;
  return PostMessageA(ToHwnd(dialog), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

void Notify(WindowHandle dialog, int id, int code) {
  PostMessageA(ToHwnd(dialog), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(ToHwnd(dialog), id)));
}

void Close(WindowHandle dialog) { PostMessageA(ToHwnd(dialog), WM_CLOSE, 0, 0); }

void SysCommand(WindowHandle dialog, uint32_t command) { PostMessageA(ToHwnd(dialog), WM_SYSCOMMAND, command, 0); }

void Repaint(WindowHandle window) {
  RedrawWindow(ToHwnd(window), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void Minimise(WindowHandle window) { ShowWindow(ToHwnd(window), SW_MINIMIZE); }

WindowHandle WaitForDialogWindow(const std::string& caption, uint32_t ms, WindowHandle except) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    DialogSearch search{caption, ToHwnd(except)};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    // A dialog shows once its controls are made and its start has run.
    if (search.found != nullptr && IsWindowVisible(search.found)) return ToHandle(search.found);
    if (std::chrono::steady_clock::now() >= deadline) return NoWindow;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::string MessageBoxText(WindowHandle box) {
  for (HWND child : ChildWindows(ToHwnd(box))) {
    if (lstrcmpiA(ClassName(child).c_str(), "Static") == 0 && !IsIconStatic(child)) {
      if (std::string text = Text(child); !text.empty()) return text;
    }
  }
  return {};
}

IconHandle MessageBoxIcon(WindowHandle box) {
  for (HWND child : ChildWindows(ToHwnd(box))) {
    if (IsIconStatic(child) && IsWindowVisible(child)) return StaticIcon(ToHandle(child));
  }
  return 0;
}

std::vector<int> ButtonIds(WindowHandle dialog) {
  std::vector<int> ids;
  for (HWND child : ChildWindows(ToHwnd(dialog))) {
    if (lstrcmpiA(ClassName(child).c_str(), "Button") == 0 && IsWindowVisible(child)) ids.push_back(GetDlgCtrlID(child));
  }
  return ids;
}

void TypeText(WindowHandle dialog, int id, const std::string& text) {
  SendMessageA(GetDlgItem(ToHwnd(dialog), id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace ui::probe
