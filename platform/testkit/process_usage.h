// What the process has used so far, for benchmarks that give per-block
// figures beside their times: processor time, and how often its threads
// slept (gave up the processor to wait, each sleep ended by a wake) or were
// preempted. All threads of the process count, the ended ones too.
#pragma once

namespace plat {

struct ProcessUsage {
  double cpuSeconds = 0;   // user and system
  long sleeps = 0;         // voluntary context switches
  long preemptions = 0;    // involuntary context switches
};

// False where the platform does not count these (the Windows build).
bool ReadProcessUsage(ProcessUsage* usage);

}  // namespace plat
