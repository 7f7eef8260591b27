// The handlers that differ only in constants: one routine per family,
// driven by the row of its descriptor table that a handler passes.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/fields.h"

namespace families {

// What follows a handler's fixed skip: every byte of `set` in any order,
// or at most one when `once`.
struct Lead {
  std::string_view set;
  bool once = false;
};
void SkipLead(fields::Cursor& cursor, const Lead& lead);
inline constexpr Lead Spaces{" "};
inline constexpr Lead OneSpace{" ", true};

// Traces, then skips the fixed count and the lead: where every handler
// starts.
fields::Cursor Start(const char* trace, const char* text, int32_t available, int32_t skip, const Lead& lead);

// One byte: a decimal run, a digit or 0, any character minus 48, or a
// constant; consumed through what was read.
enum class ValueRule { Run, DigitOrZero, Char, Constant };
struct ValueSpec {
  const char* trace;
  int32_t skip;
  Lead lead;
  ValueRule rule;
  uint8_t constant = 0;
  int32_t malformedUpTo = -1;  // -2 while available is at most this
  bool needsCr = false;        // -1 while no CR is available
};
int32_t Value(const ValueSpec& spec, int32_t id, const char* text, int32_t available);

// A text up to the first of `stops`: noted as one byte 0, or copied (at
// most `capacity` characters, with or without a NUL after them); consumed
// up to the stop, or to the first of `then` after it.
enum class LineCopy { None, Text, TextNul };
struct LineSpec {
  const char* trace;  // null: no trace
  int32_t skip;
  Lead lead;
  std::string_view stops;
  LineCopy copy;
  int32_t capacity = 259;
  std::string_view then = {};
  bool signal = false;     // ResponseEvent before the indication
  bool traceCopy = false;  // the copied text and a line feed are traced too
};
int32_t Line(const LineSpec& spec, int32_t id, const char* text, int32_t available);

// The run of bytes of `set`, at most `capacity`, without NUL; consumed
// through the run.
struct TokenSpec {
  const char* trace;
  int32_t skip;
  Lead lead;
  std::string_view set;
  int32_t capacity;
};
int32_t Token(const TokenSpec& spec, int32_t id, const char* text, int32_t available);

// Network service and mode: one or two values after a fixed skip.
int32_t NetworkValues(const char* trace, int32_t skip, int32_t id, const char* text, int32_t available);

// A date and time of `fieldCount` decimal fields, each with the byte after
// it; with `toLineEnd` consumed up to the CR or LF after them.
struct DateSpec {
  const char* trace;
  Lead lead;
  int fieldCount;
  bool toLineEnd;
};
int32_t Date(const DateSpec& spec, int32_t id, const char* text, int32_t available);

// A PIN operation's result: a digit under the row's id, or whether the text
// holds "SUCCESS" under IdPinResult.
int32_t PinResult(const char* trace, int32_t id, const char* text, int32_t available);

// A personalisation entry added or deleted: the record, or an empty
// indication under `foundId` when the text holds `foundText`.
int32_t PersoEntry(std::string_view foundText, int32_t foundId, int32_t id, const char* text, int32_t available);

}  // namespace families

// Defines the handler `name` as a row of `family`: the arguments after the
// family's name are the row's constants.
#define FAMILY_HANDLER(name, family, ...)                               \
  int32_t name(int32_t id, const char* text, int32_t available) {     \
    return families::family(__VA_ARGS__, id, text, available);        \
  }
