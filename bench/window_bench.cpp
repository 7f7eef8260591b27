// What one synchronous window message costs: a status line sent to a window
// of the headless UI thread and waited for, against the least any such
// message can cost, a bare hand-off of a turn to another thread and back.
// A transfer shows a status line and a progress value per 1 KiB block; the
// sends that repeat what the window shows are left out (SendTextRepeated:
// what such a send costs instead), so only a change of the percentage goes
// out (transfer_bench, app_transfer_bench).
//
//   build/release/bench/window_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace {

// Two texts in turn, so that every send goes out.
void SendText(benchmark::State& state) {
  ui::headless::UiThread thread;
  const ui::WindowHandle window = thread.NewWindow();
  bool odd = false;
  for (auto _ : state) {
    ui::SendText(window, odd ? "upload Nuvo 41%\r" : "upload Nuvo 42%\r");
    odd = !odd;
  }
}

// The text the window shows already, as most of a transfer's lines are.
void SendTextRepeated(benchmark::State& state) {
  ui::headless::UiThread thread;
  const ui::WindowHandle window = thread.NewWindow();
  for (auto _ : state) ui::SendText(window, "upload Nuvo 42%\r");
}

void SendProgress(benchmark::State& state) {
  ui::headless::UiThread thread;
  const ui::WindowHandle window = thread.NewWindow();
  int percent = 0;
  for (auto _ : state) ui::SendProgress(window, ++percent % 100);
}

// The turn counter is odd while the other thread has it.
void ThreadHandOff(benchmark::State& state) {
  std::atomic<uint32_t> turn{0};
  std::atomic<bool> stop{false};
  std::thread other([&] {
    for (uint32_t seen = 0;;) {
      turn.wait(seen);
      seen = turn.load();
      if (stop) return;
      turn.store(++seen);
      turn.notify_one();
    }
  });
  uint32_t mine = 0;
  for (auto _ : state) {
    turn.store(++mine);
    turn.notify_one();
    turn.wait(mine);
    mine = turn.load();
  }
  stop = true;
  turn.store(++mine);
  turn.notify_one();
  other.join();
}

}  // namespace

BENCHMARK(SendText)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(SendTextRepeated)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(SendProgress)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ThreadHandOff)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
