// The product's side of a test seam (common/test_seams.h): alone in its
// file, so that the test kit's definition replaces it at link time.
#include "common/test_seams.h"

namespace plat::detail {

std::string DeviceRootOverride() { return {}; }

}  // namespace plat::detail
