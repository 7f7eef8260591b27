#include "plat/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(Process, TheListHoldsThisProcess) {
  std::vector<uint32_t> ids;
  ASSERT_TRUE(plat::EnumProcessIds(ids));
  EXPECT_NE(std::find(ids.begin(), ids.end(), plat::CurrentProcessId()), ids.end());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "an id listed twice";
}

TEST(Process, ImagePathOfThisProcessNamesTheTestProgram) {
  std::string path;
  ASSERT_TRUE(plat::ProcessImagePath(plat::CurrentProcessId(), path));
  EXPECT_NE(path.find("plat_tests"), std::string::npos) << path;
}

TEST(Process, ImagePathOfAProcessThatDoesNotExistFails) {
  std::vector<uint32_t> ids;
  ASSERT_TRUE(plat::EnumProcessIds(ids));
  uint32_t absent = 0x7FFFFFF0u;
  while (std::find(ids.begin(), ids.end(), absent) != ids.end()) --absent;
  std::string path = "unchanged";
  EXPECT_FALSE(plat::ProcessImagePath(absent, path));
}

}  // namespace
