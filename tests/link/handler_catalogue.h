// Every response handler the table does not register, with what a row for
// it needs and sample lines, and a bench that runs a handler on bytes that
// end at an unreadable page. Drives the generic handler suites and the
// fuzz target.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "link/linklayer.h"
#include "link/parser.h"
#include "plat/guarded_bytes.h"
#include "link_test_support.h"

namespace handlers {

struct CatalogueEntry {
  const char* name;
  ResponseHandler handler;
  // A row for it: the id it expects and a prefix whose length is the
  // count of characters the handler skips (or, without a skip, consumes).
  int32_t rowId;
  const char* prefix;
  // The largest payload it can queue on ReadQ.
  int32_t maxPayload;
  // Complete lines, each with its CR LF.
  std::vector<std::string> samples;
};
// A parameter of the suites over the catalogue prints as the handler's name.
inline void PrintTo(const CatalogueEntry* entry, std::ostream* os) { *os << entry->name; }


// All of them, in an order a table could take: a prefix that begins
// another comes after it.
std::span<const CatalogueEntry> Catalogue();

// The catalogue as table rows.
std::vector<ResponseHandlerEntry> CatalogueRows();

// One handler call and all it did.
struct Call {
  int32_t result = 0;
  std::vector<linktest::Indication> read;   // queued on ReadQ
  std::vector<linktest::Indication> write;  // queued on WriteQ
  bool response = false;                    // ResponseEvent set
};

// Runs handlers on a private link, their text placed right before an
// unreadable page so that any read beyond `available` faults.
class Bench {
 public:
  Bench();
  Call Run(ResponseHandler handler, int32_t id, const std::string& text);
  linklayer& Link() { return link_; }

 private:
  linklayer link_;
  plat::GuardedBytes bytes_;
};

}  // namespace handlers
