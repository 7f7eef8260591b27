// The EFS file write from the window over the scripted phone: the file
// that arrives in the phone's EFS after the empty FILE_DEV one second
// earlier, the progress the transfer callback shows, exactly one result
// for every way a write can end, the refusals before anything is sent, one
// write at a time, no result reaching an ended dialog, the result handlers
// and the browse for a file named FILE_DEV.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "app/efs_write.h"
#include "app/vendor_library.h"
#include "plat/clock.h"
#include "res/resource.h"
#include "ui/headless/dialog_driver.h"
#include "vendor_fixture.h"

namespace {

namespace fs = std::filesystem;
using qlib_testing::TransferReport;

constexpr const char* kEfsPath = "/nv/item_files/conf/tamri.bin";

// A gate a test opens for a blocked write, with a deadline on both sides.
class Gate {
 public:
  void Arrive() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(10), [this] { return open_; });
  }
  bool WaitArrived() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return arrived_; });
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

// What the window showed right after each call of the transfer callback.
struct Shown {
  std::string status;
  int progress;
  bool operator==(const Shown&) const = default;
};

class EfsWriteTest : public VendorWindowTest {
 protected:
  void SetUp() override {
    programFolder_ = settings_.Folder() / "bin";
    fs::create_directories(programFolder_);
    host_.SetProgramPath((programFolder_ / "Tamri").string());
    tempFile_ = (programFolder_ / "FILE_DEV").string();
    localFile_ = (settings_.Folder() / "local.bin").string();
    host_.PressKeyAfter(0);
    Start();
    // Connected as a write needs it: the library has the window's callbacks.
    Connect();
    ASSERT_EQ(VendorLibraryHandle.load(), reinterpret_cast<QlibHandle>(1));
    phone_.ClearCalls();
    phone_.OnTransfer([this](const TransferReport&) {
      std::lock_guard lock(shownMutex_);
      shown_.push_back({Status(), ControlOf(IDC_PROGRESS).progress});
    });
  }

  std::string WriteLocal(std::size_t size) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string content(size, '\0');
    for (char& c : content) c = static_cast<char>(random());
    std::ofstream(localFile_, std::ios::binary) << content;
    return content;
  }

  // Waits for the write's thread and for the window to have handled what
  // it posted.
  void Settle() {
    efs_testing::JoinWriteThread();
    ui::headless::Sync(window_);
  }

  std::vector<Shown> ShownSoFar() {
    std::lock_guard lock(shownMutex_);
    return shown_;
  }
  int Count(const std::string& name) const { return static_cast<int>(phone_.CallsOf(name).size()); }

  // The dialog after a result: idle, buttons on, library disconnected,
  // device found; `results` result commands handled.
  void ExpectIdleAfterResults(int results) {
    EXPECT_EQ(dialog_->TransferBusy, 0);
    EXPECT_TRUE(Enabled(IDOK_BUTTON));
    EXPECT_TRUE(Enabled(IDC_UPLOAD_IMAGE));
    EXPECT_EQ(ControlOf(IDC_PROGRESS).progress, 0);
    EXPECT_EQ(DeviceState, StateFound);
    EXPECT_EQ(Count("DisconnectServer"), results);
    EXPECT_EQ(Count("DisconnectAllServers"), results);
  }

  fs::path programFolder_;
  std::string tempFile_;
  std::string localFile_;
  std::mutex shownMutex_;
  std::vector<Shown> shown_;
};

TEST_F(EfsWriteTest, TheFileArrivesAfterAnEmptyFileDevOneSecondEarlier) {
  const std::string content = WriteLocal(4000);
  std::optional<std::string> beforeRealWrite;
  phone_.OnEfsWrite([&](int index, const std::string&, const std::string& efs) {
    if (index == 1) beforeRealWrite = phone_.EfsFile(efs);
  });
  EXPECT_FALSE(Enabled(IDOK_BUTTON));  // not found yet: the write does not need it

  ASSERT_EQ(StartEfs(kEfsPath, localFile_), 1);
  Settle();

  EXPECT_EQ(phone_.EfsFile(kEfsPath), content);
  EXPECT_EQ(beforeRealWrite, std::string());
  const auto writes = phone_.CallsOf("EfsWrite");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].text, "EfsWrite(1," + tempFile_ + "," + kEfsPath + ")");
  EXPECT_EQ(writes[1].text, "EfsWrite(1," + localFile_ + "," + kEfsPath + ")");
  EXPECT_GE(static_cast<uint32_t>(writes[1].tick - writes[0].tick), 1000u);
  EXPECT_EQ(phone_.CallTexts(),
            (std::vector<std::string>{"SetEfsReadAndWritePacketSize(1,1000,1500)",
                                      "SetSendDataSerialWriteSizeLimit(1,1500)", writes[0].text, writes[1].text,
                                      "DisconnectServer(1)", "DisconnectAllServers"}));

  // The packets of 1500 bytes, each shown with the percentage of 4000.
  const std::vector<Shown> expected = {{"Write EFS: 0 Bytes Transferred.", 0},
                                       {"Write EFS: 1500 Bytes Transferred.", 37},
                                       {"Write EFS: 3000 Bytes Transferred.", 75},
                                       {"Write EFS: 4000 Bytes Transferred.", 100}};
  EXPECT_EQ(ShownSoFar(), expected);
  for (const TransferReport& report : phone_.Transfers()) EXPECT_EQ(report.returned, 1);

  EXPECT_EQ(Status(), "Write EFS file successfully!");
  ExpectIdleAfterResults(1);
  EXPECT_FALSE(fs::exists(tempFile_));

  const std::string dump = host_.Dump();
  const auto start = dump.find("EFS WRITE:  EFS: " + localFile_ + "to phone: " + kEfsPath + "\n");
  const auto temp = dump.find("WRITE TEMP FILE_DEV: PASS\n");
  const auto done = dump.find("EFS WRITE: PASS\n");
  ASSERT_NE(start, std::string::npos);
  EXPECT_LT(start, temp);
  EXPECT_LT(temp, done);
  EXPECT_NE(done, std::string::npos);
}

struct FailureCase {
  const char* name;
  std::vector<bool> writeResults;
  // Prepares the program folder, or changes things during a write.
  std::function<void()> prepare;
  std::string dumpPattern;  // a regular expression the debug dump must match somewhere
  int writes;               // EfsWrite calls
  bool tempLeft;
};

void MakeDirectoryWithAFile(const std::string& path) {
  fs::remove(path);
  fs::create_directories(path);
  std::ofstream(fs::path(path) / "held") << "x";
}

TEST_F(EfsWriteTest, EveryFailurePostsOneFailedResult) {
  const std::vector<FailureCase> cases = {
      {"the temporary write fails", {false}, nullptr, "WRITE TEMP FILE_DEV: FAIL\n", 1, true},
      {"the real write fails", {true, false}, nullptr, "WRITE TEMP FILE_DEV: PASS\nEFS WRITE: FAIL\n", 2, false},
      {"FILE_DEV cannot be created", {true},
       [this] { MakeDirectoryWithAFile(tempFile_); },
       "File could not be opened " + std::to_string(EISDIR) + "\n", 0, true},
      {"FILE_DEV cannot be removed after a good write", {true},
       [this] {
         phone_.OnEfsWrite([this](int, const std::string& local, const std::string&) {
           if (local == localFile_) MakeDirectoryWithAFile(tempFile_);
         });
       },
       "EFS WRITE: PASS\n(.|\n)*File could not be opened [1-9][0-9]*\n", 2, true},
      {"FILE_DEV's path is too long", {true},
       [this] { host_.SetProgramPath((programFolder_ / std::string(250, 'd') / "Tamri").string()); },
       "WRITE TEMP FILE_DEV: FAIL, its path beside the program is unknown or longer than 259 characters\n", 0,
       false},
      {"the program's path is unknown", {true}, [this] { host_.SetProgramPath(""); },
       "WRITE TEMP FILE_DEV: FAIL, its path beside the program is unknown", 0, false},
  };
  WriteLocal(100);
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code error;
    fs::remove_all(tempFile_, error);
    host_.SetProgramPath((programFolder_ / "Tamri").string());
    phone_.OnEfsWrite(nullptr);
    phone_.ClearCalls();
    host_.ClearDump();
    phone_.SetEfsWriteResults(c.writeResults);
    DeviceState = StateSearchingPorts;
    ui::SetWindowText(dialog_->Item(IDC_STATUS_TEXT), "before");
    if (c.prepare) c.prepare();

    ASSERT_EQ(StartEfs(kEfsPath, localFile_), 1);
    Settle();

    EXPECT_EQ(Count("EfsWrite"), c.writes);
    EXPECT_TRUE(std::regex_search(host_.Dump(), std::regex(c.dumpPattern))) << host_.Dump();
    EXPECT_EQ(Status(), "Write EFS file fail!");
    ExpectIdleAfterResults(1);
    EXPECT_EQ(fs::exists(tempFile_), c.tempLeft);
  }
}

TEST_F(EfsWriteTest, RefusalsComeBeforeAnythingIsSent) {
  const std::string missing = (settings_.Folder() / "missing.bin").string();
  WriteLocal(10);
  const std::string longLocal = (settings_.Folder() / std::string(260, 'l')).string();
  struct RefusalCase {
    std::string efsPath;
    std::string localFile;
    std::string box;
  };
  const std::vector<RefusalCase> cases = {
      {kEfsPath, missing, missing + " doesn't exist!"},
      {kEfsPath, "", " doesn't exist!"},
      {std::string(260, 'e'), localFile_, "The EFS path is too long: at most 259 characters are possible."},
      {kEfsPath, longLocal, "The local file path is too long: at most 259 characters are possible."},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.box);
    boxes_.Expect(c.box, ui::IdOk);
    EXPECT_EQ(StartEfs(c.efsPath, c.localFile), 0);
  }
  ASSERT_EQ(boxes_.Shown().size(), cases.size());
  EXPECT_EQ(boxes_.Shown()[0].flags, ui::MbOk | ui::MbIconExclamation);
  EXPECT_TRUE(phone_.CallTexts().empty());
  EXPECT_EQ(EfsJob.EfsPath[0], '\0');
  EXPECT_EQ(host_.Dump(), "");
}

TEST_F(EfsWriteTest, PathsOf259CharactersFitTheJob) {
  WriteLocal(10);
  std::string efs(259, 'e');
  efs[0] = '/';
  ASSERT_EQ(StartEfs(efs, localFile_), 1);
  Settle();
  EXPECT_EQ(std::string(EfsJob.EfsPath), efs);
  EXPECT_TRUE(phone_.EfsFile(efs).has_value());
}

TEST_F(EfsWriteTest, ASecondStartWhileOneRunsIsRefused) {
  WriteLocal(3000);
  Gate gate;
  phone_.OnEfsWrite([&](int index, const std::string&, const std::string&) {
    if (index == 0) gate.Arrive();
  });
  ASSERT_EQ(StartEfs(kEfsPath, localFile_), 1);
  ASSERT_TRUE(gate.WaitArrived());
  EXPECT_EQ(StartEfs("/other", localFile_), 0);
  EXPECT_STREQ(EfsJob.EfsPath, kEfsPath);
  gate.Open();
  Settle();
  EXPECT_EQ(Count("EfsWrite"), 2);
  EXPECT_EQ(Status(), "Write EFS file successfully!");
  // Once its result is in, the next write starts.
  ASSERT_EQ(StartEfs("/other", localFile_), 1);
  Settle();
  EXPECT_EQ(phone_.EfsFile("/other"), phone_.EfsFile(kEfsPath));
}

TEST_F(EfsWriteTest, AResultAfterTheDialogEndedGoesNowhere) {
  WriteLocal(3000);
  Gate gate;
  phone_.OnEfsWrite([&](int index, const std::string&, const std::string&) {
    if (index == 1) gate.Arrive();
  });
  ASSERT_EQ(StartEfs(kEfsPath, localFile_), 1);
  ASSERT_TRUE(gate.WaitArrived());
  phone_.OnTransfer(nullptr);
  Finish();
  gate.Open();
  efs_testing::JoinWriteThread();
  EXPECT_EQ(phone_.Transfers().size(), 1u + 2u);  // the progress went to no window
  EXPECT_EQ(Count("DisconnectServer"), 0);
  EXPECT_NE(DeviceState, StateFound);
  EXPECT_FALSE(fs::exists(tempFile_));
}

TEST_F(EfsWriteTest, AnEmptyFileShowsNoProgress) {
  WriteLocal(0);
  ui::SetWindowText(dialog_->Item(IDC_STATUS_TEXT), "before");
  ASSERT_EQ(StartEfs(kEfsPath, localFile_), 1);
  Settle();
  const std::vector<TransferReport> reports = phone_.Transfers();
  ASSERT_EQ(reports.size(), 2u);
  for (const TransferReport& report : reports) EXPECT_EQ(report.returned, 0);
  EXPECT_EQ(ShownSoFar(), (std::vector<Shown>{{"before", 0}, {"before", 0}}));
  EXPECT_EQ(phone_.EfsFile(kEfsPath), std::string());
  EXPECT_EQ(Status(), "Write EFS file successfully!");
}

TEST_F(EfsWriteTest, ThePercentageOfLargeFilesDoesNotWrap) {
  struct PercentCase {
    uint32_t bytes;
    int32_t fileSize;
    int percent;
  };
  const std::vector<PercentCase> cases = {
      {0, 1000, 0},
      {999, 1000, 99},
      {1000, 1000, 100},
      {50'000'000, 100'000'000, 50},
      {43'000'000, 43'000'000, 100},
      {2'000'000'000, 2'147'483'647, 93},
      {4'294'967'295u, 1000, 100},  // more than the file: no more than full
  };
  EfsJob = EfsWriteJob{};
  EfsJob.WriteFlag = 1;
  EfsJob.StatusWnd = dialog_->Item(IDC_STATUS_TEXT);
  EfsJob.ProgressWnd = dialog_->Item(IDC_PROGRESS);
  for (const PercentCase& c : cases) {
    SCOPED_TRACE(c.bytes);
    EfsJob.FileSize = c.fileSize;
    EXPECT_EQ(EfsTransferStatusCallback("a", "b", 0, 0, c.bytes, 0, nullptr), 1);
    EXPECT_EQ(ControlOf(IDC_PROGRESS).progress, c.percent);
    EXPECT_EQ(Status(), "Write EFS: " + std::to_string(c.bytes) + " Bytes Transferred.");
  }
  EfsJob.WriteFlag = 0;
  EXPECT_EQ(EfsTransferStatusCallback("a", "b", 0, 0, 10, 10, nullptr), 1);
  EXPECT_EQ(Status(), "Read EFS: 10 Bytes Transferred.");
  // No size: nothing shown, false.
  EfsJob.FileSize = 0;
  ui::SendProgress(EfsJob.ProgressWnd, 33);
  EXPECT_EQ(EfsTransferStatusCallback("a", "b", 0, 0, 10, 10, nullptr), 0);
  EXPECT_EQ(ControlOf(IDC_PROGRESS).progress, 33);
  EXPECT_EQ(Status(), "Read EFS: 10 Bytes Transferred.");
}

TEST_F(EfsWriteTest, TheTransferCallbackDumpsEveryArgument) {
  EfsJob = EfsWriteJob{};
  host_.ClearDump();
  EXPECT_EQ(EfsTransferStatusCallback("/local/a.bin", "/efs/a", 3, -1, 1500, 4000,
                                      reinterpret_cast<void*>(uintptr_t{0x1234})),
            0);
  EXPECT_EQ(host_.Dump(), "-----------------\n"
                          "         SRC Name: /local/a.bin\n"
                          "         DST Name: /efs/a\n"
                          "        Operation: 3\n"
                          "       Sub Option: -1\n"
                          "Bytes Transferred: 1500\n"
                          "        File Size: 4000\n"
                          "          Context: 0x" +
                              std::string(2 * sizeof(void*) - 4, '0') + "1234\n");
}

TEST_F(EfsWriteTest, TheResultHandlersReturnTheDialogToIdle) {
  struct ResultCase {
    uint32_t command;
    int32_t writeFlag;
    const char* status;
  };
  const std::vector<ResultCase> cases = {
      {ID_EFS_FINISHED, 1, "Write EFS file successfully!"},
      {ID_EFS_FAILED, 1, "Write EFS file fail!"},
      {ID_EFS_FINISHED, 0, "Read EFS file successfully!"},
      {ID_EFS_FAILED, 0, "Read EFS file fail!"},
  };
  int results = 0;
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.status);
    EfsJob.WriteFlag = c.writeFlag;
    dialog_->TransferBusy = 1;
    DeviceState = StateSearchingPorts;
    ui::SendProgress(dialog_->Item(IDC_PROGRESS), 40);
    ui::headless::Command(window_, c.command);
    ui::headless::Sync(window_);
    EXPECT_EQ(Status(), c.status);
    ExpectIdleAfterResults(++results);
    EXPECT_EQ(VendorLibraryHandle.load(), reinterpret_cast<QlibHandle>(1));
  }
}

TEST_F(EfsWriteTest, TheFileDeviceBrowseTakesOnlyAFileNamedFileDev) {
  struct BrowseCase {
    std::optional<std::string> chosen;  // nothing: cancelled
    bool taken;
    bool refused;
  };
  const std::vector<BrowseCase> cases = {
      {"/data/MYFILE_DEV", true, false},  {"/data/file_dev", false, true}, {std::nullopt, false, false},
      {"/data/FILE_DEV", true, false},    {"/data/FILE_DEV.bin", false, true},
      {"FILE_DEV", true, false},          {"DEV", false, true},
  };
  std::vector<std::string> list = dialog_->UploadPathList;
  int selection = -1;
  for (const BrowseCase& c : cases) {
    SCOPED_TRACE(c.chosen.value_or("cancel"));
    ui::headless::SetOpenFileResponder([&] { return c.chosen; });
    if (c.refused) boxes_.Expect("Please specify a file named as \"FILE_DEV\"!", ui::IdOk);
    ui::headless::Command(window_, IDC_BROWSE_FILE_DEV);
    ui::headless::Sync(window_);
    if (c.taken) {
      list.push_back(*c.chosen);
      selection = static_cast<int>(list.size()) - 1;
    } else if (c.refused) {
      selection = -1;
    }
    EXPECT_EQ(dialog_->UploadPathList, list);
    EXPECT_EQ(dialog_->UploadPathSelection, selection);
  }
  ui::headless::SetOpenFileResponder(nullptr);
}

}  // namespace
