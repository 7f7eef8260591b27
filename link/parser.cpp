#include "link/parser.h"

#include <utility>

#include "link/handlers.h"
#include "link/ids.h"
#include "link/linklayer.h"

// Constant-initialised, so it is complete before theLinkLayer's construction
// copies it.
constinit const std::array<ResponseHandlerEntry, 8> ResponseHandlerTable = {{
    {IdOk, "OK", 2, &dll_OKHandler},
    {IdOk, "+UGSM:", 6, &dll_UgsmInd},
    {IdOk, "ATE", 3, &dll_EchoInd},
    {IdError, "ERROR", 5, &dll_ERrHandler},
    {IdDiagPortState, "+CSWITCHDM:", 11, &dll_DiagPortInd},
    {IdFtmState, "+CSWITCHFTM:", 12, &dll_SwitchFtmInd},
    {IdTestModeState, "+CSWITCHTEST:", 13, &dll_SwitchTestInd},
    {IdVersion, "+CGMR:", 6, &dll_VersionInd},
}};

ResponseParser::ResponseParser() : ResponseParser(ResponseHandlerTable) {}

ResponseParser::ResponseParser(std::span<const ResponseHandlerEntry> rows) {
  rows_.reserve(rows.size());
  for (const ResponseHandlerEntry& entry : rows) {
    if (entry.prefix == nullptr || entry.handler == nullptr || entry.prefixLength < 1) continue;
    std::string prefix(entry.prefix);
    if (prefix.size() > static_cast<size_t>(entry.prefixLength)) prefix.resize(entry.prefixLength);
    // An empty prefix would match every line.
    if (!prefix.empty()) rows_.push_back({entry.id, std::move(prefix), entry.handler});
  }
}

namespace {

thread_local linklayer* t_parsingLink = nullptr;

}  // namespace

linklayer& ParsingLink() { return t_parsingLink != nullptr ? *t_parsingLink : theLinkLayer; }

ParsingLinkScope::ParsingLinkScope(linklayer& link) : previous_(t_parsingLink) { t_parsingLink = &link; }

ParsingLinkScope::~ParsingLinkScope() { t_parsingLink = previous_; }
