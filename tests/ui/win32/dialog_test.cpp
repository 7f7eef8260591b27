// The Win32 dialog layer driven as the program drives it: the dialog on the
// test's thread (its UI thread), other threads sending texts, posting
// commands, setting timers, showing message boxes and ending the dialog, and
// a helper thread in the user's place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "recording_dialog.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/win32/probe/probe.h"
#include "ui/window.h"

namespace {

using ui::NoWindow;
using ui::WindowHandle;
using win32test::Count;
using win32test::kDeadlineMs;
using win32test::RecordingDialog;

// Threads started while a dialog runs, joined once it has ended.
class Helpers {
 public:
  ~Helpers() { Join(); }
  template <typename F>
  void Start(F&& f) {
    threads_.emplace_back(std::forward<F>(f));
  }
  void Join() {
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
  }

 private:
  std::vector<std::thread> threads_;
};

TEST(Win32Dialog, InitDialogHasTheWindowAndLoadsTheMembers) {
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.exchange = true;
  dialog.statusText = "Searching Device...";
  WindowHandle during = NoWindow;
  std::string statusShown = "?";
  std::string folderShown = "?";
  dialog.onInit = [&](RecordingDialog& d) {
    during = d.Handle();
    statusShown = ui::GetWindowText(d.status);
    folderShown = ui::GetWindowText(d.Item(IDC_IMAGE_FOLDER));
    EXPECT_EQ(d.status, d.Item(IDC_STATUS_TEXT));
    EXPECT_TRUE(ui::IsWindow(d.Item(IDC_PROGRESS)));
    EXPECT_EQ(d.Item(4711), NoWindow);
    d.EndDialog(5);
  };
  EXPECT_EQ(dialog.Handle(), NoWindow);
  EXPECT_EQ(dialog.RunModal(), 5);
  EXPECT_NE(during, NoWindow);
  EXPECT_EQ(statusShown, "Searching Device...");
  EXPECT_EQ(folderShown, "");
  EXPECT_EQ(dialog.Handle(), NoWindow);
  EXPECT_FALSE(ui::IsWindow(during));
  EXPECT_EQ(dialog.Item(IDC_STATUS_TEXT), NoWindow);
}

TEST(Win32Dialog, TheComboBoxExchangeSelectsByPrefixOrTakesTheText) {
  struct Case {
    const char* value;
    int selected;  // -1: nothing selected
    const char* shown;
  };
  const Case cases[] = {
      {"c:\\b", 1, "c:\\beta"},
      {"C:\\BETA", 1, "c:\\beta"},
      {"C:\\", 0, "C:\\Alpha"},
      {"E:\\other", -1, "E:\\other"},
      {"D:\\Gamma\\more", -1, "D:\\Gamma\\more"},
  };
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.exchange = true;
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle combo = d.Item(IDC_IMAGE_FOLDER);
    // Sorted without regard to case, whatever the order of adding.
    EXPECT_EQ(ui::ComboAddString(combo, "D:\\Gamma"), 0);
    EXPECT_EQ(ui::ComboAddString(combo, "C:\\Alpha"), 0);
    EXPECT_EQ(ui::ComboAddString(combo, "c:\\beta"), 1);
    ASSERT_EQ(ui::ComboCount(combo), 3);
    EXPECT_EQ(ui::ComboItem(combo, 2), "D:\\Gamma");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.value);
      ui::ComboSetCurSel(combo, -1);
      d.folder = c.value;
      d.UpdateData(false);
      EXPECT_EQ(ui::ComboCurSel(combo), c.selected);
      EXPECT_EQ(ui::GetWindowText(combo), c.shown);
    }
    // Saving reads the edit field, also when it holds no entry of the list.
    ui::probe::TypeText(d.Handle(), IDC_IMAGE_FOLDER, "F:\\typed");
    d.UpdateData(true);
    EXPECT_EQ(d.folder, "F:\\typed");
    d.EndDialog(ui::IdOk);
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
}

TEST(Win32Dialog, TheComboListKeepsDuplicatesAndRefusesOtherControls) {
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle combo = d.Item(IDC_IMAGE_FOLDER);
    EXPECT_EQ(ui::ComboAddString(combo, "C:\\VOSM"), 0);
    const int second = ui::ComboAddString(combo, "C:\\VOSM");
    ASSERT_GE(second, 0);
    EXPECT_EQ(ui::ComboItem(combo, second), "C:\\VOSM");
    ASSERT_EQ(ui::ComboCount(combo), 2);
    EXPECT_EQ(ui::ComboItem(combo, 1 - second), "C:\\VOSM");
    ui::ComboSetCurSel(combo, 1);
    EXPECT_EQ(ui::ComboCurSel(combo), 1);
    EXPECT_EQ(ui::GetWindowText(combo), "C:\\VOSM");
    EXPECT_EQ(ui::ComboItem(combo, 2), "");
    EXPECT_EQ(ui::ComboItem(combo, -1), "");
    // A button is no combo box, and no window is none either.
    const WindowHandle button = d.Item(IDC_BROWSE_FOLDER);
    EXPECT_EQ(ui::ComboAddString(button, "x"), -1);
    EXPECT_EQ(ui::ComboCount(button), 0);
    EXPECT_EQ(ui::ComboCurSel(button), -1);
    EXPECT_EQ(ui::ComboAddString(NoWindow, "x"), -1);
    EXPECT_EQ(ui::GetWindowText(button), "...");
    d.EndDialog(ui::IdOk);
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
}

TEST(Win32Dialog, CommandsReachTheHandlersInTheOrderPosted) {
  Helpers helpers;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onCommand = [](uint32_t id) { return id != ui::IdCancel; };
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle window = d.Handle();
    helpers.Start([window] {
      ui::PostCommand(window, ID_DL_FINISH_CMD);
      ui::PostCommand(window, ID_EFS_FINISHED);
      // WM_COMMAND has room for 16 bits: this one must not arrive as 32774.
      ui::PostCommand(window, 0x10000 + ID_EFS_FAILED);
      ui::PostCommand(window, ID_EFS_FAILED);
      // A control's notification is no command; a click is.
      ui::probe::Notify(window, IDC_IMAGE_FOLDER, 1);
      EXPECT_TRUE(ui::probe::Click(window, IDC_BROWSE_FOLDER));
      // Download starts disabled, as a user finds it.
      EXPECT_FALSE(ui::probe::Click(window, ui::IdOk));
      ui::PostCommand(window, ui::IdCancel);
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdCancel);
  const std::vector<std::string> want{"init",          "command 32771", "command 32772", "command 32774",
                                      "command 1029", "command 2",     "cancel"};
  EXPECT_EQ(dialog.Events(), want);
}

TEST(Win32Dialog, UnhandledOkSavesTheDataAndEndsTheDialog) {
  Helpers helpers;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.exchange = true;
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle window = d.Handle();
    helpers.Start([window] {
      ui::probe::TypeText(window, IDC_IMAGE_FOLDER, "C:\\VOSM");
      ui::EnableWindow(ui::probe::DialogItem(window, ui::IdOk), true);
      EXPECT_TRUE(ui::IsWindowEnabled(ui::probe::DialogItem(window, ui::IdOk)));
      EXPECT_TRUE(ui::probe::Click(window, ui::IdOk));
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  EXPECT_EQ(dialog.folder, "C:\\VOSM");
  const std::vector<std::string> want{"init", "command 1", "ok"};
  EXPECT_EQ(dialog.Events(), want);
}

TEST(Win32Dialog, ClosingReachesOnCloseAndTheBaseCancels) {
  struct Case {
    const char* name;
    bool systemMenu;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {"close box", false, {"init", "close", "cancel"}},
      {"system menu Close", true, {"init", "syscommand 61536", "close", "cancel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Helpers helpers;
    RecordingDialog dialog(IDD_MAIN_DIALOG);
    dialog.onInit = [&](RecordingDialog& d) {
      const WindowHandle window = d.Handle();
      helpers.Start([window, &c] {
        if (c.systemMenu) {
          ui::probe::SysCommand(window, ui::ScClose);
        } else {
          ui::probe::Close(window);
        }
      });
    };
    EXPECT_EQ(dialog.RunModal(), ui::IdCancel);
    EXPECT_EQ(dialog.Events(), c.events);
  }
}

TEST(Win32Dialog, EndDialogFromAnotherThreadKeepsTheFirstResult) {
  Helpers helpers;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onInit = [&](RecordingDialog& d) {
    helpers.Start([&d] {
      d.EndDialog(42);
      d.EndDialog(43);
    });
  };
  // The UI thread asks for another result once the thread has asked.
  dialog.onCommand = [&](uint32_t) {
    dialog.EndDialog(44);
    return true;
  };
  EXPECT_EQ(dialog.RunModal(), 42);
  helpers.Join();
  // Once the dialog has gone, ending it again changes nothing.
  dialog.EndDialog(45);
  EXPECT_FALSE(dialog.SetTimer(1, 10));
  EXPECT_FALSE(dialog.KillTimer(1));
}

TEST(Win32Dialog, TimersSetAndKilledFromAnotherThread) {
  Helpers helpers;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onInit = [&](RecordingDialog& d) {
    helpers.Start([&d] {
      ASSERT_TRUE(d.SetTimer(105, 10));
      // Repeats until killed.
      EXPECT_TRUE(d.WaitForEvent("timer 105", 3));
      EXPECT_TRUE(d.KillTimer(105));
      EXPECT_FALSE(d.KillTimer(105));
      ASSERT_TRUE(d.SetTimer(117, 10));
      EXPECT_TRUE(d.WaitForEvent("timer 117"));
      EXPECT_TRUE(d.KillTimer(117));
      d.EndDialog(ui::IdOk);
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  const std::vector<std::string> events = dialog.Events();
  EXPECT_GE(Count(events, "timer 105"), 3);
  EXPECT_GE(Count(events, "timer 117"), 1);
}

TEST(Win32Dialog, TextsAndProgressSentFromAnotherThread) {
  Helpers helpers;
  WindowHandle status = NoWindow;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onInit = [&](RecordingDialog& d) {
    status = d.Item(IDC_STATUS_TEXT);
    helpers.Start([&d] {
      const WindowHandle status = d.Item(IDC_STATUS_TEXT);
      const WindowHandle progress = d.Item(IDC_PROGRESS);
      EXPECT_TRUE(ui::IsWindow(status));
      ui::SendText(status, "download 5%");
      EXPECT_EQ(ui::GetWindowText(status), "download 5%");
      ui::SendText(status, "download 5%");
      EXPECT_EQ(ui::GetWindowText(status), "download 5%");
      ui::SetWindowText(status, "other");
      ui::SendText(status, "download 5%");
      EXPECT_EQ(ui::GetWindowText(status), "download 5%");
      ui::SendText(status, nullptr);
      EXPECT_EQ(ui::GetWindowText(status), "");
      ui::SendProgress(progress, 55);
      EXPECT_EQ(ui::GetProgress(progress), 55);
      // The bar keeps its own range, 0 to 100.
      ui::SendProgress(progress, 250);
      EXPECT_EQ(ui::GetProgress(progress), 100);
      ui::SendProgress(progress, 0);
      EXPECT_EQ(ui::GetProgress(progress), 0);
      EXPECT_EQ(ui::GetProgress(status), 0);
      d.EndDialog(ui::IdOk);
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  helpers.Join();
  // The window is gone: the calls return without effect.
  EXPECT_FALSE(ui::IsWindow(status));
  ui::SendText(status, "late");
  ui::SendProgress(status, 1);
  ui::PostCommand(status, 1);
  EXPECT_EQ(ui::GetWindowText(status), "");
  EXPECT_FALSE(ui::IsWindow(NoWindow));
}

TEST(Win32Dialog, FocusSetFromAnotherThreadMovesToTheControl) {
  Helpers helpers;
  WindowHandle button = NoWindow;
  WindowHandle focused = NoWindow;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onCommand = [&](uint32_t) {
    focused = ui::probe::Focused();
    dialog.EndDialog(ui::IdOk);
    return true;
  };
  dialog.onInit = [&](RecordingDialog& d) {
    button = d.Item(IDC_BROWSE_FOLDER);
    helpers.Start([&d, button] {
      ui::SetFocus(button);
      ui::PostCommand(d.Handle(), ID_DL_FINISH_CMD);
    });
  };
  ASSERT_EQ(dialog.RunModal(), ui::IdOk);
  EXPECT_NE(button, NoWindow);
  EXPECT_EQ(focused, button);
}

TEST(Win32Dialog, SystemMenuItemAndIcons) {
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onInit = [&](RecordingDialog& d) {
    const std::string about = ui::LoadString(IDS_ABOUT_MENU_ITEM);
    const size_t before = ui::probe::SystemMenu(d.Handle()).size();
    ASSERT_TRUE(d.AppendSystemMenuItem(IDM_ABOUTBOX, about));
    const std::vector<ui::probe::MenuItem> menu = ui::probe::SystemMenu(d.Handle());
    ASSERT_EQ(menu.size(), before + 2);
    EXPECT_EQ(menu[before], (ui::probe::MenuItem{0, ""}));
    EXPECT_EQ(menu[before + 1], (ui::probe::MenuItem{IDM_ABOUTBOX, "About Tamri(&A)..."}));

    const ui::IconHandle icon = ui::LoadIcon(IDR_MAINFRAME);
    d.SetIcon(icon, true);
    d.SetIcon(icon, false);
    EXPECT_EQ(ui::probe::WindowIcon(d.Handle(), true), icon);
    EXPECT_EQ(ui::probe::WindowIcon(d.Handle(), false), icon);

    EXPECT_FALSE(d.IsIconic());
    ui::probe::Minimise(d.Handle());
    EXPECT_TRUE(d.IsIconic());
    d.EndDialog(ui::IdOk);
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
}

TEST(Win32Dialog, TheAboutBoxRunsInsideTheMainDialog) {
  Helpers helpers;
  int aboutResult = 0;
  bool mainEnabledDuring = true;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onSysCommand = [&](uint32_t id) {
    if ((id & 0xFFF0) != IDM_ABOUTBOX) return false;
    RecordingDialog about(IDD_ABOUT_DIALOG);
    about.onInit = [&](RecordingDialog&) { mainEnabledDuring = ui::IsWindowEnabled(dialog.Handle()); };
    aboutResult = about.RunModal();
    return true;
  };
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle window = d.Handle();
    helpers.Start([window, &d] {
      ui::probe::SysCommand(window, IDM_ABOUTBOX);
      const WindowHandle about = ui::probe::WaitForDialogWindow("About Tamri", kDeadlineMs);
      ASSERT_NE(about, NoWindow);
      // Owned by the main dialog, which waits disabled.
      EXPECT_EQ(ui::probe::Owner(about), window);
      EXPECT_TRUE(ui::probe::Click(about, ui::IdOk));
      EXPECT_TRUE(d.WaitForEvent("syscommand 16"));
      ui::PostCommand(window, ID_DL_FINISH_CMD);
    });
  };
  dialog.onCommand = [&](uint32_t) {
    dialog.EndDialog(ui::IdOk);
    return true;
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  EXPECT_EQ(aboutResult, ui::IdOk);
  EXPECT_FALSE(mainEnabledDuring);
}

TEST(Win32Dialog, PaintingThroughThePaintContext) {
  Helpers helpers;
  const ui::IconHandle icon = ui::LoadIcon(IDR_MAINFRAME);
  int width = -1;
  int height = -1;
  ui::probe::Rect client;
  ui::IconHandle dragged = 0;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.dragIcon = icon;
  dialog.onPaint = [&] {
    ui::PaintContext paint(dialog);
    width = paint.ClientWidth();
    height = paint.ClientHeight();
    paint.EraseIconBackground();
    paint.DrawIcon((width - ui::SystemIconWidth() + 1) / 2, (height - ui::SystemIconHeight() + 1) / 2, icon);
    dialog.Record("painted");
    return true;
  };
  dialog.onInit = [&](RecordingDialog& d) {
    client = ui::probe::ClientRect(d.Handle());
    helpers.Start([&d, &dragged] {
      ui::probe::Repaint(d.Handle());
      EXPECT_TRUE(d.WaitForEvent("painted"));
      dragged = ui::probe::QueryDragIcon(d.Handle());
      d.EndDialog(ui::IdOk);
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  EXPECT_EQ(width, client.width);
  EXPECT_EQ(height, client.height);
  EXPECT_EQ(dragged, icon);
}

TEST(Win32Dialog, AMessageBoxFromAnotherThreadWhileTheDialogRuns) {
  Helpers helpers;
  int answer = 0;
  std::string shown;
  ui::IconHandle iconShown = 0;
  RecordingDialog dialog(IDD_MAIN_DIALOG);
  dialog.onCommand = [](uint32_t) { return true; };
  dialog.onInit = [&](RecordingDialog& d) {
    const WindowHandle window = d.Handle();
    // The driver thread asks and waits for the answer.
    helpers.Start([&, window] {
      answer = ui::MessageBox(window, "Port Occupied!", ui::MbYesNo);
      d.EndDialog(ui::IdOk);
    });
    // The user reads the box and answers; meanwhile the dialog still handles
    // what is posted to it.
    helpers.Start([&, window] {
      const WindowHandle box = ui::probe::WaitForDialogWindow(ui::AppName(), kDeadlineMs);
      ASSERT_NE(box, NoWindow);
      shown = ui::probe::MessageBoxText(box);
      iconShown = ui::probe::MessageBoxIcon(box);
      EXPECT_EQ(ui::probe::Owner(box), window);
      ui::PostCommand(window, ID_DL_FINISH_CMD);
      EXPECT_TRUE(d.WaitForEvent("command 32771"));
      EXPECT_TRUE(ui::probe::Click(box, ui::IdNo));
    });
  };
  EXPECT_EQ(dialog.RunModal(), ui::IdOk);
  helpers.Join();
  EXPECT_EQ(answer, ui::IdNo);
  EXPECT_EQ(shown, "Port Occupied!");
  // No icon was asked for: the exclamation icon is added.
  EXPECT_EQ(iconShown, ui::probe::ExclamationIcon());
}

// The library's box adds the exclamation icon where none is given; the
// platform's shows exactly its flags.
TEST(Win32Dialog, MessageBoxesShowTheirButtonsAndIconAndAnswer) {
  struct Case {
    bool platforms;
    unsigned flags;
    std::vector<int> buttons;
    int press;
    ui::IconHandle icon;
  };
  const Case cases[] = {
      {false, ui::MbOk, {ui::IdOk}, ui::IdOk, ui::probe::ExclamationIcon()},
      {false, ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2, {ui::IdYes, ui::IdNo}, ui::IdYes,
       ui::probe::ExclamationIcon()},
      {false, ui::MbOkCancel | ui::MbIconStop, {ui::IdOk, ui::IdCancel}, ui::IdCancel, ui::probe::StopIcon()},
      {true, ui::MbOk, {ui::IdOk}, ui::IdOk, 0},
      {true, ui::MbOk | ui::MbIconStop, {ui::IdOk}, ui::IdOk, ui::probe::StopIcon()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.platforms ? "platform's " : "library's ") << c.flags);
    int answer = 0;
    std::thread asker([&] {
      answer = (c.platforms ? ui::PlatformMessageBox : ui::MessageBox)(NoWindow, "Sure to upgrade?", c.flags);
    });
    const WindowHandle box = ui::probe::WaitForDialogWindow(ui::AppName(), kDeadlineMs);
    if (box == NoWindow) {
      ADD_FAILURE() << "no message box";
      asker.detach();
      return;
    }
    EXPECT_EQ(ui::probe::MessageBoxText(box), "Sure to upgrade?");
    EXPECT_EQ(ui::probe::ButtonIds(box), c.buttons);
    EXPECT_EQ(ui::probe::MessageBoxIcon(box), c.icon);
    EXPECT_TRUE(ui::probe::Click(box, c.press));
    asker.join();
    EXPECT_EQ(answer, c.press);
  }
}

TEST(Win32Dialog, TheWaitCursorIsCounted) {
  const std::uintptr_t before = ui::probe::CurrentCursor();
  ASSERT_NE(before, ui::probe::WaitCursor());
  ui::BeginWaitCursor();
  EXPECT_EQ(ui::probe::CurrentCursor(), ui::probe::WaitCursor());
  ui::BeginWaitCursor();
  ui::EndWaitCursor();
  EXPECT_EQ(ui::probe::CurrentCursor(), ui::probe::WaitCursor());
  ui::EndWaitCursor();
  EXPECT_EQ(ui::probe::CurrentCursor(), before);
  // One End too many changes nothing and leaves the count at zero.
  ui::EndWaitCursor();
  ui::BeginWaitCursor();
  EXPECT_EQ(ui::probe::CurrentCursor(), ui::probe::WaitCursor());
  ui::EndWaitCursor();
  EXPECT_EQ(ui::probe::CurrentCursor(), before);
}

TEST(Win32Dialog, TheProgramIsNamedAfterItsExecutable) { EXPECT_EQ(ui::AppName(), "ui_win32_tests"); }

// Cancels the next dialog window the system shows, after checking it with
// `check`.
template <typename Check>
std::thread CancelNextDialog(Check check) {
  return std::thread([check] {
    const WindowHandle box = ui::probe::WaitForDialogWindow("", kDeadlineMs);
    ASSERT_NE(box, NoWindow);
    check(box);
    EXPECT_TRUE(ui::probe::Click(box, ui::IdCancel));
  });
}

TEST(Win32Dialog, CancelledBrowsersChangeNothing) {
  std::string path = "unchanged";
  std::thread user = CancelNextDialog([](WindowHandle) {});
  EXPECT_FALSE(ui::BrowseForFolder(path));
  user.join();
  EXPECT_EQ(path, "unchanged");

  std::vector<std::string> filters;
  user = CancelNextDialog([&](WindowHandle box) {
    // The filter list of the open-file dialog (its combo box cmb1).
    const WindowHandle list = ui::probe::DialogItem(box, 0x470);
    for (int i = 0; i < ui::ComboCount(list); ++i) filters.push_back(ui::ComboItem(list, i));
  });
  EXPECT_FALSE(ui::OpenFileDialog(NoWindow, "Images (*.hex)|*.hex|All files (*.*)|*.*||", path));
  user.join();
  EXPECT_EQ(path, "unchanged");
  const std::vector<std::string> want{"Images (*.hex)", "All files (*.*)"};
  EXPECT_EQ(filters, want);
}

TEST(Win32Dialog, TheOpenFileDialogReturnsTheChosenFile) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "FILE_DEV";
  std::ofstream(file) << "x";
  std::string path;
  std::thread user([&] {
    const WindowHandle box = ui::probe::WaitForDialogWindow("", kDeadlineMs);
    ASSERT_NE(box, NoWindow);
    // The file name field (combo box cmb13) holds the initial name.
    EXPECT_EQ(ui::GetWindowText(ui::probe::DialogItem(box, 0x47c)), "FILE_DEV");
    ui::probe::TypeText(box, 0x47c, file.string());
    EXPECT_TRUE(ui::probe::Click(box, ui::IdOk));
  });
  path = "FILE_DEV";
  EXPECT_TRUE(ui::OpenFileDialog(NoWindow, "", path));
  user.join();
  EXPECT_EQ(std::filesystem::path(path), file);
  std::filesystem::remove(file);
}

}  // namespace
