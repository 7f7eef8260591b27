// What the transfer benchmarks time: the data phase of a transfer, from the
// first request of its data (a stream write, or a flash read for an upload)
// to the reset request, on the simulated device's own clock, so neither the
// fixed pauses around it nor the host's start-up count.
#pragma once

#include <algorithm>
#include <ctime>

#include "sim/device.h"

namespace bench {

struct Phase {
  double seconds = 0;
  bool ok = false;
};

inline Phase DataPhase(const sim::Device& device, sim::Step first) {
  const auto transcript = device.Transcript();
  const auto begin = std::find_if(transcript.begin(), transcript.end(),
                                  [&](const sim::TranscriptEntry& e) { return e.step == first; });
  const auto end = std::find_if(begin, transcript.end(),
                                [](const sim::TranscriptEntry& e) { return e.step == sim::Step::Reset; });
  if (begin == transcript.end() || end == transcript.end()) return {};
  return {static_cast<double>(end->arrived.realUs - begin->arrived.realUs) / 1e6, true};
}

// The process's processor time so far, every thread's.
inline double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace bench
