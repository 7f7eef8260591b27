// What the headless backend shows beside dialogs: message boxes, the folder
// browser and the open-file dialog, answered by the test's responders; the
// program's name, strings, icons and wait cursor.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"

namespace ui::headless {
namespace {

// The longest path the platform's path buffers (260 characters with the
// terminating NUL) take.
constexpr std::size_t kMaxPath = 259;

// The offset that makes an icon's handle from its resource id.
constexpr IconHandle kIconHandleBase = 0x1000;

struct Shell {
  std::mutex mutex;
  BoxResponder boxResponder;
  PathResponder folderResponder;
  PathResponder openFileResponder;
  std::vector<BoxRequest> unanswered;
  std::string appName = "Tamri";
  int waitCursorDepth = 0;
};

Shell& TheShell() {
  // Never destroyed: a thread may show a box during static destruction.
  static Shell* shell = new Shell;
  return *shell;
}

// A copy of the responder, called without the lock: it may block, or show
// another box.
template <typename T>
T Copy(T Shell::*member) {
  Shell& shell = TheShell();
  std::lock_guard lock(shell.mutex);
  return shell.*member;
}

template <typename T>
void Store(T Shell::*member, T value) {
  Shell& shell = TheShell();
  std::lock_guard lock(shell.mutex);
  shell.*member = std::move(value);
}

// The answer of the box's default button.
int DefaultAnswer(unsigned flags) {
  const bool second = (flags & MbDefButton2) != 0;
  switch (flags & 0x000Fu) {
    case MbYesNo:
      return second ? IdNo : IdYes;
    case MbOkCancel:
      return second ? IdCancel : IdOk;
    default:
      return IdOk;
  }
}

bool AskPath(PathResponder Shell::*member, std::string& path) {
  const PathResponder responder = Copy(member);
  if (!responder) return false;
  const std::optional<std::string> chosen = responder();
  if (!chosen || chosen->empty() || chosen->size() > kMaxPath) return false;
  path = *chosen;
  return true;
}

}  // namespace

void SetBoxResponder(BoxResponder responder) { Store(&Shell::boxResponder, std::move(responder)); }

std::vector<BoxRequest> UnansweredBoxes() { return Copy(&Shell::unanswered); }

void ClearUnansweredBoxes() { Store(&Shell::unanswered, {}); }

void SetFolderResponder(PathResponder responder) { Store(&Shell::folderResponder, std::move(responder)); }

void SetOpenFileResponder(PathResponder responder) { Store(&Shell::openFileResponder, std::move(responder)); }

void SetAppName(const std::string& name) { Store(&Shell::appName, name); }

int WaitCursorDepth() { return Copy(&Shell::waitCursorDepth); }

}  // namespace ui::headless

namespace ui {

using headless::TheShell;

std::string AppName() { return headless::Copy(&headless::Shell::appName); }

std::string LoadString(int id) {
#define TAMRI_STRING_CASE(name, text) \
  case name:                          \
    return text;
  switch (id) {
    TAMRI_STRING_TABLE(TAMRI_STRING_CASE)
    default:
      return {};
  }
#undef TAMRI_STRING_CASE
}

IconHandle LoadIcon(int id) {
  // The program's one icon resource.
  return id == IDR_MAINFRAME ? headless::kIconHandleBase + static_cast<IconHandle>(id) : 0;
}

int PlatformMessageBox(WindowHandle owner, const std::string& text, unsigned flags) {
  const headless::BoxRequest request{owner, AppName(), text, flags};
  if (const headless::BoxResponder responder = headless::Copy(&headless::Shell::boxResponder)) {
    return responder(request);
  }
  {
    headless::Shell& shell = TheShell();
    std::lock_guard lock(shell.mutex);
    shell.unanswered.push_back(request);
  }
  return headless::DefaultAnswer(flags);
}

bool BrowseForFolder(std::string& path) { return headless::AskPath(&headless::Shell::folderResponder, path); }

bool OpenFileDialog(WindowHandle /*owner*/, const std::string& /*filter*/, std::string& path) {
  return headless::AskPath(&headless::Shell::openFileResponder, path);
}

void BeginWaitCursor() {
  headless::Shell& shell = TheShell();
  std::lock_guard lock(shell.mutex);
  ++shell.waitCursorDepth;
}

void EndWaitCursor() {
  headless::Shell& shell = TheShell();
  std::lock_guard lock(shell.mutex);
  // An End without its Begin leaves the arrow, as the platform's count does.
  if (shell.waitCursorDepth > 0) --shell.waitCursorDepth;
}

}  // namespace ui
