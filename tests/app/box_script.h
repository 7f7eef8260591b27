// The message boxes a test expects, in order, with the answer to give; any
// other box fails the test with its text.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ui/headless/dialog_driver.h"

class BoxScript {
 public:
  BoxScript() {
    ui::headless::SetBoxResponder([this](const ui::headless::BoxRequest& box) { return Answer(box); });
  }
  ~BoxScript() { ui::headless::SetBoxResponder(nullptr); }
  BoxScript(const BoxScript&) = delete;
  BoxScript& operator=(const BoxScript&) = delete;

  // The next box must show `text` exactly; it is answered `answer`.
  void Expect(const std::string& text, int answer) {
    std::lock_guard lock(mutex_);
    expected_.push_back({text, answer});
  }
  std::vector<ui::headless::BoxRequest> Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  // True once every expected box was shown.
  bool AllShown() const {
    std::lock_guard lock(mutex_);
    return expected_.empty();
  }

 private:
  struct Expected {
    std::string text;
    int answer;
  };
  int Answer(const ui::headless::BoxRequest& box) {
    std::lock_guard lock(mutex_);
    shown_.push_back(box);
    if (expected_.empty() || expected_.front().text != box.text) {
      ADD_FAILURE() << "unexpected message box: \"" << box.text << "\"";
      return (box.flags & ui::MbDefButton2) ? ((box.flags & 0xF) == ui::MbYesNo ? ui::IdNo : ui::IdCancel)
                                            : ((box.flags & 0xF) == ui::MbYesNo ? ui::IdYes : ui::IdOk);
    }
    const int answer = expected_.front().answer;
    expected_.pop_front();
    return answer;
  }

  mutable std::mutex mutex_;
  std::deque<Expected> expected_;
  std::vector<ui::headless::BoxRequest> shown_;
};
