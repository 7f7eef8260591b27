#include "sim/core.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "plat/clock.h"
#include "sim/names.h"

namespace sim {
namespace {

// Parameter response: protocol version 6, lowest version 2, largest write
// block 1017 (big-endian), then model and flash size codes that happen to be
// the flag and escape values, so the host's unescaping is exercised.
constexpr uint8_t kParams[] = {0x08, 0x06, 0x02, 0x03, 0xF9, 0x7E, 0x7D};

// The 42 bytes of a hello reply between its code and the name length: a
// magic of the programmer's own, versions, block size and base codes with
// flag and escape values among them.
constexpr char kHelloTargetMagic[] = "Nuvo simulated flash programmer!";
constexpr uint8_t kHelloTail[] = {0x03, 0x03, 0x7E, 0x7D, 0x00, 0x04, 0x00, 0x00, 0x7D, 0x7E};
static_assert(sizeof kHelloTargetMagic - 1 + sizeof kHelloTail == 42);

constexpr size_t kLongName = 200;

// Noise for the garbage knob: no flag or escape among it.
constexpr uint8_t kNoise[] = {0x41, 0x54, 0x13, 0x00, 0xFF, 0x5A, 0x21, 0x0D};

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[3]) << 24 | static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
}

Step StepOf(State state, uint8_t code) {
  switch (state) {
    case State::Diag:
      if (code == 0x00) return Step::Version;
      if (code == 0x3A) return Step::Switch;
      if (code == 0x0C) return Step::Status;
      break;
    case State::Dmss:
      if (code == 0x06) return Step::Nop;
      if (code == 0x07) return Step::Param;
      if (code == 0x0F) return Step::WriteRam;
      if (code == 0x05) return Step::Go;
      break;
    case State::Streaming:
      switch (code) {
        case 0x01: return Step::Hello;
        case 0x07: return Step::StreamWrite;
        case 0x03: return Step::Read;
        case 0x0B: return Step::Reset;
        case 0x17: return Step::SecurityMode;
        case 0x19: return Step::PartitionTable;
        case 0x1B: return Step::OpenImage;
        case 0x15: return Step::CloseImage;
        default: break;
      }
      break;
    case State::Reset:
    case State::Unplugged:
    case State::BootLoader:
      break;
  }
  return Step::Unknown;
}

constexpr uint32_t Bit(Fault fault) { return 1u << static_cast<unsigned>(fault); }

void CopyHead(std::array<uint8_t, TranscriptEntry::kHead>& head, std::span<const uint8_t> bytes) {
  std::memcpy(head.data(), bytes.data(), std::min(head.size(), bytes.size()));
}

}  // namespace

std::string_view StateName(State state) {
  switch (state) {
    case State::Diag: return "diag";
    case State::Dmss: return "dmss";
    case State::Streaming: return "streaming";
    case State::Reset: return "reset";
    case State::Unplugged: return "unplugged";
    case State::BootLoader: return "boot-loader";
  }
  return "?";
}

namespace {

constexpr std::array<std::pair<Profile, std::string_view>, 5> kProfiles{{
    {Profile::DiagOnly, "diag-only"},
    {Profile::SingleModem, "single"},
    {Profile::DualPort, "dual"},
    {Profile::LineFeedModem, "line-feed"},
    {Profile::BootLoader, "boot-loader"},
}};

}  // namespace

std::string_view ProfileName(Profile profile) { return NameOf(kProfiles, profile); }

std::optional<Profile> ProfileByName(std::string_view name) { return KeyOf(kProfiles, name); }

std::string DefaultMapName(unsigned com) { return "\\Device\\QCUSB_COM" + std::to_string(com) + "_0"; }

void Response::Clear() {
  bytes.clear();
  pieces.clear();
  effect = Effect::None;
  silenceMs = 0;
}

Core::Core(const Config& config)
    : config_(config),
      state_(config.profile == Profile::BootLoader ? State::BootLoader : config.initialState),
      ram_(std::make_unique<uint8_t[]>(kRamSize)) {
  transcript_.reserve(4096);
  reply_.reserve(kStreamBlockMax + 16);
}

bool Core::Open(std::string* error) { return flash_.Open(config_.flashPath, config_.fill, error); }

void Core::Close() { flash_.Close(); }

size_t Core::Feed(const uint8_t* data, size_t count) {
  if (state_ == State::BootLoader) return FeedBootLoader(data, count);
  if (skipText_) {
    // The host repeats the boot loader's command; in download mode it is
    // not a frame, so it is passed over up to the next frame's flag.
    size_t used = 0;
    while (used < count && data[used] != kFlag) ++used;
    if (used < count) skipText_ = false;
    if (used != 0) return used;
  }
  return deframer_.Feed(data, count);
}

size_t Core::FeedBootLoader(const uint8_t* data, size_t count) {
  static constexpr uint8_t kProbe[] = {0x0C, 0x14, 0x3A, kFlag};
  static constexpr std::string_view kCommand(kBootCommand);
  constexpr size_t kKeep = 16;
  size_t used = 0;
  while (used < count) {
    const char c = static_cast<char>(data[used++]);
    bootText_.push_back(c);
    const std::string_view text = bootText_;
    if (text.ends_with(std::string_view(reinterpret_cast<const char*>(kProbe), sizeof kProbe))) {
      bootText_.clear();
      bootProbe_ = true;
      break;
    }
    if (text.ends_with(kCommand)) {
      bootText_.clear();
      state_ = State::Dmss;
      skipText_ = true;
      break;
    }
    if (c == static_cast<char>(kFlag) || c == '\r') bootText_.clear();
    if (bootText_.size() > kKeep) bootText_.erase(0, bootText_.size() - kKeep);
  }
  return used;
}

void Core::AnswerBootProbe(const Stamp& at, Response& out) {
  bootProbe_ = false;
  TranscriptEntry& entry = transcript_.emplace_back();
  entry.arrived = at;
  entry.state = State::BootLoader;
  entry.step = Step::Status;
  entry.crcOk = true;
  entry.requestLength = 1;
  entry.request[0] = 0x0C;
  const std::string_view prompt(kBootPrompt, sizeof kBootPrompt - 1);
  entry.replyLength = static_cast<uint16_t>(prompt.size());
  std::memcpy(entry.reply.data(), prompt.data(), prompt.size());
  out.bytes.assign(prompt.begin(), prompt.end());
  out.pieces.push_back({0, out.bytes.size()});
}

uint32_t Core::FaultsFor(Step step, uint32_t index) {
  uint32_t faults = 0;
  for (ArmedKnob& armed : knobs_) {
    const Knob& knob = armed.knob;
    if (knob.step != Step::Any && knob.step != step) continue;
    if (knob.request >= 0 && knob.request != index) continue;
    const uint32_t nth = armed.seen++;
    if (nth < knob.skip || (knob.times != kAlways && nth - knob.skip >= knob.times)) continue;
    faults |= Bit(knob.fault);
    faultValue_[static_cast<size_t>(knob.fault)] = knob.value;
  }
  return faults;
}

void Core::Handle(const Stamp& at, Response& out) {
  out.Clear();
  if (bootProbe_) return AnswerBootProbe(at, out);
  const std::span<const uint8_t> frame = deframer_.Frame();
  const bool crcOk = deframer_.CrcOk();
  const std::span<const uint8_t> request = frame.size() >= 3 ? frame.first(frame.size() - 2) : frame;
  const auto index = static_cast<uint32_t>(transcript_.size());

  TranscriptEntry& entry = transcript_.emplace_back();
  entry.arrived = at;
  entry.state = state_;
  entry.crcOk = crcOk;
  entry.leadingFlag = deframer_.Leading();
  entry.requestLength = static_cast<uint16_t>(request.size());
  CopyHead(entry.request, request);
  entry.step = crcOk ? StepOf(state_, request[0]) : Step::Unknown;

  if (!crcOk) {
    ++badCrc_;
  } else if (state_ != State::Reset && state_ != State::Unplugged) {
    const uint32_t faults = FaultsFor(entry.step, index);
    entry.faults = static_cast<uint16_t>(faults);
    if ((faults & Bit(Fault::HangUp)) != 0) {
      state_ = State::Unplugged;
      listed_ = false;
      out.effect = Response::Effect::HangUp;
    } else if ((faults & Bit(Fault::Silence)) == 0) {
      reply_.clear();
      effect_ = Response::Effect::None;
      bareReply_ = false;
      Answer(entry.step, request, faults, index);
      Send(faults, out);
    }
  }
  deframer_.Next();
}

void Core::Answer(Step step, std::span<const uint8_t> request, uint32_t faults, uint32_t index) {
  switch (state_) {
    case State::Diag: AnswerDiag(step, request); break;
    case State::Dmss: AnswerDmss(step, request, index); break;
    case State::Streaming: AnswerStreaming(step, request, faults, index); break;
    case State::Reset:
    case State::Unplugged:
    case State::BootLoader: break;
  }
}

void Core::Nak(std::span<const uint8_t> request, Reason reason) {
  reply_.clear();
  switch (state_) {
    case State::Diag:
      reply_.push_back(kDiagBadCommand);
      reply_.insert(reply_.end(), request.begin(), request.end());
      break;
    case State::Dmss:
      reply_.insert(reply_.end(), {kDmssNak, 0x00, static_cast<uint8_t>(reason)});
      break;
    default:
      reply_.insert(reply_.end(), {kStreamError, static_cast<uint8_t>(reason), 0x00, 0x00, 0x00});
      break;
  }
}

void Core::AnswerDiag(Step step, std::span<const uint8_t> request) {
  if (step == Step::Unknown) return Nak(request, Reason::UnknownCommand);
  if (request.size() != 1) return Nak(request, Reason::BadLength);
  if (step == Step::Status) {
    // Sent as the firmware sends it: closed by a flag, not opened by one,
    // so that the reply's first bytes are its code.
    reply_.assign(std::begin(kStatusReply), std::end(kStatusReply));
    bareReply_ = true;
    return;
  }
  reply_.push_back(request[0]);
  if (step == Step::Version) {
    reply_.insert(reply_.end(), config_.versionText.begin(), config_.versionText.end());
  } else {
    state_ = State::Dmss;
  }
}

void Core::AnswerDmss(Step step, std::span<const uint8_t> request, uint32_t index) {
  const size_t size = request.size();
  switch (step) {
    case Step::Nop:
      if (size != 1) return Nak(request, Reason::BadLength);
      reply_.push_back(0x02);
      return;
    case Step::Param:
      if (size != 1) return Nak(request, Reason::BadLength);
      reply_.assign(std::begin(kParams), std::end(kParams));
      return;
    case Step::WriteRam: {
      if (size < 7) return Nak(request, Reason::BadLength);
      const uint32_t address = Be32(&request[1]);
      const uint32_t length = static_cast<uint32_t>(request[5]) << 8 | request[6];
      if (length != size - 7 || length > kRamBlockMax) return Nak(request, Reason::BadLength);
      if (address < kRamBase || address - kRamBase > kRamSize - length) return Nak(request, Reason::OutOfRange);
      std::memcpy(ram_.get() + (address - kRamBase), &request[7], length);
      writes_.push_back({Memory::Ram, address, length, index});
      reply_.push_back(0x02);
      return;
    }
    case Step::Go: {
      if (size != 5) return Nak(request, Reason::BadLength);
      const uint32_t address = Be32(&request[1]);
      if (address < kRamBase || address - kRamBase >= kRamSize) return Nak(request, Reason::OutOfRange);
      reply_.push_back(0x02);
      state_ = State::Streaming;
      return;
    }
    default:
      return Nak(request, Reason::UnknownCommand);
  }
}

void Core::AnswerStreaming(Step step, std::span<const uint8_t> request, uint32_t faults, uint32_t index) {
  const size_t size = request.size();
  switch (step) {
    case Step::Hello: {
      if (size != 36) return Nak(request, Reason::BadLength);
      if (std::memcmp(&request[1], kHelloMagic, 32) != 0) return Nak(request, Reason::BadMagic);
      reply_.push_back(0x02);
      reply_.insert(reply_.end(), kHelloTargetMagic, kHelloTargetMagic + 32);
      reply_.insert(reply_.end(), std::begin(kHelloTail), std::end(kHelloTail));
      const std::string& name = config_.flashName;
      if ((faults & Bit(Fault::HelloLongName)) != 0) {
        reply_.push_back(static_cast<uint8_t>(kLongName));
        for (size_t i = 0; i < kLongName; ++i) reply_.push_back(static_cast<uint8_t>(name.empty() ? 'N' : name[i % name.size()]));
      } else {
        const bool beyond = (faults & Bit(Fault::HelloNameBeyondFrame)) != 0;
        reply_.push_back(static_cast<uint8_t>(beyond ? kLongName : std::min<size_t>(name.size(), 255)));
        reply_.insert(reply_.end(), name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(name.size(), 255)));
      }
      return;
    }
    case Step::StreamWrite: {
      if (size < 5 || size - 5 > kStreamBlockMax) return Nak(request, Reason::BadLength);
      const uint32_t address = Le32(&request[1]);
      const auto length = static_cast<uint32_t>(size - 5);
      if (address > kFlashSize - length) return Nak(request, Reason::OutOfRange);
      if (!flash_.Write(address, &request[5], length)) flashFileOk_ = false;
      writes_.push_back({Memory::Flash, address, length, index});
      reply_.push_back(0x08);
      reply_.insert(reply_.end(), &request[1], &request[5]);
      return;
    }
    case Step::Read: {
      if (size != 7) return Nak(request, Reason::BadLength);
      const uint32_t address = Le32(&request[1]);
      uint32_t length = static_cast<uint32_t>(request[6]) << 8 | request[5];
      if (length == 0 || length > kStreamBlockMax) return Nak(request, Reason::BadLength);
      if (address > kFlashSize - length) return Nak(request, Reason::OutOfRange);
      reply_.push_back(0x04);
      reply_.insert(reply_.end(), &request[1], &request[5]);
      if ((faults & Bit(Fault::ShortRead)) != 0) --length;
      const uint8_t* data = flash_.Data() + address;
      reply_.insert(reply_.end(), data, data + length);
      if ((faults & Bit(Fault::LongRead)) != 0) {
        reply_.push_back(address + length < kFlashSize ? data[length] : 0xFF);
      }
      return;
    }
    case Step::Reset:
      if (size != 1) return Nak(request, Reason::BadLength);
      reply_.push_back(0x0C);
      BeginReset((faults & Bit(Fault::SilenceAfterReset)) != 0
                     ? faultValue_[static_cast<size_t>(Fault::SilenceAfterReset)]
                     : config_.resetSilenceMs);
      return;
    case Step::SecurityMode:
      if (size != 2) return Nak(request, Reason::BadLength);
      reply_.push_back(0x18);
      return;
    case Step::PartitionTable:
      if (size < 2) return Nak(request, Reason::BadLength);
      reply_.insert(reply_.end(), {0x1A, 0x00});
      return;
    case Step::OpenImage:
      if (size < 2) return Nak(request, Reason::BadLength);
      reply_.push_back(0x1C);
      return;
    case Step::CloseImage:
      if (size != 1) return Nak(request, Reason::BadLength);
      reply_.push_back(0x16);
      return;
    default:
      return Nak(request, Reason::UnknownCommand);
  }
}

void Core::BeginReset(uint32_t silenceMs) {
  state_ = State::Reset;
  ++resets_;
  if (config_.reenumerate) listed_ = false;
  effect_ = Response::Effect::Reset;
  silenceMs_ = silenceMs == kForever ? kForever : plat::RealMs(silenceMs);
}

void Core::Send(uint32_t faults, Response& out) {
  const auto value = [&](Fault fault) { return faultValue_[static_cast<size_t>(fault)]; };
  if ((faults & Bit(Fault::WrongCode)) != 0 && !reply_.empty()) reply_[0] = static_cast<uint8_t>(value(Fault::WrongCode));
  if ((faults & Bit(Fault::Garbage)) != 0) {
    const uint32_t count = value(Fault::Garbage) == 0 ? 4 : value(Fault::Garbage);
    for (uint32_t i = 0; i < count; ++i) out.bytes.push_back(kNoise[i % sizeof kNoise]);
  }
  const size_t frameStart = out.bytes.size();
  AppendFrame(out.bytes, reply_, (faults & Bit(Fault::BadCrc)) != 0, !bareReply_);

  const uint32_t pause = (faults & Bit(Fault::Delay)) != 0 ? plat::RealMs(value(Fault::Delay)) : 0;
  if ((faults & Bit(Fault::Gap)) != 0) {
    out.pieces.push_back({pause, frameStart + (out.bytes.size() - frameStart) / 2});
    out.pieces.push_back({plat::RealMs(value(Fault::Gap)), out.bytes.size()});
  } else {
    out.pieces.push_back({pause, out.bytes.size()});
  }
  out.effect = effect_;
  out.silenceMs = silenceMs_;

  TranscriptEntry& entry = transcript_.back();
  entry.replyLength = static_cast<uint16_t>(reply_.size());
  CopyHead(entry.reply, reply_);
}

void Core::MarkReplied(const Stamp& at) {
  if (!transcript_.empty()) transcript_.back().replied = at;
}

void Core::EndReset() {
  if (state_ != State::Reset) return;
  state_ = State::Diag;
  listed_ = true;
}

void Core::PowerOn() {
  state_ = config_.profile == Profile::BootLoader ? State::BootLoader : config_.initialState;
  listed_ = true;
  deframer_ = Deframer();
  bootText_.clear();
  bootProbe_ = false;
  skipText_ = false;
  bareReply_ = false;
}

void Core::AddKnob(const Knob& knob) { knobs_.push_back({knob, 0}); }

void Core::ClearKnobs() { knobs_.clear(); }

}  // namespace sim
