#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "res/resource.h"
#include "res/templates.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"
#include "ui_test_support.h"

namespace {

using ui::NoWindow;
using ui::WindowHandle;
using ui_test::kDeadlineMs;
using ui_test::ModalRun;
using ui_test::TestDialog;
namespace hl = ui::headless;

constexpr int kDownload = 1;

// Records the handlers that ran, in order, and lets the base do its work.
class RecordingDialog : public TestDialog {
 public:
  explicit RecordingDialog(int templateId = IDD_MAIN_DIALOG) : TestDialog(templateId) {}

  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  void ClearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  // OnCommand answers true for this id without the base.
  uint32_t handledId = 0;

 protected:
  void Record(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  bool OnInitDialog() override {
    Record("OnInitDialog");
    return TestDialog::OnInitDialog();
  }
  void DoDataExchange(ui::DataExchange& dx) override { Record(dx.Saving() ? "save" : "load"); }
  void OnOK() override {
    Record("OnOK");
    TestDialog::OnOK();
  }
  void OnCancel() override {
    Record("OnCancel");
    TestDialog::OnCancel();
  }
  bool OnTestCommand(uint32_t id) override {
    Record("OnCommand " + std::to_string(id));
    return id == handledId || TestDialog::OnTestCommand(id);
  }
  void OnClose() override {
    Record("OnClose");
    TestDialog::OnClose();
  }
  bool OnSysCommand(uint32_t id, intptr_t param) override {
    Record("OnSysCommand " + std::to_string(id));
    return TestDialog::OnSysCommand(id, param);
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(DoModalTest, ADialogWithoutTemplateIsNotCreated) {
  RecordingDialog dialog(999);
  EXPECT_EQ(dialog.DoModal(), -1);
  EXPECT_TRUE(dialog.Events().empty());
  EXPECT_EQ(dialog.Handle(), NoWindow);
}

TEST(DoModalTest, EndDialogFromAnotherThreadEndsItWithTheFirstResult) {
  RecordingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  EXPECT_NE(run.ThreadId(), std::this_thread::get_id());
  const std::vector<WindowHandle> controls = {dialog.Item(kDownload), dialog.Item(IDC_STATUS_TEXT),
                                              dialog.Item(IDC_PROGRESS)};
  for (WindowHandle control : controls) EXPECT_TRUE(ui::IsWindow(control));
  dialog.EndDialog(42);
  dialog.EndDialog(7);
  EXPECT_EQ(run.Result(), 42);
  EXPECT_EQ(dialog.Handle(), NoWindow);
  EXPECT_FALSE(ui::IsWindow(window));
  for (WindowHandle control : controls) EXPECT_FALSE(ui::IsWindow(control));
  EXPECT_FALSE(hl::View(window).has_value());
  // The same object runs again, with new windows.
  ModalRun again(dialog);
  ASSERT_NE(again.Window(), NoWindow);
  EXPECT_NE(dialog.Handle(), window);
  dialog.EndDialog(3);
  EXPECT_EQ(again.Result(), 3);
}

// Blocks its UI thread in a command until the test opens the latch.
class BlockingDialog : public TestDialog {
 public:
  static constexpr uint32_t kBlock = 500;
  BlockingDialog() : TestDialog(IDD_MAIN_DIALOG) {}
  ui_test::Latch latch;

 protected:
  bool OnTestCommand(uint32_t id) override {
    if (id != kBlock) return TestDialog::OnTestCommand(id);
    latch.Arrive();
    return true;
  }
};

// A modal loop can also run on a UI thread of the core; its queue then
// shows that the sender waits, and the dialog's end must release it.
TEST(DoModalTest, SendersWaitingOnTheControlsReturnWhenTheDialogEnds) {
  hl::UiThread thread;
  BlockingDialog dialog;
  int result = 0;
  thread.Post([&] { result = dialog.DoModal(); });
  ASSERT_NE(hl::WaitForDialog(IDD_MAIN_DIALOG, kDeadlineMs), NoWindow);
  const WindowHandle status = dialog.Item(IDC_STATUS_TEXT);
  const WindowHandle progress = dialog.Item(IDC_PROGRESS);
  ui::PostCommand(dialog.Handle(), BlockingDialog::kBlock);
  ASSERT_TRUE(dialog.latch.WaitArrived());
  std::thread sender([&] {
    ui::SendText(status, "never shown");
    ui::SendProgress(progress, 99);
  });
  thread.WaitUntilQueued(1);
  dialog.EndDialog(5);
  dialog.latch.Open();
  sender.join();
  thread.Flush();
  EXPECT_EQ(result, 5);
  EXPECT_FALSE(ui::IsWindow(status));
}

TEST(InitDialogTest, TheWindowsFollowTheTemplateBeforeOnInitDialogRuns) {
  // Looks at its windows from inside OnInitDialog.
  class LookingDialog : public RecordingDialog {
   public:
    std::optional<hl::DialogView> atInit;

   protected:
    bool OnInitDialog() override {
      atInit = hl::View(Handle());
      return RecordingDialog::OnInitDialog();
    }
  } dialog;
  ModalRun run(dialog);
  ASSERT_NE(run.Window(), NoWindow);
  dialog.EndDialog(ui::IdCancel);
  run.Result();
  ASSERT_TRUE(dialog.atInit.has_value());
  const hl::DialogView& view = *dialog.atInit;
  const res::DialogTemplate& templ = *res::FindTemplate(IDD_MAIN_DIALOG);
  EXPECT_EQ(view.templateId, IDD_MAIN_DIALOG);
  EXPECT_EQ(view.caption, templ.caption);
  ASSERT_EQ(view.controls.size(), templ.controls.size());
  for (std::size_t i = 0; i < templ.controls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(view.controls[i].id, templ.controls[i].id);
    EXPECT_EQ(view.controls[i].text, templ.controls[i].caption);
    EXPECT_EQ(view.controls[i].enabled, !templ.controls[i].disabled);
    EXPECT_FALSE(view.controls[i].focused);
  }
  // The base's OnInitDialog loads the data.
  EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnInitDialog", "load"}));
}

// What the main window does at start: caption, system menu, icons, data.
class StartingDialog : public TestDialog {
 public:
  StartingDialog() : TestDialog(IDD_MAIN_DIALOG) {}
  std::string statusText = "Searching Device...";
  std::string imageFolder;
  WindowHandle statusLabel = NoWindow;
  WindowHandle folderCombo = NoWindow;
  bool menuAppended = false;

 protected:
  void DoDataExchange(ui::DataExchange& dx) override {
    ui::ExchangeControl(dx, IDC_STATUS_TEXT, statusLabel);
    ui::ExchangeControl(dx, IDC_IMAGE_FOLDER, folderCombo);
    ui::ExchangeText(dx, IDC_IMAGE_FOLDER, imageFolder);
    ui::ExchangeText(dx, IDC_STATUS_TEXT, statusText);
  }
  bool OnInitDialog() override {
    TestDialog::OnInitDialog();
    ui::SetWindowText(Handle(), "Firmware Upgrade");
    menuAppended = AppendSystemMenuItem(IDM_ABOUTBOX, ui::LoadString(IDS_ABOUT_MENU_ITEM));
    SetIcon(ui::LoadIcon(IDR_MAINFRAME), true);
    SetIcon(ui::LoadIcon(IDR_MAINFRAME) + 1, false);
    return true;
  }
};

TEST(InitDialogTest, WhatOnInitDialogSetsShowsOnceTheDialogRuns) {
  StartingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  const hl::DialogView view = *hl::View(window);
  EXPECT_EQ(view.caption, "Firmware Upgrade");
  EXPECT_TRUE(dialog.menuAppended);
  EXPECT_EQ(view.systemMenu, (std::vector<std::string>{"", "About Tamri(&A)..."}));
  EXPECT_EQ(view.bigIcon, ui::LoadIcon(IDR_MAINFRAME));
  EXPECT_EQ(view.smallIcon, ui::LoadIcon(IDR_MAINFRAME) + 1);
  EXPECT_EQ(dialog.statusLabel, dialog.Item(IDC_STATUS_TEXT));
  EXPECT_EQ(dialog.folderCombo, dialog.Item(IDC_IMAGE_FOLDER));
  EXPECT_EQ(hl::Control(window, IDC_STATUS_TEXT)->text, "Searching Device...");
  EXPECT_EQ(hl::Control(window, IDC_IMAGE_FOLDER)->text, "");
  // Focus goes to the first control the tab key reaches: Download is disabled.
  for (const hl::ControlView& control : view.controls) {
    SCOPED_TRACE(control.id);
    EXPECT_EQ(control.focused, control.id == IDC_IMAGE_FOLDER);
  }
  EXPECT_EQ(dialog.Item(-1), NoWindow);
  EXPECT_EQ(dialog.Item(4242), NoWindow);
  dialog.Run([&] { ui::SetFocus(dialog.Item(IDC_BROWSE_FOLDER)); });
  EXPECT_TRUE(hl::Control(window, IDC_BROWSE_FOLDER)->focused);
  EXPECT_FALSE(hl::Control(window, IDC_IMAGE_FOLDER)->focused);
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

TEST(DataExchangeTest, LoadingAComboSelectsTheFirstEntryThatBeginsWithTheValue) {
  struct Case {
    const char* name;
    std::vector<std::string> items;  // added in this order to the sorted list
    std::string value;
    std::string text;
    int selection;
  };
  const Case cases[] = {
      {"prefix in another case", {"D:\\images", "C:\\VOSM"}, "c:\\vo", "C:\\VOSM", 0},
      {"whole entry", {"C:\\VOSM", "D:\\images"}, "D:\\IMAGES", "D:\\images", 1},
      {"first of two that match", {"C:\\VOSM2", "C:\\VOSM1"}, "C:\\VOSM", "C:\\VOSM1", 0},
      {"no entry begins with it", {"C:\\VOSM"}, "E:\\other", "E:\\other", -1},
      {"longer than the entry", {"C:\\VOSM"}, "C:\\VOSM\\deeper", "C:\\VOSM\\deeper", -1},
      {"empty value, entries listed", {"C:\\VOSM"}, "", "C:\\VOSM", 0},
      {"empty value, empty list", {}, "", "", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartingDialog dialog;
    ModalRun run(dialog);
    const WindowHandle window = run.Window();
    ASSERT_NE(window, NoWindow);
    dialog.Run([&] {
      for (const std::string& item : c.items) ui::ComboAddString(dialog.folderCombo, item);
      dialog.imageFolder = c.value;
      dialog.UpdateData(false);
    });
    const hl::ControlView combo = *hl::Control(window, IDC_IMAGE_FOLDER);
    EXPECT_EQ(combo.text, c.text);
    EXPECT_EQ(combo.selection, c.selection);
    dialog.EndDialog(ui::IdCancel);
    run.Result();
  }
}

TEST(DataExchangeTest, SavingReadsWhatTheControlsShow) {
  StartingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  hl::Type(window, IDC_IMAGE_FOLDER, "E:\\typed");
  ui::SetWindowText(dialog.Item(IDC_STATUS_TEXT), "Found Device.");
  dialog.Run([&] { dialog.UpdateData(true); });
  EXPECT_EQ(dialog.imageFolder, "E:\\typed");
  EXPECT_EQ(dialog.statusText, "Found Device.");
  // A selection puts its entry into the edit field, which saving reads.
  dialog.Run([&] {
    ui::ComboSetCurSel(dialog.folderCombo, ui::ComboAddString(dialog.folderCombo, "C:\\VOSM"));
    dialog.UpdateData(true);
  });
  EXPECT_EQ(dialog.imageFolder, "C:\\VOSM");
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

TEST(CommandTest, InputReachesTheHandlersTheBaseSendsItTo) {
  struct Case {
    const char* name;
    std::function<void(WindowHandle)> input;
    std::vector<std::string> events;
    int result;
  };
  const Case cases[] = {
      {"click OK", [](WindowHandle w) { EXPECT_TRUE(hl::Click(w, ui::IdOk)); },
       {"OnCommand 1", "OnOK", "save"}, ui::IdOk},
      {"posted IdOk", [](WindowHandle w) { ui::PostCommand(w, ui::IdOk); }, {"OnCommand 1", "OnOK", "save"}, ui::IdOk},
      {"Escape", [](WindowHandle w) { hl::Escape(w); }, {"OnCommand 2", "OnCancel"}, ui::IdCancel},
      {"command IdCancel", [](WindowHandle w) { hl::Command(w, ui::IdCancel); }, {"OnCommand 2", "OnCancel"}, ui::IdCancel},
      {"close box", [](WindowHandle w) { hl::Close(w); }, {"OnClose", "OnCancel"}, ui::IdCancel},
      {"system menu Close", [](WindowHandle w) { hl::SysCommand(w, ui::ScClose); },
       {"OnSysCommand 61536", "OnClose", "OnCancel"}, ui::IdCancel},
      {"Close with the low bits set", [](WindowHandle w) { hl::SysCommand(w, ui::ScClose | 0x2); },
       {"OnSysCommand 61538", "OnClose", "OnCancel"}, ui::IdCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDialog dialog(IDD_ABOUT_DIALOG);
    ModalRun run(dialog);
    const WindowHandle window = run.Window();
    ASSERT_NE(window, NoWindow);
    dialog.ClearEvents();
    c.input(window);
    EXPECT_EQ(run.Result(), c.result);
    EXPECT_EQ(dialog.Events(), c.events);
  }
}

TEST(CommandTest, UnhandledCommandsAndSystemCommandsLeaveTheDialogRunning) {
  RecordingDialog dialog(IDD_ABOUT_DIALOG);
  dialog.handledId = ui::IdOk;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  dialog.ClearEvents();
  hl::Click(window, ui::IdOk);           // handled: no OnOK
  hl::Command(window, 32771);            // nobody's
  hl::SysCommand(window, 0xF020);        // minimise: not the close
  hl::Sync(window);
  EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnCommand 1", "OnCommand 32771", "OnSysCommand 61472"}));
  EXPECT_TRUE(ui::IsWindow(window));
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

// Holds the UI thread in one command, so that the next ones queue up.
class QueueingDialog : public RecordingDialog {
 public:
  static constexpr uint32_t kHold = 500;
  static constexpr uint32_t kEnd = 100;
  ui_test::Latch latch;

 protected:
  bool OnTestCommand(uint32_t id) override {
    RecordingDialog::OnTestCommand(id);
    if (id == kHold) latch.Arrive();
    if (id == kEnd) EndDialog(3);
    return true;
  }
};

TEST(CommandTest, PostedCommandsArriveInOrder) {
  QueueingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  dialog.ClearEvents();
  ui::PostCommand(window, QueueingDialog::kHold);
  ASSERT_TRUE(dialog.latch.WaitArrived());
  std::thread other([&] { ui::PostCommand(window, 32772); });
  other.join();
  ui::PostCommand(window, 32771);
  hl::Command(window, 7);
  EXPECT_TRUE(hl::Click(window, IDC_BROWSE_FOLDER));
  ui::PostCommand(window, 32771);
  dialog.latch.Open();
  hl::Sync(window);
  EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnCommand 500", "OnCommand 32772", "OnCommand 32771",
                                                        "OnCommand 7", "OnCommand 1029", "OnCommand 32771"}));
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

TEST(CommandTest, CommandsQueuedForAnEndedDialogAreDropped) {
  QueueingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  dialog.ClearEvents();
  ui::PostCommand(window, QueueingDialog::kHold);
  ASSERT_TRUE(dialog.latch.WaitArrived());
  ui::PostCommand(window, QueueingDialog::kEnd);
  ui::PostCommand(window, 101);
  hl::Close(window);
  dialog.latch.Open();
  EXPECT_EQ(run.Result(), 3);
  EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnCommand 500", "OnCommand 100"}));
  // After the end nothing reaches the gone window.
  ui::PostCommand(window, 102);
  hl::Command(window, 103);
  EXPECT_FALSE(hl::Click(window, IDC_BROWSE_FOLDER));
  hl::Sync(window);
  EXPECT_EQ(dialog.Events().size(), 2u);
}

TEST(CommandTest, AClickIsRefusedWhereAPersonCouldNotClick) {
  struct Case {
    const char* name;
    std::function<void(TestDialog&)> before;  // on the UI thread
    int id;
    bool accepted;
  };
  const Case cases[] = {
      {"a button enabled by the template", nullptr, IDC_BROWSE_FOLDER, true},
      {"a button disabled by the template", nullptr, kDownload, false},
      {"the same button once enabled", [](TestDialog& d) { ui::EnableWindow(d.Item(kDownload), true); }, kDownload, true},
      {"a button disabled later", [](TestDialog& d) { ui::EnableWindow(d.Item(IDC_BROWSE_FOLDER), false); },
       IDC_BROWSE_FOLDER, false},
      {"any button of a disabled dialog", [](TestDialog& d) { ui::EnableWindow(d.Handle(), false); }, IDC_BROWSE_FOLDER,
       false},
      {"a combo box", nullptr, IDC_IMAGE_FOLDER, false},
      {"no such control", nullptr, 4242, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingDialog dialog;
    ModalRun run(dialog);
    const WindowHandle window = run.Window();
    ASSERT_NE(window, NoWindow);
    if (c.before) dialog.Run([&] { c.before(dialog); });
    dialog.ClearEvents();
    EXPECT_EQ(hl::Click(window, c.id), c.accepted);
    hl::Sync(window);
    const std::vector<std::string> clicked = {"OnCommand " + std::to_string(c.id)};
    const std::vector<std::string> none;
    // A click on Download (IdOk) goes on to OnOK.
    std::vector<std::string> expected = c.accepted ? clicked : none;
    if (c.accepted && c.id == kDownload) expected = {"OnCommand 1", "OnOK", "save"};
    EXPECT_EQ(dialog.Events(), expected);
    dialog.EndDialog(ui::IdCancel);
    run.Result();
  }
}

TEST(ComboTest, ASortedListInsertsWithoutRegardToCaseAndKeepsDuplicates) {
  RecordingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  const WindowHandle combo = dialog.Item(IDC_IMAGE_FOLDER);
  struct Add {
    const char* text;
    int index;
  };
  // Sent from this thread: each waits for the UI thread and returns the index.
  for (const Add& add : {Add{"b", 0}, Add{"A", 0}, Add{"c", 2}, Add{"a", 1}, Add{"B", 3}, Add{"b", 4}}) {
    SCOPED_TRACE(add.text);
    EXPECT_EQ(ui::ComboAddString(combo, add.text), add.index);
  }
  const std::vector<std::string> list = {"A", "a", "b", "B", "b", "c"};
  EXPECT_EQ(hl::Control(window, IDC_IMAGE_FOLDER)->items, list);
  ASSERT_EQ(ui::ComboCount(combo), 6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(ui::ComboItem(combo, i), list[static_cast<std::size_t>(i)]);
  EXPECT_EQ(ui::ComboItem(combo, 6), "");
  EXPECT_EQ(ui::ComboItem(combo, -1), "");

  ui::ComboSetCurSel(combo, 3);
  EXPECT_EQ(ui::ComboCurSel(combo), 3);
  EXPECT_EQ(ui::GetWindowText(combo), "B");
  // An entry inserted before the selection moves it along with its entry.
  EXPECT_EQ(ui::ComboAddString(combo, "0"), 0);
  EXPECT_EQ(ui::ComboCurSel(combo), 4);
  EXPECT_EQ(ui::GetWindowText(combo), "B");
  // Typing replaces the edit field, which then shows no entry.
  hl::Type(window, IDC_IMAGE_FOLDER, "typed");
  hl::Sync(window);
  EXPECT_EQ(ui::GetWindowText(combo), "typed");
  EXPECT_EQ(ui::ComboCurSel(combo), -1);
  for (int index : {-1, 99}) {
    SCOPED_TRACE(index);
    ui::ComboSetCurSel(combo, 1);
    ui::ComboSetCurSel(combo, index);
    EXPECT_EQ(ui::ComboCurSel(combo), -1);
    EXPECT_EQ(ui::GetWindowText(combo), "");
  }
  // Other controls have no list.
  const WindowHandle status = dialog.Item(IDC_STATUS_TEXT);
  EXPECT_EQ(ui::ComboAddString(status, "x"), -1);
  EXPECT_EQ(ui::ComboCount(status), 0);
  EXPECT_EQ(ui::ComboCurSel(status), -1);
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

// The main window's about box, run from its system menu.
class AboutBox : public RecordingDialog {
 public:
  AboutBox() : RecordingDialog(IDD_ABOUT_DIALOG) {}
};

class MainWithAbout : public RecordingDialog {
 public:
  std::vector<int> aboutResults;
  std::thread::id aboutThread;

 protected:
  bool OnSysCommand(uint32_t id, intptr_t param) override {
    if ((id & 0xFFF0) != IDM_ABOUTBOX) return RecordingDialog::OnSysCommand(id, param);
    AboutBox about;
    aboutThread = std::this_thread::get_id();
    aboutResults.push_back(about.DoModal());
    Record("about closed");
    return true;
  }
};

TEST(NestedDialogTest, TheAboutBoxRunsInsideTheMainDialogsHandler) {
  struct Case {
    const char* name;
    std::function<void(WindowHandle)> close;
    int result;
  };
  const Case cases[] = {
      {"OK", [](WindowHandle about) { EXPECT_TRUE(hl::Click(about, ui::IdOk)); }, ui::IdOk},
      {"Escape", [](WindowHandle about) { hl::Escape(about); }, ui::IdCancel},
      {"close box", [](WindowHandle about) { hl::Close(about); }, ui::IdCancel},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MainWithAbout dialog;
    ModalRun run(dialog);
    const WindowHandle window = run.Window();
    ASSERT_NE(window, NoWindow);
    dialog.ClearEvents();
    hl::SysCommand(window, IDM_ABOUTBOX);
    const WindowHandle about = hl::WaitForDialog(IDD_ABOUT_DIALOG, kDeadlineMs);
    ASSERT_NE(about, NoWindow);
    EXPECT_EQ(hl::View(about)->caption, "About Tamri");
    EXPECT_EQ(hl::WaitForDialog(0, kDeadlineMs), about);  // the newest of any template
    // The main dialog still runs and handles its commands meanwhile.
    EXPECT_EQ(hl::WaitForDialog(IDD_MAIN_DIALOG, kDeadlineMs), window);
    ui::PostCommand(window, 32771);
    hl::Sync(window);
    EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnCommand 32771"}));
    c.close(about);
    EXPECT_TRUE(hl::WaitForDialogEnd(about, kDeadlineMs));
    hl::Sync(window);
    EXPECT_EQ(dialog.aboutResults, std::vector<int>{c.result});
    EXPECT_EQ(dialog.aboutThread, run.ThreadId());
    EXPECT_EQ(dialog.Events(), (std::vector<std::string>{"OnCommand 32771", "about closed"}));
    EXPECT_TRUE(ui::IsWindow(window));
    dialog.EndDialog(ui::IdOk);
    EXPECT_EQ(run.Result(), ui::IdOk);
  }
}

TEST(NestedDialogTest, AMainDialogEndedWhileTheAboutBoxRunsEndsAfterIt) {
  MainWithAbout dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  hl::SysCommand(window, IDM_ABOUTBOX);
  const WindowHandle about = hl::WaitForDialog(IDD_ABOUT_DIALOG, kDeadlineMs);
  ASSERT_NE(about, NoWindow);
  dialog.EndDialog(9);
  hl::Sync(about);
  EXPECT_TRUE(ui::IsWindow(about));
  hl::Escape(about);
  EXPECT_EQ(run.Result(), 9);
  EXPECT_EQ(dialog.aboutResults, std::vector<int>{ui::IdCancel});
}

// Paints its icon centred while minimised, as the main window does.
class IconPainter : public TestDialog {
 public:
  IconPainter() : TestDialog(IDD_MAIN_DIALOG) {}

 protected:
  bool OnPaint() override {
    if (!IsIconic()) return TestDialog::OnPaint();
    ui::PaintContext paint(*this);
    paint.EraseIconBackground();
    const int x = (paint.ClientWidth() - ui::SystemIconWidth() + 1) / 2;
    const int y = (paint.ClientHeight() - ui::SystemIconHeight() + 1) / 2;
    paint.DrawIcon(x, y, ui::LoadIcon(IDR_MAINFRAME));
    return true;
  }
};

TEST(PaintTest, PaintsOfTheMinimisedWindowAreRecorded) {
  IconPainter dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  int width = 0;
  int height = 0;
  dialog.Run([&] {
    ui::PaintContext paint(dialog);
    width = paint.ClientWidth();
    height = paint.ClientHeight();
  });
  const hl::DialogView::Draw centred{(width - 32 + 1) / 2, (height - 32 + 1) / 2, ui::LoadIcon(IDR_MAINFRAME)};
  struct Step {
    const char* name;
    std::function<void()> input;
    bool minimised;
    int draws;  // in all, since the start
  };
  const Step steps[] = {
      {"a paint of the open window", [&] { hl::Paint(window); }, false, 0},
      {"minimised", [&] { hl::SetMinimised(window, true); }, true, 1},
      {"a paint while minimised", [&] { hl::Paint(window); }, true, 2},
      {"restored", [&] { hl::SetMinimised(window, false); }, false, 2},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.input();
    hl::Sync(window);
    const hl::DialogView view = *hl::View(window);
    EXPECT_EQ(view.minimised, step.minimised);
    EXPECT_EQ(dialog.IsIconic(), step.minimised);
    EXPECT_EQ(view.iconBackgroundErases, step.draws);
    ASSERT_EQ(view.iconDraws.size(), static_cast<std::size_t>(step.draws));
    for (const hl::DialogView::Draw& draw : view.iconDraws) {
      EXPECT_EQ(draw.x, centred.x);
      EXPECT_EQ(draw.y, centred.y);
      EXPECT_EQ(draw.icon, centred.icon);
    }
  }
  dialog.EndDialog(ui::IdCancel);
  run.Result();
}

TEST(DriverTest, WaitsGiveUpAtTheirDeadlineAndReadsOfGoneWindowsAreEmpty) {
  EXPECT_EQ(hl::WaitForDialog(IDD_ABOUT_DIALOG, 1), NoWindow);
  RecordingDialog dialog;
  ModalRun run(dialog);
  const WindowHandle window = run.Window();
  ASSERT_NE(window, NoWindow);
  EXPECT_FALSE(hl::WaitForDialogEnd(window, 1));
  std::string last;
  EXPECT_FALSE(hl::WaitForText(window, IDC_STATUS_TEXT, "Found Device.", 1, &last));
  EXPECT_EQ(last, "abc");
  std::thread setter([&] { ui::SetWindowText(dialog.Item(IDC_STATUS_TEXT), "Found Device."); });
  EXPECT_TRUE(hl::WaitForText(window, IDC_STATUS_TEXT, "Found Device.", kDeadlineMs, &last));
  setter.join();
  EXPECT_FALSE(hl::Control(window, 4242).has_value());
  EXPECT_FALSE(hl::WaitForText(window, 4242, "", kDeadlineMs));
  // The progress bar takes any value.
  ui::SendProgress(dialog.Item(IDC_PROGRESS), 150);
  EXPECT_EQ(ui::GetProgress(dialog.Item(IDC_PROGRESS)), 150);
  EXPECT_EQ(hl::Control(window, IDC_PROGRESS)->progress, 150);
  const WindowHandle status = dialog.Item(IDC_STATUS_TEXT);
  dialog.EndDialog(ui::IdCancel);
  run.Result();
  EXPECT_TRUE(hl::WaitForDialogEnd(window, 1));
  EXPECT_FALSE(hl::WaitForText(window, IDC_STATUS_TEXT, "Found Device.", kDeadlineMs));
  EXPECT_FALSE(hl::Control(window, IDC_STATUS_TEXT).has_value());
  EXPECT_EQ(ui::GetWindowText(status), "");
  EXPECT_FALSE(ui::IsWindowEnabled(status));
  ui::SetWindowText(status, "lost");
  ui::EnableWindow(status, true);
  EXPECT_EQ(dialog.Item(IDC_STATUS_TEXT), NoWindow);
  EXPECT_FALSE(dialog.SetTimer(1, 10));
  EXPECT_FALSE(dialog.AppendSystemMenuItem(IDM_ABOUTBOX, "x"));
  EXPECT_FALSE(dialog.IsIconic());
}

}  // namespace
