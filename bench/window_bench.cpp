// What one synchronous window message costs: a status line sent to a window
// of the headless UI thread and waited for, against the least any such
// message can cost, a bare hand-off of a turn to another thread and back.
// A transfer pays two such messages per 1 KiB block (transfer_bench).
//
//   build/release/bench/window_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "ui/headless/ui_thread.h"
#include "ui/window.h"

namespace {

void SendText(benchmark::State& state) {
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
BENCHMARK(SendProgress)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(ThreadHandOff)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
