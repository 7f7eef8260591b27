#include "link/fields.h"

#include <cstring>

#include "link/linklayer.h"

namespace fields {

bool Cursor::Need(int32_t ahead) {
  if (incomplete_) return false;
  if (ahead < 0 || ahead >= available_ - position_) {
    incomplete_ = true;
    return false;
  }
  return true;
}

char Cursor::Peek(int32_t ahead) { return Need(ahead) ? text_[position_ + ahead] : '\0'; }

char Cursor::Take() {
  const char c = Peek();
  if (!incomplete_) ++position_;
  return c;
}

void Cursor::Skip(int32_t count) {
  if (incomplete_ || count <= 0) return;
  if (count > available_ - position_) {
    incomplete_ = true;
    return;
  }
  position_ += count;
}

bool Cursor::SkipIf(char c) {
  if (Peek() != c || incomplete_) return false;
  ++position_;
  return true;
}

void Cursor::SkipAny(std::string_view set) {
  while (!incomplete_ && OneOf(Peek(), set) && !incomplete_) ++position_;
}

void Cursor::SkipWithinLine(int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const char c = Peek();
    if (incomplete_ || IsLineEnd(c)) return;
    ++position_;
  }
}

void Cursor::SkipTo(std::string_view set) {
  for (;;) {
    const char c = Peek();
    if (incomplete_ || OneOf(c, set)) return;
    ++position_;
  }
}

void Cursor::SkipLineEnds() {
  while (!incomplete_ && position_ < available_ && IsLineEnd(text_[position_])) ++position_;
}

uint32_t Cursor::Run(int* digits) {
  uint32_t value = 0;
  int count = 0;
  for (;;) {
    const char c = Peek();
    if (incomplete_ || !IsDigit(c)) break;
    value = value * 10u + static_cast<uint32_t>(c - '0');
    ++count;
    ++position_;
  }
  if (digits != nullptr) *digits = count;
  return value;
}

int32_t Cursor::CopyTo(char* out, int32_t capacity, std::string_view stops) {
  int32_t stored = 0;
  for (;;) {
    const char c = Peek();
    if (incomplete_ || OneOf(c, stops)) break;
    if (stored < capacity) out[stored++] = c;
    ++position_;
  }
  return stored;
}

int32_t Cursor::CopyRun(char* out, int32_t capacity, std::string_view set) {
  int32_t stored = 0;
  for (;;) {
    const char c = Peek();
    if (incomplete_ || !OneOf(c, set)) break;
    if (stored < capacity) out[stored++] = c;
    ++position_;
  }
  return stored;
}

bool Cursor::StartsWith(std::string_view literal, bool ignoreCase) {
  for (size_t i = 0; i < literal.size(); ++i) {
    const char c = Peek(static_cast<int32_t>(i));
    if (incomplete_) return false;
    if ((ignoreCase ? Upper(c) : c) != (ignoreCase ? Upper(literal[i]) : literal[i])) return false;
  }
  return true;
}

bool Cursor::Contains(std::string_view literal, int32_t from) const {
  if (from < 0 || from > available_) return false;
  return std::string_view(text_ + from, static_cast<size_t>(available_ - from)).find(literal) !=
         std::string_view::npos;
}

void Cursor::Rewind(int32_t position) {
  if (position >= 0 && position < position_) position_ = position;
}

int32_t Commit(const Cursor& at, const Outcome& outcome) {
  if (at.Incomplete()) return -1;
  linklayer& link = ParsingLink();
  if (outcome.signal) link.SignalResponse();
  if (outcome.queue) link.pReadQ->Enqueue(outcome.id, static_cast<const char*>(outcome.payload), outcome.length, false);
  return at.Position();
}

}  // namespace fields

int FindByte(const unsigned char* data, unsigned char value, int length) {
  for (int i = 0; i < length; ++i) {
    if (data[i] == value) return i + 1;
  }
  return 0;
}

int ParseSignedDecimal(int* out, const char* text, int length, char terminator) {
  if (length < 1) return 0;
  const bool negative = text[0] == '-';
  const int sign = negative ? 1 : 0;
  const int found = FindByte(reinterpret_cast<const unsigned char*>(text + sign), static_cast<unsigned char>(terminator),
                             length - sign);
  if (found < 2 || found > 4) return 0;
  int value = 0;
  for (int i = 0; i < found - 1; ++i) value = value * 10 + (text[sign + i] - '0');
  *out = negative ? -value : value;
  return sign + found;
}

namespace {

int Pair(const char* text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

}  // namespace

int ParseDateTime(const char* text, int length, DateTimeRecord* out) {
  if (length < 15) return 0;
  const bool colon = text[13] == ':';
  if (colon && length < 16) return 0;
  out->year = static_cast<uint16_t>((text[0] - '0') * 1000 + (text[1] - '0') * 100 + (text[2] - '0') * 10 +
                                    (text[3] - '0'));
  out->month = static_cast<uint8_t>(Pair(text + 5));
  out->day = static_cast<uint8_t>(Pair(text + 8));
  out->hour = static_cast<uint8_t>(Pair(text + 11));
  out->minute = static_cast<uint8_t>(Pair(text + (colon ? 14 : 13)));
  out->second = 0;
  return 1;
}

int ParseTwoDigits(const char* text, int length) {
  if (length < 1) return 0;
  const auto missing = [](char c) { return c == 'f' || c == 'F'; };
  if (missing(text[0]) || length < 2) return 0;
  const int first = text[0] - '0';
  return missing(text[1]) ? first : first * 10 + (text[1] - '0');
}

int ParseSmsTimeStamp(DateTimeRecord* out, const char* text, int length) {
  if (length < 12) return 0;
  uint16_t year = static_cast<uint16_t>(ParseTwoDigits(text, 2));
  if (year < 1 || year > 99) year = 0;
  year = static_cast<uint16_t>(year + (year >= 80 ? 1900 : 2000));
  const auto part = [text](int at) { return static_cast<uint8_t>(ParseTwoDigits(text + at, 2)); };
  uint8_t month = part(2), day = part(4), hour = part(6), minute = part(8), second = part(10);
  if (month < 1 || month > 12) month = 1;
  if (day < 1 || day > 31) day = 1;
  if (hour > 23) hour = 0;
  if (minute > 59) minute = 0;
  if (second > 59) second = 0;
  out->year = year;
  out->month = month;
  out->day = day;
  out->hour = hour;
  out->minute = minute;
  out->second = second;
  return 1;
}
