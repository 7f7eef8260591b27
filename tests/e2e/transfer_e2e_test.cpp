// Whole transfers, as the window starts them, against the simulated device
// over pseudo-terminals: what ends up in the device's flash and RAM and in
// "NuvoUpload.bin", what the window is told and in which order, and how each
// way of misbehaving ends. The system's pauses run at a raised time scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "download/framing.h"
#include "download/images.h"
#include "handoff/scan_diag_port.h"
#include "download/status.h"
#include "download/transport.h"
#include "download/workers.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/serial.h"
#include "sim/device.h"
#include "sim/package.h"
#include "support/port_kit.h"
#include "ui/headless/ui_thread.h"

namespace {

namespace fs = std::filesystem;
using download::DeviceDiagMode;

constexpr unsigned kCom = 11;
constexpr int kScale = 10;
constexpr uint32_t kFlashBytes = 33554432;

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Transfer : public ::testing::Test {
 protected:
  void SetUp() override {
    download::framing_testing::Reset();
    download::transport_testing::Reset();
    handoff::ScanDiagPortHandle.Clear();
    download::FreeImages();
    DeviceDiagMode = 0;
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
    plat::SetDebugSink([this](plat::DebugChannel channel, std::string_view text) {
      if (channel != plat::DebugChannel::Dump || text.empty()) return;
      std::lock_guard lock(linesMutex_);
      lines_.emplace_back(text.substr(0, text.size() - 1));
    });
    folder_ = fs::path(root_.Path()) / "package";
    fs::create_directories(folder_);
    job_.StatusWnd = ui_.NewWindow();
    job_.ProgressWnd = ui_.NewWindow();
    job_.DialogWnd = ui_.NewWindow();
    job_.ComPort = kCom;
    std::snprintf(job_.ImagePath, sizeof job_.ImagePath, "%s", folder_.string().c_str());
  }

  void TearDown() override {
    download::workers_testing::JoinWorkers();
    download::CloseDownloadPort();
    if (device_) device_->Stop();
    handoff::ScanDiagPortHandle.Clear();
    CurrentJob = nullptr;
    plat::SetDebugSink(nullptr);
    plat::SetTimeScale(savedScale_);
  }

  // Plugs in a device and writes a package whose image has `imageSize` bytes.
  void Plug(sim::Config config, size_t imageSize = 5000) {
    config.com = kCom;
    config.flashPath = (fs::path(root_.Path()) / "flash.bin").string();
    config.resetSilenceMs = 200;
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    sim::PackageSpec spec;
    spec.imageSize = imageSize;
    spec.programmerSize = 2500;
    ASSERT_TRUE(sim::WritePackage(folder_.string(), spec, package_));
  }

  int RunDownload() {
    EXPECT_EQ(download::StartDownloadThread(&job_), 0);
    download::workers_testing::JoinWorkers();
    ui_.Flush();
    return Finished() ? 1 : 0;
  }

  int RunUpload() {
    EXPECT_EQ(download::StartUploadThread(&job_), 0);
    download::workers_testing::JoinWorkers();
    ui_.Flush();
    return Finished() ? 1 : 0;
  }

  bool Finished() const {
    const auto dialog = ui::headless::Model(job_.DialogWnd);
    return dialog && dialog->commands == std::vector<uint32_t>{ID_DL_FINISH};
  }

  std::vector<std::string> Lines() {
    std::lock_guard lock(linesMutex_);
    return lines_;
  }
  bool Shown(const std::string& line) {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::string LastLine() {
    const auto lines = Lines();
    return lines.empty() ? "" : lines.back();
  }
  std::string StatusText() { return ui::headless::Model(job_.StatusWnd)->text; }

  bool FlashHoldsImage() {
    return device_->FlashBytes(0, static_cast<uint32_t>(package_.image.size())) == package_.image;
  }

  testkit::TempDeviceRoot root_;
  ui::headless::UiThread ui_;
  DownloadJob job_;
  fs::path folder_;
  std::unique_ptr<sim::Device> device_;
  sim::Package package_;
  int savedScale_ = 1;
  std::mutex linesMutex_;
  std::vector<std::string> lines_;
};

TEST_F(Transfer, DownloadWritesTheImageAndTheProgrammerAndEndsWithTheFinishCommand) {
  Plug({}, 300001);  // not a whole number of blocks
  ASSERT_EQ(RunDownload(), 1);

  EXPECT_TRUE(FlashHoldsImage());
  EXPECT_EQ(device_->RamBytes(sim::kRamBase, static_cast<uint32_t>(package_.programmer.size())),
            package_.programmer);
  EXPECT_EQ(device_->GetStatus().badCrc, 0u);
  EXPECT_EQ(StatusText(), "download complete!");

  // Every image byte written once, in order, and nothing outside the image.
  uint32_t next = 0;
  for (const sim::WriteRecord& write : device_->WriteLog()) {
    if (write.memory != sim::Memory::Flash) continue;
    EXPECT_EQ(write.address, next);
    next = write.address + write.length;
  }
  EXPECT_EQ(next, package_.image.size());

  // The window's story, in order.
  const std::vector<std::string> milestones = {"begin to download:",
                                               "switch to download mode, please wait...",
                                               "Flash_type:NUVO-SIM-NAND-256",
                                               "Flash_type:NUVO-SIM-NAND-256",
                                               "download Nuvo 100%",
                                               "reset",
                                               "download complete!"};
  const auto lines = Lines();
  auto at = lines.begin();
  for (const std::string& milestone : milestones) {
    at = std::find(at, lines.end(), milestone);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << milestone;
    ++at;
  }
  EXPECT_EQ(lines.back(), "download complete!");

  // The device saw the DIAG switch first, the programmer started before the
  // first hello with its five seconds to come up, and a reset at the end.
  const auto transcript = device_->Transcript();
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript.front().step, sim::Step::Switch);
  EXPECT_FALSE(transcript.front().leadingFlag);
  const auto go = std::find_if(transcript.begin(), transcript.end(),
                               [](const sim::TranscriptEntry& e) { return e.step == sim::Step::Go; });
  const auto hello = std::find_if(go, transcript.end(),
                                  [](const sim::TranscriptEntry& e) { return e.step == sim::Step::Hello; });
  ASSERT_NE(hello, transcript.end());
  EXPECT_GE(hello->arrived.tick - go->replied.tick, 5000u);
  EXPECT_EQ(transcript.back().step, sim::Step::Reset);
  EXPECT_TRUE(device_->WaitForResets(1, 5000));
}

TEST_F(Transfer, ADeviceFoundInDownloadModeStartsAtTheSecondNoOperation) {
  sim::Config config;
  config.initialState = sim::State::Dmss;
  Plug(config);
  DeviceDiagMode = 1;
  ASSERT_EQ(RunDownload(), 1);
  const auto transcript = device_->Transcript();
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript.front().step, sim::Step::Nop);
  EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                          [](const sim::TranscriptEntry& e) { return e.step == sim::Step::Nop; }),
            1);
  EXPECT_TRUE(FlashHoldsImage());
}

// The whole flash comes back, with every byte the framing must escape.
TEST_F(Transfer, UploadReadsTheWholeFlashIntoTheFile) {
  sim::Config config;
  config.fill = sim::Fill::Escapes;
  Plug(config);
  // The file is emptied at the start; a stale one must not survive.
  std::ofstream(folder_ / "NuvoUpload.bin") << "stale";
  device_->AddKnob({sim::Fault::ShortRead, sim::Step::Read, -1, 100, 2, 0});
  device_->AddKnob({sim::Fault::BadCrc, sim::Step::Read, -1, 5000, 2, 0});
  ASSERT_EQ(RunUpload(), 1);
  EXPECT_EQ(StatusText(), "upload complete!");
  const auto file = ReadWholeFile(folder_ / "NuvoUpload.bin");
  ASSERT_EQ(file.size(), kFlashBytes);
  EXPECT_TRUE(file == device_->FlashBytes(0, kFlashBytes));
}

TEST_F(Transfer, TheScannedPortIsAdoptedAndReleased) {
  Plug({});
  plat::PortHandle scanned = plat::SerialPort::Open(kCom);
  ASSERT_TRUE(scanned);
  handoff::ScanDiagPortHandle.Put(scanned, kCom);
  ASSERT_EQ(RunDownload(), 1);
  EXPECT_FALSE(scanned->IsOpen());
  EXPECT_FALSE(handoff::ScanDiagPortHandle.Take().Port);
  // The port is free again for the next transfer.
  EXPECT_TRUE(plat::SerialPort::Open(kCom));
}

TEST_F(Transfer, AScannedPortOfAnotherNumberIsClosedAndTheJobsPortOpened) {
  Plug({});
  testkit::TestPort other(kCom + 1);
  ASSERT_TRUE(other.Ok());
  plat::PortHandle scanned = plat::SerialPort::Open(kCom + 1);
  ASSERT_TRUE(scanned);
  handoff::ScanDiagPortHandle.Put(scanned, kCom + 1);
  ASSERT_EQ(RunDownload(), 1);
  EXPECT_FALSE(scanned->IsOpen());
  EXPECT_TRUE(FlashHoldsImage());
}

// Each way of misbehaving ends in a known text and result, and whatever the
// outcome, a transfer reported complete carries the right bytes.
struct Misbehaviour {
  const char* name;
  sim::Knob knob;
  bool upload;
  int result;
  const char* stepText;   // a line the failing step shows, or null
  const char* finalText;  // the window's last status
};

void PrintTo(const Misbehaviour& m, std::ostream* out) { *out << m.name; }

class TransferFault : public Transfer, public ::testing::WithParamInterface<Misbehaviour> {};

TEST_P(TransferFault, EndsAsExpected) {
  const Misbehaviour& m = GetParam();
  Plug({});
  device_->AddKnob(m.knob);
  const int result = m.upload ? RunUpload() : RunDownload();
  EXPECT_EQ(result, m.result);
  if (m.stepText != nullptr) {
    EXPECT_TRUE(Shown(m.stepText)) << m.stepText;
  }
  EXPECT_EQ(StatusText(), m.finalText);
  EXPECT_EQ(LastLine(), m.finalText);
  if (result == 1 && !m.upload) {
    EXPECT_TRUE(FlashHoldsImage());
  }
  if (result == 1 && m.upload) {
    EXPECT_TRUE(ReadWholeFile(folder_ / "NuvoUpload.bin") == device_->FlashBytes(0, kFlashBytes));
  }
  if (result == 0 && m.upload) {
    EXPECT_EQ(fs::file_size(folder_ / "NuvoUpload.bin"), 0u);
  }
}

using F = sim::Fault;
using S = sim::Step;
constexpr uint32_t A = sim::kAlways;

INSTANTIATE_TEST_SUITE_P(
    Knobs, TransferFault,
    ::testing::Values(
        Misbehaviour{"SilentSwitch", {F::Silence, S::Switch, -1, 0, A, 0}, false, 0, nullptr, "download error!"},
        Misbehaviour{"WrongSwitchReply", {F::WrongCode, S::Switch, -1, 0, A, 0x13}, false, 0,
                     "switch to download mode error!!!", "download error!"},
        Misbehaviour{"SilentNop", {F::Silence, S::Nop, -1, 0, A, 0}, false, 0, nullptr, "download error!"},
        Misbehaviour{"NopNak", {F::WrongCode, S::Nop, -1, 0, A, 0x03}, false, 0, nullptr, "download error!"},
        Misbehaviour{"SilentProgrammerWrite", {F::Silence, S::WriteRam, -1, 1, 1, 0}, false, 0, nullptr,
                     "download error!"},
        Misbehaviour{"SilentGo", {F::Silence, S::Go, -1, 0, A, 0}, false, 0, nullptr, "download error!"},
        Misbehaviour{"SlowNop", {F::Delay, S::Nop, -1, 0, A, 3000}, false, 1, nullptr, "download complete!"},
        Misbehaviour{"HelloLongName", {F::HelloLongName, S::Hello, -1, 0, A, 0}, false, 1,
                     nullptr, "download complete!"},
        Misbehaviour{"HelloNameBeyondFrame", {F::HelloNameBeyondFrame, S::Hello, -1, 0, A, 0}, false, 1,
                     nullptr, "download complete!"},
        Misbehaviour{"SilentHellos", {F::Silence, S::Hello, -1, 0, A, 0}, false, 1, nullptr,
                     "download complete!"},
        Misbehaviour{"GapInsideWriteAck", {F::Gap, S::StreamWrite, -1, 0, 1, 500}, false, 1, nullptr,
                     "download complete!"},
        Misbehaviour{"WrongWriteAck", {F::WrongCode, S::StreamWrite, -1, 2, 1, 0x0D}, false, 0,
                     "download Nuvo!", "download error!"},
        Misbehaviour{"GarbageBeforeWriteAck", {F::Garbage, S::StreamWrite, -1, 1, 1, 4}, false, 0,
                     "download Nuvo!", "download error!"},
        Misbehaviour{"SilentWrite", {F::Silence, S::StreamWrite, -1, 3, 1, 0}, false, 0, nullptr,
                     "download error!"},
        Misbehaviour{"HangUpMidDownload", {F::HangUp, S::StreamWrite, -1, 2, 1, 0}, false, 0, nullptr,
                     "download error!"},
        Misbehaviour{"WrongResetAck", {F::WrongCode, S::Reset, -1, 0, A, 0x0D}, false, 0, "reset error!!!",
                     "download error!"},
        Misbehaviour{"SilentAfterReset", {F::SilenceAfterReset, S::Reset, -1, 0, A, sim::kForever}, false, 1,
                     "reset", "download complete!"},
        Misbehaviour{"ShortReadsForever", {F::ShortRead, S::Read, -1, 7, A, 0}, true, 0, "upload Nuvo!",
                     "upload error!"},
        Misbehaviour{"LongReadOnce", {F::LongRead, S::Read, -1, 7, 1, 0}, true, 1, "upload Nuvo!",
                     "upload complete!"},
        Misbehaviour{"BadReadCrcOnce", {F::BadCrc, S::Read, -1, 9, 1, 0}, true, 1, "upload Nuvo!",
                     "upload complete!"},
        Misbehaviour{"BadReadCrcForever", {F::BadCrc, S::Read, -1, 9, A, 0}, true, 0, "upload Nuvo!",
                     "upload error!"},
        // The noise closes as a frame of its own whose code is not a read
        // reply's: the upload ends, nothing unchecked reaches the file.
        Misbehaviour{"GarbageBeforeRead", {F::Garbage, S::Read, -1, 3, 1, 4}, true, 0, "upload Nuvo!",
                     "upload error!"},
        Misbehaviour{"HangUpMidUpload", {F::HangUp, S::Read, -1, 50, 1, 0}, true, 0, nullptr, "upload error!"}),
    [](const ::testing::TestParamInfo<Misbehaviour>& info) { return std::string(info.param.name); });

}  // namespace
