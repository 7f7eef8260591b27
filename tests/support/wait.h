// Waiting in tests for a condition another thread makes true: polled until
// it holds or a deadline of real time passes, never a pause that hopes.
#pragma once

#include <chrono>
#include <thread>

namespace testkit {

// Polls `done` every real millisecond for up to `limit`; false when it never
// held.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testkit
