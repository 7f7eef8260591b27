#include "link/handlers.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link/trace.h"

namespace {

bool IsLineEnd(char byte) { return byte == '\r' || byte == '\n'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `text` begins with the upper-case `word` without regard to case;
// fewer bytes than the word is no match.
bool StartsWithWord(const char* text, int32_t available, std::string_view word) {
  if (available < static_cast<int32_t>(word.size())) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (Upper(text[i]) != word[i]) return false;
  }
  return true;
}

void Queue(int32_t id, const void* data, int32_t length) {
  ParsingLink().pReadQ->Enqueue(id, static_cast<const char*>(data), length, false);
}

// A final result: the write thread's wait ends before the indication is queued.
int32_t FinalResult(int32_t id, const char* text, int32_t available, std::string_view word) {
  if (available < static_cast<int32_t>(word.size())) return -1;
  ParsingLink().SignalResponse();
  Queue(id, text, static_cast<int32_t>(word.size()));
  return static_cast<int32_t>(word.size());
}

struct ModeWord {
  std::string_view word;
  uint8_t value;
};

// "<prefix>", at most one space, then one digit (the state, under digitId)
// or a text compared with `words` (the switch result, under textId; 0 when
// none matches); consumed through the line's CR and every CR and LF after it.
int32_t ModeAnswer(const char* trace, const char* text, int32_t available, int32_t prefixLength, int32_t digitId,
                   int32_t textId, std::span<const ModeWord> words) {
  DllTrace(trace);
  int32_t position = prefixLength;
  if (position < available && text[position] == ' ') ++position;
  if (position >= available) return -1;

  uint8_t value = 0;
  int32_t id = textId;
  if (text[position] >= '0' && text[position] <= '9') {
    value = static_cast<uint8_t>(text[position] - '0');
    id = digitId;
    ++position;
  } else {
    for (const ModeWord& word : words) {
      if (StartsWithWord(text + position, available - position, word.word)) {
        value = word.value;
        break;
      }
    }
  }

  const char* const end = text + available;
  const char* lineEnd = std::find(text + position, end, '\r');
  if (lineEnd == end) return -1;
  while (lineEnd != end && IsLineEnd(*lineEnd)) ++lineEnd;
  Queue(id, &value, 1);
  return static_cast<int32_t>(lineEnd - text);
}

constexpr ModeWord DiagPortWords[] = {{"SUCCEED", 1}, {"INCORRECT PASSWORD", 2}};
constexpr ModeWord SwitchWords[] = {{"SUCCEED", 1}, {"REPEAT", 1}};

// Copies text[start, end) into a field, at most 29 characters.
void CopyField(char* field, const char* text, int32_t start, int32_t end) {
  const int32_t length = std::min(end - start, VersionRecord::FieldSize - 1);
  std::memcpy(field, text + start, length);
  field[length] = '\0';
}

int32_t SkipSpaces(const char* text, int32_t position, int32_t available) {
  while (position < available && text[position] == ' ') ++position;
  return position;
}

}  // namespace

int32_t dll_OKHandler(int32_t, const char* text, int32_t available) {
  DllTrace("dll_OKHandler\n");
  return FinalResult(IdOk, text, available, "OK");
}

int32_t dll_ERrHandler(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_ERrHandler\n");
  return FinalResult(id, text, available, "ERROR");
}

int32_t dll_UgsmInd(int32_t, const char* text, int32_t available) {
  if (available <= 6) return -1;
  const char* const end = text + available;
  const char* cr = std::find(text + 6, end, '\r');
  return cr == end ? -1 : static_cast<int32_t>(cr - text);
}

int32_t dll_EchoInd(int32_t, const char*, int32_t available) { return available < 4 ? -1 : 4; }

int32_t dll_DiagPortInd(int32_t id, const char* text, int32_t available) {
  return ModeAnswer("dll_DiagPortInd\n", text, available, 11, id, IdDiagPortSwitch, DiagPortWords);
}

int32_t dll_SwitchFtmInd(int32_t id, const char* text, int32_t available) {
  return ModeAnswer("dll_SwitchFtmInd\n", text, available, 12, id, IdFtmSwitch, SwitchWords);
}

int32_t dll_SwitchTestInd(int32_t id, const char* text, int32_t available) {
  return ModeAnswer("dll_SwitchFtmInd\n", text, available, 13, id, IdTestModeSwitch, SwitchWords);
}

int32_t dll_VersionInd(int32_t id, const char* text, int32_t available) {
  DllTrace("dll_VersionInd\n");
  VersionRecord record{};
  int32_t position = 6;
  // Three words, each ended by a space only (CR and LF do not end a field).
  for (int field = 0; field < 3; ++field) {
    position = SkipSpaces(text, position, available);
    const int32_t start = position;
    while (position < available && text[position] != ' ') ++position;
    if (position >= available) return -1;
    CopyField(record.fields[field], text, start, position);
  }
  // The rest, spaces included, up to and including the first "]".
  position = SkipSpaces(text, position, available);
  const int32_t start = position;
  while (position < available && text[position] != ']') ++position;
  if (position >= available) return -1;
  ++position;
  CopyField(record.fields[3], text, start, position);
  Queue(id, &record, sizeof record);
  return position;
}
