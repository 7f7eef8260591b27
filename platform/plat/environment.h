// The process's environment variables, as a module loaded later reads them.
#pragma once

#include <string>

namespace plat {

// Sets `name` to `value` for this process; an empty value removes it.
// False where the platform refuses.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace plat
