// libFuzzer target: every handler of the catalogue on arbitrary bytes, and
// the same bytes through a parser of all their rows. The first byte picks
// the handler; the rest follows its prefix.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "handler_catalogue.h"
#include "link/handlers.h"
#include "link/ids.h"
#include "link/indication_state.h"

namespace {

LinkOptions WithCatalogueRows() {
  static const std::vector<ResponseHandlerEntry> rows = [] {
    std::vector<ResponseHandlerEntry> all = handlers::CatalogueRows();
    all.push_back({IdOk, "OK", 2, &dll_OKHandler});
    return all;
  }();
  LinkOptions options = linktest::TestOptions();
  options.ResponseRows = rows;
  return options;
}

void Check(bool holds) {
  if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 2048) return 0;
  static linklayer link(WithCatalogueRows());
  const auto catalogue = handlers::Catalogue();
  const handlers::CatalogueEntry& entry = catalogue[data[0] % catalogue.size()];
  const std::string text = std::string(entry.prefix) + std::string(reinterpret_cast<const char*>(data + 1), size - 1);

  // A buffer of exactly the text: AddressSanitizer catches any read past it.
  const auto bytes = std::make_unique<char[]>(text.size());
  std::memcpy(bytes.get(), text.data(), text.size());
  if (data[0] & 0x80) (void)SetSmsPendingText("text", 4);
  const uint8_t retries = PinRetryTimes;
  int32_t result = 0;
  {
    const ParsingLinkScope scope(link);
    result = entry.handler(entry.rowId, bytes.get(), static_cast<int32_t>(text.size()));
  }
  Check(result == -1 || result == -2 || (result >= 1 && result <= static_cast<int32_t>(text.size())));
  const auto read = linktest::TakeAll(*link.pReadQ);
  const auto written = linktest::TakeAll(*link.pWriteQ);
  Check(read.size() <= 1);
  for (const auto& indication : read) Check(static_cast<int32_t>(indication.payload.size()) <= entry.maxPayload);
  if (result < 0) Check(read.empty() && written.empty() && PinRetryTimes == retries);

  // The same line behind the dispatcher, with a final result after it.
  const std::string lines = text + "\r\nOK\r\n";
  if (LinkLayerPeer::AppendReadData(link, lines.data(), static_cast<int>(lines.size()))) LinkLayerPeer::ParseReadData(link);
  linktest::TakeAll(*link.pReadQ);
  linktest::TakeAll(*link.pWriteQ);
  LinkLayerPeer::ResetReadBuffer(link);
  ClearSmsPending();
  return 0;
}
