#include "testkit/directory.h"

#include <windows.h>

namespace plat {

bool MakeDirectory(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != FALSE; }

}  // namespace plat
