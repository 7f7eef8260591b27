#include "sim/device.h"

#include <algorithm>
#include <utility>

#include "plat/serial_map.h"
#include "testkit/device_port.h"
#include "testkit/serial_map_writer.h"

namespace sim {
namespace {

constexpr size_t kReadChunk = 65536;
constexpr uint32_t kPollMs = 20;          // how often an idle driver looks at Stop() and the reset clock
constexpr uint32_t kWriteTimeoutMs = 5000;
constexpr size_t kThrottlePiece = 32;     // bytes written at a time at line rate

std::chrono::nanoseconds LineTime(size_t bytes) {
  return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 1'000'000'000 / Device::kLineRate);
}

std::vector<AtRole> RolesOf(Profile profile) {
  switch (profile) {
    case Profile::DiagOnly: return {};
    case Profile::SingleModem:
    case Profile::BootLoader: return {AtRole::Modem};
    case Profile::DualPort: return {AtRole::DualModem, AtRole::DualAt};
    case Profile::LineFeedModem: return {AtRole::LineFeedModem};
  }
  return {};
}

}  // namespace

Device::Device(Config config)
    : config_(std::move(config)),
      mapName_(config_.mapName.empty() ? DefaultMapName(config_.com) : config_.mapName),
      origin_(Clock::now()),
      core_(config_),
      at_(config_.versionText, config_.accessCode, config_.modes, config_.switchRestart),
      rx_(kReadChunk) {
  unsigned com = config_.atCom != 0 ? config_.atCom : config_.com + 1;
  for (const AtRole role : RolesOf(config_.profile)) {
    auto at = std::make_unique<AtPort>();
    at->com = com;
    at->role = role;
    at->mapName = DefaultMapName(com);
    atPorts_.push_back(std::move(at));
    ++com;
  }
}

Device::~Device() { Stop(); }

bool Device::Start(std::string* error) {
  if (started_) return true;
  if (!core_.Open(error)) return false;
  const auto fail = [&](const std::string& reason) {
    if (error != nullptr) *error = reason;
    ReleasePorts();
    core_.Close();
    return false;
  };
  port_ = plat::DevicePort::Create(config_.com);
  if (!port_) return fail("cannot create the port COM" + std::to_string(config_.com));
  for (const auto& at : atPorts_) {
    at->port = plat::DevicePort::Create(at->com);
    if (!at->port) return fail("cannot create the port COM" + std::to_string(at->com));
  }
  // The ports are linked from their creation; the map entries follow, and
  // then the listing goes where the device's presence wants it.
  {
    std::lock_guard lock(mutex_);
    listed_ = true;
    atListed_ = true;
    stopping_ = false;
  }
  if (!plat::SerialMapWriter::AddValue(mapName_, "COM" + std::to_string(config_.com))) {
    return fail("cannot add the map entry " + mapName_);
  }
  for (const auto& at : atPorts_) {
    if (!plat::SerialMapWriter::AddValue(at->mapName, "COM" + std::to_string(at->com))) {
      return fail("cannot add the map entry " + at->mapName);
    }
  }
  SyncListing();
  started_ = true;
  thread_ = std::thread([this] { Run(); });
  for (const auto& at : atPorts_) {
    AtPort& port = *at;
    at->thread = std::thread([this, &port] { RunAt(port); });
  }
  return true;
}

void Device::Stop() {
  if (!started_) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  for (const auto& at : atPorts_) at->thread.join();
  ReleasePorts();
  {
    std::lock_guard lock(mutex_);
    core_.Close();
  }
  started_ = false;
  changed_.notify_all();
}

// Takes away what is listed and the ports themselves.
void Device::ReleasePorts() {
  bool diag;
  bool at;
  {
    std::lock_guard lock(mutex_);
    diag = listed_;
    at = atListed_;
    listed_ = false;
    atListed_ = false;
  }
  if (diag) plat::SerialMapWriter::RemoveValue(mapName_);
  for (const auto& port : atPorts_) {
    if (at) plat::SerialMapWriter::RemoveValue(port->mapName);
    port->port.reset();
  }
  port_.reset();
}

std::vector<unsigned> Device::AtComs() const {
  std::vector<unsigned> coms;
  for (const auto& at : atPorts_) coms.push_back(at->com);
  return coms;
}

void Device::Unplug() {
  {
    std::lock_guard lock(mutex_);
    plugged_ = false;
  }
  if (started_) SyncListing();
  Notify();
}

void Device::Plug() {
  {
    std::lock_guard lock(mutex_);
    if (!plugged_) powerOn_ = true;
    plugged_ = true;
  }
  if (started_) SyncListing();
  Notify();
}

bool Device::Present() const {
  std::lock_guard lock(mutex_);
  return plugged_ && !powerOn_ && !reenumerating_ && !hungUp_;
}

void Device::BeginReenumeration() {
  {
    std::lock_guard lock(mutex_);
    reenumerating_ = true;
    returnAt_ = Clock::now() + std::chrono::milliseconds(plat::RealMs(config_.reenumeratePauseMs));
  }
  SyncListing();
  {
    // Counted once the ports are gone, so that a status showing this
    // restart and its ports listed means they are back.
    std::lock_guard lock(mutex_);
    ++reenumerations_;
  }
  Notify();
}

void Device::CheckPowerOn() {
  {
    std::lock_guard lock(mutex_);
    if (!powerOn_ || !plugged_ || hungUp_) return;
    powerOn_ = false;
    core_.PowerOn();
  }
  resetEnds_ = Clock::time_point::max();  // a reset under way ended with the power
  SyncListing();
  Notify();
}

void Device::CheckReturn() {
  {
    std::lock_guard lock(mutex_);
    if (!reenumerating_ || Clock::now() < returnAt_) return;
    reenumerating_ = false;
  }
  SyncListing();
  Notify();
}

Stamp Device::Now() const {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_).count();
  return {static_cast<uint64_t>(us), plat::GetTickCount()};
}

bool Device::Stopping() const {
  std::lock_guard lock(mutex_);
  return stopping_;
}

bool Device::PauseUntil(Clock::time_point when) {
  std::unique_lock lock(mutex_);
  return !changed_.wait_until(lock, when, [&] { return stopping_; });
}

void Device::Notify() { changed_.notify_all(); }

void Device::Run() {
  while (!Stopping()) {
    CheckPowerOn();
    CheckReturn();
    if (Clock::now() >= resetEnds_) {
      resetEnds_ = Clock::time_point::max();
      {
        std::lock_guard lock(mutex_);
        core_.EndReset();
      }
      SyncListing();
      Notify();
    }
    if (hungUp_) {
      PauseUntil(Clock::now() + std::chrono::milliseconds(kPollMs));
      continue;
    }
    uint32_t waitMs = kPollMs;
    if (resetEnds_ != Clock::time_point::max()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(resetEnds_ - Clock::now()).count();
      waitMs = static_cast<uint32_t>(std::clamp<int64_t>(left, 1, kPollMs));
    }
    const int got = port_->Read(rx_.data(), rx_.size(), waitMs);
    if (got < 0) {
      // The line failed under us; do not spin on it.
      PauseUntil(Clock::now() + std::chrono::milliseconds(kPollMs));
      continue;
    }
    // What reaches the device while it is away is lost.
    if (got == 0 || !Present()) continue;
    const auto count = static_cast<size_t>(got);
    // With the throttle, the bytes cannot have come faster than the line
    // carries them: each frame counts as arrived when its last byte would have.
    const Clock::time_point lineStart = config_.throttle ? std::max(Clock::now(), rxFree_) : Clock::time_point{};
    size_t offset = 0;
    while (offset < count && !hungUp_) {
      offset += core_.Feed(rx_.data() + offset, count - offset);
      if (!core_.FrameReady()) continue;
      if (config_.throttle && !PauseUntil(lineStart + LineTime(offset))) return;
      {
        std::lock_guard lock(mutex_);
        core_.Handle(Now(), response_);
      }
      Notify();
      if (!Deliver(response_)) return;
    }
    if (config_.throttle) rxFree_ = lineStart + LineTime(count);
  }
}

bool Device::Deliver(const Response& response) {
  size_t begin = 0;
  for (const Response::Piece& piece : response.pieces) {
    if (piece.pauseMs != 0 && !PauseUntil(Clock::now() + std::chrono::milliseconds(piece.pauseMs))) return false;
    if (!WriteLine(response.bytes.data() + begin, piece.end - begin)) break;
    begin = piece.end;
  }
  {
    std::lock_guard lock(mutex_);
    if (!response.pieces.empty() && begin == response.bytes.size()) {
      core_.MarkReplied(Now());
      ++replies_;
    }
  }
  switch (response.effect) {
    case Response::Effect::None:
      break;
    case Response::Effect::Reset:
      resetEnds_ = response.silenceMs == kForever ? Clock::time_point::max()
                                                  : Clock::now() + std::chrono::milliseconds(response.silenceMs);
      SyncListing();
      break;
    case Response::Effect::HangUp:
      // A backend that cannot hang up still takes the port out of reach.
      port_->HangUp();
      {
        std::lock_guard lock(mutex_);
        hungUp_ = true;
      }
      SyncListing();
      break;
  }
  Notify();
  return true;
}

bool Device::WriteLine(const uint8_t* data, size_t count) {
  if (count == 0) return true;
  if (!config_.throttle) return port_->Write(data, count, kWriteTimeoutMs);
  const Clock::time_point start = std::max(Clock::now(), txFree_);
  txFree_ = start + LineTime(count);
  for (size_t done = 0; done < count;) {
    const size_t piece = std::min(kThrottlePiece, count - done);
    // A byte is handed over once the line would have carried it.
    if (!PauseUntil(start + LineTime(done + piece))) return false;
    if (!port_->Write(data + done, piece, kWriteTimeoutMs)) return false;
    done += piece;
  }
  return true;
}

void Device::RunAt(AtPort& at) {
  std::vector<uint8_t> rx(4096);
  while (!Stopping()) {
    CheckReturn();
    const int got = at.port->Read(rx.data(), rx.size(), kPollMs);
    if (got < 0) {
      PauseUntil(Clock::now() + std::chrono::milliseconds(kPollMs));
      continue;
    }
    if (got == 0) continue;
    if (!Present()) {
      at.line.Clear();
      continue;
    }
    const auto count = static_cast<size_t>(got);
    for (size_t offset = 0; offset < count;) {
      offset += at.line.Feed(rx.data() + offset, count - offset);
      if (!at.line.Ready()) continue;
      AtAnswer answer;
      {
        std::lock_guard lock(mutex_);
        answer = at_.Answer(at.role, at.line.Command());
        atTranscript_.push_back({at.com, Now(), std::string(at.line.Command()), answer.text});
      }
      at.line.Next();
      at.port->Write(answer.text.data(), answer.text.size(), kWriteTimeoutMs);
      Notify();
      if (answer.reenumerate) {
        // The restart drops whatever else the host had sent.
        at.line.Clear();
        BeginReenumeration();
        break;
      }
    }
  }
}

void Device::SyncListing() {
  std::lock_guard sync(listing_);
  bool wantDiag;
  bool wantAt;
  bool diag;
  bool at;
  {
    std::lock_guard lock(mutex_);
    const bool present = plugged_ && !powerOn_ && !reenumerating_ && !hungUp_;
    wantDiag = present && core_.Listed();
    wantAt = present && !atPorts_.empty();
    diag = listed_;
    at = atListed_;
  }
  if (wantDiag == diag && wantAt == at) return;
  // Coming, the ports are there before their map entries; going, the map
  // entries leave first: whoever reads the map can open what it lists.
  const auto link = [&](bool on) {
    if (wantDiag != diag && wantDiag == on) {
      if (on) port_->Link(); else port_->Unlink();
    }
    if (wantAt != at && wantAt == on) {
      for (const auto& p : atPorts_) {
        if (on) p->port->Link(); else p->port->Unlink();
      }
    }
  };
  const auto map = [&](bool on) {
    const auto change = [on](const std::string& name, unsigned com) {
      if (on) plat::SerialMapWriter::AddValue(name, "COM" + std::to_string(com)); else plat::SerialMapWriter::RemoveValue(name);
    };
    if (wantDiag != diag && wantDiag == on) change(mapName_, config_.com);
    if (wantAt != at && wantAt == on) {
      for (const auto& p : atPorts_) change(p->mapName, p->com);
    }
  };
  map(false);
  link(false);
  link(true);
  map(true);
  std::lock_guard lock(mutex_);
  listed_ = wantDiag;
  atListed_ = wantAt;
}

Status Device::StatusLocked() const {
  return {core_.GetState(), core_.Transcript().size(), replies_, core_.BadCrcCount(), core_.ResetCount(), listed_,
          plugged_, atListed_, reenumerations_, atTranscript_.size()};
}

AtModes Device::Modes() const {
  std::lock_guard lock(mutex_);
  return at_.Modes();
}

std::vector<AtEntry> Device::AtTranscript(size_t from) const {
  std::lock_guard lock(mutex_);
  if (from >= atTranscript_.size()) return {};
  return {atTranscript_.begin() + static_cast<std::ptrdiff_t>(from), atTranscript_.end()};
}

Status Device::GetStatus() const {
  std::lock_guard lock(mutex_);
  return StatusLocked();
}

State Device::GetState() const {
  std::lock_guard lock(mutex_);
  return core_.GetState();
}

std::vector<TranscriptEntry> Device::Transcript(size_t from) const {
  std::lock_guard lock(mutex_);
  const auto& all = core_.Transcript();
  if (from >= all.size()) return {};
  return {all.begin() + static_cast<std::ptrdiff_t>(from), all.end()};
}

std::vector<WriteRecord> Device::WriteLog() const {
  std::lock_guard lock(mutex_);
  return core_.WriteLog();
}

std::vector<uint8_t> Device::FlashBytes(uint32_t address, uint32_t length) const {
  std::lock_guard lock(mutex_);
  if (address >= kFlashSize || core_.FlashData() == nullptr) return {};
  const uint8_t* begin = core_.FlashData() + address;
  return {begin, begin + std::min(length, kFlashSize - address)};
}

std::vector<uint8_t> Device::RamBytes(uint32_t address, uint32_t length) const {
  std::lock_guard lock(mutex_);
  if (address < kRamBase || address - kRamBase >= kRamSize) return {};
  const uint32_t offset = address - kRamBase;
  const uint8_t* begin = core_.RamData() + offset;
  return {begin, begin + std::min(length, kRamSize - offset)};
}

bool Device::FlashFileOk() const {
  std::lock_guard lock(mutex_);
  return core_.FlashFileOk();
}

void Device::AddKnob(const Knob& knob) {
  std::lock_guard lock(mutex_);
  core_.AddKnob(knob);
}

void Device::ClearKnobs() {
  std::lock_guard lock(mutex_);
  core_.ClearKnobs();
}

bool Device::WaitFor(const std::function<bool(const Status&)>& done, uint32_t realMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(realMs), [&] { return done(StatusLocked()); });
}

bool Device::WaitForState(State state, uint32_t realMs) const {
  return WaitFor([state](const Status& s) { return s.state == state; }, realMs);
}

bool Device::WaitForFrames(size_t count, uint32_t realMs) const {
  return WaitFor([count](const Status& s) { return s.frames >= count; }, realMs);
}

bool Device::WaitForReplies(size_t count, uint32_t realMs) const {
  return WaitFor([count](const Status& s) { return s.replies >= count; }, realMs);
}

bool Device::WaitForResets(uint32_t count, uint32_t realMs) const {
  return WaitFor([count](const Status& s) { return s.resets >= count; }, realMs);
}

bool Device::WaitForListed(bool listed, uint32_t realMs) const {
  const bool hasAt = !atPorts_.empty();
  return WaitFor([=](const Status& s) { return s.listed == listed && (!hasAt || s.atListed == listed); }, realMs);
}

}  // namespace sim
