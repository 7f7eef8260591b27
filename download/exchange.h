// One request and its reply, as every step makes it: the request is built in
// TxPacket, framed and sent, and the reply frame is collected in RxFrame.
// Used by the steps only, on the worker thread.
#pragma once

#include <cstdint>

namespace download {

// Starts a new request: an empty TxPacket and RxFrame counting from 0.
void BeginRequest();
// Append to the request. A request that would leave no room for its CRC is
// marked too long; Exchange then refuses it.
void PutByte(uint8_t value);
void PutBytes(const uint8_t* data, int32_t count);
void PutBigEndian32(uint32_t value);
void PutBigEndian16(uint16_t value);
void PutLittleEndian32(uint32_t value);
void PutLittleEndian16(uint16_t value);

enum class Reply {
  Frame,     // a reply frame stands in RxFrame
  Silence,   // (UntilSilence only) a second passed without a byte
  TimedOut,  // (Limited only) no frame within kStepReplyLimitMs; receive side purged
  NotSent,   // the frame was not written whole
  Refused,   // the request does not fit a frame; nothing was written
};

enum class ReplyWait {
  Limited,       // give up after kStepReplyLimitMs without a frame
  UntilSilence,  // the hellos: wait while bytes come, stop at a silent second
};

// Appends the CRC, sends the request (with a leading flag when `leadingFlag`
// is 1) and waits for the reply frame.
Reply Exchange(int leadingFlag, ReplyWait wait = ReplyWait::Limited);

// The step result of an exchange that brought no frame: -1 for a refused
// request, else 0.
int NoFrameResult(Reply reply);

// Exchange and test the reply's code: 1 for `expected`, -1 for another code
// (after showing `wrongReplyText` when there is one) or a refused request, 0
// when no reply came or the request did not go out whole.
int Transact(int leadingFlag, uint8_t expected, const char* wrongReplyText = nullptr);

}  // namespace download
