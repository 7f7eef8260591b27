// The field kit and the field parsers, and the handlers behind a parser
// built from table rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handler_catalogue.h"
#include "link/fields.h"
#include "link/handlers.h"
#include "link/ids.h"
#include "link/indication_state.h"
#include "plat/guarded_bytes.h"

namespace {

using linktest::Indication;

// Bytes right before an unreadable page.
class Guarded {
 public:
  const char* Place(const std::string& text) { return bytes_.Place(text.data(), text.size()); }

 private:
  plat::GuardedBytes bytes_{4096};
};

TEST(Cursor, MarksEveryReadAtTheEnd) {
  Guarded guarded;
  const std::string text = "12";
  struct Step {
    const char* name;
    void (*run)(fields::Cursor&);
  };
  const Step steps[] = {
      {"Peek", [](fields::Cursor& c) { c.Peek(2); }},
      {"Run", [](fields::Cursor& c) { c.Run(); }},
      {"Skip", [](fields::Cursor& c) { c.Skip(3); }},
      {"SkipIf", [](fields::Cursor& c) { c.Skip(2), c.SkipIf(' '); }},
      {"SkipTo", [](fields::Cursor& c) { c.SkipTo("\r"); }},
      {"StartsWithWhileItMatches", [](fields::Cursor& c) { c.StartsWith("123"); }},
      {"CopyTo", [](fields::Cursor& c) {
         char out[4];
         c.CopyTo(out, 4, ",");
       }},
  };
  for (const Step& step : steps) {
    fields::Cursor cursor(guarded.Place(text), 2);
    step.run(cursor);
    EXPECT_TRUE(cursor.Incomplete()) << step.name;
  }
  fields::Cursor cursor(guarded.Place(text), 2);
  EXPECT_FALSE(cursor.StartsWith("13"));  // a mismatch needs no more bytes
  EXPECT_FALSE(cursor.Contains("123"));
  cursor.Skip(2);
  cursor.SkipLineEnds();
  EXPECT_FALSE(cursor.Incomplete());
  EXPECT_EQ(cursor.Position(), 2);
}

TEST(Cursor, RunsKeepTheLowBitsAndCopiesTheirCap) {
  Guarded guarded;
  const std::string digits = "4294967297,";  // 2^32 + 1
  fields::Cursor run(guarded.Place(digits), static_cast<int32_t>(digits.size()));
  EXPECT_EQ(run.Run(), 1u);
  const std::string text = "abcdef,";
  fields::Cursor copy(guarded.Place(text), static_cast<int32_t>(text.size()));
  char out[3] = {};
  EXPECT_EQ(copy.CopyTo(out, 3, ","), 3);
  EXPECT_EQ(std::string(out, 3), "abc");
  EXPECT_EQ(copy.Position(), 6);  // the whole field is scanned
  const std::string high = "\xC1\xE9";
  fields::Cursor upper(guarded.Place(high), 2);
  EXPECT_FALSE(upper.StartsWith("\xE1\xC9", true));  // no case outside ASCII
}

TEST(FieldParsers, FindByte) {
  const unsigned char data[] = {'a', 'b', 'a'};
  EXPECT_EQ(FindByte(data, 'a', 0), 0);
  EXPECT_EQ(FindByte(data, 'a', 3), 1);
  EXPECT_EQ(FindByte(data, 'b', 3), 2);
  EXPECT_EQ(FindByte(data, 'c', 3), 0);
}

TEST(FieldParsers, ParseSignedDecimal) {
  struct Case {
    std::string text;
    int length;
    int result;
    int value;
  };
  const Case cases[] = {
      {"-12,", 4, 4, -12}, {"7,", 2, 2, 7}, {"1234,", 5, 0, 99}, {",", 1, 0, 99},
      {"-,", 2, 0, 99},    {"12", 2, 0, 99}, {"", 0, 0, 99},      {"5,", -1, 0, 99},
  };
  Guarded guarded;
  for (const Case& c : cases) {
    int value = 99;
    EXPECT_EQ(ParseSignedDecimal(&value, guarded.Place(c.text), c.length, ','), c.result) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(FieldParsers, FixedWidthFormsNeedTheirCharacters) {
  Guarded guarded;
  DateTimeRecord with{}, without{};
  const std::string colon = "2009/12/01,10:20", plain = "2009/12/01,1020";
  ASSERT_EQ(ParseDateTime(guarded.Place(colon), 16, &with), 1);
  ASSERT_EQ(ParseDateTime(guarded.Place(plain), 15, &without), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&with), 8), std::string(reinterpret_cast<char*>(&without), 8));
  EXPECT_EQ(with.year, 2009);
  EXPECT_EQ(with.minute, 20);
  EXPECT_EQ(with.second, 0);
  EXPECT_EQ(ParseDateTime(guarded.Place(colon.substr(0, 15)), 15, &with), 0);

  struct Two {
    std::string text;
    int value;
  };
  for (const Two& c : {Two{"12", 12}, Two{"5f", 5}, Two{"f5", 0}, Two{"F", 0}, Two{"5", 0}}) {
    EXPECT_EQ(ParseTwoDigits(guarded.Place(c.text), static_cast<int>(c.text.size())), c.value) << c.text;
  }

  struct Stamp {
    std::string text;
    int year, month, day, hour, minute;
  };
  for (const Stamp& c : {Stamp{"850101000000", 1985, 1, 1, 0, 0}, Stamp{"091300240000", 2009, 1, 1, 0, 0},
                         Stamp{"000100231ff0", 2000, 1, 1, 23, 1}, Stamp{"001231120f00", 2000, 12, 31, 12, 0}}) {
    DateTimeRecord record{};
    ASSERT_EQ(ParseSmsTimeStamp(&record, guarded.Place(c.text), 12), 1) << c.text;
    EXPECT_EQ(record.year, c.year) << c.text;
    EXPECT_EQ(record.month, c.month) << c.text;
    EXPECT_EQ(record.day, c.day) << c.text;
    EXPECT_EQ(record.hour, c.hour) << c.text;
    EXPECT_EQ(record.minute, c.minute) << c.text;
  }
  DateTimeRecord untouched{};
  EXPECT_EQ(ParseSmsTimeStamp(&untouched, guarded.Place("85010100000"), 11), 0);
  EXPECT_EQ(untouched.year, 0);
}

// The handlers behind a parser given the catalogue's rows.
class CatalogueRows : public testing::Test {
 protected:
  static LinkOptions Options() {
    LinkOptions options = linktest::TestOptions();
    static const std::vector<ResponseHandlerEntry> rows = [] {
      std::vector<ResponseHandlerEntry> all = handlers::CatalogueRows();
      all.push_back({IdOk, "OK", 2, &dll_OKHandler});
      return all;
    }();
    options.ResponseRows = rows;
    return options;
  }
  void SetUp() override {
    notify_.Create(true, false);
    link_.SetNotifyEvent(notify_.NotifyHandle());
    ClearSmsPending();
  }
  void Read(const std::string& data) {
    ASSERT_TRUE(LinkLayerPeer::AppendReadData(link_, data.data(), static_cast<int>(data.size())));
    LinkLayerPeer::ParseReadData(link_);
  }
  linklayer link_{Options()};
  plat::Event notify_;
};

TEST_F(CatalogueRows, IndicationReachesReadQWithNotify) {
  Read("+CSQ: 23,99\r\nOK\r\n");
  EXPECT_EQ(linktest::TakeAll(*link_.pReadQ), (std::vector<Indication>{{205, "\x17\x63"}, {IdOk, "OK"}}));
  EXPECT_EQ(notify_.Wait(0), plat::WaitResult::Signaled);
}

TEST_F(CatalogueRows, PromptSendsThePendingTextWithoutCrLf) {
  ASSERT_TRUE(SetSmsPendingText("hello", 5));
  Read("\r\n> ");
  char data[16];
  int32_t id = 0;
  unsigned length = 0;
  ASSERT_TRUE(link_.pWriteQ->Dequeue(&id, data, sizeof data, &length));
  EXPECT_EQ(id, IdRawText);
  EXPECT_EQ(std::string(data, length), std::string("hello\0", 6));
  EXPECT_TRUE(linktest::TakeAll(*link_.pReadQ).empty());
  EXPECT_EQ(LinkLayerPeer::ResponseEvent(link_).Wait(0), plat::WaitResult::Signaled);
}

TEST_F(CatalogueRows, MalformedLineDropsTheRestOfTheRead) {
  Read("+CPBS: \"XY\",1,2\r\nOK\r\n");
  EXPECT_TRUE(linktest::TakeAll(*link_.pReadQ).empty());
  EXPECT_EQ(LinkLayerPeer::Unread(link_), "");
}

// Every sample of every handler, followed by "OK": the handler's line
// never takes the final result with it.
TEST_F(CatalogueRows, EverySampleLeavesTheFinalResult) {
  for (const handlers::CatalogueEntry& entry : handlers::Catalogue()) {
    for (const std::string& sample : entry.samples) {
      ResetPinRetryTimes();
      Read(sample + "OK\r\n");
      const std::vector<Indication> queued = linktest::TakeAll(*link_.pReadQ);
      ASSERT_FALSE(queued.empty()) << testing::PrintToString(sample);
      EXPECT_EQ(queued.back(), (Indication{IdOk, "OK"})) << testing::PrintToString(sample);
      linktest::TakeAll(*link_.pWriteQ);
    }
  }
}

}  // namespace
