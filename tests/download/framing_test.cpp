#include "download/framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "download/transport.h"
#include "plat/clock.h"
#include "support/port_kit.h"

namespace download {
namespace {

using Bytes = std::vector<uint8_t>;

// "7E 06 4E 95" -> {0x7E, 0x06, 0x4E, 0x95}
Bytes Hex(const std::string& text) {
  Bytes bytes;
  std::istringstream in(text);
  for (unsigned value; in >> std::hex >> value;) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

class DownloadFraming : public ::testing::Test {
 protected:
  void SetUp() override {
    transport_testing::Reset();
    framing_testing::Reset();
  }
  void TearDown() override { transport_testing::Reset(); }

  static void SetPacket(const Bytes& payload) {
    TxPacket.Length = static_cast<int32_t>(payload.size());
    std::copy(payload.begin(), payload.end(), TxPacket.Payload.begin());
  }
  static Bytes Frame() { return Bytes(TxFrame.Bytes.begin(), TxFrame.Bytes.begin() + TxFrame.Length); }
  static Bytes Received() { return Bytes(RxFrame.Bytes.begin(), RxFrame.Bytes.begin() + RxFrame.Count); }
};

TEST_F(DownloadFraming, CrcTableIsThatOfTheReflectedPolynomial) {
  struct Case {
    int index;
    uint16_t value;
  };
  for (const Case& c : {Case{0, 0x0000}, Case{1, 0x1189}, Case{128, 0x8408}, Case{255, 0x0F78}}) {
    EXPECT_EQ(CrcTable[c.index], c.value) << "entry " << c.index;
  }
}

TEST_F(DownloadFraming, CalcCrc16IsCrc16X25OverAByteCount) {
  struct Case {
    std::string data;
    int crc;
  };
  const Case cases[] = {
      {"", 0x0000},
      {"123456789", 0x906E},  // the published check value
      {"\x06", 0x954E},
      {"\x0C", 0x3A14},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CalcCrc16(reinterpret_cast<const uint8_t*>(c.data.data()), static_cast<int>(c.data.size())), c.crc)
        << '"' << c.data << '"';
  }
}

// The sum takes four bytes per step and the rest one by one: every length
// and start against the polynomial applied bit by bit.
TEST_F(DownloadFraming, CalcCrc16AgreesWithTheBitwiseSumForEveryLengthAndStart) {
  const auto bitwise = [](const uint8_t* data, int count) {
    unsigned crc = 0xFFFF;
    for (int i = 0; i < count; ++i) {
      crc ^= data[i];
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
    }
    return static_cast<int>(crc ^ 0xFFFF);
  };
  std::vector<uint8_t> bytes(1040);
  uint32_t seed = 12345;
  for (uint8_t& byte : bytes) {
    seed = seed * 1103515245 + 12345;
    byte = static_cast<uint8_t>(seed >> 16);
  }
  for (int start = 0; start < 4; ++start) {
    for (int count = 0; count + start <= static_cast<int>(bytes.size()); ++count) {
      ASSERT_EQ(CalcCrc16(bytes.data() + start, count), bitwise(bytes.data() + start, count))
          << "start " << start << ", " << count << " bytes";
    }
  }
}

TEST_F(DownloadFraming, AppendCrcAddsTheCrcLowByteFirst) {
  SetPacket(Hex("06"));
  AppendCrc();
  EXPECT_EQ(TxPacket.Length, 3);
  EXPECT_EQ(Bytes(TxPacket.Payload.begin(), TxPacket.Payload.begin() + 3), Hex("06 4E 95"));
}

TEST_F(DownloadFraming, SendFrameEscapesAndFlagsTheRequest) {
  struct Case {
    std::string request;  // before the CRC
    int leadingFlag;
    std::string frame;
  };
  const Case cases[] = {
      {"06", 1, "7E 06 4E 95 7E"},
      {"0C", 0, "0C 14 3A 7E"},
      {"06", 2, "06 4E 95 7E"},          // only exactly 1 asks for the leading flag
      {"7E", 1, "7E 7D 5E 81 6A 7E"},    // payload flag
      {"7D", 1, "7E 7D 5D 1A 58 7E"},    // payload escape
      {"60", 1, "7E 60 7D 5E 93 7E"},    // CRC byte 0x7E
      {"19", 1, "7E 19 38 7D 5D 7E"},    // CRC byte 0x7D
      {"11 13 00 20 5E", 0, "11 13 00 20 5E D7 0E 7E"},  // nothing else is escaped
  };
  for (const Case& c : cases) {
    SetPacket(Hex(c.request));
    AppendCrc();
    SendFrame(c.leadingFlag);
    EXPECT_EQ(Frame(), Hex(c.frame)) << c.request << " flag " << c.leadingFlag;
  }
}

TEST_F(DownloadFraming, SendFrameWithoutAPortReportsTheWriteFailure) {
  SetPacket(Hex("06"));
  AppendCrc();
  EXPECT_EQ(SendFrame(1), kErrWrite);
}

TEST_F(DownloadFraming, SendFrameRefusesAFrameThatDoesNotFit) {
  struct Case {
    int flags;  // payload bytes 0x7E, each escaped to two
    int plain;  // payload bytes sent as they are
    int leadingFlag;
    bool fits;
  };
  const Case cases[] = {
      {4097, 0, 1, true},  // 8194 escaped bytes and two flags: 8196, the whole buffer
      {4097, 1, 1, false},
      {4097, 1, 0, true},
      {0, 8195, 1, false},
      {0, 65536, 0, false},
  };
  for (const Case& c : cases) {
    Bytes payload(c.flags, 0x7E);
    payload.insert(payload.end(), c.plain, 0x41);
    SetPacket(payload);
    const int result = SendFrame(c.leadingFlag);
    if (c.fits) {
      EXPECT_EQ(result, kErrWrite) << "no port: the frame goes to SendBytes";
      EXPECT_EQ(TxFrame.Length, 8196);
    } else {
      EXPECT_EQ(result, -1) << c.flags << " + " << c.plain;
      EXPECT_EQ(TxFrame.Length, 0);
    }
  }
}

TEST_F(DownloadFraming, RxUnescapeByteReportsFramesAtTheirClosingFlag) {
  struct Case {
    std::string input;
    std::string results;  // one digit per byte fed
    std::string stored;
  };
  const Case cases[] = {
      {"7E 7E 02 4A 5B 7E", "000001", "02 4A 5B"},
      {"02 7E", "00", ""},                                       // too short: dropped
      {"7E 01 7D 5E 7D 5D 03 7E", "00000001", "01 7E 7D 03"},    // escapes undone
      {"7E 02 00 00 7E", "00001", "02 00 00"},                   // the CRC is not checked
      {"7E 02 4A 5B 7E 7E", "000011", "02 4A 5B"},               // a second flag reports again
      {"7E 02 4A 5B 7E 09 7E", "0000101", "02 4A 5B 09"},        // no reset: bytes append
      {"7E 7D 7E 41 42 43 7E", "0000001", "41 42 43"},           // a flag ends a pending escape
  };
  for (const Case& c : cases) {
    framing_testing::Reset();
    std::string results;
    for (uint8_t byte : Hex(c.input)) results += static_cast<char>('0' + RxUnescapeByte(byte));
    EXPECT_EQ(results, c.results) << c.input;
    EXPECT_EQ(Received(), Hex(c.stored)) << c.input;
  }
}

TEST_F(DownloadFraming, AnOverlongFrameIsCutAtTheBufferSize) {
  RxUnescapeByte(0x7E);
  for (int i = 0; i < 9000; ++i) RxUnescapeByte(i % 0x70);
  EXPECT_EQ(RxUnescapeByte(0x7E), 1);
  ASSERT_EQ(RxFrame.Count, 8192);
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(RxFrame.Bytes[i], i % 0x70) << "byte " << i;
}

TEST_F(DownloadFraming, PollRxFrameConsumesOneRingByteAtATime) {
  // No port is open: bytes already in the ring are taken without any wait.
  const Bytes input = Hex("7E 7E 02 4A 5B 7E");
  transport_testing::Push(input.data(), static_cast<int>(input.size()));
  std::string results;
  for (size_t i = 0; i < input.size(); ++i) results += std::to_string(PollRxFrame());
  EXPECT_EQ(results, "000001");
  EXPECT_EQ(Received(), Hex("02 4A 5B"));
  EXPECT_EQ(PollRxFrame(), -1) << "empty ring and nothing to wait on";
}

class DownloadFramingOnPort : public DownloadFraming {
 protected:
  static constexpr unsigned kCom = 5;
  void SetUp() override {
    DownloadFraming::SetUp();
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(20);
    ASSERT_TRUE(peer_.Ok());
    ASSERT_EQ(OpenDownloadPort(kCom, 115200, "pn"), 0);
  }
  void TearDown() override {
    DownloadFraming::TearDown();
    plat::SetTimeScale(savedScale_);
  }

  testkit::TempDeviceRoot root_;
  testkit::TestPort peer_{kCom};
  int savedScale_ = 1;
};

TEST_F(DownloadFramingOnPort, ARefusedFrameWritesNothing) {
  SetPacket(Bytes(8195, 0x41));
  EXPECT_EQ(SendFrame(1), -1);
  SetPacket(Hex("06"));
  AppendCrc();
  EXPECT_EQ(SendFrame(1), 5);
  const std::string frame = peer_.PeerReadExactly(5, 5000);
  EXPECT_EQ(Bytes(frame.begin(), frame.end()), Hex("7E 06 4E 95 7E"));
}

TEST_F(DownloadFramingOnPort, PollRxFrameAssemblesAReplyFromThePort) {
  ASSERT_TRUE(peer_.PeerWrite(std::string("\x7E\x02\x7D\x5E\x4A\x5B\x7E")));
  int result = 0;
  for (int polls = 0; polls < 7 && result == 0; ++polls) result = PollRxFrame();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(Received(), Hex("02 7E 4A 5B"));
}

TEST_F(DownloadFramingOnPort, PollRxFrameGivesUpWhenNothingArrives) {
  const uint32_t start = plat::GetTickCount();
  EXPECT_EQ(PollRxFrame(), -1);
  EXPECT_GE(plat::GetTickCount() - start, 1000u);
}

}  // namespace
}  // namespace download
