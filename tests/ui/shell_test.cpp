#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "ui/window.h"
#include "ui_test_support.h"

namespace {

using ui::NoWindow;
using ui::WindowHandle;
namespace hl = ui::headless;

// Leaves no responder, box or name behind for the next test.
class ShellTest : public ::testing::Test {
 protected:
  ShellTest() { Reset(); }
  ~ShellTest() override { Reset(); }
  static void Reset() {
    hl::SetBoxResponder(nullptr);
    hl::SetFolderResponder(nullptr);
    hl::SetOpenFileResponder(nullptr);
    hl::ClearUnansweredBoxes();
    hl::SetAppName("Tamri");
  }
};

// The library's box adds the exclamation icon where none is given; the
// platform's shows exactly the flags it is given. Both are captioned with
// the program's name.
TEST_F(ShellTest, TheLibrarysBoxAddsTheExclamationWhereNoIconIsGivenThePlatformsShowsItsFlags) {
  struct Case {
    bool platforms;
    unsigned flags;
    unsigned shown;
  };
  const Case cases[] = {
      {false, ui::MbOk, ui::MbOk | ui::MbIconExclamation},
      {false, ui::MbOkCancel | ui::MbDefButton2, ui::MbOkCancel | ui::MbDefButton2 | ui::MbIconExclamation},
      {false, ui::MbOk | ui::MbIconStop, ui::MbOk | ui::MbIconStop},
      {false, ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2,
       ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2},
      {true, ui::MbOk, ui::MbOk},
      {true, ui::MbYesNo | ui::MbDefButton2, ui::MbYesNo | ui::MbDefButton2},
      {true, ui::MbOk | ui::MbIconStop, ui::MbOk | ui::MbIconStop},
  };
  hl::SetAppName("Renamed");
  std::vector<hl::BoxRequest> seen;
  hl::SetBoxResponder([&](const hl::BoxRequest& request) {
    seen.push_back(request);
    return ui::IdOk;
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.platforms ? "platform's " : "library's ") << c.flags);
    seen.clear();
    (c.platforms ? ui::PlatformMessageBox : ui::MessageBox)(WindowHandle{77}, "text", c.flags);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].flags, c.shown);
    EXPECT_EQ(seen[0].caption, "Renamed");
    EXPECT_EQ(seen[0].text, "text");
    EXPECT_EQ(seen[0].owner, WindowHandle{77});
  }
  EXPECT_TRUE(hl::UnansweredBoxes().empty());
}

TEST_F(ShellTest, AnUnansweredBoxAnswersItsDefaultButtonAndIsKept) {
  EXPECT_EQ(ui::AppName(), "Tamri");
  struct Case {
    unsigned flags;
    int answer;
  };
  const Case cases[] = {
      {ui::MbOk, ui::IdOk},
      {ui::MbOk | ui::MbDefButton2, ui::IdOk},  // no second button
      {ui::MbOkCancel, ui::IdOk},
      {ui::MbOkCancel | ui::MbIconStop | ui::MbDefButton2, ui::IdCancel},
      {ui::MbYesNo, ui::IdYes},
      {ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2, ui::IdNo},
  };
  std::vector<unsigned> shown;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    EXPECT_EQ(ui::MessageBox(NoWindow, "box " + std::to_string(c.flags), c.flags), c.answer);
    shown.push_back((c.flags & ui::MbIconMask) == 0 ? c.flags | ui::MbIconExclamation : c.flags);
  }
  const std::vector<hl::BoxRequest> kept = hl::UnansweredBoxes();
  ASSERT_EQ(kept.size(), shown.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].flags, shown[i]);
    EXPECT_EQ(kept[i].text, "box " + std::to_string(cases[i].flags));
    EXPECT_EQ(kept[i].caption, "Tamri");
  }
  hl::ClearUnansweredBoxes();
  EXPECT_TRUE(hl::UnansweredBoxes().empty());
}

// Shows a box from its UI thread when told to.
class BoxDialog : public ui_test::TestDialog {
 public:
  BoxDialog() : TestDialog(IDD_MAIN_DIALOG) {}
  ui_test::Counter commands;

 protected:
  bool OnTestCommand(uint32_t id) override {
    commands.Add();
    return TestDialog::OnTestCommand(id);
  }
};

TEST_F(ShellTest, TheResponderAnswersOnTheThreadThatShowsTheBox) {
  BoxDialog dialog;
  ui_test::ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  std::thread::id answeredOn;
  hl::SetBoxResponder([&](const hl::BoxRequest&) {
    answeredOn = std::this_thread::get_id();
    return ui::IdNo;
  });
  int answer = 0;
  dialog.Run([&] { answer = ui::MessageBox(window, "from the UI thread", ui::MbYesNo); });
  EXPECT_EQ(answer, ui::IdNo);
  EXPECT_EQ(answeredOn, run.ThreadId());

  // A worker's box blocks the worker only: the dialog goes on handling its
  // commands while the box is open.
  ui_test::Latch open;
  hl::SetBoxResponder([&](const hl::BoxRequest& request) {
    answeredOn = std::this_thread::get_id();
    EXPECT_EQ(request.text, "Port Occupied!");
    open.Arrive();
    return ui::IdOk;
  });
  std::thread::id worker;
  std::thread driver([&] {
    worker = std::this_thread::get_id();
    answer = ui::MessageBox(window, "Port Occupied!", ui::MbOk | ui::MbIconStop);
  });
  ASSERT_TRUE(open.WaitArrived());
  hl::Command(window, 32771);
  EXPECT_TRUE(dialog.commands.WaitFor(1));
  open.Open();
  driver.join();
  EXPECT_EQ(answer, ui::IdOk);
  EXPECT_EQ(answeredOn, worker);
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

TEST_F(ShellTest, FolderAndFileChoicesComeFromTheirResponders) {
  const std::string longest(259, 'x');
  struct Case {
    const char* name;
    bool responder;
    std::optional<std::string> chosen;
    bool ok;
  };
  const Case cases[] = {
      {"no responder", false, std::nullopt, false},
      {"cancelled", true, std::nullopt, false},
      {"a folder", true, "C:\\VOSM", true},
      {"no file-system path", true, "", false},
      {"the longest path that fits", true, longest, true},
      {"a path too long for the platform's buffer", true, longest + "x", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    hl::PathResponder responder;
    if (c.responder) responder = [&] { return c.chosen; };
    hl::SetFolderResponder(responder);
    hl::SetOpenFileResponder(responder);
    for (int dialog = 0; dialog < 2; ++dialog) {
      SCOPED_TRACE(dialog == 0 ? "folder" : "open file");
      std::string path = "kept";
      const bool ok = dialog == 0 ? ui::BrowseForFolder(path)
                                  : ui::OpenFileDialog(NoWindow, "Image (*.mbn)|*.mbn||", path);
      EXPECT_EQ(ok, c.ok);
      EXPECT_EQ(path, c.ok ? *c.chosen : "kept");
    }
  }
}

TEST_F(ShellTest, StringsIconsAndTheWaitCursor) {
  EXPECT_EQ(ui::LoadString(IDS_ABOUT_MENU_ITEM), "About Tamri(&A)...");
  EXPECT_EQ(ui::LoadString(IDS_PC_MANAGER_RUNNING), TEXT_PC_MANAGER_RUNNING);
  EXPECT_EQ(ui::LoadString(9999), "");
  EXPECT_NE(ui::LoadIcon(IDR_MAINFRAME), 0u);
  EXPECT_EQ(ui::LoadIcon(9999), 0u);

  const int depth = hl::WaitCursorDepth();
  ui::BeginWaitCursor();
  ui::BeginWaitCursor();
  EXPECT_EQ(hl::WaitCursorDepth(), depth + 2);
  ui::EndWaitCursor();
  ui::EndWaitCursor();
  EXPECT_EQ(hl::WaitCursorDepth(), depth);
  for (int i = 0; i <= depth; ++i) ui::EndWaitCursor();
  EXPECT_EQ(hl::WaitCursorDepth(), 0);
}

}  // namespace
