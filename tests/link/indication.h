// An indication as the link's tests see it: its id and its payload without
// the CR LF the queue adds, printed readably when a comparison fails.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace linktest {

struct Indication {
  int32_t id;
  std::string payload;
  bool operator==(const Indication&) const = default;
  friend void PrintTo(const Indication& i, std::ostream* os) {
    *os << i.id << " \"";
    for (unsigned char c : i.payload) {
      if (c >= 0x20 && c < 0x7F)
        *os << c;
      else
        *os << "\\x" << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
    }
    *os << '"';
  }
};

}  // namespace linktest
