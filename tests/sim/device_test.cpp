// The simulated device over its port: the host side opens COM<n> as the
// system does and speaks frames built here.
#include "sim/device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host_line.h"
#include "plat/clock.h"
#include "plat/serial_map.h"
#include "sim/package.h"
#include "support/port_kit.h"

namespace {

using simtest::Bytes;
using simtest::Cat;
using simtest::Encode;
using simtest::Hex;
using simtest::HostLine;
using simtest::Le32;
using simtest::ReadFlash;
using simtest::Reply;
using simtest::StreamWrite;
using simtest::WriteRam;
using sim::State;
using sim::Step;

constexpr unsigned kCom = 7;
using simtest::kScale;
using simtest::kWaitMs;
using simtest::Text;

// The map entry that names COM<com>, if any.
bool Mapped(unsigned com) {
  const simtest::MapValues map = simtest::ReadMap();
  return std::find(map.begin(), map.end(), std::pair(sim::DefaultMapName(com), "COM" + std::to_string(com))) !=
         map.end();
}

class SimDevice : public ::testing::Test {
 protected:
  SimDevice() { plat::SetTimeScale(kScale); }
  ~SimDevice() override {
    host_.reset();
    device_.reset();
    plat::SetTimeScale(1);
  }

  sim::Config BaseConfig() const {
    sim::Config config;
    config.com = kCom;
    config.flashPath = root_.Path() + "/flash.bin";
    return config;
  }

  void StartDevice(const sim::Config& config) {
    device_ = std::make_unique<sim::Device>(config);
    std::string error;
    ASSERT_TRUE(device_->Start(&error)) << error;
    host_ = std::make_unique<HostLine>(kCom);
    ASSERT_TRUE(host_->Ok());
  }

  Bytes Exchange(const Bytes& payload, bool leadingFlag = true) { return host_->Exchange(payload, leadingFlag); }

  // From running firmware or download mode to the running programmer.
  void ToStreaming() {
    if (device_->GetState() == State::Diag) {
      ASSERT_EQ(Exchange({0x3A}, false), Bytes{0x3A});
    }
    ASSERT_EQ(Exchange(simtest::kGo), Bytes{0x02});
    ASSERT_EQ(device_->GetState(), State::Streaming);
  }

  // The transcript entry of the last frame once the device has answered it.
  sim::TranscriptEntry LastEntry(size_t frames) {
    EXPECT_TRUE(device_->WaitForFrames(frames, kWaitMs));
    const auto transcript = device_->Transcript(frames - 1);
    return transcript.empty() ? sim::TranscriptEntry{} : transcript.front();
  }

  testkit::TempDeviceRoot root_;
  std::unique_ptr<sim::Device> device_;
  std::unique_ptr<HostLine> host_;
};

void ExpectHelloReply(const Bytes& reply, const std::string& name) {
  ASSERT_EQ(reply.size(), 44 + name.size());
  EXPECT_EQ(reply[0], 0x02);
  EXPECT_EQ(reply[43], name.size());
  EXPECT_EQ(Bytes(reply.begin() + 44, reply.end()), Text(name));
  const Bytes fixed(reply.begin() + 1, reply.begin() + 43);
  EXPECT_NE(std::find(fixed.begin(), fixed.end(), 0x7E), fixed.end());
  EXPECT_NE(std::find(fixed.begin(), fixed.end(), 0x7D), fixed.end());
}

// The whole dialogue in order, each reply checked byte for byte on the wire:
// both flags, escapes, CRC.
TEST_F(SimDevice, AnswersEveryRequestOfTheDialogue) {
  sim::Config config = BaseConfig();
  config.resetSilenceMs = 1000000;  // stays in reset for the rest of the test
  StartDevice(config);

  const Bytes data = Hex("7E 7D 00 11 22 7E 33 44 55 66 77 88 99 AA BB 7D");
  Bytes readBack = Cat(Cat({0x04}, Le32(0x100)), data);
  readBack.resize(5 + 1024, 0xFF);
  struct Row {
    std::string label;
    Bytes request;
    bool leadingFlag;
    Bytes reply;  // empty: the hello, checked by its layout
    State after;
  };
  const std::vector<Row> rows{
      {"version", {0x00}, false, Cat({0x00}, Text("NUVO-SIM-1.0")), State::Diag},
      {"switch", {0x3A}, false, {0x3A}, State::Dmss},
      {"nop", {0x06}, true, {0x02}, State::Dmss},
      {"param", {0x07}, true, Hex("08 06 02 03 F9 7E 7D"), State::Dmss},
      {"write ram", WriteRam(sim::kRamBase, data), true, {0x02}, State::Dmss},
      {"go", simtest::kGo, true, {0x02}, State::Streaming},
      {"hello", simtest::Hello(), true, {}, State::Streaming},
      {"stream write", StreamWrite(0x100, data), true, Cat({0x08}, Le32(0x100)), State::Streaming},
      {"read", ReadFlash(0x100), true, readBack, State::Streaming},
      {"security mode", {0x17, 0x01}, true, {0x18}, State::Streaming},
      {"partition table", Hex("19 00 AA BB"), true, {0x1A, 0x00}, State::Streaming},
      {"open image", {0x1B, 0x01}, true, {0x1C}, State::Streaming},
      {"close image", {0x15}, true, {0x16}, State::Streaming},
      {"reset", {0x0B}, true, {0x0C}, State::Reset},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ASSERT_TRUE(host_->Send(row.request, row.leadingFlag));
    const auto reply = host_->Receive();
    ASSERT_TRUE(reply.has_value());
    if (row.reply.empty()) {
      EXPECT_TRUE(reply->crcOk);
      ExpectHelloReply(reply->payload, config.flashName);
    } else {
      EXPECT_EQ(reply->raw, Encode(row.reply));
    }
    EXPECT_EQ(device_->GetState(), row.after);
  }
  EXPECT_EQ(device_->RamBytes(sim::kRamBase, static_cast<uint32_t>(data.size())), data);
  EXPECT_EQ(device_->GetStatus().badCrc, 0u);
}

// Requests the device cannot carry out get its state's rejection, and change
// nothing; the boundaries of the RAM window and of the flash are accepted.
TEST_F(SimDevice, RejectsRequestsItCannotCarryOut) {
  StartDevice(BaseConfig());
  constexpr uint32_t kRamEnd = sim::kRamBase + sim::kRamSize;
  constexpr uint32_t kFlashEnd = sim::kFlashSize;
  Bytes wrongLength = WriteRam(sim::kRamBase, Bytes(4, 0x11));
  wrongLength[6] = 5;
  Bytes badMagic = simtest::Hello();
  badMagic[5] = 'X';
  struct Row {
    std::string label;
    State state;
    Bytes request;
    Bytes reply;
  };
  const std::vector<Row> rows{
      {"nop in firmware", State::Diag, {0x06}, Hex("13 06")},
      {"switch too long", State::Diag, {0x3A, 0x00}, Hex("13 3A 00")},
      {"switch in download mode", State::Dmss, {0x3A}, Hex("03 00 01")},
      {"ram block of 1018", State::Dmss, WriteRam(sim::kRamBase, Bytes(1018, 0x11)), Hex("03 00 02")},
      {"ram length field wrong", State::Dmss, wrongLength, Hex("03 00 02")},
      {"ram below the window", State::Dmss, WriteRam(sim::kRamBase - 1, {0x11}), Hex("03 00 03")},
      {"ram across its end", State::Dmss, WriteRam(kRamEnd - 1016, Bytes(1017, 0x11)), Hex("03 00 03")},
      {"ram up to its end", State::Dmss, WriteRam(kRamEnd - 1017, Bytes(1017, 0x22)), {0x02}},
      {"go outside ram", State::Dmss, Cat({0x05}, simtest::Be32(0x0F000000)), Hex("03 00 03")},
      {"nop to the programmer", State::Streaming, {0x06}, Hex("0D 01 00 00 00")},
      {"hello of another protocol", State::Streaming, badMagic, Hex("0D 04 00 00 00")},
      {"flash write up to its end", State::Streaming, StreamWrite(kFlashEnd - 1024, Bytes(1024, 0x33)),
       Cat({0x08}, Le32(kFlashEnd - 1024))},
      {"flash write across its end", State::Streaming, StreamWrite(kFlashEnd - 1023, Bytes(1024, 0x33)),
       Hex("0D 03 00 00 00")},
      {"flash block of 1025", State::Streaming, StreamWrite(0, Bytes(1025, 0x33)), Hex("0D 02 00 00 00")},
      {"read across the end", State::Streaming, ReadFlash(kFlashEnd - 1023), Hex("0D 03 00 00 00")},
      {"read of 1025", State::Streaming, ReadFlash(0, 1025), Hex("0D 02 00 00 00")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    if (row.state == State::Dmss && device_->GetState() == State::Diag) {
      ASSERT_EQ(Exchange({0x3A}, false), Bytes{0x3A});
    }
    if (row.state == State::Streaming && device_->GetState() == State::Dmss) ToStreaming();
    ASSERT_EQ(device_->GetState(), row.state);
    EXPECT_EQ(Exchange(row.request), row.reply);
  }
  const auto writes = device_->WriteLog();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].memory, sim::Memory::Ram);
  EXPECT_EQ(writes[0].address, kRamEnd - 1017);
  EXPECT_EQ(writes[1].memory, sim::Memory::Flash);
  EXPECT_EQ(writes[1].address, kFlashEnd - 1024);
  EXPECT_EQ(device_->FlashBytes(kFlashEnd - 1025, 2), Hex("FF 33"));
}

// A frame that does not check out is counted and left unanswered; the next
// good frame's reply is the next thing on the line.
TEST_F(SimDevice, CountsAndIgnoresFramesThatDoNotCheckOut) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  StartDevice(config);
  const std::vector<std::pair<std::string, Bytes>> bad{
      {"wrong crc", Encode({0x06}, true, true)},
      {"too short", Hex("7E 06 4E 7E")},
      {"line noise", Cat(Text("AT\r"), {0x7E})},
      {"escape before the flag", Hex("7E 06 7D 7E")},
  };
  size_t frames = 0;
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(bad[i].first);
    ASSERT_TRUE(host_->SendRaw(bad[i].second));
    EXPECT_EQ(Exchange({0x06}), Bytes{0x02});
    frames += 2;
    ASSERT_TRUE(device_->WaitForFrames(frames, kWaitMs));
    EXPECT_EQ(device_->GetStatus().badCrc, i + 1);
    const auto entries = device_->Transcript(frames - 2);
    EXPECT_FALSE(entries[0].crcOk);
    EXPECT_EQ(entries[0].replyLength, 0);
    EXPECT_TRUE(entries[1].crcOk);
  }
}

// However the host's bytes are cut or joined, and with or without a leading
// flag, each frame gets one reply, in order; the transcript tells which
// frames had a flag of their own.
TEST_F(SimDevice, TakesFramesSplitOrJoinedWithOrWithoutLeadingFlag) {
  StartDevice(BaseConfig());
  for (uint8_t byte : Hex("3A A1 6E 7E")) ASSERT_TRUE(host_->SendRaw({byte}));
  ASSERT_EQ(host_->Receive()->payload, Bytes{0x3A});
  ASSERT_TRUE(host_->SendRaw(Cat(Encode({0x06}), Encode({0x07}))));
  EXPECT_EQ(host_->Receive()->payload, Bytes{0x02});
  EXPECT_EQ(host_->Receive()->payload[0], 0x08);
  EXPECT_EQ(Exchange({0x06}, false), Bytes{0x02});

  ASSERT_TRUE(device_->WaitForFrames(4, kWaitMs));
  std::vector<bool> leading;
  for (const auto& entry : device_->Transcript()) leading.push_back(entry.leadingFlag);
  EXPECT_EQ(leading, (std::vector<bool>{false, true, true, false}));
}

// During the silence after a reset the device answers nothing; with
// re-enumeration its port is gone from the map and cannot be opened, while
// a handle the host already holds stays open.
TEST_F(SimDevice, StaysSilentWhileItResets) {
  for (const bool reenumerate : {true, false}) {
    SCOPED_TRACE(reenumerate ? "re-enumerating" : "staying listed");
    sim::Config config = BaseConfig();
    config.reenumerate = reenumerate;
    StartDevice(config);
    device_->AddKnob({.fault = sim::Fault::SilenceAfterReset, .step = Step::Reset, .value = sim::kForever});
    ToStreaming();
    ASSERT_EQ(Exchange({0x0B}), Bytes{0x0C});
    ASSERT_TRUE(device_->WaitFor(
        [&](const sim::Status& s) { return s.state == State::Reset && s.replies >= 3 && s.listed == !reenumerate; },
        kWaitMs));
    EXPECT_EQ(Mapped(kCom), !reenumerate);
    // Gone from the device root, or still there and held by the host.
    HostLine other(kCom);
    EXPECT_FALSE(other.Ok());
    EXPECT_EQ(other.Error(), reenumerate ? plat::OpenError::NotFound : plat::OpenError::Busy);
    // The host's open handle keeps working, and nobody answers it.
    ASSERT_TRUE(host_->Send({0x3A}, false));
    const auto entry = LastEntry(4);
    EXPECT_EQ(entry.state, State::Reset);
    EXPECT_TRUE(entry.crcOk);
    EXPECT_EQ(entry.replyLength, 0);
    EXPECT_EQ(device_->GetState(), State::Reset);
    host_.reset();
    device_.reset();
  }
}

TEST_F(SimDevice, ComesBackRunningItsFirmwareAfterTheSilence) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  config.resetSilenceMs = 3000;
  StartDevice(config);
  ToStreaming();
  ASSERT_EQ(Exchange({0x0B}), Bytes{0x0C});
  ASSERT_TRUE(device_->WaitFor(
      [](const sim::Status& s) { return s.resets == 1 && s.state == State::Diag && s.listed; }, kWaitMs));
  const uint32_t back = plat::GetTickCount();
  EXPECT_GE(back - LastEntry(2).replied.tick, config.resetSilenceMs);
  EXPECT_TRUE(Mapped(kCom));
  host_.reset();
  host_ = std::make_unique<HostLine>(kCom);
  ASSERT_TRUE(host_->Ok());
  EXPECT_EQ(Exchange({0x3A}, false), Bytes{0x3A});
  EXPECT_EQ(device_->GetState(), State::Dmss);
}

// The knobs that shape a reply, each on a request of the running programmer.
TEST_F(SimDevice, ShapesRepliesByItsKnobs) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  StartDevice(config);
  ToStreaming();
  const Bytes erasedBlock = Cat(Cat({0x04}, Le32(0)), Bytes(1024, 0xFF));
  struct Row {
    std::string label;
    sim::Knob knob;
    Bytes request;
    std::function<void(const Reply&)> check;
  };
  const std::vector<Row> rows{
      {"wrong code", {.fault = sim::Fault::WrongCode, .step = Step::CloseImage, .value = 0x03}, {0x15},
       [](const Reply& r) { EXPECT_EQ(r.raw, Encode({0x03})); }},
      {"bad crc", {.fault = sim::Fault::BadCrc, .step = Step::CloseImage}, {0x15},
       [](const Reply& r) {
         EXPECT_EQ(r.payload, Bytes{0x16});
         EXPECT_FALSE(r.crcOk);
       }},
      {"garbage", {.fault = sim::Fault::Garbage, .step = Step::CloseImage, .value = 5}, {0x15},
       [](const Reply& r) {
         const Bytes frame = Encode({0x16});
         ASSERT_EQ(r.raw.size(), 5 + frame.size());
         EXPECT_EQ(Bytes(r.raw.begin() + 5, r.raw.end()), frame);
         EXPECT_EQ(std::count(r.raw.begin(), r.raw.begin() + 5, 0x7E), 0);
       }},
      {"short read", {.fault = sim::Fault::ShortRead, .step = Step::Read}, ReadFlash(0),
       [&](const Reply& r) { EXPECT_EQ(r.payload, Bytes(erasedBlock.begin(), erasedBlock.end() - 1)); }},
      {"long read", {.fault = sim::Fault::LongRead, .step = Step::Read}, ReadFlash(0),
       [&](const Reply& r) { EXPECT_EQ(r.payload, Cat(erasedBlock, {0xFF})); }},
      {"hello with a long name", {.fault = sim::Fault::HelloLongName, .step = Step::Hello}, simtest::Hello(),
       [](const Reply& r) {
         ASSERT_EQ(r.payload.size(), 44u + 200u);
         EXPECT_EQ(r.payload[43], 200);
         EXPECT_TRUE(r.crcOk);
       }},
      {"hello name beyond the frame", {.fault = sim::Fault::HelloNameBeyondFrame, .step = Step::Hello},
       simtest::Hello(),
       [&](const Reply& r) {
         ASSERT_EQ(r.payload.size(), 44u + config.flashName.size());
         EXPECT_EQ(r.payload[43], 200);
         EXPECT_TRUE(r.crcOk);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    device_->AddKnob(row.knob);
    ASSERT_TRUE(host_->Send(row.request));
    const auto reply = host_->Receive();
    ASSERT_TRUE(reply.has_value());
    row.check(*reply);
    device_->ClearKnobs();
    // Without the knob the same request is answered plainly.
    ASSERT_TRUE(host_->Send(row.request));
    EXPECT_TRUE(host_->Receive()->crcOk);
  }
  const auto transcript = device_->Transcript();
  EXPECT_TRUE(transcript[1].Faulted(sim::Fault::WrongCode));
  EXPECT_FALSE(transcript[2].Faulted(sim::Fault::WrongCode));
}

// A knob applies to the requests it selects: by step, passing over `skip` of
// them, `times` times; or to one request by its number.
TEST_F(SimDevice, AppliesAKnobToTheRequestsItSelects) {
  struct Row {
    sim::Knob knob;
    Bytes codes;  // reply codes to five close-image requests (the transcript's entries 1 to 5)
  };
  const std::vector<Row> rows{
      {{.fault = sim::Fault::WrongCode, .step = Step::CloseImage, .value = 3}, Hex("03 03 03 03 03")},
      {{.fault = sim::Fault::WrongCode, .step = Step::CloseImage, .skip = 1, .times = 2, .value = 3},
       Hex("16 03 03 16 16")},
      {{.fault = sim::Fault::WrongCode, .step = Step::Read, .value = 3}, Hex("16 16 16 16 16")},
      {{.fault = sim::Fault::WrongCode, .request = 3, .value = 3}, Hex("16 16 03 16 16")},
  };
  for (const Row& row : rows) {
    sim::Config config = BaseConfig();
    config.initialState = State::Dmss;
    StartDevice(config);
    ToStreaming();  // entry 0
    device_->AddKnob(row.knob);
    Bytes codes;
    for (int i = 0; i < 5; ++i) codes.push_back(Exchange({0x15}).at(0));
    EXPECT_EQ(codes, row.codes);
    host_.reset();
    device_.reset();
  }
}

// Knobs that hold the reply back: silence leaves the request unanswered, a
// delay or a gap makes the reply complete that much later.
TEST_F(SimDevice, HoldsRepliesBackByItsKnobs) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  StartDevice(config);
  device_->AddKnob({.fault = sim::Fault::Silence, .step = Step::Nop, .times = 1});
  ASSERT_TRUE(host_->Send({0x06}));
  EXPECT_EQ(LastEntry(1).replyLength, 0);
  EXPECT_EQ(Exchange({0x06}), Bytes{0x02});  // the next reply on the line is this one's

  size_t frames = 2;
  for (const sim::Fault fault : {sim::Fault::Delay, sim::Fault::Gap}) {
    SCOPED_TRACE(std::string(sim::FaultName(fault)));
    device_->ClearKnobs();
    device_->AddKnob({.fault = fault, .step = Step::Nop, .value = 3000});
    EXPECT_EQ(Exchange({0x06}), Bytes{0x02});
    ++frames;
    ASSERT_TRUE(device_->WaitForReplies(frames - 1, kWaitMs));
    const auto entry = LastEntry(frames);
    EXPECT_GE(entry.replied.tick - entry.arrived.tick, 3000u);
    EXPECT_TRUE(entry.Faulted(fault));
  }
}

TEST_F(SimDevice, HangsUpMidTransfer) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  StartDevice(config);
  ToStreaming();
  device_->AddKnob({.fault = sim::Fault::HangUp, .step = Step::StreamWrite, .skip = 1});
  EXPECT_EQ(Exchange(StreamWrite(0, Bytes(1024, 0x44))), Cat({0x08}, Le32(0)));
  ASSERT_TRUE(host_->Send(StreamWrite(1024, Bytes(1024, 0x44))));
  ASSERT_TRUE(device_->WaitFor([](const sim::Status& s) { return s.state == State::Unplugged && !s.listed; }, kWaitMs));
  EXPECT_FALSE(host_->Receive(200).has_value());
  EXPECT_FALSE(host_->Send({0x15}));
  EXPECT_FALSE(Mapped(kCom));
  EXPECT_FALSE(HostLine(kCom).Ok());
  EXPECT_EQ(device_->WriteLog().size(), 1u);  // the hung-up request wrote nothing
}

// Plugged out in the middle of a transfer and in again, the device starts
// anew: its firmware answers the DIAG switch, and the flash keeps what was
// written before.
TEST_F(SimDevice, StartsAnewWhenPluggedInAgain) {
  StartDevice(BaseConfig());
  ToStreaming();
  const Bytes block(1024, 0x5A);
  ASSERT_EQ(Exchange(StreamWrite(0, block)), Cat({0x08}, Le32(0)));
  device_->Unplug();
  ASSERT_TRUE(device_->WaitForListed(false, kWaitMs));
  device_->Plug();
  ASSERT_TRUE(device_->WaitFor([](const sim::Status& s) { return s.state == State::Diag && s.listed; }, kWaitMs));
  host_.reset();
  host_ = std::make_unique<HostLine>(kCom);
  ASSERT_TRUE(host_->Ok());
  EXPECT_EQ(Exchange({0x3A}, false), Bytes{0x3A});
  EXPECT_EQ(device_->GetState(), State::Dmss);
  EXPECT_EQ(device_->FlashBytes(0, 1024), block);
}

// A whole download as the host runs it: the transcript holds every step in
// order with its state, flags and times, the write log holds every byte of
// the programmer and of the image once, and the flash file ends up with the
// image over the initial pattern.
TEST_F(SimDevice, RecordsADownload) {
  sim::Config config = BaseConfig();
  config.fill = sim::Fill::Pattern;
  StartDevice(config);
  sim::Package package;
  ASSERT_TRUE(sim::WritePackage(root_.Path(), {.programmerSize = 2500, .imageSize = 3000, .seed = 9}, package));

  std::vector<Step> steps;
  const auto run = [&](Step step, const Bytes& request, bool leading = true) {
    EXPECT_TRUE(host_->Send(request, leading));
    const auto reply = host_->Receive();
    EXPECT_TRUE(reply && reply->crcOk);
    steps.push_back(step);
  };
  run(Step::Switch, {0x3A}, false);
  run(Step::Nop, {0x06});
  run(Step::Nop, {0x06});
  run(Step::Param, {0x07});
  for (uint32_t at = 0; at < package.programmer.size(); at += 1017) {
    const auto end = std::min<size_t>(at + 1017, package.programmer.size());
    run(Step::WriteRam, WriteRam(sim::kRamBase + at, Bytes(package.programmer.begin() + at, package.programmer.begin() + end)));
  }
  run(Step::Go, simtest::kGo);
  run(Step::Hello, simtest::Hello());
  run(Step::Hello, simtest::Hello());
  for (uint32_t at = 0; at < package.image.size(); at += 1024) {
    const auto end = std::min<size_t>(at + 1024, package.image.size());
    run(Step::StreamWrite, StreamWrite(at, Bytes(package.image.begin() + at, package.image.begin() + end)));
  }
  run(Step::Reset, {0x0B});
  ASSERT_TRUE(device_->WaitForReplies(steps.size(), kWaitMs));

  const auto transcript = device_->Transcript();
  ASSERT_EQ(transcript.size(), steps.size());
  for (size_t i = 0; i < transcript.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& entry = transcript[i];
    EXPECT_EQ(entry.step, steps[i]);
    EXPECT_TRUE(entry.crcOk);
    EXPECT_EQ(entry.leadingFlag, i != 0);
    EXPECT_GE(entry.replied.tick, entry.arrived.tick);
    EXPECT_GE(entry.replied.realUs, entry.arrived.realUs);
    if (i > 0) {
      EXPECT_GE(entry.arrived.realUs, transcript[i - 1].replied.realUs);
    }
    const State state = i == 0 ? State::Diag : i < 8 ? State::Dmss : State::Streaming;
    EXPECT_EQ(entry.state, state);
  }
  EXPECT_EQ(transcript[4].requestLength, 1024);
  EXPECT_EQ(Bytes(transcript[4].request.begin(), transcript[4].request.begin() + 7), Hex("0F 10 00 00 00 03 F9"));
  EXPECT_EQ(transcript[6].requestLength, 7 + 2500 - 2 * 1017);
  EXPECT_EQ(transcript[4].replyLength, 1);
  EXPECT_EQ(transcript[4].reply[0], 0x02);

  // Every byte written once, in order, in the right memory.
  uint32_t ramNext = sim::kRamBase;
  uint32_t flashNext = 0;
  for (const sim::WriteRecord& write : device_->WriteLog()) {
    uint32_t& next = write.memory == sim::Memory::Ram ? ramNext : flashNext;
    EXPECT_EQ(write.address, next);
    EXPECT_EQ(transcript[write.request].step, write.memory == sim::Memory::Ram ? Step::WriteRam : Step::StreamWrite);
    next += write.length;
  }
  EXPECT_EQ(ramNext, sim::kRamBase + 2500);
  EXPECT_EQ(flashNext, 3000u);
  EXPECT_EQ(device_->RamBytes(sim::kRamBase, 2500), package.programmer);
  EXPECT_EQ(device_->FlashBytes(0, 3000), package.image);

  device_->Stop();
  std::FILE* file = std::fopen(config.flashPath.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  Bytes contents(sim::kFlashSize + 1);
  contents.resize(std::fread(contents.data(), 1, contents.size(), file));
  std::fclose(file);
  ASSERT_EQ(contents.size(), sim::kFlashSize);
  EXPECT_EQ(Bytes(contents.begin(), contents.begin() + 3000), package.image);
  EXPECT_TRUE(contents == device_->FlashBytes(0, sim::kFlashSize));  // the file holds what the device holds
  for (const uint32_t a : {3000u, 3001u, 4096u, sim::kFlashSize - 1}) {
    EXPECT_EQ(contents[a], sim::FillByte(sim::Fill::Pattern, a)) << a;
  }
}

// Each initial fill is what the flash and its file hold and what reads send
// back, the flag and escape bytes escaped on the line.
TEST_F(SimDevice, ReadsBackEachFill) {
  for (const sim::Fill fill : {sim::Fill::Erased, sim::Fill::Pattern, sim::Fill::Escapes}) {
    SCOPED_TRACE(static_cast<int>(fill));
    sim::Config config = BaseConfig();
    config.fill = fill;
    config.initialState = State::Dmss;
    StartDevice(config);
    ToStreaming();
    for (const uint32_t address : {0u, 0x00ABCD00u, sim::kFlashSize - 1024}) {
      Bytes expected = Cat({0x04}, Le32(address));
      for (uint32_t a = address; a < address + 1024; ++a) expected.push_back(sim::FillByte(fill, a));
      ASSERT_TRUE(host_->Send(ReadFlash(address)));
      const auto reply = host_->Receive();
      ASSERT_TRUE(reply.has_value());
      EXPECT_EQ(reply->raw, Encode(expected));
    }
    std::FILE* file = std::fopen(config.flashPath.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    Bytes head(4096);
    ASSERT_EQ(std::fread(head.data(), 1, head.size(), file), head.size());
    std::fclose(file);
    for (uint32_t a = 0; a < head.size(); ++a) ASSERT_EQ(head[a], sim::FillByte(fill, a)) << a;
    host_.reset();
    device_.reset();
  }
  EXPECT_EQ(sim::FillByte(sim::Fill::Pattern, 0x01020304), 0x04);
  EXPECT_EQ(sim::FillByte(sim::Fill::Pattern, 0x01020307), 0x01);
}

// With the throttle a frame counts as arrived, and a reply as written, no
// sooner than a 115200-baud line would carry it.
TEST_F(SimDevice, PacesTheLineWhenThrottled) {
  sim::Config config = BaseConfig();
  config.initialState = State::Dmss;
  config.throttle = true;
  StartDevice(config);
  ToStreaming();
  const auto lineUs = [](size_t bytes) { return bytes * 1000000 / sim::Device::kLineRate; };

  const Bytes write = StreamWrite(0, Bytes(1024, 0x55));
  const uint32_t sent = plat::GetTickCount();
  EXPECT_EQ(Exchange(write), Cat({0x08}, Le32(0)));
  const auto written = LastEntry(2);
  // The tick runs on its own clock at its own granularity: allow it 3 %.
  EXPECT_GE(uint64_t{written.arrived.tick - sent} * 1000 * 100, lineUs(Encode(write).size()) * kScale * 97);

  ASSERT_TRUE(host_->Send(ReadFlash(0)));
  ASSERT_TRUE(host_->Receive().has_value());
  ASSERT_TRUE(device_->WaitForReplies(3, kWaitMs));
  const auto read = LastEntry(3);
  EXPECT_GE(read.replied.realUs - read.arrived.realUs, lineUs(1029 + 4));
}

}  // namespace
