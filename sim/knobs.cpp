#include "sim/knobs.h"

#include <array>
#include <charconv>
#include <utility>

#include "sim/names.h"

namespace sim {
namespace {

constexpr std::array<std::pair<Step, std::string_view>, 17> kSteps{{
    {Step::Any, "any"},
    {Step::Version, "version"},
    {Step::Switch, "switch"},
    {Step::Status, "status"},
    {Step::Nop, "nop"},
    {Step::Param, "param"},
    {Step::WriteRam, "write-ram"},
    {Step::Go, "go"},
    {Step::Hello, "hello"},
    {Step::StreamWrite, "stream-write"},
    {Step::Read, "read"},
    {Step::Reset, "reset"},
    {Step::SecurityMode, "security-mode"},
    {Step::PartitionTable, "partition-table"},
    {Step::OpenImage, "open-image"},
    {Step::CloseImage, "close-image"},
    {Step::Unknown, "unknown"},
}};

constexpr std::array<std::pair<Fault, std::string_view>, 12> kFaults{{
    {Fault::Silence, "silence"},
    {Fault::WrongCode, "wrong-code"},
    {Fault::Delay, "delay"},
    {Fault::Gap, "gap"},
    {Fault::ShortRead, "short-read"},
    {Fault::LongRead, "long-read"},
    {Fault::BadCrc, "bad-crc"},
    {Fault::Garbage, "garbage"},
    {Fault::HelloLongName, "hello-long-name"},
    {Fault::HelloNameBeyondFrame, "hello-name-beyond-frame"},
    {Fault::HangUp, "hang-up"},
    {Fault::SilenceAfterReset, "silence-after-reset"},
}};

// A decimal or 0x-prefixed number, or "always"/"forever" for the largest.
template <typename Int>
bool ParseNumber(std::string_view text, Int& out) {
  if (text == "always" || text == "forever") {
    out = static_cast<Int>(kForever);
    return true;
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string_view StepName(Step step) { return NameOf(kSteps, step); }
std::string_view FaultName(Fault fault) { return NameOf(kFaults, fault); }
std::optional<Step> StepByName(std::string_view name) { return KeyOf(kSteps, name); }
std::optional<Fault> FaultByName(std::string_view name) { return KeyOf(kFaults, name); }

std::optional<Knob> ParseKnob(std::string_view text) {
  Knob knob;
  bool first = true;
  while (!text.empty() || first) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    if (first) {
      const auto fault = FaultByName(item);
      if (!fault) return std::nullopt;
      knob.fault = *fault;
      first = false;
      continue;
    }
    const size_t equals = item.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = item.substr(0, equals);
    const std::string_view value = item.substr(equals + 1);
    bool ok = false;
    if (key == "step") {
      const auto step = StepByName(value);
      ok = step.has_value();
      if (ok) knob.step = *step;
    } else if (key == "request") {
      ok = ParseNumber(value, knob.request) && knob.request >= 0;
    } else if (key == "skip") {
      ok = ParseNumber(value, knob.skip);
    } else if (key == "times") {
      ok = ParseNumber(value, knob.times);
    } else if (key == "value") {
      ok = ParseNumber(value, knob.value);
    }
    if (!ok) return std::nullopt;
  }
  return knob;
}

}  // namespace sim
