// The SMS lines: results, counts, format, service centre, storages, the
// prompt for an outgoing text, new-message notes, channels and validity.
#include <cstdint>
#include <cstdio>

#include "link/fields.h"
#include "link/handler_families.h"
#include "link/ids.h"
#include "link/indication_state.h"
#include "link/indications.h"
#include "link/linklayer.h"
#include "link/trace.h"

using families::Lead;
using families::OneSpace;
using families::Spaces;
using families::ValueRule;
using families::ValueSpec;
using fields::Commit;
using fields::Cursor;

namespace {


const ValueSpec SmsMorsp{.trace = "dll_SmsMorspInd\n", .skip = 7, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec SmsSave{.trace = "SmsSaveInd\n", .skip = 6, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec SmsChannel{.trace = "SmsChannelInd\n", .skip = 7, .lead = Spaces, .rule = ValueRule::Run};
const ValueSpec SmsFormat{.trace = "SmsFormatInd\n", .skip = 6, .lead = Spaces, .rule = ValueRule::DigitOrZero};

const families::TokenSpec SmsCenter{.trace = "SmsCenterInd\n", .skip = 6, .lead = {.set = " \""},
    .set = "0123456789+#*", .capacity = 259};
const families::DateSpec SmsValidatePeriod{.trace = "SmsValidatePeriodInd\n", .lead = {.set = " \""}, .fieldCount = 4,
    .toLineEnd = false};

// A count of a storage group; the byte after it is passed over unless the
// count is missing where the line ends.
int32_t Count(Cursor& cursor, bool separator) {
  int digits = 0;
  const auto value = static_cast<int32_t>(cursor.Run(&digits));
  if (separator && (digits > 0 || !fields::IsLineEnd(cursor.Peek()))) cursor.Skip(1);
  return value;
}

void SendPending(const char* data, int32_t length, void* link) {
  static_cast<linklayer*>(link)->pWriteQ->Enqueue(IdRawText, data, length, true);
}

}  // namespace

FAMILY_HANDLER(dll_SmsMorspInd, Value, SmsMorsp)

int32_t dll_SmsMtCntInd(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_SmsMtCntInd\n");
  Cursor cursor(text, available);
  cursor.Skip(8);  // "$$MTCNT:"
  cursor.SkipIf(' ');
  if (cursor.Incomplete()) return -1;
  const char* const field = text + cursor.Position();
  const int comma = FindByte(reinterpret_cast<const unsigned char*>(field), ',', cursor.Left());
  int number = 0;
  const int used = ParseSignedDecimal(&number, field, comma, ',');
  if (used == 0) return -2;
  cursor.Skip(used);
  const uint8_t values[2] = {static_cast<uint8_t>(number), fields::DigitValue(cursor.Take())};
  return Commit(cursor, {.id = id, .payload = values, .length = 2});
}

FAMILY_HANDLER(SmsFormatInd, Value, SmsFormat)

FAMILY_HANDLER(SmsCenterInd, Token, SmsCenter)

int32_t SmsStroageInd(int32_t id, const char* text, int32_t available) {
  Cursor cursor = families::Start("SmsStroageInd\n", text, available, 6, families::Spaces);
  SmsStorageRecord record{};
  const bool quoted = cursor.Peek() == '"';
  for (int group = 0; group < 3; ++group) {
    SmsStorageEntry& entry = record.groups[group];
    if (quoted && cursor.Peek() == '"') {
      cursor.Skip(1);
      entry.storage = cursor.StartsWith("ME") || cursor.StartsWith("MT") ? 1 : 0;
      cursor.Skip(4);
    }
    entry.used = Count(cursor, true);
    entry.total = Count(cursor, group < 2);
  }
  return Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
}

int32_t SmsNewLineInd(int32_t, const char*, int32_t available) {
  if (available < 2) return -1;
  DllTrace("SmsNewLineInd\n");
  linklayer& link = ParsingLink();
  link.SignalResponse();
  TakeSmsPending(&SendPending, &link);
  return 2;
}

FAMILY_HANDLER(SmsSaveInd, Value, SmsSave)

int32_t SmsMtNewInd(int32_t id, const char* text, int32_t available) {
  // The trace shows the line as received, never more than its own bytes.
  int shown = 0;
  while (shown < available && shown < 256 && !fields::IsLineEnd(text[shown])) ++shown;
  char trace[280];
  std::snprintf(trace, sizeof trace, "SmsMtNewInd %.*s\n", shown, text);
  DllTrace(trace);

  Cursor cursor(text, available);
  cursor.Skip(6);
  cursor.SkipAny(" ");
  SmsMtNewRecord record{};
  if (cursor.StartsWith("\"SM\"", true)) {
    record.storage = 0;
  } else if (cursor.StartsWith("\"ME\"", true)) {
    record.storage = 1;
  } else {
    cursor.SkipTo("\r");
    return Commit(cursor, {.queue = false});
  }
  cursor.SkipTo("0123456789\r");
  record.index = static_cast<uint8_t>(cursor.Run());
  return Commit(cursor, {.id = id, .payload = &record, .length = sizeof record});
}

FAMILY_HANDLER(SmsChannelInd, Value, SmsChannel)

FAMILY_HANDLER(SmsValidatePeriodInd, Date, SmsValidatePeriod)
