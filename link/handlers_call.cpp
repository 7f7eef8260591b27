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


const ValueSpec CallAAState{"dll_CallAAStateInd\n", 10, {" ", true}, ValueRule::Char, 0, -1, true};
const ValueSpec Incomingcall{"dll_IncomingcallInd\n", 4, {}, ValueRule::Constant, 4};
const ValueSpec Callstate{"dll_CallstateInd\n", 18, {}, ValueRule::Constant, 1, -1, true};

const LineSpec CallingNum{"dll_CallingNumInd\n", 6, {" \""}, "\",\r", LineCopy::Text, 259, "\r"};
const LineSpec ParenList{nullptr, 6, {" ("}, ")\r", LineCopy::Text};
const LineSpec Missedcall{"dll_MissedcallInd\n", 12, {}, "\r\n", LineCopy::None};
const LineSpec NoCarrier{"dll_NoCarrierInd\n", 10, {}, "\r\n", LineCopy::None, 259, {}, true};
const LineSpec VpRingBack{"dll_VpRingBackInd\n", 10, {}, "\r\n", LineCopy::None};
const LineSpec VpConnected{"dll_VpConnectedInd\n", 11, {}, "\r\n", LineCopy::None};
const LineSpec VpIncoming{"dll_VpIncomingInd\n", 7, Spaces, "\r\n", LineCopy::TextNul};
const LineSpec VpCallEnd{"dll_VpCallEndInd\n", 5, Spaces, "\r\n", LineCopy::TextNul};
const LineSpec PhoneError{"dll_PhoneErrorInd\n", 11, Spaces, "\r\n", LineCopy::Text, 259, {}, true, true};

const families::DateSpec Time{"dll_timeInd\n", Spaces, 6, true};

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
