// The device's side of the serial framing: flag 0x7E, escape 0x7D (the
// escaped byte goes out XOR 0x20), CRC-16/X.25 behind the payload, low byte
// first. The device sends every reply between two flags and takes frames
// from the host with or without a leading flag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

inline constexpr uint8_t kFlag = 0x7E;
inline constexpr uint8_t kEscape = 0x7D;

// CRC-16/X.25 computed bit by bit: reflected polynomial 0x8408, start value
// 0xFFFF, ones' complement at the end.
uint16_t Crc16(std::span<const uint8_t> bytes);

// Appends `payload` as a frame to `out`: flag, escaped payload, escaped CRC
// (low byte first), flag. `corruptCrc` sends a CRC that does not match;
// without `openingFlag` the frame has only its closing flag.
void AppendFrame(std::vector<uint8_t>& out, std::span<const uint8_t> payload, bool corruptCrc = false,
                 bool openingFlag = true);

// Collects frames out of a byte stream that may arrive split or merged in any
// way. A frame is what lies between two flags, so a leading flag is optional;
// empty frames (flag after flag) are skipped.
class Deframer {
 public:
  static constexpr size_t kMaxFrame = 8192;  // unescaped bytes kept per frame

  Deframer();

  // Takes bytes up to and including the flag that closes the next frame, or
  // all of them; returns how many it took. Ready() tells whether a frame was
  // closed; it stays available until Next().
  size_t Feed(const uint8_t* data, size_t count);

  bool Ready() const { return ready_; }
  // The closed frame's unescaped bytes, CRC included.
  std::span<const uint8_t> Frame() const { return {bytes_.data(), count_}; }
  // Whether the closed frame had a flag of its own before it (a flag right
  // after the previous frame's closing flag, or first on the line).
  bool Leading() const { return leading_; }
  // Whether the frame was damaged on the way: an escape before a flag, or
  // more than kMaxFrame bytes.
  bool Broken() const { return broken_; }
  // Whether the frame's last two bytes are the CRC of the bytes before them.
  bool CrcOk() const;

  void Next();

 private:
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;
  unsigned flagsBefore_;  // flags in a row before the frame's first byte
  bool escape_ = false;
  bool started_ = false;  // the frame has its first byte
  bool leading_ = false;
  bool broken_ = false;
  bool ready_ = false;
};

}  // namespace sim
