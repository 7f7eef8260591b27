// The dialog templates as data: what the resource script's DIALOGEX
// statements say, for the backend that has no resources (headless) and for
// the test that compares the real windows with it.
#pragma once

#include <cstdint>
#include <span>

namespace res {

enum class ControlKind { PushButton, ComboBox, ProgressBar, StaticText, StaticIcon };

struct ControlTemplate {
  int id;  // -1: no id
  ControlKind kind;
  const char* caption;  // "" for none
  int x, y, width, height;  // dialog units
  bool defaultButton;  // BS_DEFPUSHBUTTON
  bool sorted;         // CBS_SORT
  bool disabled;       // WS_DISABLED at start
};

struct DialogTemplate {
  int id;
  const char* caption;
  int width, height;  // dialog units
  bool appWindow;     // WS_EX_APPWINDOW
  std::span<const ControlTemplate> controls;  // in template (and tab) order
};

// The template `id`; null when the program has none.
const DialogTemplate* FindTemplate(int id);

}  // namespace res
