// Suites that hold for every handler of the catalogue: no read beyond the
// available bytes at any cut, nothing changed on an incomplete or malformed
// line, the next line left alone, no field written past its cap, and the
// same under random lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>

#include "handler_catalogue.h"
#include "link/ids.h"
#include "link/indication_state.h"

namespace {

using handlers::Call;
using handlers::CatalogueEntry;

bool QueuedNothing(const Call& call) { return call.read.empty() && call.write.empty(); }

// The handler contract on any input of `length` bytes.
void ExpectContract(const CatalogueEntry& entry, const Call& call, size_t length, uint8_t retryBefore) {
  EXPECT_TRUE(call.result == -1 || call.result == -2 || (call.result >= 1 && call.result <= static_cast<int32_t>(length)))
      << call.result;
  for (const linktest::Indication& indication : call.read) {
    EXPECT_LE(static_cast<int32_t>(indication.payload.size()), entry.maxPayload);
  }
  EXPECT_LE(call.read.size(), 1u);
  if (call.result < 0) {
    EXPECT_TRUE(QueuedNothing(call));
    EXPECT_EQ(PinRetryTimes, retryBefore);
  }
}

class EveryHandler : public testing::TestWithParam<const CatalogueEntry*> {
 protected:
  void SetUp() override {
    ResetPinRetryTimes();
    ClearSmsPending();
  }
  void TearDown() override { ClearSmsPending(); }
  Call Run(const std::string& text) { return bench_.Run(GetParam()->handler, GetParam()->rowId, text); }
  size_t PrefixLength() const { return std::string(GetParam()->prefix).size(); }

  handlers::Bench bench_;
};

TEST_P(EveryHandler, ReadsNothingBeyondAnyCut) {
  const CatalogueEntry& entry = *GetParam();
  for (const std::string& sample : entry.samples) {
    for (size_t cut = PrefixLength(); cut <= sample.size(); ++cut) {
      SCOPED_TRACE(testing::Message() << "cut " << cut << " of " << testing::PrintToString(sample));
      const uint8_t before = PinRetryTimes;
      ExpectContract(entry, Run(sample.substr(0, cut)), cut, before);
    }
  }
}

TEST_P(EveryHandler, LeavesTheNextLineAlone) {
  const CatalogueEntry& entry = *GetParam();
  for (const std::string& sample : entry.samples) {
    SCOPED_TRACE(testing::PrintToString(sample));
    const Call call = Run(sample + "OK\r\n");
    EXPECT_GE(call.result, 1);
    EXPECT_LE(call.result, static_cast<int32_t>(sample.size()));
  }
}

TEST_P(EveryHandler, SkipsItsPrefixWithoutLookingAtIt) {
  const CatalogueEntry& entry = *GetParam();
  if (std::string(entry.name) == "SimStatusInd") GTEST_SKIP() << "looks for its literal anywhere in the line";
  for (const std::string& sample : entry.samples) {
    SCOPED_TRACE(testing::PrintToString(sample));
    ResetPinRetryTimes();
    const Call original = Run(sample + "OK\r\n");
    ResetPinRetryTimes();
    const Call masked = Run(std::string(PrefixLength(), '#') + sample.substr(PrefixLength()) + "OK\r\n");
    EXPECT_EQ(masked.result, original.result);
    EXPECT_EQ(masked.read, original.read);
  }
}

TEST_P(EveryHandler, KeepsOverlongFieldsWithinTheirCaps) {
  const CatalogueEntry& entry = *GetParam();
  for (const std::string& sample : entry.samples) {
    // Stretch whatever field stands at each place of the line.
    for (size_t at = PrefixLength(); at + 2 < sample.size(); ++at) {
      std::string stretched = sample;
      stretched.insert(at, 1500, sample[at]);
      SCOPED_TRACE(testing::Message() << "stretched at " << at << " of " << testing::PrintToString(sample));
      const uint8_t before = PinRetryTimes;
      ExpectContract(entry, Run(stretched + "OK\r\n"), stretched.size() + 4, before);
    }
  }
}

TEST_P(EveryHandler, HoldsTheContractOnRandomLines) {
  const CatalogueEntry& entry = *GetParam();
  std::mt19937 random(std::hash<std::string>{}(entry.name) & 0xFFFFFFFFu);
  // Bytes the handlers look for, and any byte at all.
  const std::string common = " ,\"()+-:\r\n0123456789SMEPINADYFUCK";
  std::string alphabet = common;
  for (const std::string& sample : entry.samples) alphabet += sample;
  for (int round = 0; round < 1500; ++round) {
    std::string line = entry.prefix;
    const int length = static_cast<int>(random() % 48);
    for (int i = 0; i < length; ++i) {
      line += random() % 8 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
    }
    SCOPED_TRACE(testing::PrintToString(line));
    const uint8_t before = PinRetryTimes;
    ExpectContract(entry, Run(line), line.size(), before);
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryHandler, testing::ValuesIn([] {
                           std::vector<const CatalogueEntry*> entries;
                           for (const CatalogueEntry& entry : handlers::Catalogue()) entries.push_back(&entry);
                           return entries;
                         }()),
                         [](const testing::TestParamInfo<const CatalogueEntry*>& info) {
                           return std::string(info.param->name);
                         });

TEST(HandlerCatalogue, RecordsRowsATableCanTake) {
  const auto catalogue = handlers::Catalogue();
  EXPECT_EQ(catalogue.size(), 59u);
  // The ids the link layer uses already.
  std::set<int32_t> used = {IdNoPortNotice, IdSmsSend, IdRawText, IdAtCommand, IdSmsNewSet, IdWaitNoTimeout,
                            IdPortScanRequest, IdOk, IdError, IdOperationNotAllowed, IdPersoCode, IdPinResult,
                            IdVersion, IdCurrentOperator, IdPinRetryTimes, IdPortNotOpen, IdModemDetect,
                            IdServiceState, IdPersoIncorrectPassword, IdDiagPortState, IdDiagPortSwitch,
                            IdPersoExists, IdPersoNotExists, IdFtmState, IdFtmSwitch, IdTestModeState,
                            IdTestModeSwitch, IdPortScanResult};
  std::set<std::string> prefixes;
  for (const ResponseHandlerEntry& row : ResponseHandlerTable) prefixes.insert(row.prefix);
  std::set<ResponseHandler> seen;
  for (size_t i = 0; i < catalogue.size(); ++i) {
    const CatalogueEntry& entry = catalogue[i];
    SCOPED_TRACE(entry.name);
    EXPECT_LT(entry.rowId, 256);
    EXPECT_TRUE(used.insert(entry.rowId).second) << "id " << entry.rowId << " is taken";
    EXPECT_TRUE(seen.insert(entry.handler).second);
    EXPECT_TRUE(prefixes.insert(entry.prefix).second);
    EXPECT_FALSE(entry.samples.empty());
    for (size_t later = i + 1; later < catalogue.size(); ++later) {
      EXPECT_NE(std::string(catalogue[later].prefix).rfind(entry.prefix, 0), 0u)
          << catalogue[later].prefix << " must come before " << entry.prefix;
    }
  }
}

}  // namespace
