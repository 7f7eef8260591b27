#include "handoff/scan_diag_port.h"

#include <gtest/gtest.h>

#include "plat/thread.h"
#include "support/port_kit.h"

namespace handoff {
namespace {

class ScanDiagPortSlotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(first_.Ok());
    ASSERT_TRUE(second_.Ok());
    a_ = plat::SerialPort::Open(3);
    b_ = plat::SerialPort::Open(4);
    ASSERT_NE(a_, nullptr);
    ASSERT_NE(b_, nullptr);
  }
  void TearDown() override { slot_.Clear(); }

  testkit::TempDeviceRoot root_;
  testkit::TestPort first_{3};
  testkit::TestPort second_{4};
  plat::PortHandle a_, b_;
  ScanDiagPortSlot slot_;
};

TEST_F(ScanDiagPortSlotTest, TakeHandsOutThePortOnceWithItsNumber) {
  slot_.Put(a_, 3);
  ScannedPort taken = slot_.Take();
  EXPECT_EQ(taken.Port, a_);
  EXPECT_EQ(taken.ComPort, 3);
  EXPECT_TRUE(a_->IsOpen()) << "taking hands over, it does not close";
  EXPECT_EQ(slot_.Take().Port, nullptr);
}

TEST_F(ScanDiagPortSlotTest, PutClosesTheHandleItReplaces) {
  slot_.Put(a_, 3);
  slot_.Put(b_, 4);
  EXPECT_FALSE(a_->IsOpen());
  EXPECT_TRUE(b_->IsOpen());
  EXPECT_EQ(slot_.Take().ComPort, 4);
}

TEST_F(ScanDiagPortSlotTest, PutOfTheHeldHandleKeepsItOpen) {
  slot_.Put(a_, 3);
  slot_.Put(a_, 3);
  EXPECT_TRUE(a_->IsOpen());
  EXPECT_EQ(slot_.Take().Port, a_);
}

TEST_F(ScanDiagPortSlotTest, ClearClosesAndEmpties) {
  slot_.Put(a_, 3);
  slot_.Clear();
  EXPECT_FALSE(a_->IsOpen());
  EXPECT_EQ(slot_.Take().Port, nullptr);
  slot_.Clear();  // on an empty slot
}

TEST_F(ScanDiagPortSlotTest, PutAndTakeFromTwoThreads) {
  plat::Thread putter;
  putter.Start([&] {
    for (int i = 0; i < 2000; ++i) slot_.Put(a_, 3);
    return 0u;
  });
  for (int i = 0; i < 2000; ++i) slot_.Take();
  putter.Join();
  EXPECT_TRUE(a_->IsOpen()) << "the same handle is never closed by its own Put";
}

}  // namespace
}  // namespace handoff
