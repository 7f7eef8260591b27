// Settings read once from the environment: each case runs in a fresh child
// program (a death test in the thread-safe style re-runs this binary), so
// the value is read for the first time there.
#include <stdlib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "plat/clock.h"
#include "plat/debug.h"

namespace {

class Environment : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

struct ScaleCase {
  const char* text;  // null: not set
  int scale;
};

TEST_F(Environment, TimeScaleFromTheEnvironment) {
  const ScaleCase cases[] = {
      {nullptr, 1}, {"", 1},    {"1", 1},    {"7", 7},     {"100", 100}, {"0", 1},
      {"-3", 1},    {"abc", 1}, {"12x", 1},  {"2.5", 1},   {"99999999999999999999", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          if (c.text == nullptr) ::unsetenv("TAMRI_TIME_SCALE");
          else ::setenv("TAMRI_TIME_SCALE", c.text, 1);
          std::exit(plat::TimeScale());
        },
        ::testing::ExitedWithCode(c.scale), "")
        << (c.text ? c.text : "(unset)");
  }
}

TEST_F(Environment, TestHookWinsOverTheEnvironment) {
  EXPECT_EXIT(
      {
        ::setenv("TAMRI_TIME_SCALE", "9", 1);
        plat::SetTimeScale(4);
        std::exit(plat::TimeScale() * 10 + static_cast<int>(plat::RealMs(40)));
      },
      ::testing::ExitedWithCode(50), "");
}

TEST_F(Environment, DebugOutputGoesToStandardErrorWhenAsked) {
  EXPECT_EXIT(
      {
        ::setenv("TAMRI_DEBUG", "1", 1);
        plat::OutputDebugString("marker-one\n");
        plat::DebugDump("marker-two\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "marker-one\nmarker-two");
}

TEST_F(Environment, DebugOutputIsSilentByDefault) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    EXPECT_EXIT(
        {
          if (value == nullptr) ::unsetenv("TAMRI_DEBUG");
          else ::setenv("TAMRI_DEBUG", value, 1);
          plat::OutputDebugString("marker-one\n");
          plat::DebugDump("marker-two\n");
          std::exit(0);
        },
        ::testing::ExitedWithCode(0), ::testing::Not(::testing::HasSubstr("marker")));
  }
}

}  // namespace
