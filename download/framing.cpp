#include "framing.h"

#include "transport.h"

namespace download {
namespace {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;
constexpr uint8_t kEscapeXor = 0x20;
constexpr int kPollWaitMs = 1000;

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < table.size(); ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    table[i] = crc;
  }
  return table;
}

// The table advanced by 1 to 3 more zero bytes, so that four bytes are
// folded in per step: a block's request and its 1031-byte reply are each
// summed once per block.
constexpr std::array<std::array<uint16_t, 256>, 4> MakeSlicedTables(const std::array<uint16_t, 256>& first) {
  std::array<std::array<uint16_t, 256>, 4> tables{};
  tables[0] = first;
  for (unsigned k = 1; k < tables.size(); ++k) {
    for (unsigned i = 0; i < 256; ++i) {
      const uint16_t previous = tables[k - 1][i];
      tables[k][i] = static_cast<uint16_t>((previous >> 8) ^ first[previous & 0xFF]);
    }
  }
  return tables;
}

constinit const std::array<std::array<uint16_t, 256>, 4> SlicedCrcTables = MakeSlicedTables(MakeCrcTable());

}  // namespace

TxPacketBuffer TxPacket;
TxFrameBuffer TxFrame;
RxFrameBuffer RxFrame;

constinit const std::array<uint16_t, 256> CrcTable = MakeCrcTable();

int CalcCrc16(const uint8_t* data, int count) {
  const auto& t = SlicedCrcTables;
  uint32_t crc = 0xFFFF;
  int i = 0;
  for (; i + 4 <= count; i += 4) {
    crc ^= data[i] | uint32_t{data[i + 1]} << 8;
    crc = t[3][crc & 0xFF] ^ t[2][crc >> 8] ^ t[1][data[i + 2]] ^ t[0][data[i + 3]];
  }
  for (; i < count; ++i) crc = t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return static_cast<int>(crc ^ 0xFFFF);
}

void AppendCrc() {
  const int32_t length = TxPacket.Length;
  if (length < 0 || length + 2 > static_cast<int32_t>(TxPacket.Payload.size())) return;
  const int crc = CalcCrc16(TxPacket.Payload.data(), length);
  TxPacket.Payload[length] = static_cast<uint8_t>(crc & 0xFF);
  TxPacket.Payload[length + 1] = static_cast<uint8_t>(crc >> 8);
  TxPacket.Length = length + 2;
}

int SendFrame(int leadingFlag) {
  TxFrame.Length = 0;
  const int32_t length = TxPacket.Length;
  if (length < 0 || length > static_cast<int32_t>(TxPacket.Payload.size())) return -1;
  const auto put = [](uint8_t byte) {
    if (TxFrame.Length == static_cast<int32_t>(TxFrame.Bytes.size())) return false;
    TxFrame.Bytes[TxFrame.Length++] = byte;
    return true;
  };
  bool fits = leadingFlag != 1 || put(kFlag);
  for (int32_t i = 0; fits && i < length; ++i) {
    const uint8_t byte = TxPacket.Payload[i];
    if (byte == kFlag || byte == kEscape) {
      fits = put(kEscape) && put(byte ^ kEscapeXor);
    } else {
      fits = put(byte);
    }
  }
  if (!fits || !put(kFlag)) {
    TxFrame.Length = 0;
    return -1;
  }
  return SendBytes(TxFrame.Bytes.data(), TxFrame.Length);
}

void CheckRxFrame() {
  if (RxFrame.Count < 3 || RxFrame.Count > RxFrameBuffer::kMaxBytes) {
    RxFrame.Count = 0;
    RxFrame.FrameReady = 0;
  } else {
    RxFrame.FrameReady = 1;
  }
}

int RxUnescapeByte(int byte) {
  if (byte == kEscape) {
    RxFrame.EscapePending = 1;
    return 0;
  }
  if (byte == kFlag) {
    CheckRxFrame();
    RxFrame.EscapePending = 0;
    if (!RxFrame.FrameReady) return 0;
    RxFrame.FrameReady = 0;
    return 1;
  }
  // Bytes beyond the buffer are dropped: an overlong frame is cut, not lost.
  if (RxFrame.Count < 0 || RxFrame.Count >= RxFrameBuffer::kMaxBytes) return 0;
  if (RxFrame.EscapePending) {
    byte ^= kEscapeXor;
    RxFrame.EscapePending = 0;
  }
  RxFrame.Bytes[RxFrame.Count++] = static_cast<uint8_t>(byte);
  return 0;
}

int PollRxFrame() {
  const int byte = RecvTakeByte(kPollWaitMs);
  if (byte < 0) return -1;
  return RxUnescapeByte(byte);
}

namespace framing_testing {

void Reset() {
  TxPacket = {};
  TxFrame = {};
  RxFrame = {};
}

}  // namespace framing_testing

}  // namespace download
