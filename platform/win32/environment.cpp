#include <stdlib.h>

#include "plat/environment.h"

namespace plat {

bool SetEnvironment(const std::string& name, const std::string& value) {
  // An empty value removes the variable here.
  return ::_putenv_s(name.c_str(), value.c_str()) == 0;
}

}  // namespace plat
