#include "sim/hdlc.h"

namespace sim {

uint16_t Crc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0xFFFF;
  for (const uint8_t byte : bytes) {
    crc ^= byte;
    // Without a branch per bit: the polynomial is masked in when the bit shifted out is 1.
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<uint16_t>((crc >> 1) ^ (0x8408 & -(crc & 1)));
  }
  return static_cast<uint16_t>(~crc);
}

namespace {

void PutEscaped(std::vector<uint8_t>& out, uint8_t byte) {
  if (byte == kFlag || byte == kEscape) {
    out.push_back(kEscape);
    out.push_back(static_cast<uint8_t>(byte ^ 0x20));
  } else {
    out.push_back(byte);
  }
}

}  // namespace

void AppendFrame(std::vector<uint8_t>& out, std::span<const uint8_t> payload, bool corruptCrc, bool openingFlag) {
  uint16_t crc = Crc16(payload);
  if (corruptCrc) crc ^= 0x5AA5;
  if (openingFlag) out.push_back(kFlag);
  for (const uint8_t byte : payload) PutEscaped(out, byte);
  PutEscaped(out, static_cast<uint8_t>(crc & 0xFF));
  PutEscaped(out, static_cast<uint8_t>(crc >> 8));
  out.push_back(kFlag);
}

// The start of the line counts as one flag: a first frame that begins with
// its own flag then has two before it, like every later frame that has one.
Deframer::Deframer() : bytes_(kMaxFrame), flagsBefore_(1) {}

size_t Deframer::Feed(const uint8_t* data, size_t count) {
  size_t used = 0;
  while (used < count && !ready_) {
    const uint8_t byte = data[used++];
    if (byte == kFlag) {
      if (!started_) {
        if (flagsBefore_ < 2) ++flagsBefore_;
        escape_ = false;
        continue;
      }
      if (escape_) broken_ = true;  // an escape right before a flag aborts the frame
      escape_ = false;
      ready_ = true;
      continue;
    }
    if (!started_) {
      started_ = true;
      leading_ = flagsBefore_ >= 2;
    }
    if (byte == kEscape && !escape_) {
      escape_ = true;
      continue;
    }
    const uint8_t value = escape_ ? static_cast<uint8_t>(byte ^ 0x20) : byte;
    escape_ = false;
    if (count_ < kMaxFrame) {
      bytes_[count_++] = value;
    } else {
      broken_ = true;
    }
  }
  return used;
}

bool Deframer::CrcOk() const {
  if (broken_ || count_ < 3) return false;
  const uint16_t got = static_cast<uint16_t>(bytes_[count_ - 2] | (bytes_[count_ - 1] << 8));
  return Crc16({bytes_.data(), count_ - 2}) == got;
}

void Deframer::Next() {
  count_ = 0;
  flagsBefore_ = 1;  // the flag that closed the frame
  started_ = false;
  leading_ = false;
  broken_ = false;
  ready_ = false;
}

}  // namespace sim
