// HDLC-style framing of the download protocols: flag 0x7E, escape 0x7D with
// the escaped byte XOR 0x20, and a CRC-16/X.25 sent low byte first.
//
// A step builds its request in TxPacket, adds the CRC with AppendCrc, sends
// it with SendFrame, then calls PollRxFrame until a reply frame stands in
// RxFrame. The buffers exist once; only the transfer's worker thread uses
// them.
#pragma once

#include <array>
#include <cstdint>

namespace download {

struct TxPacketBuffer {
  int32_t Length = 0;  // payload bytes, command byte first
  std::array<uint8_t, 65536> Payload{};
};

struct TxFrameBuffer {
  int32_t Length = 0;  // bytes exactly as written to the port
  std::array<uint8_t, 8196> Bytes{};
};

struct RxFrameBuffer {
  static constexpr int32_t kMaxBytes = 8192;
  std::array<uint8_t, kMaxBytes> Bytes{};  // unescaped, the two CRC bytes included
  int32_t Count = 0;
  uint8_t EscapePending = 0;  // the previous byte was 0x7D
  uint8_t FrameReady = 0;     // the last flag closed an acceptable frame
};

extern TxPacketBuffer TxPacket;
extern TxFrameBuffer TxFrame;
extern RxFrameBuffer RxFrame;

// The table of the reflected polynomial 0x8408.
extern const std::array<uint16_t, 256> CrcTable;

// CRC-16/X.25 of `count` bytes.
int CalcCrc16(const uint8_t* data, int count);
// Appends the CRC of the TxPacket payload, low byte first.
void AppendCrc();
// Escapes TxPacket into TxFrame, with a leading flag when `leadingFlag` is
// exactly 1 and always a closing one, and writes it: the SendBytes result,
// or -1 without writing anything when the frame does not fit TxFrame.
int SendFrame(int leadingFlag);
// At a flag: marks the collected bytes as a frame when there are 3 to 8192,
// else drops them.
void CheckRxFrame();
// Feeds one received byte; 1 when it closed a frame.
int RxUnescapeByte(int byte);
// Consumes one byte from the receive ring: 1 when it closed a frame, 0 when
// not, -1 when no byte came within about a second.
int PollRxFrame();

namespace framing_testing {
// Empties all three buffers.
void Reset();
}  // namespace framing_testing

}  // namespace download
