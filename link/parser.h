// The response dispatch: the table of response prefixes and their handlers,
// and the parser's run-time copy of it that the read path matches lines
// against.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class linklayer;

// A response handler, called on the read thread with the row's id, the first
// byte of the matched prefix and the number of unread bytes from there on
// (never fewer than the prefix length). The text is not NUL-terminated; a
// handler reads nothing at or beyond text + available. Result: the bytes it
// consumed (1 to available), -1 when the response is not complete (nothing
// queued), -2 when it is malformed. It queues its indications on the parsing
// link's ReadQ without wake, may signal ResponseEvent for a final result,
// never sets NotifyEvent and never blocks.
using ResponseHandler = int32_t (*)(int32_t id, const char* text, int32_t available);

struct ResponseHandlerEntry {
  int32_t id;
  const char* prefix;
  int32_t prefixLength;
  ResponseHandler handler;
};

// The rows the link layer registers, in matching order.
extern const std::array<ResponseHandlerEntry, 8> ResponseHandlerTable;

class ResponseParser {
 public:
  struct Row {
    int32_t id = 0;
    std::string prefix;  // its own copy of the prefix
    ResponseHandler handler = nullptr;
  };

  // A copy of ResponseHandlerTable.
  ResponseParser();
  // A copy of `rows` in their order; rows without prefix text or handler
  // are left out, and a prefix is never taken longer than its text.
  explicit ResponseParser(std::span<const ResponseHandlerEntry> rows);

  const std::vector<Row>& Rows() const { return rows_; }

 private:
  std::vector<Row> rows_;
};

// The link layer whose parse runs on this thread, which the handlers queue
// on and signal; theLinkLayer when no parse runs.
linklayer& ParsingLink();

// Makes `link` the parsing link of this thread for the scope's lifetime.
class ParsingLinkScope {
 public:
  explicit ParsingLinkScope(linklayer& link);
  ~ParsingLinkScope();
  ParsingLinkScope(const ParsingLinkScope&) = delete;
  ParsingLinkScope& operator=(const ParsingLinkScope&) = delete;

 private:
  linklayer* previous_;
};
