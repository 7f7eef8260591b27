// The field kit of the response handlers: a cursor that never reads past
// the bytes a handler was given, the small field parsers, and the one step
// that commits a handler's outcome. Everything is ASCII: bytes above 0x7F
// are never letters, digits or spaces here.
#pragma once

#include <cstdint>
#include <string_view>

// The payload of the time and validity-period indications.
struct DateTimeRecord {
  uint16_t year;
  uint8_t month;
  uint8_t day;
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
  uint8_t zero;  // always 0 in a queued record
};
static_assert(sizeof(DateTimeRecord) == 8);

namespace fields {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
constexpr bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
// A digit's value as the device's lines are read: its code minus 48, with
// no test, kept to 8 bits.
constexpr uint8_t DigitValue(char c) { return static_cast<uint8_t>(static_cast<unsigned char>(c) - 48u); }
constexpr bool OneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

// A position in (text, available). Every read, skip or scan that would need
// a byte at or beyond `available` marks the parse incomplete instead; after
// that nothing moves and every read gives 0, so a handler can finish its
// steps and let Commit turn the mark into -1.
class Cursor {
 public:
  Cursor(const char* text, int32_t available) : text_(text), available_(available < 0 ? 0 : available) {}

  int32_t Position() const { return position_; }
  bool Incomplete() const { return incomplete_; }
  const char* Text() const { return text_; }
  int32_t Available() const { return available_; }
  // Bytes from the position to the end of what is available.
  int32_t Left() const { return available_ - position_; }

  // The byte `ahead` places on; 0 and the mark when it is not available.
  char Peek(int32_t ahead = 0);
  char Take();
  // Steps over `count` bytes without looking at them.
  void Skip(int32_t count);
  // Steps over the next byte when it is `c`.
  bool SkipIf(char c);
  // Steps over every byte of `set`, in any order.
  void SkipAny(std::string_view set);
  // Steps over at most `count` bytes but stops at a CR or LF.
  void SkipWithinLine(int32_t count);
  // Steps to the first byte of `set`, which is not consumed.
  void SkipTo(std::string_view set);
  // Steps over a run of CR and LF, which may end with the available bytes.
  void SkipLineEnds();

  // A decimal run of '0' to '9', accumulated unsigned and kept to the low
  // bits of the result's width; 0 without digits. `digits` counts them.
  uint32_t Run(int* digits = nullptr);

  // Copies bytes up to the first of `stops` (not consumed) into `out`,
  // which holds `capacity` characters; the rest of the field is scanned
  // all the same. The count stored.
  int32_t CopyTo(char* out, int32_t capacity, std::string_view stops);
  // Copies the run of bytes that belong to `set`, as CopyTo.
  int32_t CopyRun(char* out, int32_t capacity, std::string_view set);

  // Whether the bytes at the position begin with `literal` (case-sensitive,
  // or without regard to ASCII case). Reads stop at the first mismatch;
  // only a text that matches as far as it is available marks the parse.
  bool StartsWith(std::string_view literal, bool ignoreCase = false);
  // Whether `literal` stands anywhere from `from` to the end of the
  // available bytes; it never marks the parse.
  bool Contains(std::string_view literal, int32_t from) const;
  bool Contains(std::string_view literal) const { return Contains(literal, position_); }

  // Moves back to an earlier position (never forward).
  void Rewind(int32_t position);

 private:
  bool Need(int32_t ahead);

  const char* text_;
  int32_t available_;
  int32_t position_ = 0;
  bool incomplete_ = false;
};

// The outcome a handler hands to Commit.
struct Outcome {
  int32_t id = 0;
  const void* payload = nullptr;
  int32_t length = 0;
  bool queue = true;    // false: the line is consumed, nothing is queued
  bool signal = false;  // sets ResponseEvent before the indication is queued
};

// -1 when the parse was marked incomplete: nothing happens. Otherwise sets
// ResponseEvent where asked, queues the indication on the parsing link's
// ReadQ without wake and returns the position.
int32_t Commit(const Cursor& at, const Outcome& outcome);

}  // namespace fields

// The 1-based position of the first `value` among `length` bytes of `data`;
// 0 when there is none or `length` is below 1.
int FindByte(const unsigned char* data, unsigned char value, int length);

// A number of one to three characters, with an optional '-' in front,
// followed by `terminator` within `length` characters: `*out` is set and the
// count of characters used (sign and terminator included) returned.
// Otherwise 0, with `*out` unchanged; a length below 1 reads nothing.
int ParseSignedDecimal(int* out, const char* text, int length, char terminator);

// "YYYY?MM?DD?HH[:]MM" from `length` characters into bytes 0 to 6 of
// `out`, the second 0. 1, or 0 with `out` unchanged when the text is short.
int ParseDateTime(const char* text, int length, DateTimeRecord* out);

// Two characters of a time stamp; 'f' or 'F' marks a missing digit. 0 when
// fewer than the characters it needs are given.
int ParseTwoDigits(const char* text, int length);

// "YYMMDDHHMMSS" from `length` characters into bytes 0 to 6 of `out`, out
// of range values corrected. 1, or 0 with `out` unchanged when short.
int ParseSmsTimeStamp(DateTimeRecord* out, const char* text, int length);
