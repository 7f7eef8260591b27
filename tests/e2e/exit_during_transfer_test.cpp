// A process that exits while a transfer runs ends at once and cleanly: the
// engine's state stays usable for its worker and receive thread while the
// static objects are torn down, so nothing they do fails or waits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/port_kit.h"

namespace {

namespace fs = std::filesystem;

TEST(ExitDuringTransfer, TheProcessEndsAtOnceWithoutFailures) {
  testkit::TempDeviceRoot root;
  const fs::path output = fs::path(root.Path()) / "child-output.txt";
  // A hang guard, not a speed goal: a child that does not end is killed and
  // its status tells so.
  const std::string command = "timeout -s KILL 120 '" + std::string(EXIT_DURING_TRANSFER_CHILD) + "' '" +
                              (fs::path(root.Path()) / "child").string() + "' > '" + output.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(output);
  const std::string printed{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(status, 0) << printed;
  EXPECT_NE(printed.find("exiting in the middle of the transfer"), std::string::npos) << printed;
  EXPECT_EQ(printed.find("FATAL"), std::string::npos) << printed.substr(0, 2000);
}

}  // namespace
