#include "plat/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using RealClock = std::chrono::steady_clock;

// Each test sets the scale it needs; the next one starts from 1 again.
class ClockTest : public ::testing::Test {
 protected:
  void TearDown() override { plat::SetTimeScale(1); }
};

long RealMsSince(RealClock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(RealClock::now() - start).count());
}

struct RealMsCase {
  int scale;
  uint32_t ms;
  uint32_t real;
};

TEST_F(ClockTest, RealMsDividesByTheScaleKeepingZeroAndInfinite) {
  const RealMsCase cases[] = {
      {1, 0, 0},          {1, 1, 1},        {1, 1234, 1234},      {1, plat::INFINITE, plat::INFINITE},
      {100, 0, 0},        {100, 1, 1},      {100, 99, 1},         {100, 100, 1},
      {100, 250, 2},      {100, 1000, 10},  {100, plat::INFINITE, plat::INFINITE},
      {100, 0xFFFFFFFEu, 42949672},          {7, 20, 2},
  };
  for (const auto& c : cases) {
    plat::SetTimeScale(c.scale);
    EXPECT_EQ(plat::RealMs(c.ms), c.real) << "scale " << c.scale << ", " << c.ms << " ms";
  }
}

TEST_F(ClockTest, ScaleBelowOneMeansOne) {
  for (const int scale : {0, -1, -1000}) {
    plat::SetTimeScale(scale);
    EXPECT_EQ(plat::TimeScale(), 1) << scale;
    EXPECT_EQ(plat::RealMs(500), 500u) << scale;
  }
  plat::SetTimeScale(25);
  EXPECT_EQ(plat::TimeScale(), 25);
}

TEST_F(ClockTest, TickAdvancesWithRealTime) {
  const uint32_t before = plat::GetTickCount();
  const auto start = RealClock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const uint32_t elapsed = plat::GetTickCount() - before;
  // Allowance for a tick coarser than the clock (up to 16 ms on some platforms).
  EXPECT_GE(elapsed, 40u);
  EXPECT_LE(elapsed, static_cast<uint32_t>(RealMsSince(start)) + 20);
}

TEST_F(ClockTest, ScaledTickRunsFasterByTheScale) {
  plat::SetTimeScale(1000);
  const uint32_t before = plat::GetTickCount();
  const auto start = RealClock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const uint32_t elapsed = plat::GetTickCount() - before;
  EXPECT_GE(elapsed, 40u * 1000);
  EXPECT_LE(elapsed, (static_cast<uint32_t>(RealMsSince(start)) + 20) * 1000);
}

// At a scale of 2^23 the 32-bit tick wraps every 512 real milliseconds.
// Differences taken as unsigned 32-bit numbers must stay right across the
// wrap, which a tick that saturated, or that was computed in a narrower or
// signed type, would break.
TEST_F(ClockTest, TickWrapsAndUnsignedDifferencesStayRight) {
  constexpr uint32_t kScale = 1u << 23;
  plat::SetTimeScale(static_cast<int>(kScale));
  bool wrapped = false;
  const auto start = RealClock::now();
  while (!wrapped && RealMsSince(start) < 2000) {
    const uint32_t t0 = plat::GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    const uint32_t t1 = plat::GetTickCount();
    wrapped = wrapped || t1 < t0;
    const uint32_t elapsed = t1 - t0;
    // 40 real ms less a coarse tick's 20, and (allowing for a stalled
    // machine) clearly below one full turn of 512.
    EXPECT_GE(elapsed, 20 * kScale);
    EXPECT_LE(elapsed, 500 * kScale);
  }
  EXPECT_TRUE(wrapped) << "the tick never wrapped";
}

TEST_F(ClockTest, SleepTakesScaledRealTime) {
  plat::SetTimeScale(100);
  auto start = RealClock::now();
  plat::Sleep(1000);  // 10 real ms
  long real = RealMsSince(start);
  EXPECT_GE(real, 9);
  EXPECT_LT(real, 500);

  plat::SetTimeScale(1);
  start = RealClock::now();
  plat::Sleep(30);
  real = RealMsSince(start);
  EXPECT_GE(real, 29);
  EXPECT_LT(real, 2000);
}

TEST_F(ClockTest, SleepZeroReturns) {
  const auto start = RealClock::now();
  plat::Sleep(0);
  EXPECT_LT(RealMsSince(start), 500);
}

}  // namespace
