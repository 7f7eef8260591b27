#include "download/steps.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "download/framing.h"
#include "download/images.h"
#include "handoff/scan_diag_port.h"
#include "download/status.h"
#include "download/transport.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/thread.h"
#include "scripted_device.h"
#include "support/port_kit.h"
#include "ui/headless/ui_thread.h"

namespace download {
using handoff::ScanDiagPortHandle;
namespace {

using testdevice::Bytes;
using testdevice::Frame;
using testdevice::Request;
using testdevice::ScriptedDevice;
using Lines = std::vector<std::string>;

constexpr unsigned kCom = 9;
// Fast enough for the long pauses, slow enough that a reply comes well
// within the second after which a hello counts as unanswered.
constexpr int kScale = 20;
// For tests that only wait for limits to run out.
constexpr int kSilenceScale = 200;

Bytes Hex(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  for (std::string pair; in >> pair;) bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
  return bytes;
}

Bytes Pattern(size_t count, unsigned seed) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 253 + seed);
  return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

void SetImage(ImageIndex index, const Bytes& bytes) {
  ImageTable[index].Data = std::make_unique<uint8_t[]>(bytes.size() + 1);
  if (!bytes.empty()) std::memcpy(ImageTable[index].Data.get(), bytes.data(), bytes.size());
  ImageTable[index].Length = static_cast<int32_t>(bytes.size());
}

uint32_t ElapsedMs(uint32_t since) { return plat::GetTickCount() - since; }

// A step against the scripted device on COM9, with the job's windows on a
// headless UI thread and every status line (and trace) taken from the dump.
class ProtocolStep : public ::testing::Test {
 protected:
  void SetUp() override {
    framing_testing::Reset();
    transport_testing::Reset();
    ScanDiagPortHandle.Clear();
    FreeImages();
    steps_testing::SetReadFlashStart(0);
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
    plat::SetDebugSink([this](plat::DebugChannel channel, std::string_view text) {
      if (channel != plat::DebugChannel::Dump) return;
      std::lock_guard lock(linesMutex_);
      lines_.emplace_back(text.substr(0, text.size() - 1));  // without the "\n"
    });
    job_.StatusWnd = ui_.NewWindow();
    job_.ProgressWnd = ui_.NewWindow();
    CurrentJob = &job_;
    ASSERT_TRUE(port_.Ok());
  }
  void TearDown() override {
    CloseDownloadPort();
    device_.reset();
    CurrentJob = nullptr;
    FreeImages();
    steps_testing::SetReadFlashStart(0);
    plat::SetDebugSink(nullptr);
    plat::SetTimeScale(savedScale_);
  }

  // Starts the device and opens the engine's end of the port.
  void Start(ScriptedDevice::Handler handler = {}) {
    device_ = std::make_unique<ScriptedDevice>(port_, std::move(handler));
    ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  }

  // Status lines and traces since the last call.
  Lines TakeLines() {
    std::lock_guard lock(linesMutex_);
    return std::exchange(lines_, {});
  }

  std::vector<Bytes> Payloads() const {
    std::vector<Bytes> payloads;
    for (const Request& request : device_->Requests()) payloads.push_back(request.payload);
    return payloads;
  }

  int Progress() const { return ui::headless::Model(job_.ProgressWnd)->progress; }

  testkit::TempDeviceRoot root_;
  testkit::TestPort port_{kCom};
  std::unique_ptr<ScriptedDevice> device_;
  ui::headless::UiThread ui_;
  DownloadJob job_;
  std::mutex linesMutex_;
  Lines lines_;
  int savedScale_ = 1;
};

TEST_F(ProtocolStep, EachExchangeSendsItsRequestAndTakesTheExpectedReply) {
  SetImage(PartitionImage, Hex("AA 7E"));
  SetImage(OemsblHeaderImage, Hex("11 22"));
  SetImage(AmssHeaderImage, Hex("33"));
  const std::string magic = "QCOM fast download protocol host";
  const Bytes hello = Concat(Concat(Hex("01"), Bytes(magic.begin(), magic.end())), Hex("03 03 09"));
  struct Case {
    const char* name;
    StepFn step;
    Bytes request;
    bool leadingFlag;
    Lines lines;
  };
  const Case cases[] = {
      {"SwitchToDownloadMode", SwitchToDownloadMode, Hex("3A"), false, {"switch to download mode, please wait..."}},
      {"SendNop", SendNop, Hex("06"), true, {"send nop."}},
      {"ParamRequest", ParamRequest, Hex("07"), true, {}},
      {"go_cmd", go_cmd, Hex("05 10 00 00 00"), true, {"go_cmd.", "go_cmd ok."}},
      {"read_version", read_version, Hex("00"), false, {"Version:V1.2"}},
      {"SendHello", SendHello, hello, true, {"Flash_type:NAND9"}},
      {"ResetTarget", ResetTarget, Hex("0B"), true, {"reset"}},
      {"SetSecurityMode", SetSecurityMode, Hex("17 01"), true, {}},
      {"SendPartitionTable", SendPartitionTable, Hex("19 00 AA 7E"), true, {"download partition.mbn"}},
      {"OpenPbl", OpenPbl, Hex("1B 01"), true, {"download pbl.mbn"}},
      {"OpenQcsblhdCfgdata", OpenQcsblhdCfgdata, Hex("1B 02"), true, {"download qcsblhd_cfgdata.mbn"}},
      {"OpenQcsbl", OpenQcsbl, Hex("1B 03"), true, {"download qcsbl.mbn"}},
      {"OpenOemsbl", OpenOemsbl, Hex("1B 04 11 22"), true, {"download oemsbl.mbn"}},
      {"OpenAmss", OpenAmss, Hex("1B 05 33"), true, {}},
      {"CloseImage", CloseImage, Hex("15"), true, {}},
  };
  Start();
  size_t index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.step(), 1);
    const std::vector<Request> requests = device_->Requests();
    ASSERT_EQ(requests.size(), index + 1);
    EXPECT_EQ(requests[index].payload, c.request);
    EXPECT_EQ(requests[index].leadingFlag, c.leadingFlag);
    EXPECT_TRUE(requests[index].crcOk);
    EXPECT_EQ(TakeLines(), c.lines);
    ++index;
  }
}

TEST_F(ProtocolStep, SwitchToDownloadModeRunsTheBarForASecondAndSetsItBackTo0) {
  plat::SetTimeScale(50);  // divides the 50 ms steps, so none is shortened
  Start();
  ShowProgress(50);
  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(SwitchToDownloadMode(), 1);
  EXPECT_GE(ElapsedMs(start), 21u * 50u);
  EXPECT_EQ(Progress(), 0);
}

TEST_F(ProtocolStep, AWrongReplyCodeFailsTheStepWithItsText) {
  for (ImageIndex index : {DeviceImage, PblImage, QcsblhdCfgdataImage, QcsblImage, OemsblImage, ProgrammerImage}) {
    SetImage(index, Pattern(3000, index));
  }
  struct Case {
    const char* name;
    StepFn step;
    Lines lines;
  };
  const Case cases[] = {
      {"SwitchToDownloadMode", SwitchToDownloadMode, {"switch to download mode error!!!"}},
      {"SendNop", SendNop, {"send nop."}},
      {"ParamRequest", ParamRequest, {}},
      {"WriteProgrammer", WriteProgrammer, {}},
      {"go_cmd", go_cmd, {"go_cmd."}},
      {"read_version", read_version, {"read_version error!!!"}},
      {"SendHello", SendHello, {}},
      {"WriteAmss", WriteAmss, {"download Nuvo!"}},
      {"WritePbl", WritePbl, {"download pbl.mbn error!"}},
      {"WriteQcsblhdCfgdata", WriteQcsblhdCfgdata, {"download qcsblhd_cfgdata.mbn error!!!"}},
      {"WriteQcsbl", WriteQcsbl, {"download qcsbl.mbn error!"}},
      {"WriteOemsbl", WriteOemsbl, {"download oemsbl.mbn error!"}},
      {"ReadFlash", ReadFlash, {"upload Nuvo!"}},
      {"ResetTarget", ResetTarget, {"reset error!!!"}},
      {"SetSecurityMode", SetSecurityMode, {}},
      {"SendPartitionTable", SendPartitionTable, {"download partition.mbn error!"}},
      {"OpenPbl", OpenPbl, {"download pbl.mbn error!"}},
      {"OpenQcsblhdCfgdata", OpenQcsblhdCfgdata, {"download qcsblhd_cfgdata.mbn error!!!"}},
      {"OpenQcsbl", OpenQcsbl, {"download qcsbl.mbn error!"}},
      {"OpenOemsbl", OpenOemsbl, {"download oemsbl.mbn error!"}},
      {"OpenAmss", OpenAmss, {"download amss.mbn!"}},
      {"CloseImage", CloseImage, {}},
  };
  // 03 is the reply no step expects.
  Start([](const Request&, int) { return Frame({0x03, 0x00}); });
  size_t requests = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.step(), -1);
    EXPECT_EQ(device_->RequestCount(), ++requests) << "the first wrong reply ends the step";
    EXPECT_EQ(TakeLines(), c.lines);
  }
}

TEST_F(ProtocolStep, WithoutAReplyEveryStepButTheHelloGivesUpAfterItsLimit) {
  plat::SetTimeScale(kSilenceScale);
  for (ImageIndex index : {DeviceImage, PblImage, QcsblhdCfgdataImage, QcsblImage, OemsblImage, ProgrammerImage}) {
    SetImage(index, Pattern(100, index));
  }
  const StepFn steps[] = {SwitchToDownloadMode, SendNop,    ParamRequest,       WriteProgrammer, go_cmd,
                          read_version,         WriteAmss,  WritePbl,           WriteQcsblhdCfgdata,
                          WriteQcsbl,           WriteOemsbl, ReadFlash,         ResetTarget,     SetSecurityMode,
                          SendPartitionTable,   OpenPbl,    OpenQcsblhdCfgdata, OpenQcsbl,       OpenOemsbl,
                          OpenAmss,             CloseImage};
  Start([](const Request&, int) { return std::string(); });
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    const uint32_t start = plat::GetTickCount();
    EXPECT_EQ(steps[i](), 0);
    EXPECT_GE(ElapsedMs(start), kStepReplyLimitMs);
    for (const std::string& line : TakeLines()) {
      EXPECT_TRUE(line == "send nop." || line == "go_cmd.") << "no status line, only traces: " << line;
    }
  }
}

TEST_F(ProtocolStep, TheReplyLimitHoldsWhateverTheLineSends) {
  // How far past the limit the step may end: the wake-up of its last wait,
  // which at this scale (a real millisecond is 20 here) is a few real ones.
  constexpr uint32_t kSlackMs = 500;
  // A byte that closes no frame, this often: always before a second of
  // silence would have passed.
  constexpr uint32_t kTrickleMs = 900;
  struct Case {
    const char* name;
    std::string answer;  // sent at once to the request
    bool trickle;        // and from the start a byte every kTrickleMs
  };
  const Case cases[] = {
      {"silence", "", false},
      // More bytes than the step takes between two looks at the clock, and
      // no closing flag.
      {"a reply that never ends", std::string(3000, '\x41'), false},
      {"a byte now and then", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start([&c](const Request&, int) { return c.answer; });
    std::atomic<bool> stop{false};
    std::atomic<int> trickled{0};
    plat::Thread trickler;
    if (c.trickle) {
      ASSERT_TRUE(trickler.Start([&] {
        while (!stop) {
          if (port_.PeerWrite("\x41")) ++trickled;
          plat::Sleep(kTrickleMs);
        }
        return 0u;
      }));
    }
    const uint32_t start = plat::GetTickCount();
    EXPECT_EQ(SendNop(), 0);
    const uint32_t took = ElapsedMs(start);
    stop = true;
    trickler.Join();
    EXPECT_GE(took, kStepReplyLimitMs);
    EXPECT_LT(took, kStepReplyLimitMs + kSlackMs);
    if (c.trickle) {
      EXPECT_LE(trickled, static_cast<int>(kStepReplyLimitMs / kTrickleMs) + 2);
    }
    CloseDownloadPort();
    device_.reset();
    port_.PeerDrain();
  }
}

TEST_F(ProtocolStep, AnUnansweredHelloCountsAsSuccess) {
  Start([](const Request&, int) { return std::string(); });
  EXPECT_EQ(SendHello(), 1);
  EXPECT_EQ(SendHello(), 1);
  EXPECT_EQ(device_->CountOf(0x01), 2u);
  EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(ProtocolStep, SendNopGivesUpTenToElevenSecondsAfterItsRequestInRealTime) {
  plat::SetTimeScale(1);
  Start([](const Request&, int) { return std::string(); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendNop(), 0);
  const auto took = std::chrono::steady_clock::now() - start;
  // Counted in whole milliseconds of the tick, which may have been all but
  // over when the request went.
  EXPECT_GE(took, std::chrono::milliseconds(9999));
  EXPECT_LT(took, std::chrono::milliseconds(12500));
}

TEST_F(ProtocolStep, GoCmdReturnsFiveSecondsAfterTheAcknowledgementInRealTime) {
  plat::SetTimeScale(1);
  Start();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(go_cmd(), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(5000));
}

TEST_F(ProtocolStep, ARequestNotWrittenWholeEndsTheStepAtOnce) {
  // No port is open, so no request goes out; waiting for a reply would take
  // the whole limit, and the hello would even count its silence as success.
  plat::SetTimeScale(1);
  SetImage(DeviceImage, Pattern(2000, 1));
  const StepFn steps[] = {SendNop, SendHello, WriteAmss, ReadFlash, go_cmd, SwitchToDownloadMode};
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    const uint32_t start = plat::GetTickCount();
    EXPECT_EQ(steps[i](), 0);
    EXPECT_LT(ElapsedMs(start), 1000u);
  }
}

TEST_F(ProtocolStep, ARequestTooLongForAFrameIsRefusedWithoutWritingAnything) {
  Start();
  for (size_t size : {5000u, 70000u}) {  // past TxFrame once escaped; past TxPacket
    SCOPED_TRACE(size);
    SetImage(PartitionImage, Bytes(size, 0x7E));
    EXPECT_EQ(SendPartitionTable(), -1);
  }
  ASSERT_EQ(SendNop(), 1);
  EXPECT_EQ(Payloads(), std::vector<Bytes>{Hex("06")}) << "the nop is the first request the device saw";
}

TEST_F(ProtocolStep, WriteProgrammerSendsBlocksOf1017BytesFrom0x10000000) {
  struct Case {
    size_t length;
    std::vector<Bytes> headers;
  };
  const Case cases[] = {
      {2500, {Hex("0F 10 00 00 00 03 F9"), Hex("0F 10 00 03 F9 03 F9"), Hex("0F 10 00 07 F2 01 D2")}},
      {1017, {Hex("0F 10 00 00 00 03 F9")}},
      {1018, {Hex("0F 10 00 00 00 03 F9"), Hex("0F 10 00 03 F9 00 01")}},
      {0, {}},
  };
  Start();
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const Bytes image = Pattern(c.length, 7);
    SetImage(ProgrammerImage, image);
    EXPECT_EQ(WriteProgrammer(), 1);
    const std::vector<Bytes> payloads = Payloads();
    ASSERT_EQ(payloads.size(), seen + c.headers.size());
    size_t offset = 0;
    for (const Bytes& header : c.headers) {
      const Bytes& payload = payloads[seen++];
      const size_t block = payload.size() - 7;
      EXPECT_EQ(Slice(payload, 0, 7), header);
      EXPECT_EQ(Slice(payload, 7, block), Slice(image, offset, block));
      EXPECT_LE(payload.size(), 1024u);
      offset += block;
    }
    EXPECT_EQ(offset, c.length);
  }
  EXPECT_EQ(TakeLines(), Lines{}) << "writing the programmer shows nothing";
}

TEST_F(ProtocolStep, WriteAmssStreamsTheImageInBlocksOf1024WithPercentLines) {
  struct Case {
    size_t length;
    std::vector<Bytes> addresses;
    Lines percentLines;  // before the closing "download Nuvo 100%"
  };
  const Case cases[] = {
      // The divisor is the hundredth of the length, rounded down: 1024 / 10.
      {1024, {Hex("00 00 00 00")}, {"download Nuvo 102%\r"}},
      {1025, {Hex("00 00 00 00"), Hex("00 04 00 00")}, {"download Nuvo 102%\r", "download Nuvo 102%\r"}},
      // The hundredth of 150 is 1, so the last line shows 150.
      {150, {Hex("00 00 00 00")}, {"download Nuvo 150%\r"}},
      // Below 100 bytes the percent is reckoned directly.
      {99, {Hex("00 00 00 00")}, {"download Nuvo 100%\r"}},
      {1, {Hex("00 00 00 00")}, {"download Nuvo 100%\r"}},
      {10000,
       {Hex("00 00 00 00"), Hex("00 04 00 00"), Hex("00 08 00 00"), Hex("00 0C 00 00"), Hex("00 10 00 00"),
        Hex("00 14 00 00"), Hex("00 18 00 00"), Hex("00 1C 00 00"), Hex("00 20 00 00"), Hex("00 24 00 00")},
       {"download Nuvo 10%\r", "download Nuvo 20%\r", "download Nuvo 30%\r", "download Nuvo 40%\r",
        "download Nuvo 51%\r", "download Nuvo 61%\r", "download Nuvo 71%\r", "download Nuvo 81%\r",
        "download Nuvo 92%\r", "download Nuvo 100%\r"}},
  };
  Start();
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const Bytes image = Pattern(c.length, 3);
    SetImage(DeviceImage, image);
    EXPECT_EQ(WriteAmss(), 1);
    const std::vector<Bytes> payloads = Payloads();
    ASSERT_EQ(payloads.size(), seen + c.addresses.size());
    size_t offset = 0;
    for (const Bytes& address : c.addresses) {
      const Bytes& payload = payloads[seen++];
      const size_t block = payload.size() - 5;
      EXPECT_EQ(payload[0], 0x07);
      EXPECT_EQ(Slice(payload, 1, 4), address);
      EXPECT_EQ(Slice(payload, 5, block), Slice(image, offset, block));
      offset += block;
    }
    EXPECT_EQ(offset, c.length);
    Lines expected = c.percentLines;
    expected.push_back("download Nuvo 100%");
    EXPECT_EQ(TakeLines(), expected);
    EXPECT_EQ(Progress(), 100);
  }
}

TEST_F(ProtocolStep, TheOtherStreamWritesSendTheSameRequestsWithoutAnyLine) {
  const Bytes image = Pattern(1025, 5);
  SetImage(PblImage, image);
  Start();
  EXPECT_EQ(WritePbl(), 1);
  EXPECT_EQ(Payloads(), (std::vector<Bytes>{Concat(Hex("07 00 00 00 00"), Slice(image, 0, 1024)),
                                           Concat(Hex("07 00 04 00 00"), Slice(image, 1024, 1))}));
  EXPECT_EQ(TakeLines(), Lines{});
  EXPECT_EQ(WriteQcsbl(), 1) << "an entry that holds nothing sends nothing";
  EXPECT_EQ(device_->RequestCount(), 2u);
}

TEST_F(ProtocolStep, TheHelloShowsTheFlashNameAsFarAsTheFrameAndTheBufferGo) {
  const std::string name100(100, 'n');
  struct Case {
    const char* what;
    Bytes reply;
    std::string line;
  };
  const Case cases[] = {
      {"five characters", ScriptedDevice::HelloReply("NAND9"), "Flash_type:NAND9"},
      {"length 200, five characters in the frame", ScriptedDevice::HelloReply("NAND9", 200), "Flash_type:NAND9"},
      {"length 63", ScriptedDevice::HelloReply(name100, 63), "Flash_type:" + name100.substr(0, 63)},
      {"length 64 is cut to 63", ScriptedDevice::HelloReply(name100, 64), "Flash_type:" + name100.substr(0, 63)},
      {"length 0", ScriptedDevice::HelloReply("NAND9", 0), "Flash_type:"},
      {"no length byte in the frame", Hex("02 11 22 33"), "Flash_type:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start([&](const Request&, int) { return Frame(c.reply); });
    EXPECT_EQ(SendHello(), 1);
    EXPECT_EQ(TakeLines(), Lines{c.line});
    CloseDownloadPort();
    device_.reset();
  }
}

TEST_F(ProtocolStep, ReadVersionShowsTheFramesTextUpToANul) {
  const std::string longText(400, 'v');
  struct Case {
    const char* what;
    Bytes reply;
    std::string line;
  };
  const Case cases[] = {
      {"text and NUL", Concat(Hex("00"), Bytes{'V', '1', 0, 'x', 'y'}), "Version:V1"},
      {"text without NUL", Concat(Hex("00"), Bytes{'V', '2'}), "Version:V2"},
      {"no text", Hex("00"), "Version:"},
      {"longer than the status line", Concat(Hex("00"), Bytes(longText.begin(), longText.end())),
       ("Version:" + longText).substr(0, 259)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start([&](const Request&, int) { return Frame(c.reply); });
    EXPECT_EQ(read_version(), 1);
    EXPECT_EQ(TakeLines(), Lines{c.line});
    CloseDownloadPort();
    device_.reset();
  }
}

TEST_F(ProtocolStep, ThePartitionTableIsSentAgainWithTheOverrideFlagWhileTheDeviceAsks) {
  SetImage(PartitionImage, Hex("01 02"));
  struct Case {
    std::vector<uint8_t> statuses;  // answered in turn
    int result;
    std::vector<Bytes> requests;
    Lines lines;
  };
  const Case cases[] = {
      {{1, 1, 0}, 1, {Hex("19 00 01 02"), Hex("19 01 01 02"), Hex("19 01 01 02")}, {"download partition.mbn"}},
      {{2}, -1, {Hex("19 00 01 02")}, {"download partition.mbn error!"}},
  };
  for (const Case& c : cases) {
    Start([&](const Request&, int index) { return Frame({0x1A, c.statuses[static_cast<size_t>(index)]}); });
    EXPECT_EQ(SendPartitionTable(), c.result);
    EXPECT_EQ(Payloads(), c.requests);
    EXPECT_EQ(TakeLines(), c.lines);
    CloseDownloadPort();
    device_.reset();
  }
}

TEST_F(ProtocolStep, ReadFlashReadsUpToTheLastBlockAt0x01FFFC00) {
  constexpr int32_t kFirst = kUploadBytes - 3 * 1024;
  steps_testing::SetReadFlashStart(kFirst);
  Start();
  EXPECT_EQ(ReadFlash(), 1);
  EXPECT_EQ(Payloads(), (std::vector<Bytes>{Hex("03 00 F4 FF 01 00 04"), Hex("03 00 F8 FF 01 00 04"),
                                           Hex("03 00 FC FF 01 00 04")}));
  EXPECT_EQ(TakeLines(), (Lines{"upload Nuvo 99%\r", "upload Nuvo 99%\r", "upload Nuvo 99%\r", "upload Nuvo 100%"}));
  EXPECT_EQ(Progress(), 100);
  for (int32_t at = kFirst; at < kUploadBytes; ++at) {
    ASSERT_EQ(UploadBuffer[at], testdevice::FlashByte(static_cast<uint32_t>(at))) << at;
  }
}

// The first answer for the block at 1024 is damaged, the second whole; the
// block at 3072 is answered with code 03, which ends the read.
TEST_F(ProtocolStep, ReadFlashAsksAgainForAShortLongOrCorruptedBlock) {
  const Bytes good = ScriptedDevice::ReadReply(Hex("03 00 04 00 00 00 04"));
  struct Case {
    const char* what;
    std::string damaged;
  };
  const Case cases[] = {
      {"1030 stored bytes", Frame(Slice(good, 0, good.size() - 1))},
      {"1032 stored bytes", Frame(Concat(good, Hex("00")))},
      {"wrong CRC", Frame(good, true)},
      {"damaged data, CRC of the original", [&] {
         std::string wire = Frame(good);
         // A data byte whose change neither adds nor removes a flag or escape.
         const auto plain = [](char c) { return (static_cast<uint8_t>(c) & 0xFC) != 0x7C; };
         size_t at = 20;
         while (!plain(wire[at]) || !plain(wire[at - 1])) ++at;
         wire[at] = static_cast<char>(wire[at] ^ 0x01);
         return wire;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start([&](const Request& request, int index) -> std::optional<std::string> {
      if (index == 1) return c.damaged;
      if (request.payload[2] == 0x0C) return Frame({0x03});
      return std::nullopt;
    });
    EXPECT_EQ(ReadFlash(), -1);
    EXPECT_EQ(Payloads(), (std::vector<Bytes>{Hex("03 00 00 00 00 00 04"), Hex("03 00 04 00 00 00 04"),
                                               Hex("03 00 04 00 00 00 04"), Hex("03 00 08 00 00 00 04"),
                                               Hex("03 00 0C 00 00 00 04")}));
      EXPECT_EQ(TakeLines(), (Lines{"upload Nuvo 0%\r", "upload Nuvo!", "upload Nuvo 0%\r", "upload Nuvo 0%\r",
                                    "upload Nuvo!"}));
    EXPECT_EQ(std::memcmp(&UploadBuffer[1024], &good[5], 1024), 0) << "only the whole block is kept";
    CloseDownloadPort();
    device_.reset();
  }
}

TEST_F(ProtocolStep, ReadFlashAsksForOneBlockAtMostTenTimesInARow) {
  struct Case {
    int shortReplies;
    int result;
    size_t requests;
  };
  // After the block at 1024 the device answers 03, so a run that goes on
  // ends there.
  const Case cases[] = {{9, -1, 1 + 10 + 1}, {10, -1, 1 + 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shortReplies);
    int shortSent = 0;
    Start([&](const Request& request, int) -> std::optional<std::string> {
      if (request.payload[2] == 0x04 && shortSent < c.shortReplies) {
        ++shortSent;
        return Frame(Hex("04 00 04 00 00 AA"));
      }
      if (request.payload[2] == 0x08) return Frame({0x03});
      return std::nullopt;
    });
    EXPECT_EQ(ReadFlash(), c.result);
    EXPECT_EQ(device_->RequestCount(), c.requests);
    size_t shortLines = 0;
    for (const std::string& line : TakeLines()) shortLines += line == "upload Nuvo!";
    EXPECT_EQ(shortLines, static_cast<size_t>(c.shortReplies) + (c.shortReplies < 10 ? 1 : 0));
    CloseDownloadPort();
    device_.reset();
  }
}

TEST_F(ProtocolStep, Delay15SecondsSendsNothing) {
  plat::SetTimeScale(kSilenceScale);
  Start();
  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(Delay15Seconds(), 1);
  EXPECT_GT(ElapsedMs(start), 15000u);
  EXPECT_EQ(device_->RequestCount(), 0u);
}

TEST(StepTables, BothRunTheSameTenStepsButForRow8) {
  const StepFn download[] = {SwitchToDownloadMode, SendNop, SendNop, ParamRequest, WriteProgrammer, go_cmd,
                             SendHello,            SendHello, WriteAmss, ResetTarget, nullptr};
  const StepFn upload[] = {SwitchToDownloadMode, SendNop, SendNop, ParamRequest, WriteProgrammer, go_cmd,
                           SendHello,            SendHello, ReadFlash, ResetTarget, nullptr};
  for (int row = 0; row < 11; ++row) {
    EXPECT_EQ(DownloadSteps[row], download[row]) << row;
    EXPECT_EQ(UploadSteps[row], upload[row]) << row;
  }
}

}  // namespace
}  // namespace download
