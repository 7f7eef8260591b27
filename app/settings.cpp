#include "app/settings.h"

#include <cstdio>

#include "plat/profile.h"
#include "ui/dialog.h"

namespace settings {
namespace {

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string FileName() { return ui::AppName() + ".INI"; }

std::string Read(const std::string& section, const std::string& key) {
  return plat::GetProfileString(FileName(), section, key, "");
}

bool Write(const std::string& section, const std::string& key, const std::string& value) {
  return plat::WriteProfileString(FileName(), section, key, value);
}

std::string ItemKey(int index) {
  char key[16];
  std::snprintf(key, sizeof key, "Item %d", index);
  return key;
}

std::vector<std::string> ReadList(const std::string& section) {
  std::vector<std::string> entries;
  for (int i = 0; i < kHistorySize; ++i) {
    std::string entry = Read(section, ItemKey(i));
    if (entry.empty()) break;
    entries.push_back(std::move(entry));
  }
  return entries;
}

void Remember(const std::string& section, const std::string& folder) {
  for (int i = 0; i < kHistorySize; ++i) {
    const std::string key = ItemKey(i);
    const std::string entry = Read(section, key);
    if (entry.empty()) {
      Write(section, key, folder);
      return;
    }
    if (EqualIgnoringCase(entry, folder)) return;
  }
}

}  // namespace settings
