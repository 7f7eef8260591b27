#include "plat/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "plat/event.h"
#include "plat/thread.h"

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

#if GTEST_HAS_DEATH_TEST
// What a child process leaves behind: a line written to a fully buffered
// stream before the end, and one from a static object's destructor, which a
// normal exit would run (it then releases and joins the thread that still
// waits, as such an object does).
[[noreturn]] void EndWhileAThreadRuns(uint32_t code) {
  struct Joins {
    plat::Event never;
    plat::Thread waiter;
    ~Joins() {
      std::fputs("destroyed\n", stderr);
      never.Set();
    }
  };
  static Joins joins;
  joins.never.Create(true, false);
  joins.waiter.Start([] { return joins.never.Wait(plat::INFINITE) == plat::WaitResult::Signaled ? 0u : 1u; });
  static char buffer[BUFSIZ];
  std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
  std::fputs("buffered line\n", stderr);
  plat::ExitProcess(code);
}

TEST(ProcessDeathTest, ExitProcessEndsAtOnceWithItsCodeWithoutStaticDestructors) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  using testing::AllOf;
  using testing::HasSubstr;
  using testing::Not;
  for (const uint32_t code : {0u, 3u, 114u}) {
    SCOPED_TRACE(code);
    EXPECT_EXIT(EndWhileAThreadRuns(code), testing::ExitedWithCode(static_cast<int>(code)),
                AllOf(HasSubstr("buffered line"), Not(HasSubstr("destroyed"))));
  }
}
#endif

}  // namespace
