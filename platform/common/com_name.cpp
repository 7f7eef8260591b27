#include "plat/com_name.h"

namespace plat {

unsigned ComDigitsNumber(std::string_view text, size_t* digits) {
  unsigned number = 0;
  bool tooLarge = false;
  size_t count = 0;
  for (; count < text.size() && text[count] >= '0' && text[count] <= '9'; ++count) {
    // Once past the largest port no further digit can bring it back, so the
    // value stops growing before it could overflow.
    if (tooLarge) continue;
    number = number * 10 + static_cast<unsigned>(text[count] - '0');
    tooLarge = number > kMaxComNumber;
  }
  if (digits) *digits = count;
  return tooLarge ? 0 : number;
}

unsigned ComNameNumber(std::string_view name) {
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  if (name.size() < 3) return 0;
  for (size_t i = 0; i < 3; ++i) {
    const char upper = name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
    if (upper != "COM"[i]) return 0;
  }
  size_t digits = 0;
  const unsigned number = ComDigitsNumber(name.substr(3), &digits);
  return digits == name.size() - 3 ? number : 0;
}

}  // namespace plat
