// The write path: requests off WriteQ, written to the AT port one at a time,
// each waiting for its final result; against an AT peer on a pseudo-terminal
// with the link's own threads, and drained on the test thread where the
// port does not matter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link_test_support.h"
#include "plat/clock.h"
#include "support/port_kit.h"

namespace {

using linktest::Indication;
using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr unsigned kCom = 7;

bool Queue(linklayer& link, int32_t id, const std::string& data) {
  return link.pWriteQ->Enqueue(id, data.data(), static_cast<int32_t>(data.size()), true);
}

std::vector<std::string> Texts(const std::vector<linktest::AtPeer::Command>& commands) {
  std::vector<std::string> texts;
  for (const auto& command : commands) texts.push_back(command.text);
  return texts;
}

const Indication Ok{IdOk, "OK"};
const Indication PortNotOpen{IdPortNotOpen, "\0"s};

class WriteLoop : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    ASSERT_TRUE(port_.Ok());
  }
  void TearDown() override { plat::SetTimeScale(savedScale_); }

  // A link with its threads, connected to the test port.
  std::unique_ptr<linklayer> Connected() {
    auto link = std::make_unique<linklayer>(linktest::TestOptions(true));
    LinkLayerPeer::ModemPort(*link) = kCom;
    EXPECT_TRUE(link->Connect(0, 0));
    return link;
  }

  int savedScale_ = 1;
  testkit::TempDeviceRoot root_;
  testkit::TestPort port_{kCom};
};

struct FinalResultCase {
  const char* name;
  std::string result;
  Indication indication;
};

void PrintTo(const FinalResultCase& c, std::ostream* os) { *os << c.name; }

class FinalResult : public WriteLoop, public testing::WithParamInterface<FinalResultCase> {};

// At the platform's own time scale a second write of a request would come
// 20 s later: the next request coming first shows the first was written once.
TEST_P(FinalResult, EndsTheWaitAndTheRequestIsWrittenOnce) {
  const FinalResultCase& c = GetParam();
  linktest::AtPeer peer(port_, [&c](const std::string& command) {
    if (command == "AT+CGMR") return "\r\n+CGMR: M6275A V3.1.2 B05 [2009/12/01 10:20]\r\n\r\n" + c.result + "\r\n";
    return "\r\nOK\r\n"s;
  });
  auto link = Connected();
  linktest::IndicationWatch watch(*link);
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CGMR"));
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CFUN?"));
  ASSERT_TRUE(watch.WaitFor(IdVersion));
  ASSERT_TRUE(watch.WaitFor(IdOk, c.indication.id == IdOk ? 2 : 1));

  EXPECT_EQ(peer.Received(), "AT+CGMR\r\nAT+CFUN?\r\n");
  const std::vector<Indication> seen = watch.Seen();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].id, IdVersion);
  EXPECT_EQ(seen[1], c.indication);
  EXPECT_EQ(seen[2], Ok);
}

INSTANTIATE_TEST_SUITE_P(Results, FinalResult,
                         testing::Values(FinalResultCase{"Ok", "OK", Ok},
                                         FinalResultCase{"Error", "ERROR", {IdError, "ERROR"}}),
                         [](const testing::TestParamInfo<FinalResultCase>& info) { return info.param.name; });

TEST_F(WriteLoop, UnansweredRequestIsWrittenThreeTimesThenTheNextOne) {
  plat::SetTimeScale(100);  // 20000 ms waits of 200 ms
  linktest::AtPeer peer(port_, [](const std::string& command) {
    return command == "AT+CFUN?" ? "\r\nOK\r\n"s : ""s;
  });
  auto link = Connected();
  linktest::IndicationWatch watch(*link);
  const uint32_t queued = plat::GetTickCount();
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CGMR"));
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CFUN?"));
  ASSERT_TRUE(watch.WaitFor(IdOk));

  const std::vector<linktest::AtPeer::Command> commands = peer.Commands();
  EXPECT_EQ(Texts(commands),
            (std::vector<std::string>{"AT+CGMR\r\n", "AT+CGMR\r\n", "AT+CGMR\r\n", "AT+CFUN?\r\n"}));
  ASSERT_EQ(commands.size(), 4u);
  // Each write follows a full wait after the one before, so the n-th can
  // reach the peer no sooner than n-1 waits after the request was queued,
  // however late the peer sees any of them (the margin is the tick's step).
  for (size_t i = 1; i < commands.size(); ++i)
    EXPECT_GE(static_cast<int32_t>(commands[i].tick - queued), static_cast<int32_t>(i) * 20000 - 200) << i;
  EXPECT_EQ(watch.Seen(), std::vector<Indication>{Ok});
}

TEST_F(WriteLoop, CloseFromAnotherThreadEndsTheWaitAtOnce) {
  // At the platform's time scale: without the release the next request
  // would be handled only after a 20 s wait.
  linktest::AtPeer peer(port_, [](const std::string&) { return ""s; });
  auto link = Connected();
  linktest::IndicationWatch watch(*link);
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CGMR"));
  ASSERT_TRUE(peer.WaitForCommands(1));
  link->ClosePort();
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CFUN?"));
  EXPECT_TRUE(watch.WaitFor(IdPortNotOpen));
  EXPECT_EQ(Texts(peer.Commands()), std::vector<std::string>{"AT+CGMR\r\n"});
}

TEST_F(WriteLoop, DestructionDoesNotWaitForAFinalResult) {
  linktest::AtPeer peer(port_, [](const std::string&) { return ""s; });
  auto link = Connected();
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CGMR"));
  ASSERT_TRUE(Queue(*link, IdAtCommand, "AT+CFUN?"));
  ASSERT_TRUE(peer.WaitForCommands(1));
  auto destroyed = std::async(std::launch::async, [&link] { link.reset(); });
  EXPECT_EQ(destroyed.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(Texts(peer.Commands()), std::vector<std::string>{"AT+CGMR\r\n"});
}

TEST_F(WriteLoop, SmsRequestsAndRawText) {
  linktest::AtPeer peer(port_, [](const std::string&) { return "\r\nOK\r\n"s; });
  auto link = Connected();
  linktest::IndicationWatch watch(*link);
  ASSERT_TRUE(Queue(*link, IdSmsNewSet, "AT+A"));
  ASSERT_TRUE(Queue(*link, IdSmsSend, "AT+B"));       // refused from now on
  ASSERT_TRUE(Queue(*link, IdNoPortNotice, "AT+C"));  // written like any command while open
  ASSERT_TRUE(Queue(*link, IdRawText, "AT+D\r\n"));   // written as it stands
  ASSERT_TRUE(watch.WaitFor(IdOk, 3));

  EXPECT_EQ(peer.Received(), "AT+A\r\nAT+C\r\nAT+D\r\n");
  // The refusal follows A's final result, which releases the writer just
  // before its indication is queued: the two may come in either order.
  std::vector<Indication> seen = watch.Seen();
  const Indication refused{IdOperationNotAllowed, "operation not allowed"};
  ASSERT_EQ(seen.size(), 4u);
  if (seen[0] == refused) std::swap(seen[0], seen[1]);
  EXPECT_EQ(seen, (std::vector<Indication>{Ok, refused, Ok, Ok}));
  EXPECT_TRUE(LinkLayerPeer::SmsNew(*link));
}

// Drained on the test thread: no thread of the link runs.
class Drain : public testing::Test {
 protected:
  void SetUp() override {
    notify_.Create(true, false);
    link_.SetNotifyEvent(notify_.NotifyHandle());
  }
  bool Notified() {
    const bool set = notify_.Wait(0) == plat::WaitResult::Signaled;
    notify_.Reset();
    return set;
  }

  std::atomic<int> scans_{0};
  std::function<void(linklayer&)> scan_;
  linklayer link_{[this] {
    LinkOptions options = linktest::TestOptions();
    options.ScanPorts = [this](linklayer& link) {
      ++scans_;
      if (scan_) scan_(link);
    };
    return options;
  }()};
  plat::Event notify_;
};

TEST_F(Drain, PortNotOpenIsToldOnceAndNeverForId10) {
  ASSERT_TRUE(Queue(link_, IdNoPortNotice, "AT"));
  EXPECT_TRUE(LinkLayerPeer::DrainWriteQueue(link_));
  EXPECT_TRUE(linktest::TakeAll(*link_.pReadQ).empty());
  EXPECT_FALSE(Notified());

  ASSERT_TRUE(Queue(link_, IdAtCommand, "AT+CGMR"));
  EXPECT_TRUE(LinkLayerPeer::DrainWriteQueue(link_));
  EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), std::vector<Indication>{PortNotOpen});
  EXPECT_TRUE(Notified());

  // Not again, even after the port was open meanwhile.
  testkit::TempDeviceRoot root;
  testkit::TestPort port(kCom);
  ASSERT_TRUE(port.Ok());
  LinkLayerPeer::ModemPort(link_) = kCom;
  ASSERT_TRUE(LinkLayerPeer::OpenPort(link_));
  link_.ClosePort();
  ASSERT_TRUE(Queue(link_, IdAtCommand, "AT+CGMR"));
  EXPECT_TRUE(LinkLayerPeer::DrainWriteQueue(link_));
  EXPECT_TRUE(linktest::TakeAll(*link_.pReadQ).empty());
  EXPECT_TRUE(link_.pWriteQ->IsEmpty());
}

TEST_F(Drain, ScanRequestRunsTheScanWithoutAPortAndLaterRequestsWait) {
  scan_ = [](linklayer& link) {
    EXPECT_FALSE(link.pWriteQ->IsEmpty());  // the request behind the scan
    EXPECT_TRUE(link.pReadQ->IsEmpty());
  };
  ASSERT_TRUE(Queue(link_, IdPortScanRequest, "\0\0\0\0\0"s));
  ASSERT_TRUE(Queue(link_, IdAtCommand, "AT+CGMR"));
  EXPECT_TRUE(LinkLayerPeer::DrainWriteQueue(link_));
  EXPECT_EQ(scans_, 1);
  EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), std::vector<Indication>{PortNotOpen});
}

TEST_F(Drain, StopEndsTheDrainBetweenRequests) {
  scan_ = [](linklayer& link) { LinkLayerPeer::SignalStop(link); };
  ASSERT_TRUE(Queue(link_, IdPortScanRequest, "\0\0\0\0\0"s));
  ASSERT_TRUE(Queue(link_, IdAtCommand, "AT+CGMR"));
  EXPECT_FALSE(LinkLayerPeer::DrainWriteQueue(link_));
  EXPECT_EQ(scans_, 1);
  EXPECT_FALSE(link_.pWriteQ->IsEmpty());
  EXPECT_TRUE(link_.pReadQ->IsEmpty());
}

TEST_F(Drain, StopSetWithARequestEndsTheLoopWithoutDraining) {
  ASSERT_TRUE(Queue(link_, IdPortScanRequest, "\0\0\0\0\0"s));
  ASSERT_EQ(LinkLayerPeer::WriteRequestEvent(link_).Wait(0), plat::WaitResult::Signaled);
  LinkLayerPeer::SignalStop(link_);
  EXPECT_EQ(LinkLayerPeer::WriteLoop(link_), 0u);
  EXPECT_EQ(scans_, 0);
  EXPECT_FALSE(link_.pWriteQ->IsEmpty());
}

TEST_F(Drain, RequestLargerThanTheUsualBufferIsTakenWhole) {
  testkit::TempDeviceRoot root;
  testkit::TestPort port(kCom);
  ASSERT_TRUE(port.Ok());
  LinkLayerPeer::ModemPort(link_) = kCom;
  ASSERT_TRUE(LinkLayerPeer::OpenPort(link_));
  // No final result will come: a stop once the peer has it all ends the wait.
  const std::string text(5000, 'A');
  ASSERT_TRUE(Queue(link_, IdRawText, text));
  std::string received;
  auto reader = std::async(std::launch::async, [&] {
    received = port.PeerReadExactly(text.size(), 10000);
    LinkLayerPeer::SignalStop(link_);
  });
  EXPECT_FALSE(LinkLayerPeer::DrainWriteQueue(link_));
  reader.wait();
  EXPECT_EQ(received, text);
  EXPECT_TRUE(link_.pWriteQ->IsEmpty());
}

}  // namespace
