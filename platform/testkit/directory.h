// Folders made by the narrow name as the platform's file API takes it (the
// ANSI code page on Windows, as plat/file.h and fopen read it), so that a
// test can name one in bytes beyond ASCII and find it again through them.
#pragma once

#include <string>

namespace plat {

// Makes the folder `path` (its parent must exist); false when it cannot, or
// something of that name is there already.
bool MakeDirectory(const std::string& path);

// A folder name beyond ASCII in that narrow encoding: the word for "Chinese"
// in two characters, in UTF-8 on POSIX and in its GBK bytes (code page 936)
// on Windows; under another code page those four bytes still name a folder
// (four letters under 1252).
#if defined(_WIN32)
inline constexpr const char* kBeyondAsciiName = "\xD6\xD0\xCE\xC4";
#else
inline constexpr const char* kBeyondAsciiName = "\xE4\xB8\xAD\xE6\x96\x87";
#endif

}  // namespace plat
