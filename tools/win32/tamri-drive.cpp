// tamri-drive: drives a program's windows from outside, as a person would,
// for the end-to-end runs under wine. Each command finds a top-level window
// by its caption, acts or waits, prints what it read and says by its exit
// code how it went: 0 done, 1 failed or timed out (the reason on standard
// error), 2 bad usage. Every wait has a deadline in seconds.
//
// Controls are read and written with messages (WM_GETTEXT, WM_SETTEXT),
// which the system carries across processes, each with a time-out so a hung
// window cannot hang the helper. Buttons are pressed with a posted BM_CLICK:
// the press may open a modal box, and a sent message would wait for it.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr UINT kMessageTimeoutMs = 5000;
constexpr char kDialogClass[] = "#32770";

constexpr char kUsage[] =
    "usage: tamri-drive COMMAND ARGS...\n"
    "  wait-window CAPTION SECONDS           wait until a top-level window CAPTION exists\n"
    "  wait-gone CAPTION SECONDS             wait until no top-level window CAPTION exists\n"
    "  text CAPTION ID                       print the text of control ID\n"
    "  wait-text CAPTION ID PREFIX SECONDS   wait until control ID's text begins with PREFIX; print it\n"
    "  watch-text CAPTION ID SECONDS [PREFIX...]\n"
    "                                        print every text control ID shows, one line each with the\n"
    "                                        seconds since the start, until the window is gone, the time\n"
    "                                        is up, or every PREFIX has begun a text, in their order\n"
    "  set-text CAPTION ID TEXT              set control ID's text (a combo box: its edit field)\n"
    "  click CAPTION ID                      press button ID (refused when it or the window is disabled)\n"
    "  wait-enabled CAPTION ID SECONDS       wait until control ID is enabled\n"
    "  wait-box CAPTION-OR-OWNER TEXT SECONDS\n"
    "                                        wait for a message box captioned CAPTION-OR-OWNER, or owned\n"
    "                                        by a window of that caption, whose text contains TEXT; print\n"
    "                                        its text\n"
    "  answer-box CAPTION-OR-OWNER TEXT BUTTON SECONDS\n"
    "                                        the same, then press BUTTON (Yes, No, OK or Cancel) and wait\n"
    "                                        until the box is gone\n"
    "  foreground                            print the foreground window's caption\n"
    "  close CAPTION                         post WM_CLOSE to the window CAPTION\n"
    "  windows                               list the visible top-level windows: handle, class, caption\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "tamri-drive: %s\n", message.c_str());
  return 1;
}

// Milliseconds left until `deadline` (a GetTickCount64 value), 0 when passed.
class Deadline {
 public:
  explicit Deadline(double seconds) : end_(GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0)) {}
  bool Passed() const { return GetTickCount64() >= end_; }
  // Sleeps one poll step, never past the deadline.
  void Pause() const {
    const ULONGLONG now = GetTickCount64();
    if (now < end_) Sleep(static_cast<DWORD>(end_ - now < kPollMs ? end_ - now : kPollMs));
  }

 private:
  ULONGLONG end_;
};

bool ParseSeconds(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0' && out >= 0 && out <= 86400;
}

bool ParseId(const char* text, int& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || value < -1 || value > 0xFFFF) return false;
  out = static_cast<int>(value);
  return true;
}

std::string CaptionOf(HWND window) {
  // The caption of a top-level window is kept by the system: no message
  // needed, so this works on a window whose thread is busy.
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// A control's text through WM_GETTEXT; false when the window did not answer.
// The text may change between asking its length and reading it, so a
// read that fills the buffer is taken again with a larger one.
bool ControlText(HWND control, std::string& out) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
    return false;
  }
  for (size_t room = length + 256;; room *= 2) {
    std::vector<char> buffer(room, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
      return false;
    }
    if (copied + 1 < buffer.size()) {
      out.assign(buffer.data(), copied);
      return true;
    }
  }
}

HWND FindTop(const std::string& caption) { return FindWindowA(nullptr, caption.c_str()); }

// The top-level window and its control `id`, waiting for the window until
// `deadline`; null with a reason when either is missing.
HWND FindControl(const std::string& caption, int id, const Deadline& deadline, std::string& reason) {
  for (;;) {
    if (HWND window = FindTop(caption)) {
      if (HWND control = GetDlgItem(window, id)) return control;
      reason = "window \"" + caption + "\" has no control " + std::to_string(id);
      return nullptr;
    }
    if (deadline.Passed()) {
      reason = "no window \"" + caption + "\"";
      return nullptr;
    }
    deadline.Pause();
  }
}

void PrintLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int WaitWindow(const std::string& caption, double seconds, bool present) {
  const Deadline deadline(seconds);
  for (;;) {
    if ((FindTop(caption) != nullptr) == present) return 0;
    if (deadline.Passed()) {
      return Fail(present ? "no window \"" + caption + "\" within the time" : "window \"" + caption + "\" still there");
    }
    deadline.Pause();
  }
}

int Text(const std::string& caption, int id) {
  std::string reason;
  HWND control = FindControl(caption, id, Deadline(0), reason);
  if (!control) return Fail(reason);
  std::string text;
  if (!ControlText(control, text)) return Fail("control " + std::to_string(id) + " does not answer");
  PrintLine(text);
  return 0;
}

int WaitText(const std::string& caption, int id, const std::string& prefix, double seconds) {
  const Deadline deadline(seconds);
  std::string last;
  bool read = false;
  for (;;) {
    std::string reason;
    if (HWND control = FindControl(caption, id, deadline, reason)) {
      std::string text;
      if (ControlText(control, text)) {
        read = true;
        last = text;
        if (text.compare(0, prefix.size(), prefix) == 0) {
          PrintLine(text);
          return 0;
        }
      }
    } else if (deadline.Passed()) {
      return Fail(reason);
    }
    if (deadline.Passed()) {
      return Fail("control " + std::to_string(id) + " does not begin with \"" + prefix + "\" within the time; " +
                  (read ? "it reads \"" + last + "\"" : "it never answered"));
    }
    deadline.Pause();
  }
}

// A text on one line: a CR or LF in it (the engine ends its percentages
// with a CR) is written as \r or \n.
std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c == '\r') line += "\\r";
    else if (c == '\n') line += "\\n";
    else line += c;
  }
  return line;
}

// Follows a control's text by reading it about every millisecond: no message
// tells another process of a change (wine reports no name changes to event
// hooks), so a text that another replaces within a read's time can be
// missed; everything shown longer is seen. One read is one message to the
// window's thread, two when the text does not fit the first buffer.
int WatchText(const std::string& caption, int id, double seconds, const std::vector<std::string>& prefixes) {
  const Deadline deadline(seconds);
  std::string reason;
  HWND control = FindControl(caption, id, deadline, reason);
  if (!control) return Fail(reason);
  const HWND window = GetAncestor(control, GA_ROOT);
  const ULONGLONG start = GetTickCount64();
  size_t met = 0;
  unsigned long reads = 0;
  bool read = false;
  std::string last;
  std::vector<char> buffer(1024);
  while (met < prefixes.size() || prefixes.empty()) {
    if (!IsWindow(window) || deadline.Passed()) break;
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutA(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                            SMTO_ABORTIFHUNG, kMessageTimeoutMs, &copied)) {
      ++reads;
      std::string text(buffer.data(), copied);
      const bool whole = copied + 1 < buffer.size() || ControlText(control, text);
      if (whole && (!read || text != last)) {
        read = true;
        last = text;
        std::printf("%8.3f %s\n", static_cast<double>(GetTickCount64() - start) / 1000.0, OneLine(text).c_str());
        std::fflush(stdout);
        if (met < prefixes.size() && text.compare(0, prefixes[met].size(), prefixes[met]) == 0) ++met;
      }
    }
    Sleep(1);
  }
  const double watched = static_cast<double>(GetTickCount64() - start);
  std::fprintf(stderr, "tamri-drive: %lu reads in %.1f s, one every %.2f ms\n", reads, watched / 1000.0,
               reads != 0 ? watched / static_cast<double>(reads) : 0.0);
  if (met < prefixes.size()) {
    return Fail("no text began with \"" + prefixes[met] + "\" in its order" +
                (IsWindow(window) ? " within the time" : " before the window was gone"));
  }
  return 0;
}

int SetText(const std::string& caption, int id, const std::string& text) {
  std::string reason;
  HWND control = FindControl(caption, id, Deadline(0), reason);
  if (!control) return Fail(reason);
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &result)) {
    return Fail("control " + std::to_string(id) + " does not answer");
  }
  // A combo box answers CB_ERR when its edit field cannot take the text; a
  // read-back says whether it took all of it.
  std::string now;
  if (!ControlText(control, now) || now != text) {
    return Fail("control " + std::to_string(id) + " reads \"" + now + "\" after the change");
  }
  return 0;
}

bool Enabled(HWND control) { return IsWindowEnabled(control) && IsWindowEnabled(GetAncestor(control, GA_ROOT)); }

int Click(const std::string& caption, int id) {
  std::string reason;
  HWND control = FindControl(caption, id, Deadline(0), reason);
  if (!control) return Fail(reason);
  if (!Enabled(control)) return Fail("control " + std::to_string(id) + " is disabled");
  if (!PostMessageA(control, BM_CLICK, 0, 0)) return Fail("cannot post to control " + std::to_string(id));
  return 0;
}

int WaitEnabled(const std::string& caption, int id, double seconds) {
  const Deadline deadline(seconds);
  for (;;) {
    std::string reason;
    HWND control = FindControl(caption, id, deadline, reason);
    if (!control) return Fail(reason);
    if (Enabled(control)) return 0;
    if (deadline.Passed()) return Fail("control " + std::to_string(id) + " still disabled");
    deadline.Pause();
  }
}

// The texts of a message box's static controls (its icon has none), joined
// by line breaks.
std::string BoxText(HWND box) {
  std::string text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (lstrcmpiA(ClassOf(child).c_str(), "Static") != 0) continue;
    std::string part;
    if (!ControlText(child, part) || part.empty()) continue;
    if (!text.empty()) text += '\n';
    text += part;
  }
  return text;
}

struct BoxSearch {
  std::string captionOrOwner;
  std::string substring;
  HWND found = nullptr;
  std::string text;
};

BOOL CALLBACK LookAtBox(HWND window, LPARAM parameter) {
  auto& search = *reinterpret_cast<BoxSearch*>(parameter);
  if (!IsWindowVisible(window) || ClassOf(window) != kDialogClass) return TRUE;
  HWND owner = GetWindow(window, GW_OWNER);
  if (CaptionOf(window) != search.captionOrOwner && (!owner || CaptionOf(owner) != search.captionOrOwner)) {
    return TRUE;
  }
  std::string text = BoxText(window);
  if (text.find(search.substring) == std::string::npos) return TRUE;
  search.found = window;
  search.text = std::move(text);
  return FALSE;
}

int ButtonId(const std::string& name) {
  if (lstrcmpiA(name.c_str(), "Yes") == 0) return IDYES;
  if (lstrcmpiA(name.c_str(), "No") == 0) return IDNO;
  if (lstrcmpiA(name.c_str(), "OK") == 0) return IDOK;
  if (lstrcmpiA(name.c_str(), "Cancel") == 0) return IDCANCEL;
  return 0;
}

// Waits until `deadline` for a message box of `captionOrOwner` whose text
// contains `substring`; null with a reason when none came.
HWND WaitBox(const std::string& captionOrOwner, const std::string& substring, const Deadline& deadline,
             std::string& text) {
  BoxSearch search;
  search.captionOrOwner = captionOrOwner;
  search.substring = substring;
  for (;;) {
    EnumWindows(LookAtBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      text = search.text;
      return search.found;
    }
    if (deadline.Passed()) return nullptr;
    deadline.Pause();
  }
}

int WaitBoxCommand(const std::string& captionOrOwner, const std::string& substring, double seconds) {
  std::string text;
  if (!WaitBox(captionOrOwner, substring, Deadline(seconds), text)) {
    return Fail("no message box of \"" + captionOrOwner + "\" with \"" + substring + "\"");
  }
  PrintLine(text);
  return 0;
}

int AnswerBox(const std::string& captionOrOwner, const std::string& substring, const std::string& button,
              double seconds) {
  const int id = ButtonId(button);
  if (id == 0) return Usage();
  const Deadline deadline(seconds);
  std::string text;
  HWND box = WaitBox(captionOrOwner, substring, deadline, text);
  if (!box) return Fail("no message box of \"" + captionOrOwner + "\" with \"" + substring + "\"");
  PrintLine(text);
  HWND press = GetDlgItem(box, id);
  if (!press || !IsWindowVisible(press)) return Fail("the message box has no " + button + " button");
  if (!Enabled(press)) return Fail("the message box's " + button + " button is disabled");
  if (!PostMessageA(press, BM_CLICK, 0, 0)) return Fail("cannot post to the " + button + " button");
  while (IsWindow(box)) {
    if (deadline.Passed()) return Fail("the message box stays after " + button);
    deadline.Pause();
  }
  return 0;
}

int Foreground() {
  HWND window = GetForegroundWindow();
  if (!window) return Fail("no foreground window");
  PrintLine(CaptionOf(window));
  return 0;
}

int Close(const std::string& caption) {
  HWND window = FindTop(caption);
  if (!window) return Fail("no window \"" + caption + "\"");
  if (!PostMessageA(window, WM_CLOSE, 0, 0)) return Fail("cannot post to \"" + caption + "\"");
  return 0;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  std::printf("%p %s \"%s\"%s\n", static_cast<void*>(window), ClassOf(window).c_str(), CaptionOf(window).c_str(),
              IsWindowEnabled(window) ? "" : " (disabled)");
  return TRUE;
}

int Windows() {
  EnumWindows(ListWindow, 0);
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Plain line ends on the way out: the scripts read this output.
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const int count = argc - 2;
  char** args = argv + 2;
  int id = 0;
  double seconds = 0;

  if (command == "wait-window" || command == "wait-gone") {
    if (count != 2 || !ParseSeconds(args[1], seconds)) return Usage();
    return WaitWindow(args[0], seconds, command == "wait-window");
  }
  if (command == "text") {
    if (count != 2 || !ParseId(args[1], id)) return Usage();
    return Text(args[0], id);
  }
  if (command == "wait-text") {
    if (count != 4 || !ParseId(args[1], id) || !ParseSeconds(args[3], seconds)) return Usage();
    return WaitText(args[0], id, args[2], seconds);
  }
  if (command == "watch-text") {
    if (count < 3 || !ParseId(args[1], id) || !ParseSeconds(args[2], seconds)) return Usage();
    return WatchText(args[0], id, seconds, std::vector<std::string>(args + 3, args + count));
  }
  if (command == "set-text") {
    if (count != 3 || !ParseId(args[1], id)) return Usage();
    return SetText(args[0], id, args[2]);
  }
  if (command == "click") {
    if (count != 2 || !ParseId(args[1], id)) return Usage();
    return Click(args[0], id);
  }
  if (command == "wait-enabled") {
    if (count != 3 || !ParseId(args[1], id) || !ParseSeconds(args[2], seconds)) return Usage();
    return WaitEnabled(args[0], id, seconds);
  }
  if (command == "wait-box") {
    if (count != 3 || !ParseSeconds(args[2], seconds)) return Usage();
    return WaitBoxCommand(args[0], args[1], seconds);
  }
  if (command == "answer-box") {
    if (count != 4 || !ParseSeconds(args[3], seconds)) return Usage();
    return AnswerBox(args[0], args[1], args[2], seconds);
  }
  if (command == "foreground" && count == 0) return Foreground();
  if (command == "close" && count == 1) return Close(args[0]);
  if (command == "windows" && count == 0) return Windows();
  return Usage();
}
