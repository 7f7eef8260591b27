// The read thread: reads what the device sends on the AT port into the read
// ring and dispatches it line by line to the parser's handlers.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "link/linklayer.h"
#include "link/trace.h"
#include "plat/clock.h"

namespace {

// The write count only matters modulo the ring size; it is kept below this
// multiple of it so that it never overflows.
constexpr int32_t WriteCountWrap = linklayer::RingSize * (1 << 18);

bool IsLineEnd(char byte) { return byte == '\r' || byte == '\n'; }

}  // namespace

void linklayer::ResetReadBuffer() {
  ReadRing.num4read = 0;
  ReadRing.readIndex = 0;
  ReadRing.writeCount = 0;
  std::memset(ReadRing.bytes, 0, sizeof ReadRing.bytes);
}

uint32_t linklayer::ReadLoop() {
  // The trace texts keep their spelling on purpose: readers of the trace
  // search for them as they have always been.
  DllTrace("Beging read loop\n");
  if (StartEvent.Wait(plat::INFINITE) != plat::WaitResult::Signaled) return 0;
  // The wait for the stop is also the pause between reads; a read turn
  // asked for ends it early. A failed wait (the events are gone) ends the
  // loop rather than spin.
  const plat::Event* const pause[] = {&StopEvent, &ReadNowEvent};
  for (;;) {
    const plat::WaitAnyResult woken = plat::Event::WaitAny(pause, options_.Timings.ReadPollMs);
    if (woken.result == plat::WaitResult::Failed || (woken.result == plat::WaitResult::Signaled && woken.index == 0)) {
      break;
    }
    ReadNowEvent.Reset();
    // The turns asked for until now are served by this one, which begins
    // after them; one asked for from here on sets the event again.
    uint64_t serving = 0;
    {
      std::lock_guard lock(readTurnMutex_);
      serving = readTurnsAsked_;
    }
    ReadTurn();
    {
      std::lock_guard lock(readTurnMutex_);
      readTurnsServed_ = serving;
    }
    readTurnDone_.notify_all();
  }
  // No turn follows: a detection waiting for one goes on at once.
  {
    std::lock_guard lock(readTurnMutex_);
    readTurnsServed_ = readTurnsAsked_;
  }
  readTurnDone_.notify_all();
  DllTrace("linklayer read loop is over\n");
  return 0;
}

void linklayer::ReadTurn() {
  char buffer[RingSize];
  std::memset(buffer, 0, sizeof buffer);
  uint32_t count = 0;
  {
    const plat::PortHandle port = CurrentPort();
    if (!port) {
      DllTrace("Invalid port when read loop\n");
      return;
    }
    // How long a read lasts is up to the port's time-outs; a close from
    // another thread ends it at once.
    if (!port->Read(buffer, sizeof buffer, &count)) {
      // What came before the failure is passed on all the same.
      DllTrace(count > 0 ? "ERR: I/O error on serial port GetOverlappedResult \\n"
                         : "ERR: I/O error on serial port \n");
      port->ClearCommError();
    }
  }
  if (count == 0) return;
  char text[160];
  std::snprintf(text, sizeof text, "read data num is %d\n", static_cast<int>(count));
  DllTrace(text);
  const size_t shown = std::min<size_t>(count, 128);
  std::memcpy(text, buffer, shown);
  text[shown] = '\n';
  text[shown + 1] = '\0';
  DllTrace(text);
  if (AppendReadData(buffer, static_cast<int>(count))) ParseReadData();
}

void linklayer::ReadOnceMore() {
  if (!CurrentPort()) return;
  uint64_t ticket = 0;
  {
    std::lock_guard lock(readTurnMutex_);
    ticket = ++readTurnsAsked_;
  }
  // Set outside the lock, which is a leaf: a turn that took the count before
  // it rose is followed by one more, as the event stays set.
  ReadNowEvent.Set();
  std::unique_lock lock(readTurnMutex_);
  readTurnDone_.wait_for(lock, std::chrono::milliseconds(plat::RealMs(options_.Timings.DetectReadMs)),
                         [&] { return readTurnsServed_ >= ticket; });
}

bool linklayer::AppendReadData(const char* data, int length) {
  if (data == nullptr || length <= 0) return false;
  Ring& ring = ReadRing;
  if (length > RingSize - ring.num4read) {
    DllTrace("Err: add read data over flow\n");
    ResetReadBuffer();
    return false;
  }
  const int position = ring.writeCount % RingSize;
  const int first = std::min(length, RingSize - position);
  std::memcpy(ring.bytes + position, data, first);
  std::memcpy(ring.bytes, data + first, length - first);
  ring.writeCount += length;
  if (ring.writeCount >= WriteCountWrap) ring.writeCount -= WriteCountWrap;
  ring.num4read += length;
  return true;
}

namespace {

// The ring's unread bytes copied out in ring order, zeros behind them, and a
// cursor through the copy: every byte the cursor passes is consumed from the
// ring.
class UnreadBytes {
 public:
  UnreadBytes(const char* ringBytes, int32_t& readIndex, int32_t& num4read)
      : readIndex_(readIndex), num4read_(num4read) {
    const int first = std::min(num4read, linklayer::RingSize - readIndex);
    std::memcpy(work_, ringBytes + readIndex, first);
    std::memcpy(work_ + first, ringBytes, num4read - first);
    std::memset(work_ + num4read, 0, linklayer::RingSize - num4read);
  }

  const char* At() const { return work_ + cursor_; }
  int32_t Left() const { return num4read_; }

  void Consume(int count) {
    cursor_ += count;
    num4read_ -= count;
    readIndex_ = (readIndex_ + count) % linklayer::RingSize;
  }
  void SkipLineEnds() {
    while (num4read_ > 0 && IsLineEnd(work_[cursor_])) Consume(1);
  }
  bool LineEndAhead() const { return std::any_of(At(), At() + num4read_, IsLineEnd); }
  // Up to, not including, the next CR; everything when there is none.
  void SkipLine() { Consume(static_cast<int>(std::find(At(), At() + num4read_, '\r') - At())); }

 private:
  int32_t& readIndex_;
  int32_t& num4read_;
  int cursor_ = 0;
  char work_[linklayer::RingSize];
};

// How a run of lines at the cursor ended.
enum class LinesEnd {
  NoMatch,   // no row matched the line at the cursor
  Finished,  // the parse is over and nothing unread is kept: the ring is reset
  SkipLine,  // a handler found its line incomplete although the line has ended
  Keep,      // the rest is a response still arriving: it stays unread
};

// Hands the lines at the cursor, one after the other, to the first row
// whose prefix each begins with.
class LineDispatch {
 public:
  LineDispatch(const std::vector<ResponseParser::Row>& rows, UnreadBytes& unread) : rows_(rows), unread_(unread) {}

  // A miss is counted for each pass and taken back for each matched
  // prefix; five net misses end the parse. False when they have.
  bool CountPass() { return ++misses_ < 5; }
  bool Handled() const { return handled_; }

  // Lines until one is not handled or nothing is left to handle.
  LinesEnd Pass() {
    if (rows_.empty()) return LinesEnd::NoMatch;
    for (;;) {
      unread_.SkipLineEnds();
      if (unread_.Left() == 0) return LinesEnd::Finished;
      const ResponseParser::Row* row = MatchingRow();
      if (row == nullptr) return LinesEnd::NoMatch;
      if (misses_ > 0) --misses_;
      const std::optional<LinesEnd> end = Settle(row->handler(row->id, unread_.At(), unread_.Left()));
      if (end) return *end;
    }
  }

 private:
  const ResponseParser::Row* MatchingRow() const {
    for (const ResponseParser::Row& row : rows_) {
      const int length = static_cast<int>(row.prefix.size());
      if (unread_.Left() >= length && std::memcmp(unread_.At(), row.prefix.data(), length) == 0) return &row;
    }
    return nullptr;
  }

  // What a handler's result makes of the run: nothing while the next line
  // is to be handled.
  std::optional<LinesEnd> Settle(int32_t result) {
    if (result == -1) {
      DllTrace("err: parse NOT full \n");
      return unread_.LineEndAhead() ? LinesEnd::SkipLine : LinesEnd::Keep;
    }
    if (result > unread_.Left()) {
      DllTrace("Err: parse num4read <0 \n");
      return LinesEnd::Finished;
    }
    if (result < 1) {
      // Malformed (-2), or a result no handler may give: nothing unread is trusted.
      DllTrace("Err:Parser error for return -1");
      return LinesEnd::Finished;
    }
    handled_ = true;
    unread_.Consume(result);
    if (unread_.Left() > 1) return std::nullopt;
    // A last byte that ends no line may be the start of the next response.
    return unread_.Left() == 1 && !IsLineEnd(*unread_.At()) ? LinesEnd::Keep : LinesEnd::Finished;
  }

  const std::vector<ResponseParser::Row>& rows_;
  UnreadBytes& unread_;
  uint8_t misses_ = 0;
  bool handled_ = false;
};

}  // namespace

void linklayer::ParseReadData() {
  if (ReadRing.num4read <= 0) return;
  UnreadBytes unread(ReadRing.bytes, ReadRing.readIndex, ReadRing.num4read);
  const ParsingLinkScope scope(*this);
  LineDispatch dispatch(Parser.Rows(), unread);
  for (;;) {
    if (!dispatch.CountPass() || unread.Left() <= 0) {
      ResetReadBuffer();
      break;
    }
    const LinesEnd end = dispatch.Pass();
    if (end == LinesEnd::Finished) ResetReadBuffer();
    if (end == LinesEnd::Finished || end == LinesEnd::Keep) break;
    // A line that has not ended yet may still be the start of a response.
    if (end == LinesEnd::NoMatch && !unread.LineEndAhead()) break;
    unread.SkipLine();
  }
  if (dispatch.Handled()) Notify();
}

bool linklayer::HasHighByte(const unsigned char* text) {
  for (size_t i = 0; text[i] != 0; ++i) {
    if (text[i] > 0xA0) return true;
  }
  return false;
}
