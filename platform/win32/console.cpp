#include "plat/console.h"

#include <windows.h>

namespace plat {

bool ConsoleKeyPressed() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return true;
  // A window program started without a console, or input from a file or a
  // pipe: no console mode.
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) return true;
  // Takes the waiting input events; a key going down among them is the key.
  for (;;) {
    DWORD waiting = 0;
    if (!GetNumberOfConsoleInputEvents(input, &waiting)) return true;
    if (waiting == 0) return false;
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) return true;
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return true;
  }
}

}  // namespace plat
