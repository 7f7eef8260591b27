#include <sys/stat.h>

#include "plat/file.h"

namespace plat {

FileStatus GetFileStatus(const char* path) {
  struct stat st {};
  if (path == nullptr || ::stat(path, &st) != 0) return {};
  if (!S_ISREG(st.st_mode)) return {FileKind::Other, 0};
  return {FileKind::Regular, static_cast<uint64_t>(st.st_size)};
}

}  // namespace plat
