// The read thread: reads what the device sends on the AT port into the read
// ring and dispatches it line by line to the parser's handlers.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/linklayer.h"
#include "link/trace.h"

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
  DllTrace("Beging read loop\n");
  if (StartEvent.Wait(plat::INFINITE) != plat::WaitResult::Signaled) return 0;
  char buffer[RingSize];
  // The wait for the stop is also the pause between reads; a failed wait
  // (the events are gone) ends the loop rather than spin.
  while (StopEvent.Wait(options_.Timings.ReadPollMs) == plat::WaitResult::Timeout) {
    std::memset(buffer, 0, sizeof buffer);
    uint32_t count = 0;
    {
      const plat::PortHandle port = CurrentPort();
      if (!port) {
        DllTrace("Invalid port when read loop\n");
        continue;
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
    if (count == 0) continue;
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
  DllTrace("linklayer read loop is over\n");
  return 0;
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

void linklayer::ParseReadData() {
  Ring& ring = ReadRing;
  if (ring.num4read <= 0) return;

  // The unread bytes in ring order, zeros behind them.
  char work[RingSize];
  const int first = std::min(ring.num4read, RingSize - ring.readIndex);
  std::memcpy(work, ring.bytes + ring.readIndex, first);
  std::memcpy(work + first, ring.bytes, ring.num4read - first);
  std::memset(work + ring.num4read, 0, RingSize - ring.num4read);

  // Every byte the cursor passes is consumed from the ring.
  int cursor = 0;
  const auto consume = [&](int count) {
    cursor += count;
    ring.num4read -= count;
    ring.readIndex = (ring.readIndex + count) % RingSize;
  };
  const auto lineEndAhead = [&] {
    return std::any_of(work + cursor, work + cursor + ring.num4read, IsLineEnd);
  };
  // Up to, not including, the next CR; everything when there is none.
  const auto skipLine = [&] {
    char* const end = work + cursor + ring.num4read;
    consume(static_cast<int>(std::find(work + cursor, end, '\r') - (work + cursor)));
  };

  enum class ScanEnd {
    NoMatch,   // no row matched the line at the cursor
    Finished,  // the parse is over; the ring has been reset where it is empty
    SkipLine,  // a handler found its line incomplete although the line has ended
    Keep,      // the rest is a response still arriving: it stays unread
  };

  const ParsingLinkScope scope(*this);
  const std::vector<ResponseParser::Row>& rows = Parser.Rows();
  uint8_t misses = 0;
  bool handled = false;
  for (;;) {
    // Five net misses discard whatever is still unread.
    ++misses;
    if (ring.num4read <= 0 || misses >= 5) {
      ResetReadBuffer();
      break;
    }
    ScanEnd end = ScanEnd::NoMatch;
    for (size_t row = 0; row < rows.size();) {
      if (ring.num4read <= 0) {
        if (ring.num4read < 0) DllTrace("Err: parse num4read <0 \n");
        ResetReadBuffer();
        end = ScanEnd::Finished;
        break;
      }
      while (ring.num4read > 0 && IsLineEnd(work[cursor])) consume(1);
      if (ring.num4read == 0) {
        ResetReadBuffer();
        end = ScanEnd::Finished;
        break;
      }
      const ResponseParser::Row& entry = rows[row];
      const int prefixLength = static_cast<int>(entry.prefix.size());
      if (ring.num4read < prefixLength || std::memcmp(work + cursor, entry.prefix.data(), prefixLength) != 0) {
        ++row;
        continue;
      }
      if (misses > 0) --misses;
      const int32_t result = entry.handler(entry.id, work + cursor, ring.num4read);
      if (result == -1) {
        DllTrace("err: parse NOT full \n");
        end = lineEndAhead() ? ScanEnd::SkipLine : ScanEnd::Keep;
        break;
      }
      if (result > ring.num4read) {
        DllTrace("Err: parse num4read <0 \n");
        ResetReadBuffer();
        end = ScanEnd::Finished;
        break;
      }
      if (result < 1) {
        // Malformed (-2), or a result no handler may give: nothing unread is trusted.
        DllTrace("Err:Parser error for return -1");
        ResetReadBuffer();
        end = ScanEnd::Finished;
        break;
      }
      handled = true;
      consume(result);
      if (ring.num4read <= 1) {
        if (ring.num4read == 1 && !IsLineEnd(work[cursor])) {
          end = ScanEnd::Keep;
        } else {
          ResetReadBuffer();
          end = ScanEnd::Finished;
        }
        break;
      }
      row = 0;  // the next line is tried against every row
    }
    if (end == ScanEnd::Finished || end == ScanEnd::Keep) break;
    // A line that has not ended yet may still be the start of a response.
    if (end == ScanEnd::NoMatch && !lineEndAhead()) break;
    skipLine();
  }
  if (handled) Notify();
}

bool linklayer::HasHighByte(const unsigned char* text) {
  for (size_t i = 0; text[i] != 0; ++i) {
    if (text[i] > 0xA0) return true;
  }
  return false;
}
