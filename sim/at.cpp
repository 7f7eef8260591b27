#include "sim/at.h"

#include <optional>
#include <utility>

namespace sim {
namespace {

// Answers in the verbose form: each line between CR LF pairs, the final
// result last, so that one write carries a whole answer.
AtAnswer Final(std::string_view result) { return {"\r\n" + std::string(result) + "\r\n", false}; }
AtAnswer Ok() { return Final("OK"); }
AtAnswer Error() { return Final("ERROR"); }
AtAnswer Info(std::string_view line, bool reenumerate = false) {
  return {"\r\n" + std::string(line) + "\r\n\r\nOK\r\n", reenumerate};
}

// A decimal number of one to three digits and nothing else.
std::optional<unsigned> Number(std::string_view text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

// Takes a double-quoted text off the front of `text`.
std::optional<std::string_view> Quoted(std::string_view& text) {
  if (text.empty() || text.front() != '"') return std::nullopt;
  const size_t close = text.find('"', 1);
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view inner = text.substr(1, close - 1);
  text.remove_prefix(close + 1);
  return inner;
}

bool TakePrefix(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

// Where the line's first "AT" starts, in whatever case.
size_t CommandStart(std::string_view line) {
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if ((line[i] | 0x20) == 'a' && (line[i + 1] | 0x20) == 't') return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string_view AtRoleName(AtRole role) {
  switch (role) {
    case AtRole::Modem: return "modem";
    case AtRole::DualModem: return "dual-modem";
    case AtRole::DualAt: return "dual-at";
    case AtRole::LineFeedModem: return "line-feed-modem";
  }
  return "?";
}

AtCore::AtCore(std::string versionText, std::string accessCode, AtModes modes, SwitchRestart restart)
    : versionText_(std::move(versionText)), accessCode_(std::move(accessCode)), modes_(modes), restart_(restart) {}

AtAnswer AtCore::Answer(AtRole role, std::string_view command) {
  if (command == "AT+CINQP?") return Inquiry(role);
  if (command == "AT+CGMR") return Info("+CGMR: NUVO " + versionText_ + " SIM [Nuvo simulated device]");
  if (command == "AT+SWITCHDC") {
    modes_.dualChannel = true;
    return Ok();
  }
  std::string_view rest = command;
  if (TakePrefix(rest, "AT+CSWITCHDM")) {
    if (rest == "?") return Info("+CSWITCHDM: " + std::to_string(modes_.diag));
    if (TakePrefix(rest, "=")) return DiagSwitch(rest);
  } else if (TakePrefix(rest, "AT+CSWITCHFTM")) {
    return ModeSwitch("+CSWITCHFTM: ", modes_.factory, rest);
  } else if (TakePrefix(rest, "AT+CSWITCHTEST")) {
    return ModeSwitch("+CSWITCHTEST: ", modes_.test, rest);
  } else if (TakePrefix(rest, "AT+CFUN")) {
    if (rest == "?") return Info("+CFUN: " + std::to_string(modes_.fun));
    if (TakePrefix(rest, "=")) return Functionality(rest);
  }
  return Error();
}

AtAnswer AtCore::Inquiry(AtRole role) const {
  switch (role) {
    case AtRole::Modem: return Info("+CINQP: MODEM PORT,y2");
    case AtRole::DualModem: return Info("+CINQP: MODEM PORTy,1");
    case AtRole::DualAt: return Info("+CINQP: AT ONLY PORTy,2");
    case AtRole::LineFeedModem: return Info("+CINQP: MODEM PORTy");
  }
  return Error();
}

// "<mode>,"<code>"", or for mode 2 with a second quoted text behind; the
// code is checked before the mode, as a locked device tells nothing about
// what it would do.
AtAnswer AtCore::DiagSwitch(std::string_view arguments) {
  const size_t comma = arguments.find(',');
  if (comma == std::string_view::npos) return Error();
  const std::optional<unsigned> mode = Number(arguments.substr(0, comma));
  std::string_view rest = arguments.substr(comma + 1);
  const std::optional<std::string_view> code = Quoted(rest);
  if (!mode || !code) return Error();
  if (TakePrefix(rest, ",") && !Quoted(rest)) return Error();
  if (!rest.empty()) return Error();
  if (*code != accessCode_) return Info("+CSWITCHDM: INCORRECT PASSWORD");
  if (*mode > 1) return Info("+CSWITCHDM: FAIL");
  const bool changed = modes_.diag != *mode;
  modes_.diag = static_cast<uint8_t>(*mode);
  return Info("+CSWITCHDM: SUCCEED", changed && restart_ == SwitchRestart::AnyChange);
}

// "?" for the state, "=<d>" to switch: the same mode again is a repeat,
// anything but 0 and 1 a failure.
AtAnswer AtCore::ModeSwitch(std::string_view name, uint8_t& mode, std::string_view arguments) {
  const std::string prefix(name);
  if (arguments == "?") return Info(prefix + std::to_string(mode));
  if (!TakePrefix(arguments, "=")) return Error();
  const std::optional<unsigned> wanted = Number(arguments);
  if (!wanted) return Error();
  if (*wanted > 1) return Info(prefix + "FAIL");
  if (*wanted == mode) return Info(prefix + "REPEAT");
  mode = static_cast<uint8_t>(*wanted);
  return Info(prefix + "SUCCEED", restart_ == SwitchRestart::AnyChange || mode == 1);
}

// Levels 0 to 7; 6 restarts the device, which then runs at full
// functionality again.
AtAnswer AtCore::Functionality(std::string_view arguments) {
  const std::optional<unsigned> level = Number(arguments);
  if (!level || *level > 7) return Error();
  if (*level == 6) {
    modes_.fun = 1;
    return {Ok().text, true};
  }
  modes_.fun = static_cast<uint8_t>(*level);
  return Ok();
}

size_t AtLine::Feed(const uint8_t* data, size_t count) {
  size_t used = 0;
  while (used < count && !ready_) {
    const char c = static_cast<char>(data[used++]);
    if (c == '\n') continue;
    if (c == '\x7E') {
      Clear();
      continue;
    }
    if (c != '\r') {
      if (line_.size() < kMaxLine) {
        line_.push_back(c);
      } else {
        overflow_ = true;
      }
      continue;
    }
    const size_t start = CommandStart(line_);
    if (!overflow_ && start != std::string::npos) {
      command_ = line_.substr(start);
      ready_ = true;
    }
    line_.clear();
    overflow_ = false;
  }
  return used;
}

void AtLine::Next() {
  command_.clear();
  ready_ = false;
}

void AtLine::Clear() {
  line_.clear();
  overflow_ = false;
  Next();
}

}  // namespace sim
