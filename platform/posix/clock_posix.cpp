#include "plat/clock.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace plat {
namespace {

// 0 until the scale has been read from the environment or set by a test.
std::atomic<int> g_scale{0};

int ScaleFromEnvironment() {
  const char* text = std::getenv("TAMRI_TIME_SCALE");
  if (text == nullptr || *text == '\0') return 1;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 1 || value > 1000000000L) return 1;
  return static_cast<int>(value);
}

}  // namespace

int TimeScale() {
  int scale = g_scale.load(std::memory_order_acquire);
  if (scale != 0) return scale;
  int expected = 0;
  // A concurrent SetTimeScale wins over the environment.
  g_scale.compare_exchange_strong(expected, ScaleFromEnvironment(), std::memory_order_acq_rel);
  return g_scale.load(std::memory_order_acquire);
}

void SetTimeScale(int scale) { g_scale.store(scale < 1 ? 1 : scale, std::memory_order_release); }

uint32_t RealMs(uint32_t ms) {
  if (ms == 0 || ms == INFINITE) return ms;
  const uint32_t real = ms / static_cast<uint32_t>(TimeScale());
  return real == 0 ? 1 : real;
}

uint32_t GetTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
  // Unsigned arithmetic: the product wraps, and only its low 32 bits count.
  return static_cast<uint32_t>(ms * static_cast<uint64_t>(TimeScale()));
}

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(RealMs(ms))); }

}  // namespace plat
