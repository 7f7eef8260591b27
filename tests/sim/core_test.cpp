// The simulated device's framing and knob texts, in process.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host_line.h"
#include "sim/hdlc.h"
#include "sim/knobs.h"

namespace {

using simtest::Bytes;
using simtest::Encode;
using simtest::Hex;

TEST(SimCrc, GivesThePublishedValues) {
  const std::string check = "123456789";
  EXPECT_EQ(sim::Crc16({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0x906E);
  struct Case {
    Bytes payload;
    uint16_t crc;
  };
  for (const Case& c : std::vector<Case>{{{0x06}, 0x954E}, {{0x0C}, 0x3A14}, {{0x3A}, 0x6EA1}}) {
    EXPECT_EQ(sim::Crc16(c.payload), c.crc);
    EXPECT_EQ(simtest::HostCrc(c.payload), c.crc);
  }
}

// The device's encoder and the host's agree on every frame, including those
// whose payload or CRC holds the flag or the escape.
TEST(SimFraming, FramesAsTheHostDoes) {
  std::vector<Bytes> payloads{{0x06}, Hex("7E 7D 01 7E"), Bytes(1029, 0x7E)};
  bool crcEscaped = false;
  for (unsigned a = 0; a < 256; ++a) {
    payloads.push_back({static_cast<uint8_t>(a)});
    const uint16_t crc = simtest::HostCrc(payloads.back());
    crcEscaped |= (crc & 0xFF) == 0x7E || (crc & 0xFF) == 0x7D || (crc >> 8) == 0x7E || (crc >> 8) == 0x7D;
  }
  ASSERT_TRUE(crcEscaped);
  for (const Bytes& payload : payloads) {
    Bytes frame;
    sim::AppendFrame(frame, payload);
    EXPECT_EQ(frame, Encode(payload));
  }
  EXPECT_EQ(Encode({0x06}), Hex("7E 06 4E 95 7E"));
}

struct Seen {
  Bytes bytes;
  bool leading;
  bool crcOk;
  bool broken;
  bool operator==(const Seen&) const = default;
};

std::vector<Seen> FeedInChunks(const Bytes& stream, const std::vector<size_t>& chunks) {
  sim::Deframer deframer;
  std::vector<Seen> seen;
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); ++i) {
    const size_t chunk = std::min(chunks[i % chunks.size()], stream.size() - at);
    for (size_t used = 0; used < chunk;) {
      used += deframer.Feed(stream.data() + at + used, chunk - used);
      if (!deframer.Ready()) continue;
      const auto frame = deframer.Frame();
      seen.push_back({Bytes(frame.begin(), frame.end()), deframer.Leading(), deframer.CrcOk(), deframer.Broken()});
      deframer.Next();
    }
    at += chunk;
  }
  return seen;
}

Bytes WithCrc(Bytes payload, uint16_t add = 0) {
  const uint16_t crc = static_cast<uint16_t>(simtest::HostCrc(payload) + add);
  payload.push_back(static_cast<uint8_t>(crc));
  payload.push_back(static_cast<uint8_t>(crc >> 8));
  return payload;
}

// However the host's bytes are cut up on the way, the same frames come out,
// each telling whether it had a leading flag and whether its CRC holds.
TEST(SimFraming, TakesFramesHoweverTheBytesArrive) {
  const Bytes escaped = Hex("07 00 7E 7D 00 55");
  Bytes stream;
  for (const Bytes& part : {Hex("3A A1 6E 7E"), Encode({0x06}), Encode({0x06}, false), Hex("7E 7E"), Encode(escaped),
                            Encode({0x0B}, true, true), Hex("41 54 0D 7E"), Hex("7E 06 7D 7E"), Encode({0x15})}) {
    stream.insert(stream.end(), part.begin(), part.end());
  }
  const std::vector<Seen> want{
      {Hex("3A A1 6E"), false, true, false},
      {WithCrc({0x06}), true, true, false},
      {WithCrc({0x06}), false, true, false},
      {WithCrc(escaped), true, true, false},
      {WithCrc({0x0B}, 1), true, false, false},  // the host's encoder spoils a CRC by adding one
      {Hex("41 54 0D"), false, false, false},
      {Hex("06"), true, false, true},
      {WithCrc({0x15}), true, true, false},
  };
  EXPECT_EQ(FeedInChunks(stream, {stream.size()}), want);
  EXPECT_EQ(FeedInChunks(stream, {1}), want);
  std::mt19937 random(7);
  std::vector<size_t> cuts;
  for (int i = 0; i < 64; ++i) cuts.push_back(1 + random() % 9);
  EXPECT_EQ(FeedInChunks(stream, cuts), want);
}

TEST(SimFraming, CutsAnOverlongFrameAndMarksItBroken) {
  Bytes stream(sim::Deframer::kMaxFrame + 102, 0x11);
  stream.front() = 0x7E;
  stream.back() = 0x7E;
  const auto seen = FeedInChunks(stream, {4096});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].bytes.size(), sim::Deframer::kMaxFrame);
  EXPECT_TRUE(seen[0].broken);
  EXPECT_FALSE(seen[0].crcOk);
}

TEST(SimKnobs, ReadsKnobTexts) {
  struct Case {
    std::string text;
    std::optional<sim::Knob> knob;
  };
  using sim::Fault;
  using sim::Step;
  const std::vector<Case> cases{
      {"delay,step=nop,value=12000", sim::Knob{Fault::Delay, Step::Nop, -1, 0, sim::kAlways, 12000}},
      {"short-read,step=read,skip=2,times=3", sim::Knob{Fault::ShortRead, Step::Read, -1, 2, 3, 0}},
      {"wrong-code,request=5,value=0x03", sim::Knob{Fault::WrongCode, Step::Any, 5, 0, sim::kAlways, 3}},
      {"silence-after-reset,value=forever", sim::Knob{Fault::SilenceAfterReset, Step::Any, -1, 0, sim::kAlways, sim::kForever}},
      {"hang-up,step=stream-write,skip=10,times=1", sim::Knob{Fault::HangUp, Step::StreamWrite, -1, 10, 1, 0}},
      {"", std::nullopt},
      {"nope", std::nullopt},
      {"delay,step=bogus", std::nullopt},
      {"delay,value", std::nullopt},
      {"delay,request=-1", std::nullopt},
      {"delay,value=12x", std::nullopt},
      {"delay,colour=red", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto knob = sim::ParseKnob(c.text);
    ASSERT_EQ(knob.has_value(), c.knob.has_value());
    if (!knob) continue;
    EXPECT_EQ(knob->fault, c.knob->fault);
    EXPECT_EQ(knob->step, c.knob->step);
    EXPECT_EQ(knob->request, c.knob->request);
    EXPECT_EQ(knob->skip, c.knob->skip);
    EXPECT_EQ(knob->times, c.knob->times);
    EXPECT_EQ(knob->value, c.knob->value);
  }
}

}  // namespace
