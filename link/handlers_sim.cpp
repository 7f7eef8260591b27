// The SIM card, PIN entry and personalisation locks; the own number, the
// phonebook storage, call forwarding and call waiting.
#include <cstdint>
#include <string_view>

#include "link/fields.h"
#include "link/handler_families.h"
#include "link/ids.h"
#include "link/indication_state.h"
#include "link/indications.h"
#include "link/linklayer.h"
#include "link/trace.h"

using fields::Commit;
using fields::Cursor;

const char* const PersoLockStateTable[8][3] = {
    {"READY", "SIM PIN", "SIM PUK"},
    {"READY", "PH-FSIM PIN", "PH-FSIM PUK"},
    {"READY", "PH-NET PIN", "PH-NET PUK"},
    {"READY", "PH-NETSUB PIN", "PH-NETSUB PUK"},
    {"READY", "PH-SP PIN", "PH-SP PUK"},
    {"READY", "PH-CORP PIN", "PH-CORP PUK"},
    {"READY", "SIM PIN2", "SIM PUK2"},
    {"", "", ""},
};

const char* const PbStorageNames[6] = {"DC", "MC", "RC", "SM", "ME", "FD"};

namespace {

struct NamedState {
  std::string_view literal;
  uint8_t state;
};

// The first literal the text holds gives the state; the longer texts that
// hold a shorter one come first.
constexpr NamedState PinStates[] = {
    {"READY", 0},         {"SIM PIN2", 5},    {"SIM PUK2", 6},      {"PH-SIM PIN", 3},
    {"PH-NET PIN", 7},    {"PH-FSIM PIN", 9}, {"PH-NETSUB PIN", 11}, {"PH-SP PIN", 13},
    {"PH-CORP PIN", 15},  {"SIM PIN", 1},     {"SIM PUK", 2},
};
constexpr uint8_t PinStateUnknown = 17;

constexpr NamedState SimStates[] = {
    {"+NOSIM", 1}, {"+SIMREADY", 0}, {"+SIMPIN", 2}, {"+SIMPUK", 3}, {"+SIMLOCK", 5}, {"+SIMBAD", 4},
};

template <size_t N>
uint8_t FirstContained(const Cursor& cursor, const NamedState (&states)[N], uint8_t none) {
  for (const NamedState& named : states) {
    if (cursor.Contains(named.literal)) return named.state;
  }
  return none;
}

constexpr std::string_view Digits = "0123456789";

const families::TokenSpec OwnNumber{.trace = "dll_OwnNumberInd\n", .skip = 6, .lead = {.set = " ,\""}, .set = Digits,
    .capacity = 259};

}  // namespace

int32_t SimStatusInd(int32_t id, const char* text, int32_t available) {
  DllTrace("SimStatusInd\n");
  constexpr std::string_view LockResult = "+RLOCK: 1,";
  Cursor cursor(text, available);
  uint8_t state = 0;
  const bool lockResult = cursor.Contains(LockResult, 0);
  if (lockResult) {
    cursor.Skip(static_cast<int32_t>(LockResult.size()));
    state = cursor.Contains("PASS") ? 6 : cursor.Contains("FAIL") ? 7 : 0;
    cursor.SkipTo("\r");
    cursor.SkipLineEnds();
  } else {
    cursor.Skip(7);  // "+RLOCK:"
    cursor.SkipIf(' ');
    state = FirstContained(cursor, SimStates, 0);
    cursor.SkipTo("\r");
  }
  if (cursor.Incomplete()) return -1;
  if (!lockResult) PinRetryTimes = 99;
  return Commit(cursor, {.id = id, .payload = &state, .length = 1});
}

int32_t PinStatusInd(int32_t id, const char* text, int32_t available) {
  return families::PinResult("PinStatusInd\n", id, text, available);
}
int32_t Pin2StatusInd(int32_t id, const char* text, int32_t available) {
  return families::PinResult("Pin2StatusInd\n", id, text, available);
}

int32_t PinVerifyInd(int32_t id, const char* text, int32_t available) {
  DllTrace("PinVerifyInd\n");
  const uint8_t atEntry = PinRetryTimes;
  Cursor cursor(text, available);
  cursor.Skip(6);
  cursor.SkipAny(" ");
  if (fields::IsDigit(cursor.Peek())) {
    const auto count = static_cast<uint8_t>(cursor.Run());
    if (cursor.Incomplete()) return -1;
    PinRetryTimes = count;
    return Commit(cursor, {.id = IdPinRetryTimes, .payload = &count, .length = 1});
  }
  const uint8_t report[2] = {FirstContained(cursor, PinStates, PinStateUnknown), atEntry};
  if (cursor.Incomplete()) return -1;
  PinRetryTimes = 99;
  return Commit(cursor, {.id = id, .payload = report, .length = 2});
}

int32_t PinTimesInd(int32_t, const char* text, int32_t available) {
  Cursor cursor = families::Start("PinTimesInd\n", text, available, 17, families::Spaces);
  const auto count = static_cast<uint8_t>(cursor.Run());
  if (cursor.Incomplete()) return -1;
  PinRetryTimes = count;
  return Commit(cursor, {.id = IdPinRetryTimes, .payload = &count, .length = 1});
}

int32_t PersoStatusInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("PersoStatusInd\n", text, available, 11, families::OneSpace);
  uint8_t states[7] = {};
  int32_t count = 0;
  for (int lock = 0; lock < 7 && PersoLockStateTable[lock][0][0] != '\0'; ++lock) {
    states[lock] = PersoStateUnknown;
    for (uint8_t column = 0; column < 3; ++column) {
      if (cursor.StartsWith(PersoLockStateTable[lock][column], true)) {
        states[lock] = column;
        break;
      }
    }
    count = lock + 1;
    cursor.SkipTo(",\r\n");
    if (fields::IsLineEnd(cursor.Peek())) break;
    cursor.Skip(1);
  }
  cursor.SkipTo("\r");
  return Commit(cursor, {.id = id, .payload = states, .length = count});
}

int32_t PersoPwdInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("PersoPwdInd\n", text, available, 10, families::OneSpace);
  char gathered[260];
  fields::Outcome outcome{.id = id};
  if (fields::IsDigit(cursor.Peek()) && !fields::IsDigit(cursor.Peek(1))) {
    // A list of single digits: one byte each, the rest of the line passed over.
    int32_t count = 0;
    for (;;) {
      const char c = cursor.Peek();
      if (cursor.Incomplete() || fields::IsLineEnd(c)) break;
      if (fields::IsDigit(c) && count < 12) gathered[count++] = static_cast<char>(fields::DigitValue(c));
      cursor.Skip(1);
    }
    outcome.payload = gathered;
    outcome.length = count;
  } else if (fields::IsDigit(cursor.Peek())) {
    outcome = {.id = IdPersoCode, .payload = gathered, .length = cursor.CopyRun(gathered, 11, Digits)};
  } else if (cursor.Contains("INCORRECT PASSWORD")) {
    const int32_t copied = cursor.CopyTo(gathered, 259, "\r\n");
    outcome = {.id = IdPersoIncorrectPassword, .payload = gathered, .length = copied, .signal = true};
  }
  return Commit(cursor, outcome);
}

FAMILY_HANDLER(AddPersoInd, PersoEntry, "IS EXIST", IdPersoExists)
FAMILY_HANDLER(DelPersoInd, PersoEntry, "IS NOT EXIST", IdPersoNotExists)

FAMILY_HANDLER(dll_OwnNumberInd, Token, OwnNumber)

int32_t dll_PbStorageInd(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_PbStorageInd\n");
  Cursor cursor(text, available);
  cursor.Skip(6);
  cursor.SkipAny(" \"");
  PbStorageRecord record{};
  record.storage = -1;
  for (int32_t index = 0; index < 6 && record.storage < 0; ++index) {
    if (cursor.StartsWith(PbStorageNames[index])) record.storage = index;
  }
  if (cursor.Incomplete()) return -1;
  if (record.storage < 0) {
    DllTrace("PbStorageInd Error\n");
    return -2;
  }
  // The name, its closing quote and the comma, not looked at: on a line
  // that ends after the name this takes the next line's first number.
  cursor.Skip(4);
  record.used = static_cast<int32_t>(cursor.Run());
  cursor.Skip(1);
  record.total = static_cast<int32_t>(cursor.Run());
  const int32_t result = Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
  if (result > 0) DllTrace("Put PbStorageInd\n");
  return result;
}

namespace {

// The answer to a query of supplementary values: the line is passed over
// and nothing is queued.
bool SupportedValues(Cursor& cursor) {
  if (cursor.Peek() != '(') return false;
  cursor.SkipTo("\r");
  return true;
}

// The request counts as answered as soon as the answer starts, whatever
// follows.
void AnswerStarts(const char* trace, Cursor& cursor) {
  DllTrace(trace);
  ParsingLink().SignalResponse();
  cursor.Skip(6);
  cursor.SkipAny(" ");
}

}  // namespace

int32_t dll_CallForwardStateInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor(text, available);
  AnswerStarts("dll_CallForwardStateInd\n", cursor);
  if (SupportedValues(cursor)) return Commit(cursor, {.queue = false});

  CallForwardRecord record{};
  record.status = static_cast<unsigned char>(cursor.Take()) - 48;
  enum class Field { None, Number, Type, Subaddress, SubaddressType, Time } field = Field::None;
  int32_t numberLength = 0;
  // The number keeps 31 bytes: the NUL written at each close counts too.
  const auto append = [&](char c) {
    if (numberLength < static_cast<int32_t>(sizeof record.number) - 1) record.number[numberLength++] = c;
  };
  // Decimal fields wrap unsigned; a '+' counts as a digit of value -5.
  const auto accumulate = [](int32_t value, char c) {
    return static_cast<int32_t>(static_cast<uint32_t>(value) * 10u + static_cast<uint32_t>(c - '0'));
  };
  for (;;) {
    char c = cursor.Peek();
    if (cursor.Incomplete()) break;
    if (fields::IsDigit(c) || c == '+') {
      if (field == Field::Number) append(c);
      if (field == Field::Type) record.type = accumulate(record.type, c);
      if (field == Field::Time) record.time = accumulate(record.time, c);
      cursor.Skip(1);
      continue;
    }
    if (field == Field::Number) {
      append('\0');
      cursor.Skip(1);
      c = cursor.Peek();
      if (cursor.Incomplete()) break;
    }
    if (c == ',') {
      if (field == Field::Number) field = Field::Type;
      else if (field == Field::Type) field = Field::Subaddress;
      else if (field == Field::Subaddress) field = Field::SubaddressType;
      else if (field == Field::SubaddressType) field = Field::Time;
    } else if (c == '"') {
      field = Field::Number;
    } else if (fields::IsLineEnd(c)) {
      break;
    }
    cursor.Skip(1);
  }
  return Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
}

int32_t dll_CallWaitStateInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor(text, available);
  AnswerStarts("dll_CallWaitStateInd\n", cursor);
  if (SupportedValues(cursor)) return Commit(cursor, {.queue = false});
  const uint8_t value = fields::DigitValue(cursor.Take());
  cursor.SkipTo("\r");
  return Commit(cursor, {.id = id, .payload = &value, .length = 1});
}
