#include "link/handler_families.h"

#include <cstdio>
#include <cstring>

#include "link/ids.h"
#include "link/indications.h"
#include "link/trace.h"

namespace families {

using fields::Commit;
using fields::Cursor;
using fields::Outcome;

void SkipLead(Cursor& cursor, const Lead& lead) {
  if (lead.set.empty()) return;
  if (lead.once) {
    if (fields::OneOf(cursor.Peek(), lead.set) && !cursor.Incomplete()) cursor.Skip(1);
  } else {
    cursor.SkipAny(lead.set);
  }
}

Cursor Start(const char* trace, const char* text, int32_t available, int32_t skip, const Lead& lead) {
  if (trace != nullptr) DllTrace(trace);
  Cursor cursor(text, available);
  cursor.Skip(skip);
  SkipLead(cursor, lead);
  return cursor;
}

namespace {

bool HasCr(const Cursor& cursor) { return cursor.Contains("\r", 0); }

}  // namespace

int32_t Value(const ValueSpec& spec, int32_t id, const char* text, int32_t available) {
  DllTrace(spec.trace);
  Cursor cursor(text, available);
  if (available <= spec.malformedUpTo) return -2;
  if (spec.needsCr && !HasCr(cursor)) return -1;
  cursor.Skip(spec.skip);
  SkipLead(cursor, spec.lead);
  uint8_t value = spec.constant;
  switch (spec.rule) {
    case ValueRule::Run:
      value = static_cast<uint8_t>(cursor.Run());
      break;
    case ValueRule::DigitOrZero:
      value = fields::IsDigit(cursor.Peek()) ? fields::DigitValue(cursor.Take()) : 0;
      break;
    case ValueRule::Char:
      value = fields::DigitValue(cursor.Take());
      break;
    case ValueRule::Constant:
      break;
  }
  return Commit(cursor, {.id = id, .payload = &value, .length = 1});
}

int32_t Line(const LineSpec& spec, int32_t id, const char* text, int32_t available) {
  if (spec.trace != nullptr) DllTrace(spec.trace);
  Cursor cursor(text, available);
  cursor.Skip(spec.skip);
  SkipLead(cursor, spec.lead);
  char copied[260] = {};
  const int32_t capacity = spec.capacity < 259 ? spec.capacity : 259;
  uint8_t noted = 0;
  Outcome outcome{.id = id, .payload = &noted, .length = 1, .signal = spec.signal};
  if (spec.copy == LineCopy::None) {
    cursor.SkipTo(spec.stops);
  } else {
    const int32_t stored = cursor.CopyTo(copied, capacity, spec.stops);
    outcome.payload = copied;
    outcome.length = stored + (spec.copy == LineCopy::TextNul ? 1 : 0);
  }
  if (!spec.then.empty()) cursor.SkipTo(spec.then);
  const int32_t result = Commit(cursor, outcome);
  if (result > 0 && spec.traceCopy) {
    DllTrace(copied);
    DllTrace("\n");
  }
  return result;
}

int32_t Token(const TokenSpec& spec, int32_t id, const char* text, int32_t available) {
  DllTrace(spec.trace);
  Cursor cursor(text, available);
  cursor.Skip(spec.skip);
  SkipLead(cursor, spec.lead);
  char copied[260];
  const int32_t capacity = spec.capacity < 260 ? spec.capacity : 260;
  const int32_t stored = cursor.CopyRun(copied, capacity, spec.set);
  return Commit(cursor, {.id = id, .payload = copied, .length = stored});
}

int32_t NetworkValues(const char* trace, int32_t skip, int32_t id, const char* text, int32_t available) {
  DllTrace(trace);
  Cursor cursor(text, available);
  cursor.Skip(skip);
  cursor.SkipIf(' ');
  uint8_t values[2] = {1, fields::DigitValue(cursor.Take())};
  const char next = cursor.Peek();
  if (next == ' ' || next == ',') {
    cursor.Skip(1);
    values[0] = values[1];
    values[1] = fields::DigitValue(cursor.Take());
  }
  return Commit(cursor, {.id = id, .payload = values, .length = 2});
}

namespace {

// A decimal field and the one byte after it; a field without digits that
// stands on the line's end leaves it for the line's end.
uint32_t DateField(Cursor& cursor) {
  int digits = 0;
  const uint32_t value = cursor.Run(&digits);
  if (digits > 0 || !fields::IsLineEnd(cursor.Peek())) cursor.Skip(1);
  return value;
}

}  // namespace

int32_t Date(const DateSpec& spec, int32_t id, const char* text, int32_t available) {
  DllTrace(spec.trace);
  Cursor cursor(text, available);
  DateTimeRecord record{};
  cursor.Skip(6);
  SkipLead(cursor, spec.lead);
  record.year = static_cast<uint16_t>(DateField(cursor));
  uint8_t* const bytes[] = {&record.month, &record.day, &record.hour, &record.minute, &record.second};
  for (int field = 1; field < spec.fieldCount && field <= 5; ++field) {
    *bytes[field - 1] = static_cast<uint8_t>(DateField(cursor));
  }
  if (spec.toLineEnd) cursor.SkipTo("\r\n");
  return Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
}

int32_t PinResult(const char* trace, int32_t id, const char* text, int32_t available) {
  DllTrace(trace);
  Cursor cursor(text, available);
  cursor.Skip(6);
  cursor.SkipAny(" ");
  uint8_t value = 0;
  if (fields::IsDigit(cursor.Peek())) {
    value = fields::DigitValue(cursor.Take());
  } else {
    value = cursor.Contains("SUCCESS") ? 1 : 0;
    id = IdPinResult;
  }
  return Commit(cursor, {.id = id, .payload = &value, .length = 1});
}

int32_t PersoEntry(std::string_view foundText, int32_t foundId, int32_t id, const char* text, int32_t available) {
  Cursor cursor = Start("AddPersoInd\n", text, available, 10, OneSpace);
  PersoEntryRecord record{};
  Outcome outcome{.id = id};
  if (fields::IsDigit(cursor.Peek())) {
    record.index = static_cast<int32_t>(cursor.Run());
    // The separator and quote between the index and the code, which a
    // short line must not take from the next one.
    cursor.SkipWithinLine(2);
    cursor.CopyRun(record.code, sizeof record.code - 1, "0123456789");
    outcome.payload = &record;
    outcome.length = sizeof record;
  } else if (cursor.Contains(foundText)) {
    outcome.id = foundId;
  }
  cursor.SkipTo("\r\n");
  return Commit(cursor, outcome);
}

}  // namespace families
