// The start of the program: the guards against a second copy and the PC
// manager, over a scripted process and window list; the window's start with
// its settings, system menu, icons, about box, browse and minimised paint;
// the end when the window cannot make its events or driver thread.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/Tamri.h"
#include "app/TamriDlg.h"
#include "app/settings.h"
#include "link/ids.h"
#include "res/resource.h"
#include "window_fixture.h"

namespace {

// A scripted desktop: processes with their paths, windows with their
// processes and owners, the calls the guards made.
struct Desktop {
  bool listAvailable = true;
  std::map<uint32_t, std::string> processes;  // pid -> executable path ("" unreadable)
  uint32_t self = 1;
  struct Window {
    ui::WindowHandle handle;
    uint32_t pid;
    ui::WindowHandle parent;
  };
  std::vector<Window> windows;
  std::vector<uint32_t> sleeps;
  std::vector<ui::WindowHandle> raised;
  // Removes the process after this many path reads of it (-1: never).
  std::map<uint32_t, int> quitsAfterReads;
};
Desktop* g_desktop = nullptr;

GuardCalls ScriptedGuards() {
  return {
      .EnumProcessIds =
          [](std::vector<uint32_t>& ids) {
            ids.clear();
            for (const auto& [pid, path] : g_desktop->processes) ids.push_back(pid);
            return g_desktop->listAvailable;
          },
      .ProcessImagePath =
          [](uint32_t pid, std::string& path) {
            const auto it = g_desktop->processes.find(pid);
            if (it == g_desktop->processes.end() || it->second.empty()) return false;
            path = it->second;
            if (auto quit = g_desktop->quitsAfterReads.find(pid); quit != g_desktop->quitsAfterReads.end()) {
              if (--quit->second == 0) g_desktop->processes.erase(it);
            }
            return true;
          },
      .CurrentProcessId = [] { return g_desktop->self; },
      .Sleep = [](uint32_t ms) { g_desktop->sleeps.push_back(ms); },
      .EnumTopWindows =
          [](bool (*visit)(ui::WindowHandle, uint32_t), uint32_t pid) {
            for (const auto& window : g_desktop->windows) {
              if (!visit(window.handle, pid)) return;
            }
          },
      .WindowProcessId =
          [](ui::WindowHandle handle) -> uint32_t {
            for (const auto& window : g_desktop->windows) {
              if (window.handle == handle) return window.pid;
            }
            return 0;
          },
      .GetParent =
          [](ui::WindowHandle handle) {
            for (const auto& window : g_desktop->windows) {
              if (window.handle == handle) return window.parent;
            }
            return ui::NoWindow;
          },
      .SetForegroundWindow =
          [](ui::WindowHandle handle) {
            g_desktop->raised.push_back(handle);
            return true;
          },
      .TerminateProcessById = [](uint32_t pid, uint32_t) { return g_desktop->processes.erase(pid) == 1; },
      .EnableOwnPrivilege = [](const std::string& name) { return name == "SeDebugPrivilege"; },
  };
}

class GuardTest : public ::testing::Test {
 protected:
  GuardTest() {
    g_desktop = &desktop_;
    Guards = ScriptedGuards();
    desktop_.processes[1] = "C:\\Tools\\Tamri\\Tamri.exe";  // the program itself
    desktop_.processes[4] = "C:\\Windows\\explorer.exe";
    desktop_.processes[5] = "";                              // one we may not open
  }
  ~GuardTest() override {
    Guards = RealGuardCalls();
    g_desktop = nullptr;
  }
  Desktop desktop_;
};

TEST_F(GuardTest, TheProgramsOwnProcessIsNeverASecondCopy) {
  EXPECT_EQ(CTamriApp().ActivatePreviousInstance(), 1);
  EXPECT_TRUE(desktop_.raised.empty());
}

// Which other processes count as a running copy: a substring of the
// lower-cased whole path, folders included.
struct CopyCase {
  const char* path;
  bool isCopy;
};

class SecondCopyTest : public GuardTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(SecondCopyTest, AnotherProcessWithTheNameInItsPathStopsTheStart) {
  desktop_.processes[9] = GetParam().path;
  EXPECT_EQ(FindProcessByName("Tamri") == 9, GetParam().isCopy);
  EXPECT_EQ(CTamriApp().ActivatePreviousInstance(), GetParam().isCopy ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(Paths, SecondCopyTest,
                         ::testing::Values(CopyCase{"C:\\Tools\\Tamri\\Tamri.exe", true},
                                           CopyCase{"D:\\TAMRI.EXE", true},
                                           CopyCase{"C:\\tamriBackup\\editor.exe", true},
                                           CopyCase{"C:\\Tools\\Tamr\\i.exe", false},
                                           CopyCase{"C:\\Windows\\notepad.exe", false}));

TEST_F(GuardTest, TheRunningCopysTopmostWindowIsRaised) {
  desktop_.processes[9] = "C:\\Other\\Tamri.exe";
  desktop_.windows = {{100, 4, ui::NoWindow}, {200, 9, 300}, {300, 9, 400}, {400, 9, ui::NoWindow}, {500, 9, ui::NoWindow}};
  EXPECT_EQ(CTamriApp().ActivatePreviousInstance(), 0);
  EXPECT_EQ(desktop_.raised, std::vector<ui::WindowHandle>{400});
}

TEST_F(GuardTest, ACopyWithoutWindowsStillEndsTheStart) {
  desktop_.processes[9] = "C:\\Other\\Tamri.exe";
  EXPECT_EQ(CTamriApp().ActivatePreviousInstance(), 0);
  EXPECT_TRUE(desktop_.raised.empty());
}

TEST_F(GuardTest, WithoutAProcessListBothGuardsLetTheProgramStart) {
  desktop_.processes[9] = "C:\\Other\\Tamri.exe";
  desktop_.processes[10] = "C:\\Corvane\\Corvane.exe";
  desktop_.listAvailable = false;
  CTamriApp app;
  EXPECT_EQ(app.ActivatePreviousInstance(), 1);
  EXPECT_EQ(app.WaitForPcManagerExit(), 1);
}

TEST_F(GuardTest, APcManagerThatQuitsDuringTheSecondPauseDelaysTheStartByTwoPauses) {
  desktop_.processes[10] = "C:\\Program Files\\corvane\\pcm.exe";
  desktop_.quitsAfterReads[10] = 2;
  EXPECT_EQ(CTamriApp().WaitForPcManagerExit(), 1);
  EXPECT_EQ(desktop_.sleeps, (std::vector<uint32_t>{2000, 2000}));
  EXPECT_EQ(ui::headless::WaitCursorDepth(), 0);
}

TEST_F(GuardTest, APcManagerThatKeepsRunningStopsTheStartAfterThreePauses) {
  desktop_.processes[10] = "C:\\Corvane\\Corvane.exe";
  ui::headless::ClearUnansweredBoxes();
  BoxScript boxes;
  boxes.Expect(TEXT_PC_MANAGER_RUNNING, ui::IdOk);
  EXPECT_FALSE(CTamriApp().InitInstance());
  EXPECT_EQ(desktop_.sleeps, (std::vector<uint32_t>{2000, 2000, 2000}));
  EXPECT_TRUE(boxes.AllShown());
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].flags, ui::MbOk | ui::MbIconExclamation);
  EXPECT_EQ(ui::headless::WaitCursorDepth(), 0);
}

TEST_F(GuardTest, ASecondCopyEndsWithoutAWindow) {
  desktop_.processes[9] = "C:\\Other\\Tamri.exe";
  EXPECT_FALSE(CTamriApp().InitInstance());
  EXPECT_EQ(ui::headless::WaitForDialog(IDD_MAIN_DIALOG, 0), ui::NoWindow);
}

TEST_F(GuardTest, TheTwoUncalledOperations) {
  CTamriApp app;
  EXPECT_EQ(app.KillTargetProcess(), 0u);
  desktop_.processes[12] = "C:\\x\\YourTargetProcess.exe";
  EXPECT_EQ(app.KillTargetProcess(), 1u);
  EXPECT_EQ(desktop_.processes.count(12), 0u);
  EXPECT_EQ(app.EnableDebugPrivilege(), 1u);
}

#if GTEST_HAS_DEATH_TEST
// The start fails with a box that is told on the error stream, as the
// process ends right after it.
[[noreturn]] void FailTheStart(ui::WindowHandle owner, const char* failure) {
  ui::headless::SetBoxResponder([](const ui::headless::BoxRequest& box) {
    std::fprintf(stderr, "box \"%s\" caption %s owner %ju flags %u\n", box.text.c_str(), box.caption.c_str(),
                 static_cast<uintmax_t>(box.owner), box.flags);
    return ui::IdOk;
  });
  ExitOnStartFailure(owner, failure);
}

TEST(StartFailureDeathTest, APlainOkBoxOwnedByTheWindowThenTheEndWithCodeZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // Only the OK button: no icon is added to it.
  EXPECT_EXIT(FailTheStart(ui::WindowHandle{77}, "Create DriverEvent Failed,Now Exit..."),
              testing::ExitedWithCode(0),
              testing::HasSubstr("box \"Create DriverEvent Failed,Now Exit...\" caption Tamri owner 77 flags 0\n"));
}
#endif

class StartupTest : public WindowTest {};

TEST_F(StartupTest, TheWindowStartsWithItsCaptionMenuIconsAndStatus) {
  Start();
  const auto view = ui::headless::View(window_);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->caption, "Firmware Upgrade");
  EXPECT_EQ(view->systemMenu, (std::vector<std::string>{"", "About Tamri(&A)..."}));
  EXPECT_EQ(view->bigIcon, ui::LoadIcon(IDR_MAINFRAME));
  EXPECT_EQ(view->smallIcon, ui::LoadIcon(IDR_MAINFRAME));
  EXPECT_NE(view->bigIcon, 0u);
  EXPECT_EQ(Status(), "Searching Device...");
  EXPECT_EQ(ControlOf(IDC_IMAGE_FOLDER).text, "");
  EXPECT_EQ(link_.Calls().front(), "SetNotify");
  EXPECT_NE(link_.Notify(), nullptr);
}

TEST_F(StartupTest, ADetectionQueuedBeforeTheWindowIsHandledAtOnce) {
  link_.Indicate(IdModemDetect, {1});
  Start();
  EXPECT_TRUE(link_.WaitForCall("SearchPort", kWaitMs));
}

// The access code from the settings.
struct CodeCase {
  const char* stored;  // null: no key
  const char* code;
};

class AccessCodeTest : public WindowTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(AccessCodeTest, TheCodeIsTakenUnchangedOrTheBuiltInOne) {
  if (GetParam().stored != nullptr) settings_.Set("Password", "DM", GetParam().stored);
  Start();
  EXPECT_EQ(DmPassword, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Codes, AccessCodeTest,
                         ::testing::Values(CodeCase{nullptr, "70419352"}, CodeCase{"", "70419352"},
                                           CodeCase{"1234", "1234"}, CodeCase{"12 34", "12 34"}));

TEST_F(StartupTest, TheHistoryIsListedSortedUpToTheFirstEmptyKey) {
  settings_.Set("Phone Image Paths", "Item 0", "C:\\Zeta");
  settings_.Set("Phone Image Paths", "Item 1", "C:\\alpha");
  settings_.Set("Phone Image Paths", "Item 3", "C:\\Beta");
  settings_.Set("Upload Image Files", "Item 0", "C:\\up.bin");
  Start();
  const auto combo = ControlOf(IDC_IMAGE_FOLDER);
  EXPECT_EQ(combo.items, (std::vector<std::string>{"C:\\alpha", "C:\\Zeta"}));
  EXPECT_EQ(combo.text, "");
  EXPECT_EQ(combo.selection, -1);
  EXPECT_EQ(dialog_->UploadPathList, std::vector<std::string>{"C:\\up.bin"});
}

TEST_F(StartupTest, BrowsingAddsTheFolderEachTimeAndSelectsIt) {
  Start();
  ui::headless::SetFolderResponder([] { return std::optional<std::string>("C:\\Pkg"); });
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(ui::headless::Click(window_, IDC_BROWSE_FOLDER));
    ui::headless::Sync(window_);
  }
  ui::headless::SetFolderResponder(nullptr);
  ASSERT_TRUE(ui::headless::Click(window_, IDC_BROWSE_FOLDER));  // cancelled
  ui::headless::Sync(window_);
  const auto combo = ControlOf(IDC_IMAGE_FOLDER);
  EXPECT_EQ(combo.items, (std::vector<std::string>{"C:\\Pkg", "C:\\Pkg"}));
  EXPECT_EQ(combo.text, "C:\\Pkg");
  EXPECT_EQ(settings_.Get("Phone Image Paths", "Item 0"), "");
}

TEST_F(StartupTest, TheAboutBoxRunsFromTheSystemMenu) {
  Start();
  ui::headless::SysCommand(window_, IDM_ABOUTBOX);
  const ui::WindowHandle about = ui::headless::WaitForDialog(IDD_ABOUT_DIALOG, kWaitMs);
  ASSERT_NE(about, ui::NoWindow);
  EXPECT_EQ(ui::headless::View(about)->caption, "About Tamri");
  ASSERT_TRUE(ui::headless::Click(about, ui::IdOk));
  EXPECT_TRUE(ui::headless::WaitForDialogEnd(about, kWaitMs));
  EXPECT_FALSE(Ended(0));
}

TEST_F(StartupTest, MinimisedTheWindowPaintsItsIconCentred) {
  Start();
  ui::headless::SetMinimised(window_, true);
  ui::headless::Sync(window_);
  const auto view = ui::headless::View(window_);
  ASSERT_EQ(view->iconDraws.size(), 1u);
  EXPECT_EQ(view->iconBackgroundErases, 1);
  EXPECT_EQ(view->iconDraws[0].icon, ui::LoadIcon(IDR_MAINFRAME));
  // The headless client area is 477 x 123 pixels, its icons 32 x 32.
  EXPECT_EQ(view->iconDraws[0].x, (477 - 32 + 1) / 2);
  EXPECT_EQ(view->iconDraws[0].y, (123 - 32 + 1) / 2);
  // Restored, the platform paints.
  ui::headless::SetMinimised(window_, false);
  ui::headless::Sync(window_);
  EXPECT_EQ(ui::headless::View(window_)->iconDraws.size(), 1u);
}

}  // namespace
