// nuvo-demo as a person runs it: its download prints each progress value
// once, as the percentage changes, not once per block.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/port_kit.h"

namespace {

namespace fs = std::filesystem;

TEST(Demo, PrintsEachProgressValueOnce) {
  testkit::TempDeviceRoot scratch;
  const fs::path output = fs::path(scratch.Path()) / "demo-output.txt";
  // 300 blocks for 100 percent values.
  const std::string command = "timeout -s KILL 120 '" + std::string(NUVO_DEMO) +
                              "' --no-upload --image-size 307200 --scale 20 > '" + output.string() + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(output, std::ios::binary);
  const std::string printed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};

  // The progress values are the pieces that end in a carriage return.
  std::vector<int> percents;
  for (size_t end = printed.find('\r'), begin = 0; end != std::string::npos; end = printed.find('\r', begin)) {
    const size_t at = printed.rfind("download Nuvo ", end);
    if (at != std::string::npos && at >= begin) percents.push_back(std::atoi(printed.c_str() + at + 14));
    begin = end + 1;
  }
  ASSERT_FALSE(percents.empty()) << printed;
  EXPECT_EQ(percents.back(), 100);
  for (size_t i = 1; i < percents.size(); ++i) EXPECT_GT(percents[i], percents[i - 1]) << i;
  EXPECT_NE(printed.find("The device's flash holds the image, byte for byte."), std::string::npos) << printed;
}

}  // namespace
