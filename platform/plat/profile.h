// Profile (INI) files with the semantics of the platform's private-profile
// functions: sections and keys matched without regard to case, values taken
// as they stand after the "=", CR LF and LF line ends both read, a missing
// file, section or key reading as the default, and a write that creates file
// and section and keeps the file's other content.
#pragma once

#include <string>

namespace plat {

// The full path of the profile file `fileName` (a name without folder) in the
// per-user configuration folder.
std::string ProfilePath(const std::string& fileName);

std::string GetProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                             const std::string& defaultValue);
bool WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace plat
