// The edge cases of each group of handlers: skips, literal orders, payload
// layouts, id choices and the state they keep.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "handler_catalogue.h"
#include "link/ids.h"
#include "link/indication_state.h"
#include "link/indications.h"

namespace {

using linktest::Indication;

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes += static_cast<char>(value);
  return bytes;
}

template <typename Record>
std::string Image(const Record& record) {
  return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

std::string Time(int year, int month, int day, int hour, int minute, int second) {
  DateTimeRecord record{static_cast<uint16_t>(year), static_cast<uint8_t>(month), static_cast<uint8_t>(day),
                        static_cast<uint8_t>(hour), static_cast<uint8_t>(minute), static_cast<uint8_t>(second), 0};
  return Image(record);
}

struct Case {
  const char* name;
  ResponseHandler handler;
  std::string text;
  int32_t result;
  std::vector<Indication> queued;  // on ReadQ
  bool response = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

constexpr int32_t Row = 230;  // the id the row gives

class Cases : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override { ResetPinRetryTimes(); }
  handlers::Bench bench_;
};

TEST_P(Cases, GiveTheirIndication) {
  const Case& c = GetParam();
  const handlers::Call call = bench_.Run(c.handler, Row, c.text);
  EXPECT_EQ(call.result, c.result);
  EXPECT_EQ(call.read, c.queued);
  EXPECT_EQ(call.response, c.response);
}

std::string Name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    CallAndTime, Cases,
    testing::Values(
        Case{"IncomingCallIsFour", dll_IncomingcallInd, "RING\r\n", 4, {{Row, Bytes({4})}}},
        Case{"CallEndWithNothingAfterItsLiteral", dll_CallrelInd, "VOICE CALL : END", -2, {}},
        Case{"CallEndWithSeparatorsAndTail", dll_CallrelInd, "VOICE CALL : END: 123456\r\n", 24, {{Row, Bytes({0})}}},
        Case{"CallEndTailStopsAtTheLineEnd", dll_CallrelInd, "VOICE CALL : END 12\r\nOK\r\n", 19, {{Row, Bytes({0})}}},
        Case{"AutoAnswerWithoutCr", dll_CallAAStateInd, "$$AUTOANS: 1", -1, {}},
        Case{"AutoAnswer", dll_CallAAStateInd, "$$AUTOANS: 1\r\n", 12, {{Row, Bytes({1})}}},
        Case{"CallBeginLeavesTheLine", dll_CallstateInd, "VOICE CALL : BEGIN, 1\r\n", 18, {{Row, Bytes({1})}}},
        Case{"CallingNumber", dll_CallingNumInd, "+CLIP: \"123\",129,1\r\n", 18, {{Row, "123"}}},
        Case{"CallingNumberCutAt259", dll_CallingNumInd, "+CLIP: " + std::string(300, '7') + "\r\n", 307,
             {{Row, std::string(259, '7')}}},
        Case{"TimeTakesCrAsTheLastSeparator", dll_timeInd, "+CCLK: 2009/12/01,10:20:30\r\nOK", 27,
             {{Row, Time(2009, 12, 1, 10, 20, 30)}}},
        Case{"TimeAnySeparator", dll_timeInd, "+CCLK: 2009:12:01:10:20:30\r\n", 27, {{Row, Time(2009, 12, 1, 10, 20, 30)}}},
        // A short time line keeps the next line for the dispatcher.
        Case{"ShortTimeStopsAtItsLineEnd", dll_timeInd, "+CCLK: 09/1\r\nOK\r\n", 12, {{Row, Time(9, 1, 0, 0, 0, 0)}}},
        Case{"YearKeepsSixteenBits", dll_timeInd, "+CCLK: 65537/1/1/1/1/1\r\n", 23, {{Row, Time(1, 1, 1, 1, 1, 1)}}}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    NetworkSignalAudio, Cases,
    testing::Values(
        Case{"ServiceTwoValues", dll_NetworkServiceInd, "+CREG: 0,1\r\n", 10, {{Row, Bytes({0, 1})}}},
        Case{"ServiceOneValueGoesSecond", dll_NetworkServiceInd, "+CREG: 2\r\n", 8, {{Row, Bytes({1, 2})}}},
        Case{"PsServiceSkipsSeven", dll_PsNetworkServiceInd, "+CGREG: 0 1\r\n", 11, {{Row, Bytes({0, 1})}}},
        Case{"ModeSkipsEight", dll_NetworkModeInd, "+CNMODE:3\r\n", 9, {{Row, Bytes({1, 3})}}},
        Case{"Signal", dll_SignalInd, "+CSQ: 23,99\r\nOK", 12, {{Row, Bytes({23, 99})}}},
        Case{"SignalOneDigit", dll_SignalInd, "+CSQ: 5,0\r\n", 10, {{Row, Bytes({5, 0})}}},
        Case{"SignalThreeDigitsTakesTwo", dll_SignalInd, "+CSQ: 123,4\r\n", 12, {{Row, Bytes({12, 220})}}},
        Case{"SignalEmptyValueKeepsTheNextLine", dll_SignalInd, "+CSQ: 5,\r\nOK\r\n,", 9, {{Row, Bytes({5, 0})}}},
        Case{"EarKeyAtItsLiteral", EarKeyInd, "+EARKEY:", -2, {}},
        Case{"EarKey", EarKeyInd, "+EARKEY: 1\r\n", 10, {{Row, Bytes({1})}}},
        Case{"HookKeyAlwaysZero", HookKeyInd, "+HOOKEY: 1\r\n", 8, {{Row, Bytes({0})}}},
        Case{"SwitchSucceedAnyCase", VpSwitchInd, "+VPSWCH: succeed\r\n", 16, {{Row, Bytes({1})}}},
        Case{"SwitchOtherWord", VpSwitchInd, "+VPSWCH: SUCCESS\r\n", 16, {{Row, Bytes({0})}}},
        Case{"SwitchShortWordBeforeTheLineEnd", VpSwitchInd, "+VPSWCH: SU\r\n", 11, {{Row, Bytes({0})}}},
        Case{"MicVolume", dll_MicVolInd, "+MICG: 0,5\r\n", 10, {{Row, Bytes({5})}}},
        Case{"MicVolumeWithoutSpace", dll_MicVolInd, "+MICG:0,5\r\n", 9, {{Row, Bytes({5})}}},
        Case{"MicVolumeShortLineKeepsTheNext", dll_MicVolInd, "+MICG: 1\r\nOK\r\n", 8, {{Row, Bytes({0})}}},
        Case{"MicVolumeAtItsLiteral", dll_MicVolInd, "+MICG:", -2, {}},
        Case{"SpeakerDigit", SpeakerVolInd, "+VGR: 7\r\n", 7, {{Row, Bytes({7})}}},
        Case{"SpeakerNoDigit", SpeakerVolInd, "+VGR: x\r\n", 6, {{Row, Bytes({0})}}}),
    Name);

SmsStorageRecord Storage(std::initializer_list<SmsStorageEntry> groups) {
  SmsStorageRecord record{};
  int i = 0;
  for (const SmsStorageEntry& group : groups) record.groups[i++] = group;
  return record;
}

SmsMtNewRecord MtNew(int storage, int index) { return SmsMtNewRecord{storage, index, {0, 0}}; }

INSTANTIATE_TEST_SUITE_P(
    Sms, Cases,
    testing::Values(
        Case{"MoResult", dll_SmsMorspInd, "$$CMGS: 12\r\n", 10, {{Row, Bytes({12})}}},
        Case{"MoResultKeepsEightBits", dll_SmsMorspInd, "$$CMGS: 300\r\n", 11, {{Row, Bytes({44})}}},
        Case{"MtCount", dll_SmsMtCntInd, "$$MTCNT: 5,1\r\n", 12, {{Row, Bytes({5, 1})}}},
        Case{"MtCountNegative", dll_SmsMtCntInd, "$$MTCNT: -1,0\r\n", 13, {{Row, Bytes({255, 0})}}},
        Case{"MtCountFourDigits", dll_SmsMtCntInd, "$$MTCNT: 1234,1\r\n", -2, {}},
        Case{"MtCountWithoutComma", dll_SmsMtCntInd, "$$MTCNT: 5\r\n", -2, {}},
        Case{"FormatNoDigit", SmsFormatInd, "+CMGF:  x\r\n", 8, {{Row, Bytes({0})}}},
        Case{"Center", SmsCenterInd, "+CSCA: \"+123\",145\r\n", 12, {{Row, "+123"}}},
        Case{"CenterCutAt259", SmsCenterInd, "+CSCA: " + std::string(400, '#') + "\r\n", 407,
             {{Row, std::string(259, '#')}}},
        Case{"StorageQuoted", SmsStroageInd, "+CPMS: \"SM\",3,20,\"ME\",0,10,\"MT\",1,50\r\n", 36,
             {{Row, Image(Storage({{0, 3, 20}, {1, 0, 10}, {1, 1, 50}}))}}},
        Case{"StoragePlain", SmsStroageInd, "+CPMS: 3,20,0,10,1,50\r\n", 21,
             {{Row, Image(Storage({{0, 3, 20}, {0, 0, 10}, {0, 1, 50}}))}}},
        Case{"StorageLowerCaseName", SmsStroageInd, "+CPMS: \"me\",3,20,\"ME\",0,10,\"MT\",1,50\r\n", 36,
             {{Row, Image(Storage({{0, 3, 20}, {1, 0, 10}, {1, 1, 50}}))}}},
        Case{"StorageShortLineKeepsTheNext", SmsStroageInd, "+CPMS: 3\r\nOK\r\n", 9,
             {{Row, Image(Storage({{0, 3, 0}}))}}},
        Case{"MtNewLowerCaseSm", SmsMtNewInd, "+CMTI: \"sm\",7\r\n", 13, {{Row, Image(MtNew(0, 7))}}},
        Case{"MtNewMe", SmsMtNewInd, "+CMTI: \"ME\",12\r\n", 14, {{Row, Image(MtNew(1, 12))}}},
        Case{"MtNewOtherStorage", SmsMtNewInd, "+CMTI: \"BM\",7\r\n", 13, {}},
        Case{"ValidatePeriod", SmsValidatePeriodInd, "+CSVP: \"2010/01/02,03\"\r\n", 22,
             {{Row, Time(2010, 1, 2, 3, 0, 0)}}},
        Case{"ValidatePeriodShortKeepsTheNext", SmsValidatePeriodInd, "+CSVP: 2010\r\nOK\r\n", 12,
             {{Row, Time(2010, 0, 0, 0, 0, 0)}}}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    CallProgress, Cases,
    testing::Values(
        Case{"Missed", dll_MissedcallInd, "MISSED_CALL: 1\r\n", 14, {{Row, Bytes({0})}}},
        Case{"NoCarrierSignals", dll_NoCarrierInd, "NO CARRIER\r\n", 10, {{Row, Bytes({0})}}, true},
        Case{"NoCarrierWithoutCr", dll_NoCarrierInd, "NO CARRIER", -1, {}, false},
        Case{"IncomingWithNul", dll_VpIncomingInd, "+VPINC:   +1234\r\n", 15, {{Row, std::string("+1234\0", 6)}}},
        Case{"CallEndEmpty", dll_VpCallEndInd, "+VPE:\r\n", 5, {{Row, std::string(1, '\0')}}},
        Case{"ParenList", dll_ParenListInd, "+CIND: (1,2,3)\r\n", 13, {{Row, "1,2,3"}}},
        Case{"ParenListCopiesLf", dll_ParenListInd, "+CIND: (1\n2)\r\n", 11, {{Row, "1\n2"}}},
        Case{"PhoneError", dll_PhoneErrorInd, "+CME ERROR: 10\r\n", 14, {{Row, "10"}}, true},
        Case{"PhoneErrorWithoutCr", dll_PhoneErrorInd, "+CME ERROR: 10", -1, {}, false},
        Case{"PhoneErrorCutAt259", dll_PhoneErrorInd, "+CME ERROR: " + std::string(600, 'e') + "\n", 612,
             {{Row, std::string(259, 'e')}}, true}),
    Name);

INSTANTIATE_TEST_SUITE_P(
    SimAndPerso, Cases,
    testing::Values(
        Case{"PinVerifyOrder2", PinVerifyInd, "+CPIN: SIM PIN2\r\n", 7, {{Row, Bytes({5, 99})}}},
        Case{"PinVerifyPhSim", PinVerifyInd, "+CPIN: PH-SIM PIN\r\n", 7, {{Row, Bytes({3, 99})}}},
        Case{"PinVerifyUnknown", PinVerifyInd, "+CPIN: PH-NET PUK\r\n", 7, {{Row, Bytes({17, 99})}}},
        Case{"PinTimesNoDigits", PinTimesInd, "+CPINRETRY_TIMES: x\r\n", 18, {{IdPinRetryTimes, Bytes({0})}}},
        Case{"PinTimes300", PinTimesInd, "+CPINRETRY_TIMES: 300\r\n", 21, {{IdPinRetryTimes, Bytes({44})}}},
        Case{"PinStatusOneDigit", PinStatusInd, "+CPWD: 12\r\n", 8, {{Row, Bytes({1})}}},
        Case{"PinStatusText", Pin2StatusInd, "+CPW2: SUCCESS\r\n", 7, {{IdPinResult, Bytes({1})}}},
        Case{"LockPass", SimStatusInd, "+RLOCK: 1,PASS\r\n\r\nOK", 18, {{Row, Bytes({6})}}},
        Case{"LockNeither", SimStatusInd, "+RLOCK: 1,x\r\n", 13, {{Row, Bytes({0})}}},
        Case{"LockFailOnALaterLine", SimStatusInd, "+RLOCK: 1,x\r\nFAIL\r\n", 13, {{Row, Bytes({7})}}},
        Case{"SimPin", SimStatusInd, "+RLOCK: +SIMPIN\r\n", 15, {{Row, Bytes({2})}}},
        Case{"SimNone", SimStatusInd, "+RLOCK: what\r\n", 12, {{Row, Bytes({0})}}},
        Case{"PersoSeven", PersoStatusInd, "+PERSOSTAT: READY,PH-FSIM PIN,READY,READY,ph-sp puk,READY,READY\r\n", 63,
             {{Row, Bytes({0, 1, 0, 0, 2, 0, 0})}}},
        Case{"PersoNine", PersoStatusInd, "+PERSOSTAT: READY,READY,READY,READY,READY,READY,READY,X,Y\r\n", 57,
             {{Row, Bytes({0, 0, 0, 0, 0, 0, 0})}}},
        // An item that names none of its lock's states is not READY.
        Case{"PersoSpaceAfterComma", PersoStatusInd, "+PERSOSTAT: READY, READY\r\n", 24,
             {{Row, Bytes({0, PersoStateUnknown})}}},
        Case{"PersoEmpty", PersoStatusInd, "+PERSOSTAT:\r\n", 11, {{Row, Bytes({PersoStateUnknown})}}},
        Case{"PwdList", PersoPwdInd, "+PERSOPWD: 1,2,3\r\n", 16, {{Row, Bytes({1, 2, 3})}}},
        Case{"PwdCode", PersoPwdInd, "+PERSOPWD: 12345678\r\n", 19, {{IdPersoCode, "12345678"}}},
        Case{"PwdCodeCutAt11", PersoPwdInd, "+PERSOPWD: 1234567890123\r\n", 24, {{IdPersoCode, "12345678901"}}},
        Case{"PwdRejected", PersoPwdInd, "+PERSOPWD: INCORRECT PASSWORD\r\n", 29,
             {{IdPersoIncorrectPassword, "INCORRECT PASSWORD"}}, true},
        Case{"PwdOther", PersoPwdInd, "+PERSOPWD: what\r\n", 11, {{Row, ""}}},
        Case{"AddEntry", AddPersoInd, "+PERSOADD: 2,\"1234\"\r\n", 19,
             {{Row, Image(PersoEntryRecord{2, "1234"})}}},
        Case{"AddEntryCodeCutAt15", AddPersoInd, "+PERSOADD: 2,\"12345678901234567\"\r\n", 32,
             {{Row, Image(PersoEntryRecord{2, "123456789012345"})}}},
        Case{"AddShortKeepsTheNextLine", AddPersoInd, "+PERSOADD: 2\r\nOK\r\n", 12,
             {{Row, Image(PersoEntryRecord{2, ""})}}},
        Case{"AddExists", AddPersoInd, "+PERSOADD: IS EXIST\r\n", 19, {{IdPersoExists, ""}}},
        Case{"AddEmpty", AddPersoInd, "+PERSOADD: IS EMPTY\r\n", 19, {{Row, ""}}},
        Case{"DelNotExists", DelPersoInd, "+PERSODEL: IS NOT EXIST\r\n", 23, {{IdPersoNotExists, ""}}},
        Case{"DelExistIsNotItsText", DelPersoInd, "+PERSODEL: IS EXIST\r\n", 19, {{Row, ""}}}),
    Name);

PbStorageRecord Pb(int storage, int used, int total) { return PbStorageRecord{storage, used, total}; }

CallForwardRecord Forward(int status, const char* number, int type, int time) {
  CallForwardRecord record{};
  record.status = status;
  std::strncpy(record.number, number, sizeof record.number - 1);
  record.type = type;
  record.time = time;
  return record;
}

INSTANTIATE_TEST_SUITE_P(
    NumbersAndServices, Cases,
    testing::Values(
        Case{"OwnNumber", dll_OwnNumberInd, "+CNUM: \"\",\"13912345678\",129\r\n", 22, {{Row, "13912345678"}}},
        Case{"OwnNumberStopsAtPlus", dll_OwnNumberInd, "+CNUM: \"\",\"+8613912345678\",145\r\n", 11, {{Row, ""}}},
        Case{"PbStorage", dll_PbStorageInd, "+CPBS: \"SM\",10,250\r\n", 18, {{Row, Image(Pb(3, 10, 250))}}},
        Case{"PbStorageLowerCase", dll_PbStorageInd, "+CPBS: \"sm\",10,250\r\n", -2, {}},
        Case{"PbStorageUnknown", dll_PbStorageInd, "+CPBS: \"XY\",10,250\r\n", -2, {}},
        Case{"PbStorageCrossesIntoTheNextLine", dll_PbStorageInd, "+CPBS: \"ME\"\r\n42\r\n", 15,
             {{Row, Image(Pb(4, 0, 42))}}},
        Case{"PbStorageNextLineNotYetHere", dll_PbStorageInd, "+CPBS: \"ME\"\r\n", -1, {}},
        Case{"Forward", dll_CallForwardStateInd, "+CCFC: 1,1,\"+8613912345678\",145,,,20\r\n", 36,
             {{Row, Image(Forward(1, "+8613912345678", 145, 20))}}, true},
        Case{"ForwardStatusAlone", dll_CallForwardStateInd, "+CCFC: 0,7\r\n", 10, {{Row, Image(Forward(0, "", 0, 0))}},
             true},
        Case{"ForwardPlusInTypeIsMinusFive", dll_CallForwardStateInd, "+CCFC: 1,1,\"1\",1+\r\n", 17,
             {{Row, Image(Forward(1, "1", 5, 0))}}, true},
        Case{"ForwardNumberCutAt31", dll_CallForwardStateInd, "+CCFC: 1,1,\"" + std::string(40, '9') + "\",145\r\n", 57,
             {{Row, Image(Forward(1, std::string(31, '9').c_str(), 145, 0))}}, true},
        Case{"ForwardSupportedValues", dll_CallForwardStateInd, "+CCFC: (0-5)\r\n", 12, {}, true},
        Case{"ForwardIncompleteStillSignals", dll_CallForwardStateInd, "+CCFC: 1,1", -1, {}, true},
        Case{"WaitSupportedValues", dll_CallWaitStateInd, "+CCWA: (0,1)\r\n", 12, {}, true},
        Case{"Wait", dll_CallWaitStateInd, "+CCWA: 1,1\r\n", 10, {{Row, Bytes({1})}}, true}),
    Name);

OperatorEntry Operator(int stat, const char* longName, const char* shortName, const char* numeric, int act) {
  OperatorEntry entry{};
  entry.stat = stat;
  std::strncpy(entry.longName, longName, sizeof entry.longName - 1);
  std::strncpy(entry.shortName, shortName, sizeof entry.shortName - 1);
  std::strncpy(entry.numeric, numeric, sizeof entry.numeric - 1);
  entry.accessTechnology = act;
  return entry;
}

std::string Operators(int count, const std::string& groups) {
  std::string line = "+COPS: ";
  for (int i = 0; i < count; ++i) line += (i > 0 ? "," : "") + groups;
  return line;
}

std::string Repeat(const std::string& image, int count) {
  std::string images;
  for (int i = 0; i < count; ++i) images += image;
  return images;
}

PhoneDiagInfoRecord Diag(std::initializer_list<const char*> fields) {
  PhoneDiagInfoRecord record{};
  int i = 0;
  for (const char* field : fields) std::strncpy(record.slots[i++], field, 15);
  return record;
}

CurrentOperatorRecord Current(int mode, int format, const char* name, int act) {
  CurrentOperatorRecord record{};
  record.mode = mode;
  record.format = format;
  std::strncpy(record.name, name, sizeof record.name - 1);
  record.accessTechnology = act;
  return record;
}

const std::string TwoOperators =
    "+COPS: (2,\"Long One\",\"One\",\"46000\",2),(1,\"Long Two\",\"Two\",\"46001\",0),,(0-4),(0-2)\r\n";

INSTANTIATE_TEST_SUITE_P(
    SelectionAndPhone, Cases,
    testing::Values(
        Case{"TwoOperators", dll_PLMNListInd, TwoOperators + "OK", static_cast<int32_t>(TwoOperators.size()),
             {{Row, Image(Operator(2, "Long One", "One", "46000", 2)) + Image(Operator(1, "Long Two", "Two", "46001", 0))}}},
        Case{"OperatorWithoutAct", dll_PLMNListInd, "+COPS: (2,\"L\",\"S\",\"1\"),,(0-4)\r\n", 31,
             {{Row, Image(Operator(2, "L", "S", "1", 0))}}},
        Case{"TwelveOperatorsKeepTen", dll_PLMNListInd, Operators(12, "(1,\"L\",\"S\",\"2\",0)") + "\r\n", 224,
             {{Row, Repeat(Image(Operator(1, "L", "S", "2", 0)), 10)}}},
        // The line's end ends the list: nothing of the next line is read.
        Case{"ListEndsAtItsLine", dll_PLMNListInd, "+COPS: (1,\"L\r\n(2,\"M\",\"N\",\"3\",0)\r\n", 14,
             {{Row, Image(Operator(1, "L", "", "", 0))}}},
        Case{"EmptyList", dll_PLMNListInd, "+COPS: ,\r\n", 10, {{Row, ""}}},
        Case{"InServiceAnyCase", dll_PLMNListInd, "+COPS: in service\r\n", 19, {{IdServiceState, Bytes({1})}}},
        Case{"OtherService", dll_PLMNListInd, "+COPS: LIMITED\r\n", 16, {{IdServiceState, Bytes({0})}}},
        Case{"ModeAlone", dll_PLMNListInd, "+COPS: 0\r\n", 10, {}},
        Case{"CurrentOperator", dll_PLMNListInd, "+COPS: 0,2,\"46000\"\r\n", 20,
             {{IdCurrentOperator, Image(Current(0, 2, "46000", 0))}}},
        Case{"ModePrefKeepsEightBits", dll_NetModePrefInd, "+NMPR: 260\r\n", 10, {{Row, Bytes({4})}}},
        Case{"ModePrefNoDigits", dll_NetModePrefInd, "+NMPR: \r\n", 7, {{Row, Bytes({0})}}},
        Case{"DiagThreeFields", dll_PhoneDiagInfoInd, "+DINF: a,bb,ccc\r\n", 15, {{Row, Image(Diag({"a", "bb", "ccc"}))}}},
        Case{"DiagTenFields", dll_PhoneDiagInfoInd, "+DINF: 1,2,3,4,5,6,7,8,9,10\r\n", 23,
             {{Row, Image(Diag({"1", "2", "3", "4", "5", "6", "7", "8"}))}}},
        Case{"TemperatureHigh", dll_PhoneTemperatureHighInd, "+TEMPERATURE HIGH\r\n", 17, {{Row, Bytes({1})}}},
        Case{"TemperatureLowShort", dll_PhoneTemperatureLowInd, "+TEMPERATURE LO", -1, {}},
        Case{"Category12", dll_HsdapCateInd, "+HSDPACATE: 12\r\n\r\nOK", 18, {{Row, Bytes({12})}}},
        Case{"Category7", dll_HsdapCateInd, "+HSDPACATE: 7\r\n", 15, {{Row, Bytes({8})}}},
        Case{"CategorySuccess", dll_HsdapCateInd, "+HSDPACATE: SuCcEsS\r\n", 21, {{Row, Bytes({13})}}},
        Case{"CategoryFail", dll_HsdapCateInd, "+HSDPACATE: fail\r\n", 18, {{Row, Bytes({14})}}},
        Case{"CategoryOther", dll_HsdapCateInd, "+HSDPACATE: what\r\n", 18, {{Row, Bytes({8})}}},
        Case{"Version", dll_AmssVerInd, "+AMSS_VER: " + std::string(20, 'v') + "\r\n", 31,
             {{Row, std::string(20, 'v') + std::string(1, '\0')}}},
        Case{"Imsi", dll_SimImsiInd, "+CIMI: 460001234567890\r\n", 22, {{Row, "460001234567890"}}},
        Case{"ImeiCutAt39", dll_MeImeiInd, "+CGSN: " + std::string(50, '3') + "\r\n", 57, {{Row, std::string(39, '3')}}}),
    Name);

// The attempts a state report sends are those the last count left.
TEST(PinRetryTimes, ACountThenStateReports) {
  ResetPinRetryTimes();
  handlers::Bench bench;
  EXPECT_EQ(bench.Run(PinVerifyInd, Row, "+CPIN: 3\r\n").read, (std::vector<Indication>{{IdPinRetryTimes, Bytes({3})}}));
  EXPECT_EQ(PinRetryTimes, 3);
  EXPECT_EQ(bench.Run(PinVerifyInd, Row, "+CPIN: SIM PIN\r\n").read, (std::vector<Indication>{{Row, Bytes({1, 3})}}));
  EXPECT_EQ(PinRetryTimes, 99);
  EXPECT_EQ(bench.Run(PinVerifyInd, Row, "+CPIN: SIM PIN\r\n").read, (std::vector<Indication>{{Row, Bytes({1, 99})}}));
  // An incomplete line changes nothing.
  bench.Run(PinTimesInd, Row, "+CPINRETRY_TIMES: 5\r\n");
  EXPECT_EQ(bench.Run(PinVerifyInd, Row, "+CPIN: ").result, -1);
  EXPECT_EQ(bench.Run(SimStatusInd, Row, "+RLOCK: +SIMPIN").result, -1);
  EXPECT_EQ(PinRetryTimes, 5);
  bench.Run(SimStatusInd, Row, "+RLOCK: +SIMPIN\r\n");
  EXPECT_EQ(PinRetryTimes, 99);
  ResetPinRetryTimes();
}

TEST(SmsPendingText, SentOnceAtThePromptWithItsExtraByte) {
  handlers::Bench bench;
  ClearSmsPending();
  handlers::Call idle = bench.Run(SmsNewLineInd, Row, "> ");
  EXPECT_EQ(idle.result, 2);
  EXPECT_TRUE(idle.response);
  EXPECT_TRUE(idle.write.empty() && idle.read.empty());

  ASSERT_TRUE(SetSmsPendingText("0123456789", 10));
  EXPECT_EQ(bench.Run(SmsNewLineInd, Row, ">").result, -1);
  EXPECT_TRUE(IsSmsPending());
  PrimitiveQueue& writeQ = *bench.Link().pWriteQ;
  {
    const ParsingLinkScope scope(bench.Link());
    EXPECT_EQ(SmsNewLineInd(Row, "> ", 2), 2);
  }
  char data[64];
  int32_t id = 0;
  unsigned length = 0;
  ASSERT_TRUE(writeQ.Dequeue(&id, data, sizeof data, &length));
  EXPECT_EQ(id, IdRawText);
  EXPECT_EQ(std::string(data, length), std::string("0123456789\0", 11));  // no CR LF
  EXPECT_EQ(LinkLayerPeer::WriteRequestEvent(bench.Link()).Wait(0), plat::WaitResult::Signaled);
  EXPECT_FALSE(IsSmsPending());
}

TEST(SmsPendingText, RefusesWhatDoesNotFit) {
  const std::string fits(SmsPendingCapacity - 1, 'a');
  const std::string over(SmsPendingCapacity, 'a');
  EXPECT_FALSE(SetSmsPendingText(over.data(), static_cast<int32_t>(over.size())));
  EXPECT_FALSE(IsSmsPending());
  EXPECT_FALSE(SetSmsPendingText("a", -1));
  EXPECT_TRUE(SetSmsPendingText(fits.data(), static_cast<int32_t>(fits.size())));
  EXPECT_TRUE(IsSmsPending());
  ClearSmsPending();
  EXPECT_FALSE(IsSmsPending());
}

}  // namespace
