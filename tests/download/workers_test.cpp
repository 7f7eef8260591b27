#include "download/workers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "download/framing.h"
#include "download/images.h"
#include "handoff/scan_diag_port.h"
#include "download/status.h"
#include "download/steps.h"
#include "download/transport.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/serial.h"
#include "scripted_device.h"
#include "support/port_kit.h"
#include "testkit/serial_faults.h"
#include "ui/headless/ui_thread.h"

namespace download {
using handoff::ScanDiagPortHandle;
namespace {

namespace fs = std::filesystem;
using testdevice::Bytes;
using testdevice::Frame;
using testdevice::Request;
using testdevice::ScriptedDevice;
using Lines = std::vector<std::string>;

constexpr unsigned kCom = 11;
constexpr int kScale = 20;  // a hello reply still comes well within its second

Bytes RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Intel HEX of `bytes` in 16-byte data records and an end-of-file record.
std::string IntelHex(const Bytes& bytes) {
  std::string text;
  char field[8];
  for (size_t at = 0; at < bytes.size(); at += 16) {
    const size_t count = std::min<size_t>(16, bytes.size() - at);
    unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
    std::snprintf(field, sizeof field, ":%02X%04X", static_cast<unsigned>(count), static_cast<unsigned>(at & 0xFFFF));
    text += field;
    text += "00";
    for (size_t i = 0; i < count; ++i) {
      std::snprintf(field, sizeof field, "%02X", bytes[at + i]);
      text += field;
      sum += bytes[at + i];
    }
    std::snprintf(field, sizeof field, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    text += field;
  }
  return text + ":00000001FF\r\n";
}

// A transfer against the scripted device on COM11, with the firmware
// package in a fresh folder, the job's three windows on a headless UI thread,
// and every status line (and trace) taken from the dump.
class TransferWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    framing_testing::Reset();
    transport_testing::Reset();
    ScanDiagPortHandle.Clear();
    FreeImages();
    DeviceDiagMode = 0;
    // An upload reads only its last two blocks; the rest of the file is what
    // UploadBuffer holds.
    steps_testing::SetReadFlashStart(kUploadBytes - 2048);
    workers_testing::SetUploadFileFault(workers_testing::UploadFileFault::None);
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
    plat::SetDebugSink([this](plat::DebugChannel channel, std::string_view text) {
      if (channel != plat::DebugChannel::Dump) return;
      std::lock_guard lock(linesMutex_);
      lines_.emplace_back(text.substr(0, text.size() - 1));
    });

    folder_ = fs::temp_directory_path() / ("tamri-package-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directories(folder_));
    const std::string folder = folder_.string();
    ASSERT_LT(folder.size(), sizeof job_.ImagePath);
    folder.copy(job_.ImagePath, folder.size());
    job_.ComPort = kCom;
    job_.StatusWnd = ui_.NewWindow();
    job_.ProgressWnd = ui_.NewWindow();
    job_.DialogWnd = ui_.NewWindow();
    // The starters make the job current; a worker called directly shows
    // through it the same way.
    CurrentJob = &job_;
    ASSERT_TRUE(port_.Ok());
  }
  void TearDown() override {
    workers_testing::JoinWorkers();
    device_.reset();
    CurrentJob = nullptr;
    DeviceDiagMode = 0;
    FreeImages();
    steps_testing::SetReadFlashStart(0);
    workers_testing::SetUploadFileFault(workers_testing::UploadFileFault::None);
    plat::SetDebugSink(nullptr);
    plat::SetTimeScale(savedScale_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void StartDevice(ScriptedDevice::Handler handler = {}) {
    device_ = std::make_unique<ScriptedDevice>(port_, std::move(handler));
  }

  // The package as the worker finds it: name -> contents.
  void Put(const std::string& name, const std::string& contents) {
    std::ofstream(folder_ / name, std::ios::binary) << contents;
  }
  void Put(const std::string& name, const Bytes& contents) { Put(name, std::string(contents.begin(), contents.end())); }
  void PutPackage() {
    Put("armprg.hex", IntelHex(programmer_));
    Put("NuvoDownload.bin", image_);
  }

  // The path as the worker names it in its status lines.
  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  // What the device was sent: the programmer's blocks, and the image's.
  Bytes ProgrammerSent() const { return DataOf(0x0F, 7); }
  Bytes ImageSent() const { return DataOf(0x07, 5); }
  Bytes DataOf(uint8_t code, size_t header) const {
    Bytes data;
    for (const Request& r : device_->Requests()) {
      if (r.Code() == code && r.payload.size() > header) data.insert(data.end(), r.payload.begin() + header, r.payload.end());
    }
    return data;
  }
  std::vector<uint8_t> Codes() const {
    std::vector<uint8_t> codes;
    for (const Request& r : device_->Requests()) codes.push_back(r.Code());
    return codes;
  }

  Lines TakeLines() {
    std::lock_guard lock(linesMutex_);
    return std::exchange(lines_, {});
  }

  std::vector<uint32_t> Commands() {
    ui_.Flush();
    return ui::headless::Model(job_.DialogWnd)->commands;
  }

  static bool ImagesFreed() {
    for (const ImageSlot& slot : ImageTable) {
      if (slot.Data) return false;
    }
    return true;
  }

  // Nobody holds the port once a transfer has ended.
  static bool PortFree() {
    plat::PortHandle port = plat::SerialPort::Open(kCom);
    if (!port) return false;
    port->Close();
    return true;
  }

  testkit::TempDeviceRoot root_;
  testkit::TestPort port_{kCom};
  std::unique_ptr<ScriptedDevice> device_;
  ui::headless::UiThread ui_;
  DownloadJob job_;
  fs::path folder_;
  const Bytes programmer_ = RandomBytes(2500, 1);
  const Bytes image_ = RandomBytes(3000, 2);
  std::mutex linesMutex_;
  Lines lines_;
  int savedScale_ = 1;
};

// The lines of a run from the start of the table to the end of the hellos.
Lines LoadingLines(const char* begin) {
  return {begin,    "switch to download mode, please wait...", "send nop.", "send nop.", "go_cmd.", "go_cmd ok.",
          "Flash_type:NAND9", "Flash_type:NAND9"};
}

Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(TransferWorker, ADownloadThreadLoadsWritesResetsAndThenPostsTheFinish) {
  PutPackage();
  StartDevice();
  const uint32_t start = plat::GetTickCount();
  CurrentJob = nullptr;
  ASSERT_EQ(StartDownloadThread(&job_), 0);
  EXPECT_EQ(CurrentJob.load(), &job_);

  // The command comes once "download complete!" has been shown; the worker
  // then still waits 15 s.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ui::headless::Model(job_.DialogWnd)->commands.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const Lines expected = Join(LoadingLines("begin to download:"),
                              {"download Nuvo 34%\r", "download Nuvo 68%\r", "download Nuvo 100%\r",
                               "download Nuvo 100%", "reset", "download complete!"});
  EXPECT_EQ(TakeLines(), expected);
  EXPECT_EQ(ui::headless::Model(job_.StatusWnd)->text, "download complete!");
  workers_testing::JoinWorkers();
  EXPECT_GE(plat::GetTickCount() - start, 500u + 5000u + 15000u);

  EXPECT_EQ(Commands(), std::vector<uint32_t>{ID_DL_FINISH});
  EXPECT_EQ(ID_DL_FINISH, 32771u);
  EXPECT_EQ(ProgrammerSent(), programmer_);
  EXPECT_EQ(ImageSent(), image_);
  EXPECT_EQ(ui::headless::Model(job_.ProgressWnd)->progress, 100);
  EXPECT_TRUE(ImagesFreed());
  EXPECT_TRUE(PortFree());
  EXPECT_EQ(TakeLines(), Lines{}) << "nothing after the finish";
}

// Polls `done` for up to a minute of real time; false when it never held.
template <typename Done>
bool WaitFor(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// One transfer at a time: a start while a worker is in the middle of its
// table is refused and changes nothing of the running transfer.
TEST_F(TransferWorker, AStartWhileAWorkerRunsIsRefusedAndTheRunningTransferCompletes) {
  PutPackage();
  // At the first image block the device holds the job's UI thread, and so
  // the worker at its next status line, until the test lets go.
  std::promise<void> held;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> first{true};
  StartDevice([&](const Request& request, int) -> std::optional<std::string> {
    if (request.Code() == 0x07 && request.payload.size() > 1 && first.exchange(false)) {
      ui_.Post([&held, released] {
        held.set_value();
        released.wait_for(std::chrono::seconds(60));
      });
    }
    return std::nullopt;
  });
  CurrentJob = nullptr;
  ASSERT_EQ(StartDownloadThread(&job_), 0);
  ASSERT_EQ(held.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

  // Another job, with its own package and windows.
  const fs::path otherFolder = folder_ / "other";
  fs::create_directory(otherFolder);
  std::ofstream(otherFolder / "armprg.hex", std::ios::binary) << IntelHex(RandomBytes(700, 4));
  const Bytes otherImage = RandomBytes(1000, 5);
  std::ofstream(otherFolder / "NuvoDownload.bin", std::ios::binary)
      << std::string(otherImage.begin(), otherImage.end());
  DownloadJob other;
  const std::string otherPath = otherFolder.string();
  otherPath.copy(other.ImagePath, otherPath.size());
  other.ComPort = kCom;
  other.StatusWnd = ui_.NewWindow();
  other.ProgressWnd = ui_.NewWindow();
  other.DialogWnd = ui_.NewWindow();

  EXPECT_TRUE(TransferActive());
  EXPECT_EQ(StartDownloadThread(&other), 1);
  EXPECT_EQ(StartUploadThread(&other), 1);
  EXPECT_EQ(CurrentJob.load(), &job_);
  release.set_value();
  workers_testing::JoinWorkers();

  // The running transfer went on with its own job, to its end.
  EXPECT_EQ(TakeLines(), Join(LoadingLines("begin to download:"),
                              {"download Nuvo 34%\r", "download Nuvo 68%\r", "download Nuvo 100%\r",
                               "download Nuvo 100%", "reset", "download complete!"}));
  EXPECT_EQ(ProgrammerSent(), programmer_);
  EXPECT_EQ(ImageSent(), image_);
  EXPECT_EQ(Commands(), std::vector<uint32_t>{ID_DL_FINISH});
  EXPECT_EQ(ui::headless::Model(other.StatusWnd)->text, "");
  EXPECT_EQ(ui::headless::Model(other.DialogWnd)->commands, std::vector<uint32_t>{});
  EXPECT_FALSE(TransferActive());
}

// Once a transfer has ended, failed or completed, the next start runs, also
// while the ended worker still sits in its final wait.
TEST_F(TransferWorker, AStartAfterAnEndedTransferRuns) {
  PutPackage();
  struct Case {
    const char* what;
    bool firstFails;
    Lines firstEnd;
  };
  const Case cases[] = {
      {"after a failure", true, {"download error!"}},
      {"after a completed transfer", false, {"reset", "download complete!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // The first parameter request of the case is refused when it fails.
    std::atomic<bool> refuse{c.firstFails};
    StartDevice([&refuse](const Request& request, int) -> std::optional<std::string> {
      if (request.payload == Bytes{0x07} && refuse.exchange(false)) return Frame({0x03});
      return std::nullopt;
    });
    ASSERT_EQ(StartDownloadThread(&job_), 0);
    ASSERT_TRUE(WaitFor([] { return !TransferActive(); }));
    const Lines firstLines = TakeLines();
    ASSERT_GE(firstLines.size(), c.firstEnd.size());
    EXPECT_EQ(Lines(firstLines.end() - static_cast<std::ptrdiff_t>(c.firstEnd.size()), firstLines.end()), c.firstEnd);

    const size_t before = ImageSent().size();
    ASSERT_EQ(StartDownloadThread(&job_), 0);
    workers_testing::JoinWorkers();
    const Bytes sent = ImageSent();
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), image_);
    EXPECT_EQ(TakeLines().back(), "download complete!");
    EXPECT_EQ(Commands(), std::vector<uint32_t>(c.firstFails ? 1 : 2, ID_DL_FINISH));
    EXPECT_TRUE(PortFree());
    // A fresh window for the next case.
    job_.DialogWnd = ui_.NewWindow();
  }
}

TEST_F(TransferWorker, AFailedStepEndsWithTheWorkersTextAfterFiveSecondsWithoutAFinish) {
  PutPackage();
  // The parameter request is the first step in both starts.
  StartDevice([](const Request& request, int) -> std::optional<std::string> {
    if (request.payload == Bytes{0x07}) return Frame({0x03});
    return std::nullopt;
  });
  struct Case {
    int diagMode;
    std::vector<uint8_t> codes;
    Lines lines;
  };
  const Case cases[] = {
      {0,
       {0x3A, 0x06, 0x06, 0x07},
       {"begin to download:", "switch to download mode, please wait...", "send nop.", "send nop.", "download error!"}},
      // Found in its download mode: no DIAG switch, one no-operation.
      {1, {0x06, 0x07}, {"begin to download:", "send nop.", "download error!"}},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.diagMode);
    DeviceDiagMode = c.diagMode;
    const uint32_t start = plat::GetTickCount();
    EXPECT_EQ(DownloadWorker(&job_), 0);
    EXPECT_GE(plat::GetTickCount() - start, 500u + 5000u);
    const std::vector<uint8_t> codes = Codes();
    EXPECT_EQ(std::vector<uint8_t>(codes.begin() + static_cast<std::ptrdiff_t>(seen), codes.end()), c.codes);
    seen = codes.size();
    EXPECT_EQ(TakeLines(), c.lines);
    EXPECT_TRUE(ImagesFreed());
    EXPECT_TRUE(PortFree());
  }
  EXPECT_EQ(Commands(), std::vector<uint32_t>{});
}

TEST_F(TransferWorker, TheProgrammerIsArmprgHexElseNprg6246Hex) {
  const Bytes other = RandomBytes(1500, 3);
  struct Case {
    const char* what;
    std::string armprg;  // "" : no such file
    std::string nprg;
    const Bytes* sent;
  };
  const Case cases[] = {
      {"both: armprg.hex", IntelHex(programmer_), IntelHex(other), &programmer_},
      {"only NPRG6246.HEX", "", IntelHex(other), &other},
  };
  // Stopped at go_cmd, once the programmer is written.
  StartDevice([](const Request& request, int) -> std::optional<std::string> {
    if (request.Code() == 0x05) return Frame({0x03});
    return std::nullopt;
  });
  Put("NuvoDownload.bin", image_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(folder_ / "armprg.hex");
    if (!c.armprg.empty()) Put("armprg.hex", c.armprg);
    Put("NPRG6246.HEX", c.nprg);
    const size_t before = ProgrammerSent().size();
    EXPECT_EQ(DownloadWorker(&job_), 0);
    const Bytes sent = ProgrammerSent();
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()), *c.sent);
    EXPECT_EQ(TakeLines().back(), "download error!");
  }
}

TEST_F(TransferWorker, AFailedLoadEndsBeforeThePortIsOpened) {
  struct Case {
    const char* what;
    bool upload;
    std::vector<std::pair<std::string, std::string>> files;
    std::string line;
  };
  const std::string hex = IntelHex(programmer_);
  const std::string image(100, 'i');
  const Case cases[] = {
      {"no programmer", false, {{"NuvoDownload.bin", image}}, PathOf("NPRG6246.HEX") + " can't open!!!"},
      {"empty programmer", false, {{"armprg.hex", ""}, {"NuvoDownload.bin", image}},
       PathOf("NPRG6246.HEX") + " can't open!!!"},
      {"bad hex digit", false, {{"armprg.hex", ":0200000012G4E8\r\n"}, {"NuvoDownload.bin", image}},
       PathOf("armprg.hex") + " format error!!!"},
      {"record cut short", false, {{"NPRG6246.HEX", ":10000000AABB"}, {"NuvoDownload.bin", image}},
       PathOf("NPRG6246.HEX") + " format error!!!"},
      {"no device image", false, {{"armprg.hex", hex}}, PathOf("NuvoDownload.bin") + " can't open!!!"},
      {"upload, no programmer", true, {}, PathOf("NPRG6246.HEX") + " can't open!!!"},
      {"upload, bad hex digit", true, {{"armprg.hex", ":0200000012G4E8\r\n"}}, PathOf("armprg.hex") + " format error!!!"},
  };
  StartDevice();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"armprg.hex", "NPRG6246.HEX", "NuvoDownload.bin", "NuvoUpload.bin"}) fs::remove(folder_ / name);
    for (const auto& [name, contents] : c.files) Put(name, contents);
    EXPECT_EQ(c.upload ? UploadWorker(&job_) : DownloadWorker(&job_), 0);
    EXPECT_EQ(TakeLines(), Lines{c.line});
    EXPECT_TRUE(ImagesFreed());
    if (c.upload) {
      EXPECT_TRUE(fs::exists(folder_ / "NuvoUpload.bin"));
      EXPECT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), 0u);
    }
  }
  EXPECT_EQ(device_->RequestCount(), 0u);
  EXPECT_EQ(Commands(), std::vector<uint32_t>{});
}

TEST_F(TransferWorker, APortThatCannotBeOpenedEndsAtOnce) {
  plat::SetTimeScale(1);
  PutPackage();
  // Every open fails, as for a port that has gone (a COM number without a
  // device is not a portable way to get there: some platforms open another
  // line under that number).
  plat::serial_faults::FailOpens(-1);
  for (bool upload : {false, true}) {
    SCOPED_TRACE(upload);
    const uint32_t start = plat::GetTickCount();
    EXPECT_EQ(upload ? UploadWorker(&job_) : DownloadWorker(&job_), 0);
    EXPECT_LT(plat::GetTickCount() - start, 5000u);
    EXPECT_EQ(TakeLines(), Lines{"open com error!!!"});
    EXPECT_TRUE(ImagesFreed());
  }
  plat::serial_faults::Reset();
  EXPECT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), 0u);
  EXPECT_EQ(Commands(), std::vector<uint32_t>{});
}

TEST_F(TransferWorker, ACompletedUploadWritesExactly32MiB) {
  Put("armprg.hex", IntelHex(programmer_));
  Put("NuvoUpload.bin", std::string(100, 'x'));
  for (int32_t at = 0; at < kUploadBytes - 2048; at += 4096) UploadBuffer[at] = static_cast<uint8_t>(at >> 12);
  StartDevice();
  EXPECT_EQ(UploadWorker(&job_), 1);
  EXPECT_EQ(TakeLines(), Join(LoadingLines("begin to upload:"),
                              {"upload Nuvo 99%\r", "upload Nuvo 99%\r", "upload Nuvo 100%", "reset", "upload complete!"}));
  EXPECT_EQ(Commands(), std::vector<uint32_t>{ID_DL_FINISH});
  EXPECT_EQ(ProgrammerSent(), programmer_);
  EXPECT_TRUE(ImagesFreed());
  EXPECT_TRUE(PortFree());

  ASSERT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), static_cast<uintmax_t>(kUploadBytes));
  std::vector<char> written(kUploadBytes);
  std::ifstream(folder_ / "NuvoUpload.bin", std::ios::binary).read(written.data(), kUploadBytes);
  EXPECT_EQ(std::memcmp(written.data(), UploadBuffer, written.size()), 0);
  for (uint32_t at = kUploadBytes - 2048; at < static_cast<uint32_t>(kUploadBytes); ++at) {
    ASSERT_EQ(static_cast<uint8_t>(written[at]), testdevice::FlashByte(at)) << at;
  }
}

TEST_F(TransferWorker, AnUploadWhoseFileCannotBeWrittenStillCompletes) {
  Put("armprg.hex", IntelHex(programmer_));
  StartDevice();
  for (auto fault : {workers_testing::UploadFileFault::ShortWrite, workers_testing::UploadFileFault::CloseFails}) {
    SCOPED_TRACE(static_cast<int>(fault));
    workers_testing::SetUploadFileFault(fault);
    EXPECT_EQ(UploadWorker(&job_), 1);
    EXPECT_EQ(TakeLines().back(), "upload write error!");
  }
  EXPECT_EQ(Commands(), (std::vector<uint32_t>{ID_DL_FINISH, ID_DL_FINISH}));
}

TEST_F(TransferWorker, AFailedUploadLeavesAnEmptyFile) {
  Put("armprg.hex", IntelHex(programmer_));
  Put("NuvoUpload.bin", std::string(100, 'x'));
  StartDevice([](const Request& request, int) -> std::optional<std::string> {
    if (request.Code() == 0x06) return Frame({0x03});
    return std::nullopt;
  });
  EXPECT_EQ(UploadWorker(&job_), 0);
  EXPECT_EQ(TakeLines(), (Lines{"begin to upload:", "switch to download mode, please wait...", "send nop.",
                                "upload error!"}));
  EXPECT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), 0u);
  EXPECT_EQ(Commands(), std::vector<uint32_t>{});
  EXPECT_TRUE(PortFree());
}

TEST_F(TransferWorker, AnUploadFileThatCannotBeCreatedEndsTheUploadFirst) {
  Put("armprg.hex", IntelHex(programmer_));
  fs::create_directory(folder_ / "NuvoUpload.bin");
  StartDevice();
  ASSERT_EQ(StartUploadThread(&job_), 0);
  workers_testing::JoinWorkers();
  EXPECT_EQ(TakeLines(), Lines{PathOf("NuvoUpload.bin") + " can't Create!!!"});
  EXPECT_EQ(device_->RequestCount(), 0u);
  EXPECT_EQ(Commands(), std::vector<uint32_t>{});
}

// Steps that record their row and return what the case says.
std::vector<int> g_called;
int g_results[4];
template <int Row>
int RecordingStep() {
  g_called.push_back(Row);
  return g_results[Row];
}

TEST(StepRunner, StartsAtRow2InDownloadModeAndStopsAtTheFirstResultOtherThan1) {
  const StepFn table[] = {RecordingStep<0>, RecordingStep<1>, RecordingStep<2>, RecordingStep<3>, nullptr};
  struct Case {
    int diagMode;
    int results[4];
    int result;
    std::vector<int> called;
  };
  const Case cases[] = {
      {0, {1, 1, 1, 1}, 1, {0, 1, 2, 3}},
      {1, {1, 1, 1, 1}, 1, {2, 3}},
      {2, {1, 1, 1, 1}, 1, {0, 1, 2, 3}},  // only 1 means the download mode
      {0, {1, 0, 1, 1}, 0, {0, 1}},
      {0, {1, 1, -1, 1}, 0, {0, 1, 2}},
      {1, {1, 1, 2, 1}, 0, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.diagMode << " " << c.results[0] << c.results[1] << c.results[2] << c.results[3]);
    DeviceDiagMode = c.diagMode;
    std::copy(std::begin(c.results), std::end(c.results), g_results);
    g_called.clear();
    RxFrame.Count = 5;
    EXPECT_EQ(RunStepTable(table), c.result);
    EXPECT_EQ(g_called, c.called);
    EXPECT_EQ(RxFrame.Count, 0);
  }
  DeviceDiagMode = 0;
}

}  // namespace
}  // namespace download
