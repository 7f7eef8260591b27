#include "testkit/process_usage.h"

namespace plat {

// Windows keeps no count of a process's context switches that a program can
// read cheaply; the benchmarks print their times alone there.
bool ReadProcessUsage(ProcessUsage*) { return false; }

}  // namespace plat
