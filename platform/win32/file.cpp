// The ANSI functions read the name in the same code page as the C runtime's
// fopen does.
#include "plat/file.h"

#include <windows.h>

namespace plat {

FileStatus GetFileStatus(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (path == nullptr || GetFileAttributesExA(path, GetFileExInfoStandard, &data) == FALSE) return {};
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return {FileKind::Other, 0};
  return {FileKind::Regular, (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow};
}

}  // namespace plat
