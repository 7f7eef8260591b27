// Network service, signal, audio and keys, network selection and the
// phone's own information.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "link/fields.h"
#include "link/handler_families.h"
#include "link/ids.h"
#include "link/indications.h"
#include "link/trace.h"

using families::Lead;
using families::OneSpace;
using families::Spaces;
using families::LineCopy;
using families::LineSpec;
using families::TokenSpec;
using families::ValueRule;
using families::ValueSpec;
using fields::Commit;
using fields::Cursor;

namespace {


const ValueSpec EarKey{.trace = "EarKeyInd\n", .skip = 8, .lead = OneSpace, .rule = ValueRule::Char, .constant = 0,
    .malformedUpTo = 8};
const ValueSpec HookKey{.trace = "HookKeyInd\n", .skip = 8, .lead = {}, .rule = ValueRule::Constant, .constant = 0};
const ValueSpec SpeakerVol{.trace = "SpeakerVolInd\n", .skip = 5, .lead = OneSpace, .rule = ValueRule::DigitOrZero,
    .constant = 0, .malformedUpTo = 5};
const ValueSpec NetModePref{.trace = "dll_NetModePrefInd\n", .skip = 6, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec NetAcqSeqPref{.trace = "dll_NetAcqSeqPrefInd\n", .skip = 7, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec NetTrafficDomainPref{.trace = "dll_NetTrafficDomainPrefInd\n", .skip = 7, .lead = Spaces,
    .rule = ValueRule::Run};
const ValueSpec PhoneFunc{.trace = "dll_PhoneFuncInd\n", .skip = 6, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec AutoAnswer{.trace = "dll_AutoAnswerInd\n", .skip = 12, .lead = OneSpace, .rule = ValueRule::Run};
const ValueSpec TemperatureHigh{.trace = "dll_PhoneTemperatureHighInd\n", .skip = 17, .lead = {},
    .rule = ValueRule::Constant, .constant = 1};
const ValueSpec TemperatureLow{.trace = "dll_PhoneTemperatureLowInd\n", .skip = 16, .lead = {},
    .rule = ValueRule::Constant, .constant = 0};

constexpr std::string_view Digits = "0123456789";
const TokenSpec SimImsi{.trace = "dll_SimImsiInd\n", .skip = 6, .lead = OneSpace, .set = Digits, .capacity = 39};
const TokenSpec MeImei{.trace = "dll_MeImeiInd\n", .skip = 6, .lead = OneSpace, .set = Digits, .capacity = 39};

const LineSpec AmssVer{.trace = "dll_AmssVerInd\n", .skip = 10, .lead = OneSpace, .stops = "\r",
    .copy = LineCopy::TextNul, .capacity = 39};

// One signal value: a lone character before the separator is a digit,
// anything else is read as two, but never across the line's end.
uint8_t SignalValue(Cursor& cursor, int32_t length) {
  if (length == 1) return fields::DigitValue(cursor.Take());
  uint8_t value = 0;
  for (int i = 0; i < 2; ++i) {
    const char c = cursor.Peek();
    if (cursor.Incomplete() || fields::IsLineEnd(c)) break;
    value = static_cast<uint8_t>(value * 10 + fields::DigitValue(cursor.Take()));
  }
  return value;
}

// The characters from the position before the next `c`; -1 when none is
// available.
int32_t LengthBefore(const Cursor& cursor, char c) {
  if (cursor.Incomplete()) return -1;
  const std::string_view rest(cursor.Text() + cursor.Position(), static_cast<size_t>(cursor.Left()));
  const size_t found = rest.find(c);
  return found == std::string_view::npos ? -1 : static_cast<int32_t>(found);
}

// Steps over a "," and then a double quote where they stand, copies up to
// the closing quote, which it steps over, without crossing the line's end.
void QuotedField(Cursor& cursor, char* out, int32_t capacity) {
  cursor.SkipIf(',');
  cursor.SkipIf('"');
  cursor.CopyTo(out, capacity, "\"\r");
  cursor.SkipIf('"');
}

int32_t DigitIf(Cursor& cursor) {
  return fields::IsDigit(cursor.Peek()) ? fields::DigitValue(cursor.Take()) : 0;
}

int32_t ReadOperatorList(Cursor& cursor, OperatorEntry* entries) {
  int32_t count = 0;
  while (count < MaxOperatorEntries && !cursor.Incomplete()) {
    OperatorEntry& entry = entries[count++];
    cursor.SkipIf('(');
    cursor.SkipIf(',');
    entry.stat = DigitIf(cursor);
    QuotedField(cursor, entry.longName, sizeof entry.longName - 1);
    QuotedField(cursor, entry.shortName, sizeof entry.shortName - 1);
    QuotedField(cursor, entry.numeric, sizeof entry.numeric - 1);
    cursor.SkipIf(',');
    entry.accessTechnology = DigitIf(cursor);
    cursor.SkipTo(")\r");
    cursor.SkipIf(')');
    cursor.SkipIf(',');
    // The empty field before the supported values ends the list; so does
    // the line's end.
    const char next = cursor.Peek();
    if (next == ',' || next == '\r') break;
  }
  return count;
}

}  // namespace

FAMILY_HANDLER(dll_NetworkServiceInd, NetworkValues, "dll_NetworkServiceInd\n", 6)
FAMILY_HANDLER(dll_PsNetworkServiceInd, NetworkValues, "dll_PsNetworkServiceInd\n", 7)
FAMILY_HANDLER(dll_NetworkModeInd, NetworkValues, "dll_NetworkModeInd\n", 8)

int32_t dll_SignalInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("dll_SignalInd\n", text, available, 5, families::OneSpace);
  uint8_t values[2] = {};
  const int32_t firstLength = LengthBefore(cursor, ',');
  if (firstLength < 0) return -1;
  values[0] = SignalValue(cursor, firstLength);
  cursor.SkipWithinLine(1);
  const int32_t secondLength = LengthBefore(cursor, '\r');
  if (secondLength < 0) return -1;
  values[1] = SignalValue(cursor, secondLength);
  cursor.SkipTo("\r");
  cursor.Skip(1);
  return Commit(cursor, {.id = id, .payload = values, .length = 2});
}

FAMILY_HANDLER(EarKeyInd, Value, EarKey)
FAMILY_HANDLER(HookKeyInd, Value, HookKey)

int32_t VpSwitchInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("VpSwitchInd\n", text, available, 8, families::OneSpace);
  const uint8_t value = cursor.StartsWith("SUCCEED", true) ? 1 : 0;
  cursor.SkipTo("\r\n");
  return Commit(cursor, {.id = id, .payload = &value, .length = 1});
}

int32_t dll_MicVolInd(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_MicVolInd\n");
  constexpr int32_t LiteralLength = 6;  // "+MICG:"
  if (available <= LiteralLength) return -2;
  Cursor cursor(text, available);
  cursor.Skip(LiteralLength);
  cursor.SkipIf(' ');
  // Neither the two characters passed over nor the value leave the line.
  cursor.SkipWithinLine(2);
  uint8_t value = 0;
  if (!fields::IsLineEnd(cursor.Peek())) value = fields::DigitValue(cursor.Take());
  cursor.SkipTo("\r");
  return Commit(cursor, {.id = id, .payload = &value, .length = 1});
}

FAMILY_HANDLER(SpeakerVolInd, Value, SpeakerVol)

int32_t dll_PLMNListInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("dll_PLMNListInd\n", text, available, 6, families::Spaces);
  OperatorEntry entries[MaxOperatorEntries] = {};
  CurrentOperatorRecord current{};
  uint8_t service = 0;
  fields::Outcome outcome{.id = id};
  const char first = cursor.Peek();
  if (first == ',') {
    // An empty list: an indication without entries.
  } else if (fields::IsLetter(first)) {
    service = cursor.StartsWith("IN SERVICE", true) ? 1 : 0;
    outcome = {.id = IdServiceState, .payload = &service, .length = 1};
  } else if (first == '(') {
    const int32_t count = ReadOperatorList(cursor, entries);
    outcome.payload = entries;
    outcome.length = count * static_cast<int32_t>(sizeof(OperatorEntry));
  } else {
    current.mode = DigitIf(cursor);
    outcome.queue = cursor.SkipIf(',');
    if (outcome.queue) {
      current.format = DigitIf(cursor);
      QuotedField(cursor, current.name, sizeof current.name - 1);
      cursor.SkipIf(',');
      current.accessTechnology = DigitIf(cursor);
      outcome = {.id = IdCurrentOperator, .payload = &current, .length = sizeof current};
    }
  }
  cursor.SkipTo("\r");
  cursor.SkipLineEnds();
  return Commit(cursor, outcome);
}

FAMILY_HANDLER(dll_NetModePrefInd, Value, NetModePref)
FAMILY_HANDLER(dll_NetAcqSeqPrefInd, Value, NetAcqSeqPref)
FAMILY_HANDLER(dll_NetTrafficDomainPrefInd, Value, NetTrafficDomainPref)
FAMILY_HANDLER(dll_PhoneFuncInd, Value, PhoneFunc)

int32_t dll_PhoneDiagInfoInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("dll_PhoneDiagInfoInd\n", text, available, 6, families::OneSpace);
  PhoneDiagInfoRecord record{};
  for (auto& slot : record.slots) {
    cursor.CopyTo(slot, sizeof slot - 1, ",\r\n");
    if (fields::IsLineEnd(cursor.Peek())) break;
    cursor.Skip(1);
  }
  return Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
}

FAMILY_HANDLER(dll_PhoneTemperatureHighInd, Value, TemperatureHigh)
FAMILY_HANDLER(dll_PhoneTemperatureLowInd, Value, TemperatureLow)
FAMILY_HANDLER(dll_AutoAnswerInd, Value, AutoAnswer)
FAMILY_HANDLER(dll_SimImsiInd, Token, SimImsi)
FAMILY_HANDLER(dll_MeImeiInd, Token, MeImei)
FAMILY_HANDLER(dll_AmssVerInd, Line, AmssVer)

int32_t dll_HsdapCateInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("dll_HsdapCateInd\n", text, available, 11, families::OneSpace);
  uint8_t category = 8;
  if (fields::IsDigit(cursor.Peek())) {
    const uint8_t value = static_cast<uint8_t>(cursor.Run());
    if (value == 6 || value == 12) category = value;
  } else if (cursor.StartsWith("SUCCESS", true)) {
    category = 13;
  } else if (cursor.StartsWith("FAIL", true)) {
    category = 14;
  }
  cursor.SkipTo("\r");
  cursor.SkipLineEnds();
  return Commit(cursor, {.id = id, .payload = &category, .length = 1});
}
