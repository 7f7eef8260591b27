// The program's resources as the system builds them: the real dialogs of the
// resource script against the templates as data, the string table, the
// menu that reserves the posted commands, the icon and the version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "recording_dialog.h"
#include "res/resource.h"
#include "res/templates.h"
#include "ui/dialog.h"
#include "ui/win32/probe/probe.h"

namespace {

using namespace ui::probe;
using res::ControlKind;
using win32test::RecordingDialog;

const char* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::PushButton:
      return "Button";
    case ControlKind::ComboBox:
      return "ComboBox";
    case ControlKind::ProgressBar:
      return "msctls_progress32";
    case ControlKind::StaticText:
    case ControlKind::StaticIcon:
      return "Static";
  }
  return "";
}

bool SameText(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

struct Built {
  WindowFacts dialog;
  Rect client;
  Rect templateClient;  // the template's size, mapped to pixels
  std::vector<WindowFacts> controls;
  std::vector<Rect> templateRects;  // each control's template rectangle, mapped
  ui::IconHandle iconShown = 0;     // the about box's static icon
  int defaultButton = 0;
};

// Runs the dialog of `templateId` and reads its windows as they are created,
// before anything of ours changes them.
Built Build(const res::DialogTemplate& t) {
  Built built;
  RecordingDialog dialog(t.id);
  dialog.onInit = [&](RecordingDialog& d) {
    built.dialog = Facts(d.Handle());
    built.client = ClientRect(d.Handle());
    built.templateClient = DialogUnitsToPixels(d.Handle(), {0, 0, t.width, t.height});
    built.controls = Children(d.Handle());
    for (const res::ControlTemplate& c : t.controls) {
      built.templateRects.push_back(DialogUnitsToPixels(d.Handle(), {c.x, c.y, c.width, c.height}));
    }
    built.defaultButton = DefaultButton(d.Handle());
    for (const WindowFacts& c : built.controls) {
      if ((c.style & SsTypeMask) == SsIcon && SameText(c.className, "Static")) built.iconShown = StaticIcon(c.window);
    }
    d.EndDialog(ui::IdOk);
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  return built;
}

// The style bits each kind of control is asked for in the script.
struct KindStyle {
  uint32_t mask;
  uint32_t bits;
};
KindStyle StyleOf(const res::ControlTemplate& c) {
  switch (c.kind) {
    case ControlKind::PushButton:
      return {BsTypeMask | WsTabStop, (c.defaultButton ? BsDefPushButton : BsPushButton) | WsTabStop};
    case ControlKind::ComboBox:
      return {CbsDropDown | CbsAutoHScroll | CbsSort | WsVScroll | WsTabStop,
              CbsDropDown | CbsAutoHScroll | (c.sorted ? CbsSort : 0) | WsVScroll | WsTabStop};
    case ControlKind::ProgressBar:
      return {WsBorder, WsBorder};
    case ControlKind::StaticText:
      return {SsTypeMask | WsGroup, SsLeft | WsGroup};
    case ControlKind::StaticIcon:
      return {SsTypeMask, SsIcon};
  }
  return {0, 0};
}

// Checks that each control of the template has its counterpart, in the same
// place of the order, with its id, class and starting state, and runs
// `check` on the two.
template <typename Got, typename Check>
void ForEachControl(const res::DialogTemplate& t, const std::vector<Got>& got, Check check) {
  ASSERT_EQ(got.size(), t.controls.size());
  for (size_t i = 0; i < got.size(); ++i) {
    const res::ControlTemplate& want = t.controls[i];
    SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.caption + "\"");
    EXPECT_EQ(got[i].id, want.id);
    EXPECT_TRUE(SameText(got[i].className, ClassOf(want.kind))) << got[i].className;
    EXPECT_EQ((got[i].style & WsDisabled) != 0, want.disabled);
    check(want, got[i], i);
  }
}

class TemplateTest : public ::testing::TestWithParam<int> {};

TEST_P(TemplateTest, TheScriptSaysWhatTheTemplateSays) {
  const res::DialogTemplate* t = res::FindTemplate(GetParam());
  ASSERT_NE(t, nullptr);
  const DialogResource script = ReadDialogResource(t->id);
  ASSERT_TRUE(script.found);

  EXPECT_EQ(script.caption, t->caption);
  EXPECT_EQ(script.font, "Arial");
  EXPECT_EQ(script.pointSize, 8);
  EXPECT_EQ(script.units, (Rect{0, 0, t->width, t->height}));
  EXPECT_EQ((script.exStyle & WsExAppWindow) != 0, t->appWindow);
  ForEachControl(*t, script.items, [](const res::ControlTemplate& want, const TemplateItem& got, size_t) {
    if (want.kind == ControlKind::StaticIcon) {
      EXPECT_EQ(got.textResource, IDR_MAINFRAME);
    } else {
      EXPECT_EQ(got.text, want.caption);
    }
    EXPECT_EQ(got.units, (Rect{want.x, want.y, want.width, want.height}));
    const KindStyle style = StyleOf(want);
    EXPECT_EQ(got.style & style.mask, style.bits);
  });
}

TEST_P(TemplateTest, TheSystemBuildsTheDialogOfTheTemplate) {
  const res::DialogTemplate* t = res::FindTemplate(GetParam());
  ASSERT_NE(t, nullptr);
  const Built built = Build(*t);

  EXPECT_EQ(built.dialog.text, t->caption);
  EXPECT_EQ((built.dialog.exStyle & WsExAppWindow) != 0, t->appWindow);
  EXPECT_EQ(built.client.width, built.templateClient.width);
  EXPECT_EQ(built.client.height, built.templateClient.height);
  // The dialog manager keeps the last default push button of the template
  // as the default one (Upload Image in the main dialog).
  int lastDefault = 0;
  for (const res::ControlTemplate& c : t->controls) lastDefault = c.defaultButton ? c.id : lastDefault;
  EXPECT_EQ(built.defaultButton, lastDefault);

  ForEachControl(*t, built.controls, [&](const res::ControlTemplate& want, const WindowFacts& got, size_t i) {
    // A combo box's window text is its empty edit field; a static icon's
    // names its icon resource.
    if (want.kind != ControlKind::StaticIcon) {
      EXPECT_EQ(got.text, want.kind == ControlKind::ComboBox ? "" : want.caption);
    }
    const Rect& place = built.templateRects[i];
    EXPECT_EQ(got.pixels.x, place.x);
    EXPECT_EQ(got.pixels.y, place.y);
    if (want.kind == ControlKind::ComboBox) {
      // The template's height includes the dropped-down list.
      EXPECT_EQ(got.pixels.width, place.width);
    } else if (want.kind != ControlKind::StaticIcon) {  // an icon takes the icon's size
      EXPECT_EQ(got.pixels, place);
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Win32Resources, TemplateTest, ::testing::Values(IDD_MAIN_DIALOG, IDD_ABOUT_DIALOG));

TEST(Win32Resources, TheWindowsHaveTheirStyles) {
  constexpr uint32_t kFrame = WsPopup | WsCaption | WsSysMenu | DsModalFrame;
  const DialogResource main = ReadDialogResource(IDD_MAIN_DIALOG);
  EXPECT_EQ(main.style & (kFrame | WsVisible), kFrame | WsVisible);
  ASSERT_EQ(main.items.size(), 7u);
  EXPECT_EQ(main.items[6].id, IDC_STATUS_TEXT);
  EXPECT_NE(main.items[6].exStyle & WsExStaticEdge, 0u);
  const DialogResource about = ReadDialogResource(IDD_ABOUT_DIALOG);
  ASSERT_EQ(about.items.size(), 3u);
  EXPECT_NE(about.items[1].style & SsNoPrefix, 0u);
  EXPECT_EQ(about.style & (kFrame | WsVisible), kFrame);

  // The about box shows the program's icon.
  EXPECT_NE(Build(*res::FindTemplate(IDD_ABOUT_DIALOG)).iconShown, 0u);
}

TEST(Win32Resources, TheStringTableHoldsTheTexts) {
  struct Entry {
    int id;
    const char* text;
  };
#define TAMRI_ENTRY(id, text) Entry{id, text},
  const Entry table[] = {TAMRI_STRING_TABLE(TAMRI_ENTRY)};
#undef TAMRI_ENTRY
  ASSERT_EQ(std::size(table), 14u);
  for (const Entry& e : table) {
    EXPECT_EQ(ui::LoadString(e.id), e.text) << "string " << e.id;
  }
  EXPECT_EQ(ui::LoadString(100), "");
  EXPECT_EQ(ui::LoadString(115), "");
}

TEST(Win32Resources, TheHideMenuReservesThePostedCommands) {
  const Popup hide = MenuPopup(IDR_HIDE_MENU, 0);
  EXPECT_EQ(hide.text, "Hide");
  ASSERT_EQ(hide.items.size(), 3u);
  EXPECT_EQ(hide.items[0].id, static_cast<uint32_t>(ID_DL_FINISH_CMD));
  EXPECT_EQ(hide.items[1].id, static_cast<uint32_t>(ID_EFS_FINISHED));
  EXPECT_EQ(hide.items[2].id, static_cast<uint32_t>(ID_EFS_FAILED));
}

TEST(Win32Resources, TheIconLoadsInBothSizes) {
  const ui::IconHandle icon = ui::LoadIcon(IDR_MAINFRAME);
  ASSERT_NE(icon, 0u);
  const Rect size = IconSize(icon);
  EXPECT_EQ(size.width, ui::SystemIconWidth());
  EXPECT_EQ(size.height, ui::SystemIconHeight());
  const Rect small = IconSize(LoadIconSized(IDR_MAINFRAME, 16, 16));
  EXPECT_EQ(small.width, 16);
  EXPECT_EQ(small.height, 16);
  EXPECT_EQ(ui::LoadIcon(IDR_MAINFRAME + 50), 0u);
}

TEST(Win32Resources, TheVersionNamesTheProduct) {
  EXPECT_EQ(VersionText("ProductName"), "Tamri");
  EXPECT_EQ(VersionText("ProductVersion"), "1.1");
  EXPECT_EQ(VersionText("CompanyName"), "");
  EXPECT_EQ(FileVersionMajorMinor(), (1u << 16) | 1u);
}

TEST(Win32Resources, AMissingTemplateCannotBeRun) {
  RecordingDialog dialog(4242);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_TRUE(dialog.Events().empty());
}

}  // namespace
