// The read path's dispatch: reads as they come off the port, through the
// ring and the parser, to indications, the write thread's release and the
// caller's notification.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/handlers.h"
#include "link/ids.h"
#include "link/linklayer.h"
#include "link_test_support.h"

namespace {

using linktest::Indication;
using namespace std::string_literals;

std::string Version(const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
  VersionRecord record{};
  std::strncpy(record.fields[0], a.c_str(), VersionRecord::FieldSize - 1);
  std::strncpy(record.fields[1], b.c_str(), VersionRecord::FieldSize - 1);
  std::strncpy(record.fields[2], c.c_str(), VersionRecord::FieldSize - 1);
  std::strncpy(record.fields[3], d.c_str(), VersionRecord::FieldSize - 1);
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string Byte(int value) { return std::string(1, static_cast<char>(value)); }

// A line that matches no row.
std::string Filler(size_t length) { return std::string(length, 'x'); }

const Indication Ok{IdOk, "OK"};

struct DispatchCase {
  const char* name;
  std::vector<std::string> reads;
  std::vector<Indication> expected;
  bool response;        // ResponseEvent set
  int notifies;         // reads whose parse set NotifyEvent
  std::string unread;   // left in the ring for the next read
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

class Dispatch : public testing::TestWithParam<DispatchCase> {
 protected:
  void SetUp() override {
    notify_.Create(true, false);
    link_.SetNotifyEvent(notify_.NotifyHandle());
  }
  linklayer link_{linktest::TestOptions()};
  plat::Event notify_;
};

TEST_P(Dispatch, TurnsReadsIntoIndications) {
  const DispatchCase& c = GetParam();
  int notifies = 0;
  for (const std::string& read : c.reads) {
    ASSERT_TRUE(LinkLayerPeer::AppendReadData(link_, read.data(), static_cast<int>(read.size())));
    LinkLayerPeer::ParseReadData(link_);
    if (notify_.Wait(0) == plat::WaitResult::Signaled) ++notifies;
    notify_.Reset();
  }
  EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), c.expected);
  EXPECT_EQ(LinkLayerPeer::ResponseEvent(link_).Wait(0) == plat::WaitResult::Signaled, c.response);
  EXPECT_EQ(notifies, c.notifies);
  EXPECT_EQ(LinkLayerPeer::Unread(link_), c.unread);
  if (c.unread.empty()) {
    EXPECT_EQ(LinkLayerPeer::ReadIndex(link_), 0);  // reset, not just consumed
  }
}

const std::string LongWord(40, 'W');

INSTANTIATE_TEST_SUITE_P(
    Reads, Dispatch,
    testing::Values(
        DispatchCase{"Ok", {"OK\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"EchoVersionAndOk",
                     {"AT+CGMR\r\n\r\n+CGMR: M6275A V3.1.2 B05 [2009/12/01 10:20:30]\r\n\r\nOK\r\n"},
                     {{IdVersion, Version("M6275A", "V3.1.2", "B05", "[2009/12/01 10:20:30]")}, Ok},
                     true, 1, ""},
        DispatchCase{"LowerCaseOkMatchesNothing", {"ok\r\n"}, {}, false, 0, ""},
        DispatchCase{"OnlyThePrefixIsCompared", {"OKAY\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"FourMissesDiscardTheRest", {"a\r\nb\r\nc\r\nd\r\nOK\r\n"}, {}, false, 0, ""},
        DispatchCase{"ThreeMissesStillParse", {"a\r\nb\r\nc\r\nOK\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"AMatchEarnsAMissBack", {"a\r\nb\r\nc\r\nOK\r\nd\r\nOK\r\n"}, {Ok, Ok}, true, 1, ""},
        DispatchCase{"UgsmQueuesNothingButNotifies", {"+UGSM: 3,1\r\n"}, {}, false, 1, ""},
        DispatchCase{"UgsmThenNextLine", {"+UGSM: 3,1\r\nOK\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"EchoOfAte", {"ATE0\r\nOK\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"Error", {"ERROR\r\n"}, {{IdError, "ERROR"}}, true, 1, ""},
        DispatchCase{"DiagDigit", {"+CSWITCHDM: 1\r\n"}, {{IdDiagPortState, Byte(1)}}, false, 1, ""},
        DispatchCase{"DiagSucceedWithoutSpace", {"+CSWITCHDM:SUCCEED\r\n"}, {{IdDiagPortSwitch, Byte(1)}}, false, 1, ""},
        DispatchCase{"DiagSucceedLowerCase", {"+CSWITCHDM: succeed\r\n"}, {{IdDiagPortSwitch, Byte(1)}}, false, 1, ""},
        DispatchCase{"DiagIncorrectPassword",
                     {"+CSWITCHDM: INCORRECT PASSWORD\r\n"}, {{IdDiagPortSwitch, Byte(2)}}, false, 1, ""},
        DispatchCase{"DiagFail", {"+CSWITCHDM: FAIL\r\n"}, {{IdDiagPortSwitch, Byte(0)}}, false, 1, ""},
        DispatchCase{"DiagTwoSpacesIsText", {"+CSWITCHDM:  1\r\n"}, {{IdDiagPortSwitch, Byte(0)}}, false, 1, ""},
        DispatchCase{"DiagOneDigitOnly", {"+CSWITCHDM: 12\r\nOK\r\n"}, {{IdDiagPortState, Byte(1)}, Ok}, true, 1, ""},
        DispatchCase{"DiagEmptyAnswer", {"+CSWITCHDM:\r\n"}, {{IdDiagPortSwitch, Byte(0)}}, false, 1, ""},
        DispatchCase{"FtmRepeat", {"+CSWITCHFTM: REPEAT\r\n"}, {{IdFtmSwitch, Byte(1)}}, false, 1, ""},
        DispatchCase{"FtmFail", {"+CSWITCHFTM: FAIL\r\n"}, {{IdFtmSwitch, Byte(0)}}, false, 1, ""},
        DispatchCase{"FtmDigit", {"+CSWITCHFTM: 1\r\n"}, {{IdFtmState, Byte(1)}}, false, 1, ""},
        DispatchCase{"TestModeDigit", {"+CSWITCHTEST: 0\r\n"}, {{IdTestModeState, Byte(0)}}, false, 1, ""},
        DispatchCase{"TestModeSucceed", {"+CSWITCHTEST: SUCCEED\r\n"}, {{IdTestModeSwitch, Byte(1)}}, false, 1, ""},
        DispatchCase{"TestModeIncorrectPasswordIsNotAWordOfIt",
                     {"+CSWITCHTEST: INCORRECT PASSWORD\r\n"}, {{IdTestModeSwitch, Byte(0)}}, false, 1, ""},
        DispatchCase{"VersionFieldsAreCut",
                     {"+CGMR: " + LongWord + " B C [D]\r\n"},
                     {{IdVersion, Version(LongWord.substr(0, 29), "B", "C", "[D]")}}, false, 1, ""},
        // A response that ended without what its handler needs is skipped;
        // the lines behind it still count.
        DispatchCase{"IncompleteLineIsSkipped", {"+CGMR: A B C no bracket\r\nOK\r\n"}, {Ok}, true, 1, ""},
        // Responses split across reads are put together again.
        DispatchCase{"SplitModeAnswer", {"+CSWITCHDM: 1", "\r\nOK\r\n"}, {{IdDiagPortState, Byte(1)}, Ok}, true, 1, ""},
        DispatchCase{"SplitPrefix", {"\r\n+CSW", "ITCHDM: 1\r\n"}, {{IdDiagPortState, Byte(1)}}, false, 1, ""},
        DispatchCase{"SplitOk", {"O", "K\r\n"}, {Ok}, true, 1, ""},
        DispatchCase{"SplitVersion",
                     {"+CGMR: A B C [x y", " z]\r\n\r\nOK\r\n"}, {{IdVersion, Version("A", "B", "C", "[x y z]")}, Ok},
                     true, 1, ""},
        DispatchCase{"ByteAfterAResponseIsKept", {"OKO", "K\r\n"}, {Ok, Ok}, true, 2, ""},
        DispatchCase{"TrailingFragmentWaits", {"OK\r\n+CSWITCHDM: 1"}, {Ok}, true, 1, "+CSWITCHDM: 1"},
        DispatchCase{"BlankLinesOnly", {"\r\n\r\n\n"}, {}, false, 0, ""},
        // All 4096 bytes unread: the handler finds its line end missing at
        // the very end of the buffer and the fragment waits.
        DispatchCase{"FragmentAtTheEndOfAFullRing",
                     {Filler(4077) + "\r\n+CSWITCHDM: SUCCE", "ED\r\n"}, {{IdDiagPortSwitch, Byte(1)}}, false, 1, ""},
        // The fragment sits at the ring's end; its rest wraps to the start.
        DispatchCase{"WrapsAroundTheRing",
                     {Filler(4070) + "\r\n+CGMR: M6275A V1 B2 [ab", "cd]\r\n\r\nOK\r\n"},
                     {{IdVersion, Version("M6275A", "V1", "B2", "[abcd]")}, Ok}, true, 1, ""}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return std::string(info.param.name); });

TEST(ReadRing, HoldsExactly4096UnreadBytes) {
  linklayer link(linktest::TestOptions());
  const std::string full = Filler(4096);
  ASSERT_TRUE(LinkLayerPeer::AppendReadData(link, full.data(), 4096));
  EXPECT_EQ(LinkLayerPeer::Unread(link), full);
  // One more byte overflows: the unread bytes go with the new one.
  EXPECT_FALSE(LinkLayerPeer::AppendReadData(link, "O", 1));
  EXPECT_EQ(LinkLayerPeer::Unread(link), "");
  ASSERT_TRUE(LinkLayerPeer::AppendReadData(link, "OK\r\n", 4));
  LinkLayerPeer::ParseReadData(link);
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), std::vector<Indication>{Ok});

  EXPECT_FALSE(LinkLayerPeer::AppendReadData(link, nullptr, 3));
  EXPECT_FALSE(LinkLayerPeer::AppendReadData(link, "x", 0));
  EXPECT_FALSE(LinkLayerPeer::AppendReadData(link, "x", -1));
}

// Handlers called on exactly the bytes available, in buffers of that size,
// so that a read beyond them is caught.
struct HandlerCase {
  const char* name;
  ResponseHandler handler;
  int32_t id;
  std::string text;
  int32_t result;
  std::vector<Indication> queued;
};

void PrintTo(const HandlerCase& c, std::ostream* os) { *os << c.name; }

class Handler : public testing::TestWithParam<HandlerCase> {};

TEST_P(Handler, ReadsOnlyWhatIsAvailable) {
  const HandlerCase& c = GetParam();
  linklayer link(linktest::TestOptions());
  const auto bytes = std::make_unique<char[]>(c.text.size());
  std::memcpy(bytes.get(), c.text.data(), c.text.size());
  {
    const ParsingLinkScope scope(link);
    EXPECT_EQ(c.handler(c.id, bytes.get(), static_cast<int32_t>(c.text.size())), c.result);
  }
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), c.queued);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Handler,
    testing::Values(
        HandlerCase{"OkConsumesItsPrefix", dll_OKHandler, IdOk, "OKAY", 2, {Ok}},
        HandlerCase{"EchoNeedsAByteAfterThePrefix", dll_EchoInd, IdOk, "ATE", -1, {}},
        HandlerCase{"EchoConsumesFour", dll_EchoInd, IdOk, "ATE0\r\n", 4, {}},
        HandlerCase{"UgsmWithoutCr", dll_UgsmInd, IdOk, "+UGSM: 1,2", -1, {}},
        HandlerCase{"UgsmUpToCr", dll_UgsmInd, IdOk, "+UGSM: 1,2\r\n", 10, {}},
        HandlerCase{"UgsmEndingAtItsPrefix", dll_UgsmInd, IdOk, "+UGSM:", -1, {}},
        HandlerCase{"ErrorConsumesFive", dll_ERrHandler, IdError, "ERROR\r\n", 5, {{IdError, "ERROR"}}},
        HandlerCase{"ModeEndingAtItsPrefix", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM:", -1, {}},
        HandlerCase{"ModeEndingAfterTheSpace", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM: ", -1, {}},
        HandlerCase{"ModeDigitWithoutCr", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM: 1", -1, {}},
        HandlerCase{"ModeDigit", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM: 1\r\n", 15,
                    {{IdDiagPortState, Byte(1)}}},
        HandlerCase{"ModeTakesTheBlankLineToo", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM: 1\r\n\r\nOK", 17,
                    {{IdDiagPortState, Byte(1)}}},
        HandlerCase{"ModeWordCutShortIsNoMatch", dll_DiagPortInd, IdDiagPortState, "+CSWITCHDM: INCORRECT\r", 22,
                    {{IdDiagPortSwitch, Byte(0)}}},
        HandlerCase{"ModeWordWithoutCr", dll_SwitchFtmInd, IdFtmState, "+CSWITCHFTM: SUCCEED", -1, {}},
        HandlerCase{"VersionWithoutItsThirdSpace", dll_VersionInd, IdVersion, "+CGMR: a b c", -1, {}},
        HandlerCase{"VersionWithoutBracket", dll_VersionInd, IdVersion, "+CGMR: a b c [d e", -1, {}},
        HandlerCase{"VersionThroughTheBracket", dll_VersionInd, IdVersion, "+CGMR:  a b  c [d e]\r\n", 20,
                    {{IdVersion, Version("a", "b", "c", "[d e]")}}}),
    [](const testing::TestParamInfo<HandlerCase>& info) { return std::string(info.param.name); });

// Rows of a parser given its own table, as later handlers register.
int32_t FooHandler(int32_t id, const char* text, int32_t available) {
  const char* cr = static_cast<const char*>(std::memchr(text, '\r', static_cast<size_t>(available)));
  if (cr == nullptr) return -1;
  ParsingLink().pReadQ->Enqueue(id, text + 5, static_cast<int32_t>(cr - text - 5), false);
  return static_cast<int32_t>(cr - text);
}

int32_t MalformedHandler(int32_t, const char*, int32_t) { return -2; }

const ResponseHandlerEntry OwnRows[] = {
    {200, "+FOO:", 5, &FooHandler},
    {201, "+BAD", 4, &MalformedHandler},
    {IdOk, "OK", 2, &dll_OKHandler},
};

LinkOptions WithOwnRows() {
  LinkOptions options = linktest::TestOptions();
  options.ResponseRows = OwnRows;
  return options;
}

TEST(ParserRows, OwnRowsReplaceTheTable) {
  linklayer link(WithOwnRows());
  ASSERT_EQ(LinkLayerPeer::Parser(link).Rows().size(), 3u);
  const std::string read = "ERROR\r\n+FOO:abc\r\nOK\r\n";
  ASSERT_TRUE(LinkLayerPeer::AppendReadData(link, read.data(), static_cast<int>(read.size())));
  LinkLayerPeer::ParseReadData(link);
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), (std::vector<Indication>{{200, "abc"}, Ok}));
}

TEST(ParserRows, MalformedResponseDropsEverythingUnread) {
  linklayer link(WithOwnRows());
  const std::string read = "+FOO:1\r\n+BAD\r\nOK\r\n";
  ASSERT_TRUE(LinkLayerPeer::AppendReadData(link, read.data(), static_cast<int>(read.size())));
  LinkLayerPeer::ParseReadData(link);
  EXPECT_EQ(linktest::TakeAll(*link.pReadQ), (std::vector<Indication>{{200, "1"}}));
  EXPECT_EQ(LinkLayerPeer::Unread(link), "");
}

TEST(ParserRows, DefaultIsACopyOfTheTable) {
  const ResponseParser parser;
  ASSERT_EQ(parser.Rows().size(), ResponseHandlerTable.size());
  for (size_t i = 0; i < ResponseHandlerTable.size(); ++i) {
    EXPECT_EQ(parser.Rows()[i].id, ResponseHandlerTable[i].id);
    EXPECT_EQ(parser.Rows()[i].prefix, ResponseHandlerTable[i].prefix);
    EXPECT_EQ(static_cast<int32_t>(parser.Rows()[i].prefix.size()), ResponseHandlerTable[i].prefixLength);
    EXPECT_EQ(parser.Rows()[i].handler, ResponseHandlerTable[i].handler);
  }
}

TEST(HasHighByte, CountsBytesAboveA0) {
  const unsigned char plain[] = {'a', 0xA0, 'b', 0};
  const unsigned char high[] = {'a', 0xA1, 0};
  EXPECT_FALSE(linklayer::HasHighByte(plain));
  EXPECT_TRUE(linklayer::HasHighByte(high));
}

}  // namespace
