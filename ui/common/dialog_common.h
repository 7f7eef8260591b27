// What the backends supply to the dialog class's shared part.
#pragma once

#include <string>

#include "ui/window.h"

namespace ui::detail {

// The loading half of a text exchange: in a combo box the first list entry
// that begins with `value` (without regard to case) is selected, else
// `value` becomes the edit field's text; any other control takes `value` as
// its window text.
void LoadExchangedText(WindowHandle control, const std::string& value);

}  // namespace ui::detail
