// Fault knobs: ways the simulated device can misbehave, each aimed at the
// requests of one protocol step or at one request by its number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The host's requests as the device tells them apart: by code and by the
// state the device is in (07 is the parameter request in download mode and a
// stream write once the programmer runs).
enum class Step : uint8_t {
  Any,             // every request (for knobs)
  Version,         // 00, running firmware
  Switch,          // 3A, running firmware
  Status,          // 0C, running firmware or boot loader
  Nop,             // 06, download mode
  Param,           // 07, download mode
  WriteRam,        // 0F, download mode
  Go,              // 05, download mode
  Hello,           // 01, programmer
  StreamWrite,     // 07, programmer
  Read,            // 03, programmer
  Reset,           // 0B, programmer
  SecurityMode,    // 17, programmer
  PartitionTable,  // 19, programmer
  OpenImage,       // 1B, programmer
  CloseImage,      // 15, programmer
  Unknown,         // anything else
};

enum class Fault : uint8_t {
  Silence,               // no reply, and the request has no effect
  WrongCode,             // the reply's code byte becomes `value`
  Delay,                 // the reply goes out `value` ms (system time) late
  Gap,                   // the reply's second half follows its first `value` ms (system time) later
  ShortRead,             // a flash read reply carries one data byte fewer
  LongRead,              // a flash read reply carries one data byte more
  BadCrc,                // the reply's CRC does not match
  Garbage,               // `value` bytes of noise (4 when 0), without a flag, before the reply
  HelloLongName,         // the hello reply names a flash of 200 characters
  HelloNameBeyondFrame,  // the hello reply's name length says 200, the frame ends after the real name
  HangUp,                // instead of replying, the line is hung up and the device unplugged
  SilenceAfterReset,     // after this reset the device stays silent `value` ms (kForever: for good)
};

inline constexpr uint32_t kForever = 0xFFFFFFFFu;
inline constexpr uint32_t kAlways = 0xFFFFFFFFu;

// A knob applies to the requests it selects, `step` (Step::Any: all) and,
// when `request` is set, only the request of that number (its index in the
// transcript); of those it passes over the first `skip` and then applies
// `times` times.
struct Knob {
  Fault fault = Fault::Silence;
  Step step = Step::Any;
  int64_t request = -1;
  uint32_t skip = 0;
  uint32_t times = kAlways;
  uint32_t value = 0;
};

std::string_view StepName(Step step);
std::string_view FaultName(Fault fault);
std::optional<Step> StepByName(std::string_view name);
std::optional<Fault> FaultByName(std::string_view name);

// Reads "FAULT[,step=STEP][,request=N][,skip=K][,times=T][,value=V]", e.g.
// "delay,step=nop,value=12000"; times and value also take "always" and
// "forever". Nothing on a malformed text.
std::optional<Knob> ParseKnob(std::string_view text);

}  // namespace sim
