// The program's settings: a profile file named after the executable, with
// the access code and the folder history.
#pragma once

#include <string>
#include <vector>

namespace settings {

inline constexpr const char* kPasswordSection = "Password";
inline constexpr const char* kPasswordKey = "DM";
inline constexpr const char* kImagePathsSection = "Phone Image Paths";
inline constexpr const char* kUploadFilesSection = "Upload Image Files";
// A history holds keys "Item 0" to "Item 9".
inline constexpr int kHistorySize = 10;

// The profile file's name: the program's name with ".INI".
std::string FileName();

// The key's value; empty when the file, section or key is missing.
std::string Read(const std::string& section, const std::string& key);
bool Write(const std::string& section, const std::string& key, const std::string& value);

// "Item <i>".
std::string ItemKey(int index);
// A history's entries from "Item 0" up to the first empty one.
std::vector<std::string> ReadList(const std::string& section);
// Remembers `folder` under the first empty key, unless a key before it
// holds it already without regard to case; nothing when all are taken.
void Remember(const std::string& section, const std::string& folder);

}  // namespace settings
