// Call events, the network time, call progress and the device's error line.
#include <cstdint>

#include "link/fields.h"
#include "link/handler_families.h"
#include "link/indications.h"
#include "link/trace.h"

using families::Lead;
using families::OneSpace;
using families::Spaces;
using families::LineCopy;
using families::LineSpec;
using families::ValueRule;
using families::ValueSpec;

namespace {


const ValueSpec CallAAState{.trace = "dll_CallAAStateInd\n", .skip = 10, .lead = {.set = " ", .once = true},
    .rule = ValueRule::Char, .constant = 0, .malformedUpTo = -1, .needsCr = true};
const ValueSpec Incomingcall{.trace = "dll_IncomingcallInd\n", .skip = 4, .lead = {}, .rule = ValueRule::Constant,
    .constant = 4};
const ValueSpec Callstate{.trace = "dll_CallstateInd\n", .skip = 18, .lead = {}, .rule = ValueRule::Constant,
    .constant = 1, .malformedUpTo = -1, .needsCr = true};

const LineSpec CallingNum{.trace = "dll_CallingNumInd\n", .skip = 6, .lead = {.set = " \""}, .stops = "\",\r",
    .copy = LineCopy::Text, .capacity = 259, .then = "\r"};
const LineSpec ParenList{.trace = nullptr, .skip = 6, .lead = {.set = " ("}, .stops = ")\r", .copy = LineCopy::Text};
const LineSpec Missedcall{.trace = "dll_MissedcallInd\n", .skip = 12, .lead = {}, .stops = "\r\n",
    .copy = LineCopy::None};
const LineSpec NoCarrier{.trace = "dll_NoCarrierInd\n", .skip = 10, .lead = {}, .stops = "\r\n", .copy = LineCopy::None,
    .capacity = 259, .then = {}, .signal = true};
const LineSpec VpRingBack{.trace = "dll_VpRingBackInd\n", .skip = 10, .lead = {}, .stops = "\r\n",
    .copy = LineCopy::None};
const LineSpec VpConnected{.trace = "dll_VpConnectedInd\n", .skip = 11, .lead = {}, .stops = "\r\n",
    .copy = LineCopy::None};
const LineSpec VpIncoming{.trace = "dll_VpIncomingInd\n", .skip = 7, .lead = Spaces, .stops = "\r\n",
    .copy = LineCopy::TextNul};
const LineSpec VpCallEnd{.trace = "dll_VpCallEndInd\n", .skip = 5, .lead = Spaces, .stops = "\r\n",
    .copy = LineCopy::TextNul};
const LineSpec PhoneError{.trace = "dll_PhoneErrorInd\n", .skip = 11, .lead = Spaces, .stops = "\r\n",
    .copy = LineCopy::Text, .capacity = 259, .then = {}, .signal = true, .traceCopy = true};

const families::DateSpec Time{.trace = "dll_timeInd\n", .lead = Spaces, .fieldCount = 6, .toLineEnd = true};

}  // namespace

int32_t dll_CallrelInd(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_CallrelInd\n");
  constexpr int32_t LiteralLength = 16;  // "VOICE CALL : END"
  if (available <= LiteralLength) return -2;
  fields::Cursor cursor(text, available);
  cursor.Skip(LiteralLength);
  cursor.SkipIf(' ');
  cursor.SkipIf(':');
  cursor.SkipIf(' ');
  // The tail belongs to this line only.
  cursor.SkipWithinLine(6);
  const uint8_t value = 0;
  return fields::Commit(cursor, {.id = id, .payload = &value, .length = 1});
}

FAMILY_HANDLER(dll_CallAAStateInd, Value, CallAAState)
FAMILY_HANDLER(dll_IncomingcallInd, Value, Incomingcall)
FAMILY_HANDLER(dll_CallstateInd, Value, Callstate)
FAMILY_HANDLER(dll_CallingNumInd, Line, CallingNum)
FAMILY_HANDLER(dll_timeInd, Date, Time)
FAMILY_HANDLER(dll_ParenListInd, Line, ParenList)
FAMILY_HANDLER(dll_MissedcallInd, Line, Missedcall)
FAMILY_HANDLER(dll_NoCarrierInd, Line, NoCarrier)
FAMILY_HANDLER(dll_VpRingBackInd, Line, VpRingBack)
FAMILY_HANDLER(dll_VpConnectedInd, Line, VpConnected)
FAMILY_HANDLER(dll_VpIncomingInd, Line, VpIncoming)
FAMILY_HANDLER(dll_VpCallEndInd, Line, VpCallEnd)
FAMILY_HANDLER(dll_PhoneErrorInd, Line, PhoneError)
