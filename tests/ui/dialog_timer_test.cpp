#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "plat/clock.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "ui/headless/dialog_driver.h"
#include "ui/window.h"
#include "ui_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using ui::NoWindow;
using ui::WindowHandle;
using ui_test::kDeadline;
namespace hl = ui::headless;

// Counts the fires of each timer and remembers when and where each came.
class TimerDialog : public ui_test::TestDialog {
 public:
  TimerDialog() : TestDialog(IDD_MAIN_DIALOG) {}
  // A timer with this id kills itself when it fires, as a one-shot does.
  static constexpr uintptr_t kOneShot = 117;

  int Fires(uintptr_t id) const {
    std::lock_guard lock(mutex_);
    const auto it = fires_.find(id);
    return it == fires_.end() ? 0 : static_cast<int>(it->second.size());
  }
  // True once timer `id` has fired `n` times in all; false at the deadline.
  bool WaitForFires(uintptr_t id, int n) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] {
      const auto it = fires_.find(id);
      return it != fires_.end() && static_cast<int>(it->second.size()) >= n;
    });
  }
  Clock::time_point FirstFire(uintptr_t id) const {
    std::lock_guard lock(mutex_);
    return fires_.at(id).front();
  }
  std::vector<std::thread::id> Threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 protected:
  void OnTimer(uintptr_t id) override {
    if (id == kOneShot) KillTimer(id);
    std::lock_guard lock(mutex_);
    fires_[id].push_back(Clock::now());
    threads_.push_back(std::this_thread::get_id());
    changed_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<uintptr_t, std::vector<Clock::time_point>> fires_;
  std::vector<std::thread::id> threads_;
};

class TimerTest : public ::testing::Test {
 protected:
  TimerTest() : scale_(plat::TimeScale()) { plat::SetTimeScale(1); }
  ~TimerTest() override { plat::SetTimeScale(scale_); }

  void SetUp() override {
    window_ = run_.Window();
    ASSERT_NE(window_, NoWindow);
  }
  void TearDown() override {
    dialog_.EndDialog(ui::IdCancel);
    run_.Result();
  }
  std::vector<uintptr_t> Running() { return hl::View(window_)->timers; }

  int scale_;
  TimerDialog dialog_;
  ui_test::ModalRun run_{dialog_};
  WindowHandle window_ = NoWindow;
};

TEST_F(TimerTest, ATimerRepeatsOnTheUiThreadUntilKilled) {
  const Clock::time_point set = Clock::now();
  ASSERT_TRUE(dialog_.SetTimer(1, 20));
  EXPECT_EQ(Running(), std::vector<uintptr_t>{1});
  ASSERT_TRUE(dialog_.WaitForFires(1, 3));
  EXPECT_GE(dialog_.FirstFire(1) - set, std::chrono::milliseconds(20));
  for (std::thread::id thread : dialog_.Threads()) EXPECT_EQ(thread, run_.ThreadId());
  EXPECT_TRUE(dialog_.KillTimer(1));
  EXPECT_FALSE(dialog_.KillTimer(1));
  EXPECT_TRUE(Running().empty());
}

// Another timer keeps time while the killed one must stay silent.
TEST_F(TimerTest, AKilledTimerFiresNoMore) {
  struct Case {
    const char* name;
    uintptr_t id;
    bool killedHere;  // by this thread, else by its own handler
  };
  const Case cases[] = {
      {"killed by another thread", 1, true},
      {"killed by its own handler", TimerDialog::kOneShot, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dialog_.SetTimer(c.id, 10));
    ASSERT_TRUE(dialog_.SetTimer(2, 10));
    ASSERT_TRUE(dialog_.WaitForFires(c.id, c.killedHere ? 2 : 1));
    if (c.killedHere) {
      EXPECT_TRUE(dialog_.KillTimer(c.id));
    }
    const int fired = dialog_.Fires(c.id);
    ASSERT_TRUE(dialog_.WaitForFires(2, dialog_.Fires(2) + 5));
    EXPECT_EQ(dialog_.Fires(c.id), fired);
    EXPECT_EQ(Running(), std::vector<uintptr_t>{2});
    EXPECT_TRUE(dialog_.KillTimer(2));
  }
}

TEST_F(TimerTest, SettingATimerAgainRestartsItWithTheNewPeriod) {
  // A ten-minute timer set again to 20 ms fires within the deadline.
  ASSERT_TRUE(dialog_.SetTimer(5, 600000));
  ASSERT_TRUE(dialog_.SetTimer(5, 20));
  EXPECT_EQ(Running(), std::vector<uintptr_t>{5});
  EXPECT_TRUE(dialog_.WaitForFires(5, 1));
  EXPECT_TRUE(dialog_.KillTimer(5));

  // Set again half its period on, a timer fires a whole period after that.
  ASSERT_TRUE(dialog_.SetTimer(6, 300));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // spacing only: nothing is awaited
  const Clock::time_point again = Clock::now();
  ASSERT_TRUE(dialog_.SetTimer(6, 300));
  ASSERT_TRUE(dialog_.WaitForFires(6, 1));
  EXPECT_GE(dialog_.FirstFire(6) - again, std::chrono::milliseconds(300));
}

TEST_F(TimerTest, PeriodsRunOnTheScaledSystemTime) {
  plat::SetTimeScale(1000);
  // A minute of system time is 60 ms of real time.
  const Clock::time_point set = Clock::now();
  ASSERT_TRUE(dialog_.SetTimer(9, 60000));
  ASSERT_TRUE(dialog_.WaitForFires(9, 2));
  EXPECT_GE(dialog_.FirstFire(9) - set, std::chrono::milliseconds(60));
  // The timer set by the UI thread itself runs the same way.
  dialog_.Run([&] { dialog_.SetTimer(10, 60000); });
  EXPECT_TRUE(dialog_.WaitForFires(10, 1));
}

TEST_F(TimerTest, AnEndedDialogsTimersGoWithIt) {
  ASSERT_TRUE(dialog_.SetTimer(1, 10));
  ASSERT_TRUE(dialog_.WaitForFires(1, 1));
  dialog_.EndDialog(ui::IdCancel);
  run_.Result();
  EXPECT_FALSE(dialog_.SetTimer(1, 10));
  EXPECT_FALSE(dialog_.KillTimer(1));
}

}  // namespace
