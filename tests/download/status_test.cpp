#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "download/status.h"
#include "plat/debug.h"
#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace {

using ui::headless::Model;

// A job whose three windows live on a headless UI thread, made current, with
// the debug dump captured.
class StatusTest : public ::testing::Test {
 protected:
  StatusTest() {
    job_.StatusWnd = ui_.NewWindow();
    job_.ProgressWnd = ui_.NewWindow();
    job_.DialogWnd = ui_.NewWindow();
    plat::SetDebugSink([this](plat::DebugChannel channel, std::string_view text) {
      if (channel == plat::DebugChannel::Dump) dumped_.emplace_back(text);
    });
    CurrentJob = &job_;
  }
  ~StatusTest() override {
    CurrentJob = nullptr;
    plat::SetDebugSink(nullptr);
  }

  std::string StatusText() const { return Model(job_.StatusWnd)->text; }
  int Progress() const { return Model(job_.ProgressWnd)->progress; }

  ui::headless::UiThread ui_;
  DownloadJob job_;
  std::vector<std::string> dumped_;  // written by the test thread only, through ShowStatus
};

TEST_F(StatusTest, NothingHappensWithoutAJob) {
  CurrentJob = nullptr;
  ShowStatus("begin to download:");
  ShowStatusF("%s can't open!!!", "C:\\fw\\armprg.hex");
  ShowProgress(40);
  EXPECT_EQ(StatusText(), "");
  EXPECT_EQ(Progress(), 0);
  EXPECT_TRUE(dumped_.empty());
}

TEST_F(StatusTest, StatusGoesToTheWindowAndTheDump) {
  for (const char* text : {"begin to download:", "download Nuvo 42%\r", ""}) {
    SCOPED_TRACE(text);
    dumped_.clear();
    ShowStatus(text);
    EXPECT_EQ(StatusText(), text);
    EXPECT_EQ(dumped_, std::vector<std::string>{std::string(text) + "\n"});
  }
}

TEST_F(StatusTest, StatusWithoutAWindowStillGoesToTheDump) {
  const ui::WindowHandle destroyed = ui_.NewWindow();
  ui::headless::DestroyWindow(destroyed);
  for (ui::WindowHandle missing : {ui::NoWindow, destroyed}) {
    SCOPED_TRACE(missing);
    dumped_.clear();
    job_.StatusWnd = missing;
    ShowStatus("download error!");
    EXPECT_EQ(dumped_, std::vector<std::string>{"download error!\n"});
  }
  EXPECT_EQ(Model(job_.DialogWnd)->text, "");
}

TEST_F(StatusTest, ProgressIsPassedUnchanged) {
  for (int percent : {0, 42, 100, 150}) {
    SCOPED_TRACE(percent);
    ShowProgress(percent);
    EXPECT_EQ(Progress(), percent);
  }
  EXPECT_TRUE(dumped_.empty());
}

TEST_F(StatusTest, ProgressWithoutABarIsSkipped) {
  const ui::WindowHandle bar = job_.ProgressWnd;
  job_.ProgressWnd = ui::NoWindow;
  ShowProgress(50);
  ui::headless::DestroyWindow(bar);
  job_.ProgressWnd = bar;
  ShowProgress(60);
  EXPECT_EQ(Model(job_.StatusWnd)->progress, 0);
  EXPECT_EQ(Model(job_.DialogWnd)->progress, 0);
}

TEST_F(StatusTest, FormattedStatusIsShownFromTheBuffer) {
  ShowStatusF("%s can't open!!!", "C:\\fw\\NuvoDownload.bin");
  EXPECT_STREQ(StatusBuffer, "C:\\fw\\NuvoDownload.bin can't open!!!");
  EXPECT_EQ(StatusText(), StatusBuffer);
  EXPECT_EQ(dumped_, std::vector<std::string>{std::string(StatusBuffer) + "\n"});
}

// A path as long as the window's folder field allows makes a line longer than
// the buffer: it is cut to the 259 characters the buffer holds.
TEST_F(StatusTest, LongLinesAreCutToTheBuffer) {
  const std::string suffix = " can't open!!!";
  for (std::size_t length : {258u, 259u, 260u, 300u}) {
    SCOPED_TRACE(length);
    const std::string path(length - suffix.size(), 'p');
    const std::string line = path + suffix;
    const std::string shown = line.substr(0, 259);
    dumped_.clear();
    ShowStatusF("%s can't open!!!", path.c_str());
    EXPECT_EQ(std::strlen(StatusBuffer), shown.size());
    EXPECT_EQ(StatusText(), shown);
    EXPECT_EQ(dumped_, std::vector<std::string>{shown + "\n"});
  }
}

}  // namespace
