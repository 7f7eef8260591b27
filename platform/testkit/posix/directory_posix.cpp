#include <sys/stat.h>

#include "testkit/directory.h"

namespace plat {

bool MakeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

}  // namespace plat
