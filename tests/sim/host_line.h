// The host's end of the line for the simulated device's tests: its own
// framing (a table-driven CRC-16/X.25, not the device's bit loop), and a
// COM<n> port opened the way the system opens it, with a reader that takes
// one reply frame at a time.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "plat/clock.h"
#include "plat/serial.h"
#include "plat/serial_map.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline constexpr uint32_t kWaitMs = 10000;  // real; generous for loaded sanitizer runs
inline constexpr int kScale = 100;          // the time scale the device's tests run at

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The serial-port map's (name, data) values in enumeration order.
using MapValues = std::vector<std::pair<std::string, std::string>>;
inline MapValues ReadMap() {
  MapValues map;
  char name[128];
  char data[32];
  for (uint32_t i = 0;; ++i) {
    const plat::EnumStatus status = plat::SerialMap::EnumValue(i, name, sizeof name, data, sizeof data);
    if (status == plat::EnumStatus::MoreData) continue;
    if (status != plat::EnumStatus::Ok) return map;
    map.emplace_back(name, data);
  }
}

// "7E 06 4E 95" -> {0x7E, 0x06, 0x4E, 0x95}
inline Bytes Hex(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  for (unsigned value; in >> std::hex >> value;) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline uint16_t HostCrc(const uint8_t* data, size_t count) {
  static const std::array<uint16_t, 256> table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      unsigned v = i;
      for (int k = 0; k < 8; ++k) v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
      t[i] = static_cast<uint16_t>(v);
    }
    return t;
  }();
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) crc = static_cast<uint16_t>(table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return static_cast<uint16_t>(crc ^ 0xFFFF);
}
inline uint16_t HostCrc(const Bytes& b) { return HostCrc(b.data(), b.size()); }

// The request as the host puts it on the line.
inline Bytes Encode(const Bytes& payload, bool leadingFlag = true, bool badCrc = false) {
  Bytes packet = payload;
  uint16_t crc = HostCrc(payload);
  if (badCrc) crc = static_cast<uint16_t>(crc + 1);
  packet.push_back(static_cast<uint8_t>(crc));
  packet.push_back(static_cast<uint8_t>(crc >> 8));
  Bytes wire;
  if (leadingFlag) wire.push_back(0x7E);
  for (uint8_t b : packet) {
    if (b == 0x7E || b == 0x7D) {
      wire.push_back(0x7D);
      wire.push_back(static_cast<uint8_t>(b ^ 0x20));
    } else {
      wire.push_back(b);
    }
  }
  wire.push_back(0x7E);
  return wire;
}

inline Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
}
inline Bytes Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// The requests of the dialogue.
inline Bytes Hello() {
  Bytes b{0x01};
  const std::string magic = "QCOM fast download protocol host";
  b.insert(b.end(), magic.begin(), magic.end());
  b.insert(b.end(), {0x03, 0x03, 0x09});
  return b;
}
inline Bytes WriteRam(uint32_t address, const Bytes& data) {
  Bytes b = Cat({0x0F}, Be32(address));
  b.push_back(static_cast<uint8_t>(data.size() >> 8));
  b.push_back(static_cast<uint8_t>(data.size()));
  return Cat(b, data);
}
inline Bytes StreamWrite(uint32_t address, const Bytes& data) { return Cat(Cat({0x07}, Le32(address)), data); }
inline Bytes ReadFlash(uint32_t address, uint16_t length = 1024) {
  return Cat(Cat({0x03}, Le32(address)), {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)});
}
inline const Bytes kGo = {0x05, 0x10, 0x00, 0x00, 0x00};

struct Reply {
  Bytes payload;  // unescaped, without the CRC
  bool crcOk = false;
  Bytes raw;      // every byte taken off the line up to the closing flag
};

// System milliseconds that last `realMs` real ones at the current time scale.
inline uint32_t SystemMs(uint32_t realMs) { return realMs * static_cast<uint32_t>(plat::TimeScale()); }

class HostLine {
 public:
  explicit HostLine(unsigned com) : port_(plat::SerialPort::Open(com, &error_)) {
    if (!port_) return;
    plat::CommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutConstant = SystemMs(50);
    timeouts.WriteTotalTimeoutConstant = SystemMs(5000);
    port_->SetCommTimeouts(timeouts);
  }
  bool Ok() const { return port_ != nullptr; }
  plat::OpenError Error() const { return error_; }
  plat::SerialPort& Port() { return *port_; }

  bool SendRaw(const Bytes& bytes) {
    uint32_t written = 0;
    return port_->Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &written) && written == bytes.size();
  }
  bool Send(const Bytes& payload, bool leadingFlag = true) { return SendRaw(Encode(payload, leadingFlag)); }

  // The next frame from the device, or nothing within `realMs`.
  std::optional<Reply> Receive(uint32_t realMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
      if (auto reply = TakeFrame()) return reply;
      if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
      uint8_t chunk[4096];
      uint32_t got = 0;
      if (!port_->Read(chunk, sizeof chunk, &got)) return std::nullopt;
      pending_.insert(pending_.end(), chunk, chunk + got);
    }
  }

  // Raw bytes: what has come once `done` holds for it, or when `realMs`
  // are over; taken off the line either way.
  Bytes ReceiveUntil(const std::function<bool(const Bytes&)>& done, uint32_t realMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    while (!done(pending_) && std::chrono::steady_clock::now() < deadline) {
      uint8_t chunk[4096];
      uint32_t got = 0;
      if (!port_->Read(chunk, sizeof chunk, &got)) break;
      pending_.insert(pending_.end(), chunk, chunk + got);
    }
    Bytes taken;
    taken.swap(pending_);
    return taken;
  }
  Bytes ReceiveBytes(size_t count, uint32_t realMs = 5000) {
    return ReceiveUntil([count](const Bytes& b) { return b.size() >= count; }, realMs);
  }
  // An AT answer: the text up to its final result.
  std::string ReceiveAnswer(uint32_t realMs = 5000) {
    const Bytes bytes = ReceiveUntil(
        [](const Bytes& b) {
          const std::string text(b.begin(), b.end());
          return text.ends_with("\r\nOK\r\n") || text.ends_with("\r\nERROR\r\n");
        },
        realMs);
    return {bytes.begin(), bytes.end()};
  }
  std::string Command(const std::string& line) {
    EXPECT_TRUE(SendRaw(Bytes(line.begin(), line.end()))) << line;
    return ReceiveAnswer();
  }

  // Sends and takes the reply's payload, which must come with a good CRC.
  Bytes Exchange(const Bytes& payload, bool leadingFlag = true) {
    EXPECT_TRUE(Send(payload, leadingFlag));
    const auto reply = Receive();
    if (!reply) {
      ADD_FAILURE() << "no reply";
      return {};
    }
    EXPECT_TRUE(reply->crcOk);
    return reply->payload;
  }

 private:
  // A frame opens at a flag and closes at the next flag after some bytes.
  std::optional<Reply> TakeFrame() {
    size_t open = 0;
    while (open < pending_.size() && pending_[open] != 0x7E) ++open;
    size_t close = open + 1;
    while (close < pending_.size() && (pending_[close] != 0x7E || close == open + 1)) {
      if (pending_[close] == 0x7E) open = close;  // flag after flag: the frame opens at the later one
      ++close;
    }
    if (close >= pending_.size()) return std::nullopt;
    Reply reply;
    Bytes unescaped;
    for (size_t i = open + 1; i < close; ++i) {
      if (pending_[i] == 0x7D && i + 1 < close) {
        unescaped.push_back(static_cast<uint8_t>(pending_[++i] ^ 0x20));
      } else {
        unescaped.push_back(pending_[i]);
      }
    }
    if (unescaped.size() >= 2) {
      const uint16_t crc = static_cast<uint16_t>(unescaped[unescaped.size() - 2] | unescaped.back() << 8);
      unescaped.resize(unescaped.size() - 2);
      reply.crcOk = HostCrc(unescaped) == crc;
    }
    reply.payload = std::move(unescaped);
    reply.raw.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(close + 1));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(close + 1));
    return reply;
  }

  plat::OpenError error_ = plat::OpenError::None;
  std::shared_ptr<plat::SerialPort> port_;
  Bytes pending_;
};

}  // namespace simtest
