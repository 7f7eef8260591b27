// The Win32 backend's program-wide calls: the program's name and resources,
// message boxes, the shell's folder browser, the open-file dialog and the
// wait cursor.
#include <mutex>
#include <string>
#include <vector>

#include "ui/dialog.h"

#include "ui/win32/win32_api.h"

namespace ui {

using win32::ToHwnd;

namespace {

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

std::string ModulePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    // A full buffer may hold a cut path.
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

// COM for the calling thread while a shell dialog runs; the thread's own
// initialisation, if it has one, is left as it is.
class ComScope {
 public:
  ComScope() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComScope() {
    if (initialised_) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_;
};

struct WaitCursor {
  std::mutex mutex;
  int depth = 0;
  HCURSOR restore = nullptr;
};
WaitCursor& TheWaitCursor() {
  static WaitCursor* cursor = new WaitCursor;
  return *cursor;
}

}  // namespace

std::string AppName() {
  static const std::string name = [] {
    std::string path = ModulePath();
    const size_t slash = path.find_last_of("\\/:");
    if (slash != std::string::npos) path.erase(0, slash + 1);
    const size_t dot = path.find_last_of('.');
    if (dot != std::string::npos) path.erase(dot);
    return path;
  }();
  return name;
}

std::string LoadString(int id) {
  // A string resource holds at most 65535 characters.
  std::vector<char> buffer(256);
  for (;;) {
    const int length = LoadStringA(Module(), static_cast<UINT>(id), buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return {};
    if (static_cast<size_t>(length) + 1 < buffer.size() || buffer.size() > 65536) {
      return std::string(buffer.data(), static_cast<size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

IconHandle LoadIcon(int id) {
  return reinterpret_cast<IconHandle>(LoadIconA(Module(), MAKEINTRESOURCEA(id)));
}

int PlatformMessageBox(WindowHandle owner, const std::string& text, unsigned flags) {
  return MessageBoxA(ToHwnd(owner), text.c_str(), AppName().c_str(), flags);
}

bool BrowseForFolder(std::string& path) {
  ComScope com;
  char displayName[MAX_PATH] = {};
  BROWSEINFOA browse{};
  browse.pszDisplayName = displayName;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&browse);
  if (chosen == nullptr) return false;
  char folder[MAX_PATH] = {};
  const bool found = SHGetPathFromIDListA(chosen, folder) != FALSE;
  CoTaskMemFree(chosen);
  if (!found) return false;
  path = folder;
  return true;
}

bool OpenFileDialog(WindowHandle owner, const std::string& filter, std::string& path) {
  // "Name|pattern|...||" becomes the platform's list of NUL-ended strings
  // ending in an empty one.
  std::string filters = filter;
  for (char& c : filters) {
    if (c == '|') c = '\0';
  }
  filters.append(2, '\0');
  // Room for long paths; the name given in `path` is the initial file name.
  std::vector<char> file(32768, '\0');
  path.copy(file.data(), file.size() - 1);
  OPENFILENAMEA open{};
  open.lStructSize = sizeof open;
  open.hwndOwner = ToHwnd(owner);
  open.lpstrFilter = filter.empty() ? nullptr : filters.c_str();
  open.lpstrFile = file.data();
  open.nMaxFile = static_cast<DWORD>(file.size());
  open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_EXPLORER;
  if (GetOpenFileNameA(&open) == FALSE) return false;
  path = file.data();
  return true;
}

void BeginWaitCursor() {
  WaitCursor& cursor = TheWaitCursor();
  std::lock_guard lock(cursor.mutex);
  const HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  if (cursor.depth++ == 0) cursor.restore = previous;
}

void EndWaitCursor() {
  WaitCursor& cursor = TheWaitCursor();
  std::lock_guard lock(cursor.mutex);
  if (cursor.depth == 0) return;
  if (--cursor.depth == 0) SetCursor(cursor.restore);
}

}  // namespace ui
