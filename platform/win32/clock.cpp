#include "plat/clock.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace plat {
namespace {

std::atomic<int> g_scale{0};  // 0: not yet read from the environment

int ScaleFromEnvironment() {
  const char* text = std::getenv("TAMRI_TIME_SCALE");
  const int scale = text ? std::atoi(text) : 1;
  return scale < 1 ? 1 : scale;
}

// Real milliseconds since an arbitrary origin from the performance counter,
// which is steady and finer than the system tick.
uint64_t RealMsNow() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const auto counts = static_cast<uint64_t>(now.QuadPart);
  return counts / frequency * 1000 + counts % frequency * 1000 / frequency;
}

}  // namespace

int TimeScale() {
  int scale = g_scale.load();
  if (scale == 0) {
    int expected = 0;
    g_scale.compare_exchange_strong(expected, ScaleFromEnvironment());
    scale = g_scale.load();
  }
  return scale;
}

void SetTimeScale(int scale) { g_scale.store(scale < 1 ? 1 : scale); }

uint32_t RealMs(uint32_t ms) {
  if (ms == 0 || ms == INFINITE) return ms;
  const uint32_t real = ms / static_cast<uint32_t>(TimeScale());
  return real == 0 ? 1 : real;
}

uint32_t GetTickCount() { return static_cast<uint32_t>(RealMsNow() * static_cast<uint64_t>(TimeScale())); }

void Sleep(uint32_t ms) { ::Sleep(RealMs(ms)); }

}  // namespace plat
