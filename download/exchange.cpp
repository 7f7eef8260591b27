#include "download/exchange.h"

#include <algorithm>
#include <cstring>

#include "download/framing.h"
#include "download/status.h"
#include "download/steps.h"
#include "download/transport.h"
#include "plat/clock.h"

namespace download {
namespace {

// Room in TxPacket once the CRC has its two bytes.
constexpr int32_t kMaxRequest = static_cast<int32_t>(sizeof TxPacket.Payload) - 2;

// Reading the clock costs about as much as taking a byte, so bytes that are
// already waiting are taken without a look at it, up to this many in a row.
// Every wait for bytes is followed by a look, and no wait lasts beyond the
// limit, so the limit holds whatever the line sends and however slowly.
constexpr int kBytesPerClockCheck = 256;

bool RequestTooLong = false;

}  // namespace

void BeginRequest() {
  TxPacket.Length = 0;
  RxFrame.Count = 0;
  RequestTooLong = false;
}

void PutBytes(const uint8_t* data, int32_t count) {
  if (RequestTooLong || count <= 0) return;
  if (count > kMaxRequest - TxPacket.Length) {
    RequestTooLong = true;
    return;
  }
  std::memcpy(&TxPacket.Payload[TxPacket.Length], data, static_cast<size_t>(count));
  TxPacket.Length += count;
}

void PutByte(uint8_t value) { PutBytes(&value, 1); }

void PutBigEndian32(uint32_t value) {
  const uint8_t bytes[] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                           static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  PutBytes(bytes, sizeof bytes);
}

void PutBigEndian16(uint16_t value) {
  const uint8_t bytes[] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  PutBytes(bytes, sizeof bytes);
}

void PutLittleEndian32(uint32_t value) {
  const uint8_t bytes[] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  PutBytes(bytes, sizeof bytes);
}

void PutLittleEndian16(uint16_t value) {
  const uint8_t bytes[] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  PutBytes(bytes, sizeof bytes);
}

Reply Exchange(int leadingFlag, ReplyWait wait) {
  if (RequestTooLong) return Reply::Refused;
  AppendCrc();
  const int sent = SendFrame(leadingFlag);
  // SendFrame leaves TxFrame empty when the request does not fit it; any
  // frame it writes holds at least the closing flag.
  if (TxFrame.Length == 0) return Reply::Refused;
  // Waiting for the reply to a request the device never got whole would
  // only run into the limit.
  if (sent != TxFrame.Length) return Reply::NotSent;

  if (wait == ReplyWait::UntilSilence) {
    for (;;) {
      const int polled = PollRxFrame();
      if (polled == 1) return Reply::Frame;
      if (polled < 0) return Reply::Silence;
    }
  }

  const uint32_t start = plat::GetTickCount();
  for (;;) {
    const uint32_t elapsed = plat::GetTickCount() - start;
    if (elapsed > kStepReplyLimitMs) {
      PurgeRx();
      return Reply::TimedOut;
    }
    // The unread count, at once when bytes are waiting; else the wait ends
    // with the first byte or just past the limit.
    const int unread = RecvWait(1, static_cast<int>(kStepReplyLimitMs + 1 - elapsed));
    for (int taken = 0; taken < std::min(unread, kBytesPerClockCheck); ++taken) {
      if (RxUnescapeByte(RecvTakeByte(0)) == 1) return Reply::Frame;
    }
  }
}

int NoFrameResult(Reply reply) { return reply == Reply::Refused ? -1 : 0; }

int Transact(int leadingFlag, uint8_t expected, const char* wrongReplyText) {
  const Reply reply = Exchange(leadingFlag);
  if (reply != Reply::Frame) return NoFrameResult(reply);
  if (RxFrame.Bytes[0] == expected) return 1;
  if (wrongReplyText != nullptr) ShowStatusF("%s", wrongReplyText);
  return -1;
}

}  // namespace download
