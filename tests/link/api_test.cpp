// The exported Dll_ functions on a private link without threads: what each
// request queues or refuses, what Dll_ReadDate hands out, the getters, and
// a running scan against the getters and a connect.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "handoff/scan_diag_port.h"
#include "link/api.h"
#include "link/ids.h"
#include "link/linklayer.h"
#include "link_test_support.h"
#include "plat/clock.h"
#include "plat/guarded_bytes.h"
#include "plat/serial_map.h"
#include "support/foreign_notify.h"
#include "support/port_kit.h"

namespace {

using linktest::Indication;
using namespace std::chrono_literals;
using namespace std::string_literals;

class Api : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(10);
    SetDllLink(&link_);
  }
  void TearDown() override {
    SetDllLink(nullptr);
    DualPortFlag = 0;
    plat::SetTimeScale(savedScale_);
  }
  std::vector<Indication> Queued() { return linktest::TakeAll(*link_.pWriteQ); }

  int savedScale_ = 1;
  linklayer link_{linktest::TestOptions()};
};

// ---------------------------------------------------------------------------
// Requests.

struct RequestCase {
  const char* name;
  std::function<bool()> call;
  const char* command;  // null: refused, nothing queued
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class Requests : public Api, public testing::WithParamInterface<RequestCase> {};

TEST_P(Requests, QueueTheirCommandOrNothing) {
  const RequestCase& c = GetParam();
  EXPECT_EQ(c.call(), c.command != nullptr);
  if (c.command != nullptr)
    EXPECT_EQ(Queued(), (std::vector<Indication>{{IdAtCommand, c.command}}));
  else
    EXPECT_EQ(Queued(), std::vector<Indication>{});
}

const std::string k238(238, 'c');
const std::string kLongest = "AT+CSWITCHDM=1,\"" + k238 + "\"";
static_assert(sizeof "AT+CSWITCHDM=1,\"\"" - 1 + 238 == 255);

INSTANTIATE_TEST_SUITE_P(
    Api, Requests,
    testing::Values(
        RequestCase{"Version", [] { return Dll_VersionReq(); }, "AT+CGMR"},
        RequestCase{"RfState", [] { return Dll_SetRFFuncReq(-1); }, "AT+CFUN?"},
        RequestCase{"RfSeven", [] { return Dll_SetRFFuncReq(7); }, "AT+CFUN=7"},
        RequestCase{"RfSix", [] { return Dll_SetRFFuncReq(6); }, "AT+CFUN=6"},
        RequestCase{"DualChannel", [] { return Dll_SetDualChannelReq(); }, "AT+SWITCHDC"},
        RequestCase{"FtmState", [] { return Dll_GetFactoryModeReq(); }, "AT+CSWITCHFTM?"},
        RequestCase{"FtmOn", [] { return Dll_SetFactoryModeReq(1); }, "AT+CSWITCHFTM=1"},
        RequestCase{"FtmOff", [] { return Dll_SetFactoryModeReq(0); }, "AT+CSWITCHFTM=0"},
        RequestCase{"FtmLowByteZero", [] { return Dll_SetFactoryModeReq(256); }, "AT+CSWITCHFTM=0"},
        RequestCase{"FtmLowByteSet", [] { return Dll_SetFactoryModeReq(0x180); }, "AT+CSWITCHFTM=1"},
        RequestCase{"TestState", [] { return Dll_GetFactoryModeReq2(); }, "AT+CSWITCHTEST?"},
        RequestCase{"TestOn", [] { return Dll_SetFactoryModeReq2(1); }, "AT+CSWITCHTEST=1"},
        RequestCase{"TestLowByteZero", [] { return Dll_SetFactoryModeReq2(512); }, "AT+CSWITCHTEST=0"},
        RequestCase{"DiagState", [] { return Dll_TurnDiagnosticOnOffReq(3, "x\r", nullptr); }, "AT+CSWITCHDM?"},
        RequestCase{"DiagOn", [] { return Dll_TurnDiagnosticOnOffReq(1, "70419352", "unused\r"); },
                    "AT+CSWITCHDM=1,\"70419352\""},
        RequestCase{"DiagOff", [] { return Dll_TurnDiagnosticOnOffReq(0, "70419352", ""); },
                    "AT+CSWITCHDM=0,\"70419352\""},
        RequestCase{"DiagTwoTexts", [] { return Dll_TurnDiagnosticOnOffReq(2, "a b", "c"); },
                    "AT+CSWITCHDM=2,\"a b\",\"c\""},
        RequestCase{"DiagEmptyText", [] { return Dll_TurnDiagnosticOnOffReq(1, "", ""); }, "AT+CSWITCHDM=1,\"\""},
        RequestCase{"Diag2", [] { return Dll_TurnDiagnosticOn2Req("code"); }, "AT+CSWITCHDIAG=\"code\""},
        // The longest command that fits: 255 characters.
        RequestCase{"DiagLongestText", [] { return Dll_TurnDiagnosticOnOffReq(1, k238.c_str(), ""); },
                    kLongest.c_str()},
        // Refused: the command would be too long, or a text could end the
        // quotes or the line.
        RequestCase{"DiagTooLong", [] { return Dll_TurnDiagnosticOnOffReq(1, (k238 + "c").c_str(), ""); }, nullptr},
        RequestCase{"Diag2TooLong", [] { return Dll_TurnDiagnosticOn2Req(std::string(239, 'c').c_str()); }, nullptr},
        RequestCase{"DiagCrLf", [] { return Dll_TurnDiagnosticOnOffReq(1, "1\r\nAT+CFUN=0", ""); }, nullptr},
        RequestCase{"DiagLf", [] { return Dll_TurnDiagnosticOnOffReq(0, "1\n", ""); }, nullptr},
        RequestCase{"DiagQuote", [] { return Dll_TurnDiagnosticOnOffReq(1, "1\",\"2", ""); }, nullptr},
        RequestCase{"DiagSecondText", [] { return Dll_TurnDiagnosticOnOffReq(2, "a", "b\r"); }, nullptr},
        RequestCase{"DiagNullText", [] { return Dll_TurnDiagnosticOnOffReq(1, nullptr, ""); }, nullptr},
        RequestCase{"Diag2Quote", [] { return Dll_TurnDiagnosticOn2Req("\""); }, nullptr},
        RequestCase{"Diag2Null", [] { return Dll_TurnDiagnosticOn2Req(nullptr); }, nullptr}),
    [](const testing::TestParamInfo<RequestCase>& info) { return info.param.name; });

TEST_F(Api, SearchPortQueuesAScanRequest) {
  EXPECT_TRUE(Dll_SearchPort());
  EXPECT_EQ(Queued(), (std::vector<Indication>{{IdPortScanRequest, std::string(5, '\0')}}));
}

TEST_F(Api, AFullQueueIsReportedBySearchAndRequests) {
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(Dll_VersionReq()) << i;
  EXPECT_FALSE(Dll_VersionReq());
  EXPECT_FALSE(Dll_SearchPort());
}

// ---------------------------------------------------------------------------
// Dll_ReadDate.

TEST_F(Api, ReadDateHandsOutPayloadsWithoutTheLineEnd) {
  int id = -5;
  int length = -5;
  char data[1024];
  EXPECT_FALSE(Dll_ReadDate(&id, data, &length));
  EXPECT_EQ(id, -5);
  EXPECT_EQ(length, -5);

  const char scan[2] = {3, 2};
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdPortScanResult, scan, 2, false));
  const std::string version(120, 'v');
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdVersion, version.data(), 120, false));
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdRawText, "", 0, false));  // no CR LF is added to this id

  ASSERT_TRUE(Dll_ReadDate(&id, data, &length));
  EXPECT_EQ(id, IdPortScanResult);
  EXPECT_EQ(std::string(data, length), std::string(scan, 2));
  ASSERT_TRUE(Dll_ReadDate(&id, data, &length));
  EXPECT_EQ(id, IdVersion);
  EXPECT_EQ(std::string(data, length), version);
  ASSERT_TRUE(Dll_ReadDate(&id, data, &length));
  EXPECT_EQ(id, IdRawText);
  EXPECT_EQ(length, 0);
  EXPECT_FALSE(Dll_ReadDate(&id, data, &length));
}

TEST_F(Api, ReadDateNeverWritesPast1024Bytes) {
  const std::string big(5000, 'b');
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdVersion, big.data(), static_cast<int32_t>(big.size()), false));
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdOk, "OK", 2, false));
  // Exactly 1024 bytes of heap: a write past them is caught by the sanitizer.
  auto data = std::make_unique<char[]>(1024);
  int id = 0;
  int length = 0;
  ASSERT_TRUE(Dll_ReadDate(&id, data.get(), &length));
  EXPECT_EQ(id, IdVersion);
  EXPECT_EQ(length, 1024);
  EXPECT_EQ(std::string(data.get(), 1024), big.substr(0, 1024));
  ASSERT_TRUE(Dll_ReadDate(&id, data.get(), &length));  // the next entry is intact
  EXPECT_EQ(id, IdOk);
  EXPECT_EQ(std::string(data.get(), length), "OK");
}

TEST_F(Api, ReadDateWithANullPointerTakesNothing) {
  ASSERT_TRUE(link_.pReadQ->Enqueue(IdOk, "OK", 2, false));
  int id = 0;
  int length = 0;
  char data[1024];
  EXPECT_FALSE(Dll_ReadDate(nullptr, data, &length));
  EXPECT_FALSE(Dll_ReadDate(&id, nullptr, &length));
  EXPECT_FALSE(Dll_ReadDate(&id, data, nullptr));
  EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), (std::vector<Indication>{{IdOk, "OK"}}));
}

// ---------------------------------------------------------------------------
// Getters, notification, connect.

TEST_F(Api, GettersGiveTheLastScansValues) {
  EXPECT_EQ(Dll_GetDiagportReq(), -1);
  EXPECT_EQ(Dll_GetDiagModeReq(), 0);
  LinkLayerPeer::SetLastScan(link_, 130, 1);
  EXPECT_EQ(Dll_GetDiagportReq(), 130);
  EXPECT_EQ(Dll_GetDiagModeReq(), 1);
  LinkLayerPeer::SetLastScan(link_, 0, 0);
  EXPECT_EQ(Dll_GetDiagportReq(), 0);
  DualPortFlag = 1;
  EXPECT_EQ(Dll_IsDualPort(), 1);
}

TEST_F(Api, SetNotifyWithNullKeepsTheEvent) {
  plat::Event first;
  ASSERT_TRUE(first.Create(true, false));
  EXPECT_EQ(Dll_SetNotify(first.NotifyHandle()), 1);
  EXPECT_EQ(Dll_SetNotify(nullptr), 1);
  EXPECT_EQ(link_.GetNotifyEvent(), first.NotifyHandle());
  // The link sets the event through the handle.
  link_.Notify();
  EXPECT_EQ(first.Wait(0), plat::WaitResult::Signaled);
}

#if !defined(_WIN32)
// The handle is whatever the caller gives (on Windows an event HANDLE, which
// the system checks). A record that a caller in another language made sets
// its caller on each indication; any other value is ignored, never followed,
// and the indications are queued all the same.
TEST_F(Api, SetNotifyTakesAForeignRecordAndIgnoresWhatIsNoHandle) {
  void* const foreign = ForeignNotifyMake(1);
  ASSERT_NE(foreign, nullptr);
  plat::GuardedBytes guarded(64);
  ASSERT_TRUE(guarded.Valid());
  const char blank[8] = {};
  char* const unreadable = const_cast<char*>(guarded.Place(blank, sizeof blank)) + sizeof blank;
  static unsigned char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);

  const struct {
    const char* name;
    void* handle;
    int sets;  // the foreign record's count after the indication
  } cases[] = {
      {"foreign record", foreign, 1},
      {"low", reinterpret_cast<void*>(0x10), 1},
      {"unreadable", unreadable, 1},
      {"misaligned", static_cast<char*>(foreign) + 4, 1},
      {"garbage", garbage, 1},
      {"foreign record again", foreign, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Dll_SetNotify(c.handle), 1);
    ASSERT_TRUE(LinkLayerPeer::AppendReadData(link_, "OK\r\n", 4));
    LinkLayerPeer::ParseReadData(link_);
    EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), (std::vector<Indication>{{IdOk, "OK"}}));
    EXPECT_EQ(ForeignNotifySets(foreign), c.sets);
  }
}
#endif

TEST_F(Api, ConnectAndDisconnect) {
  testkit::TempDeviceRoot root;
  testkit::TestPort port(7);
  ASSERT_TRUE(port.Ok());
  EXPECT_FALSE(Dll_Connect(0, 0, nullptr));  // no modem port yet
  LinkLayerPeer::ModemPort(link_) = 7;
  ASSERT_TRUE(Dll_Connect(0, 0, nullptr));
  const plat::PortHandle open = link_.CurrentPort();
  ASSERT_TRUE(open);
  EXPECT_TRUE(Dll_Connect(0, 0, nullptr));  // already open: left alone
  EXPECT_EQ(link_.CurrentPort(), open);
  EXPECT_TRUE(open->IsOpen());
  EXPECT_TRUE(Dll_Disconnect(0));
  EXPECT_FALSE(open->IsOpen());
  EXPECT_EQ(link_.CurrentLinkState(), linklayer::PortClosed);
  EXPECT_TRUE(Dll_Disconnect(0));
}

// ---------------------------------------------------------------------------
// A running scan: the getters give the last finished scan's values at once,
// while a connect waits for the scan and uses what it found.

TEST_F(Api, GettersDuringAScanGiveTheLastScanAtOnceAndConnectWaits) {
  testkit::TempDeviceRoot root;
  linktest::ScanPeer diag(3, {linktest::kDiagReply, ""});
  linktest::ScanPeer modem(4, {"", linktest::Inq("+CINQP: MODEM PORT,y2")});
  ASSERT_TRUE(diag.Ok() && modem.Ok());

  // The second scan stops inside its listing, after it has reset the roles,
  // until released.
  std::promise<void> inside;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  auto listings = std::make_shared<std::atomic<int>>(0);
  LinkOptions options = linktest::TestOptions();
  options.Platform.EnumSerialMap = [&inside, released, listings](uint32_t index, char* name, uint32_t nameSize,
                                                                 char* data, uint32_t dataSize) {
    if (index == 0 && ++*listings == 2) {
      inside.set_value();
      released.wait();
    }
    return plat::SerialMap::EnumValue(index, name, nameSize, data, dataSize);
  };
  linklayer link(options);
  SetDllLink(&link);
  LinkLayerPeer::ScanPorts(link);  // the earlier scan: diagnostic port COM3
  ASSERT_EQ(Dll_GetDiagportReq(), 3);
  (void)linktest::TakeAll(*link.pReadQ);

  auto scan = std::async(std::launch::async, [&] { LinkLayerPeer::ScanPorts(link); });
  inside.get_future().wait();
  auto port = std::async(std::launch::async, [] { return Dll_GetDiagportReq(); });
  auto mode = std::async(std::launch::async, [] { return Dll_GetDiagModeReq(); });
  auto connect = std::async(std::launch::async, [] { return Dll_Connect(0, 0, nullptr); });
  // Generous: a getter that waits for the held scan never gets there.
  const bool portAtOnce = port.wait_for(10s) == std::future_status::ready;
  const bool modeAtOnce = mode.wait_for(10s) == std::future_status::ready;
  const bool connectWaited = connect.wait_for(0s) == std::future_status::timeout;
  release.set_value();
  scan.get();
  EXPECT_TRUE(portAtOnce);
  EXPECT_TRUE(modeAtOnce);
  EXPECT_EQ(port.get(), 3);  // not the -1 the running scan reset it to
  EXPECT_EQ(mode.get(), 0);
  EXPECT_TRUE(connectWaited);
  EXPECT_TRUE(connect.get());
  ASSERT_TRUE(link.CurrentPort());
  EXPECT_EQ(link.CurrentPort()->Number(), 4u);
  link.ClosePort();
  SetDllLink(&link_);
}

}  // namespace
