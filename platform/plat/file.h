// Files by the narrow names that the C runtime's fopen takes. On Windows that
// is the ANSI code page, as the file API's "A" functions read it; the
// standard library's narrow paths are converted under the C runtime's locale
// instead, which names a different file as soon as a folder's name goes
// beyond ASCII. A file that a check here finds is one that fopen opens.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// What a name stands for: nothing there, a regular file, or something else
// (a folder, a device).
enum class FileKind { None, Regular, Other };

struct FileStatus {
  FileKind kind = FileKind::None;
  uint64_t size = 0;  // bytes, for a regular file only
};

// The status of `path`; FileKind::None when it cannot be read (a missing
// file, an empty or unusable name).
FileStatus GetFileStatus(const char* path);

// The separator of the platform's paths.
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// `name` in `folder`: the two joined with one separator, as they stand (a
// bare drive "C:" thus gives "C:\name", its root, not its current folder).
inline std::string PathInFolder(std::string_view folder, std::string_view name) {
  std::string path;
  path.reserve(folder.size() + 1 + name.size());
  path.append(folder).push_back(kPathSeparator);
  path.append(name);
  return path;
}

}  // namespace plat
