#include <stdlib.h>

#include "plat/environment.h"

namespace plat {

bool SetEnvironment(const std::string& name, const std::string& value) {
  return (value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1)) == 0;
}

}  // namespace plat
