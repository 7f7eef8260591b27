#include "res/templates.h"

#include <array>

#include "res/resource.h"

namespace res {
namespace {

using enum ControlKind;

constexpr std::array kMainControls{
    ControlTemplate{1, PushButton, "Download", 201, 36, 50, 14, true, false, true},
    ControlTemplate{IDC_IMAGE_FOLDER, ComboBox, "", 69, 3, 217, 30, false, true, false},
    ControlTemplate{IDC_BROWSE_FOLDER, PushButton, "...", 293, 3, 16, 12, false, false, false},
    ControlTemplate{IDC_PROGRESS, ProgressBar, "Progress1", 7, 56, 302, 13, false, false, false},
    ControlTemplate{-1, StaticText, "Phone Image:", 7, 5, 51, 13, false, false, false},
    ControlTemplate{IDC_UPLOAD_IMAGE, PushButton, "Upload Image", 259, 36, 50, 14, true, false, true},
    ControlTemplate{IDC_STATUS_TEXT, StaticText, "abc", 7, 37, 180, 14, false, false, false},
};

constexpr std::array kAboutControls{
    ControlTemplate{-1, StaticIcon, "", 14, 11, 20, 20, false, false, false},
    ControlTemplate{-1, StaticText, "Tamri V1.1", 45, 10, 119, 8, false, false, false},
    ControlTemplate{1, PushButton, "OK", 178, 7, 50, 14, true, false, false},
};

constexpr std::array kTemplates{
    DialogTemplate{IDD_MAIN_DIALOG, "Tamri", 318, 76, true, kMainControls},
    DialogTemplate{IDD_ABOUT_DIALOG, "About Tamri", 235, 44, false, kAboutControls},
};

}  // namespace

const DialogTemplate* FindTemplate(int id) {
  for (const DialogTemplate& t : kTemplates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace res
