// A frame-aware stand-in for the device on the far end of a test port. It
// splits what the engine sends into frames, unescapes them, checks each CRC
// with its own bit-by-bit CRC-16/X.25 (not the engine's table), records every
// request, and answers each by its request code the way a well-behaved device
// does, unless the test's handler answers otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/port_kit.h"

namespace download::testdevice {

using Bytes = std::vector<uint8_t>;

inline uint16_t BitwiseCrc16(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return static_cast<uint16_t>(~crc);
}

// Replies of a full upload are many: they get a table, built from the
// bitwise CRC above so it stays independent of the engine.
inline uint16_t FastCrc16(const uint8_t* data, size_t count) {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t crc = static_cast<uint16_t>(i);
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
      t[i] = crc;
    }
    return t;
  }();
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) crc = static_cast<uint16_t>(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return static_cast<uint16_t>(~crc);
}

// The wire form of a reply: both flags, escapes, the CRC low byte first
// (damaged on request).
inline std::string Frame(const Bytes& payload, bool badCrc = false) {
  uint16_t crc = FastCrc16(payload.data(), payload.size());
  if (badCrc) crc ^= 0x0101;
  std::string wire;
  wire.reserve(payload.size() * 2 + 6);
  wire += '\x7E';
  const auto put = [&](uint8_t byte) {
    if (byte == 0x7E || byte == 0x7D) {
      wire += '\x7D';
      wire += static_cast<char>(byte ^ 0x20);
    } else {
      wire += static_cast<char>(byte);
    }
  };
  for (uint8_t byte : payload) put(byte);
  put(static_cast<uint8_t>(crc & 0xFF));
  put(static_cast<uint8_t>(crc >> 8));
  wire += '\x7E';
  return wire;
}

// The flash contents the device reads out: every value, 7E and 7D included.
inline uint8_t FlashByte(uint32_t address) { return static_cast<uint8_t>(address * 7 + (address >> 10)); }

struct Request {
  Bytes payload;  // without the CRC
  bool leadingFlag = false;
  bool crcOk = false;
  uint8_t Code() const { return payload.empty() ? 0xFF : payload[0]; }
};

class ScriptedDevice {
 public:
  // Returns the wire bytes to answer with ("" for silence), or nothing for
  // the default answer. Runs on the peer thread.
  using Handler = std::function<std::optional<std::string>(const Request&, int index)>;

  explicit ScriptedDevice(testkit::TestPort& port, Handler handler = {})
      : handler_(std::move(handler)), peer_(port, [this](const std::string& chunk) { return OnBytes(chunk); }) {}

  std::vector<Request> Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  size_t RequestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
  }
  // How many requests of one code arrived (0x07 counts the stream writes
  // and the parameter request alike).
  size_t CountOf(uint8_t code) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Request& r : requests_) n += r.Code() == code;
    return n;
  }

  // The answer of a well-behaved device.
  static std::string DefaultAnswer(const Request& request) {
    const Bytes& p = request.payload;
    switch (request.Code()) {
      case 0x3A: return Frame({0x3A});
      case 0x06: return Frame({0x02});
      case 0x07:
        if (p.size() == 1) return Frame({0x08, 0x01, 0x02, 0x03});  // parameters
        return Frame({0x08, p[1], p[2], p[3], p[4]});                 // stream write
      case 0x0F: return Frame({0x02});
      case 0x05: return Frame({0x02});
      case 0x01: return Frame(HelloReply("NAND9"));
      case 0x03: return Frame(ReadReply(p));
      case 0x0B: return Frame({0x0C});
      case 0x00: return Frame({0x00, 'V', '1', '.', '2', 0x00, 'x'});
      case 0x17: return Frame({0x18});
      case 0x19: return Frame({0x1A, 0x00});
      case 0x1B: return Frame({0x1C});
      case 0x15: return Frame({0x16});
      default: return "";
    }
  }

  // 02, 42 bytes with flags and escapes among them, the name's length byte
  // (`lengthByte`, else the name's size) at offset 43 and the name.
  static Bytes HelloReply(const std::string& name, std::optional<uint8_t> lengthByte = std::nullopt) {
    Bytes reply{0x02};
    for (int i = 1; i < 43; ++i) reply.push_back(i % 3 == 0 ? 0x7E : (i % 3 == 1 ? 0x7D : static_cast<uint8_t>(i)));
    reply.push_back(lengthByte.value_or(static_cast<uint8_t>(name.size())));
    reply.insert(reply.end(), name.begin(), name.end());
    return reply;
  }

  // 04, the request's address and its 1024 flash bytes.
  static Bytes ReadReply(const Bytes& request) {
    Bytes reply(5 + 1024);
    reply[0] = 0x04;
    for (int i = 0; i < 4; ++i) reply[1 + i] = request.size() > 4 ? request[1 + i] : 0;
    const uint32_t address = static_cast<uint32_t>(reply[1]) | reply[2] << 8 | reply[3] << 16 |
                             static_cast<uint32_t>(reply[4]) << 24;
    for (uint32_t i = 0; i < 1024; ++i) reply[5 + i] = FlashByte(address + i);
    return reply;
  }

 private:
  std::string OnBytes(const std::string& chunk) {
    std::string answer;
    for (char c : chunk) {
      const uint8_t byte = static_cast<uint8_t>(c);
      if (byte == 0x7E) {
        if (frame_.empty()) {
          leading_ = true;  // an opening flag, or a flag after a flag
          continue;
        }
        answer += Complete();
        continue;
      }
      if (!started_) {
        started_ = true;
        frameLeading_ = leading_;
      }
      if (byte == 0x7D) {
        escape_ = true;
        continue;
      }
      frame_.push_back(escape_ ? byte ^ 0x20 : byte);
      escape_ = false;
    }
    return answer;
  }

  std::string Complete() {
    Request request;
    request.leadingFlag = frameLeading_;
    if (frame_.size() >= 2) {
      const uint16_t crc = static_cast<uint16_t>(frame_[frame_.size() - 2] | frame_.back() << 8);
      request.payload.assign(frame_.begin(), frame_.end() - 2);
      request.crcOk = BitwiseCrc16(request.payload.data(), request.payload.size()) == crc;
    }
    frame_.clear();
    escape_ = false;
    started_ = false;
    leading_ = false;
    int index = 0;
    {
      std::lock_guard lock(mutex_);
      index = static_cast<int>(requests_.size());
      requests_.push_back(request);
    }
    if (handler_) {
      if (std::optional<std::string> answer = handler_(request, index)) return *answer;
    }
    return DefaultAnswer(request);
  }

  Handler handler_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  Bytes frame_;
  bool escape_ = false;
  bool started_ = false;
  bool leading_ = false;
  bool frameLeading_ = false;
  testkit::ScriptedPeer peer_;  // last: its thread stops before the rest goes
};

}  // namespace download::testdevice
