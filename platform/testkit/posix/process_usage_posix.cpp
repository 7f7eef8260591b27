#include "testkit/process_usage.h"

#include <sys/resource.h>

namespace plat {

bool ReadProcessUsage(ProcessUsage* usage) {
  struct rusage self {};
  if (::getrusage(RUSAGE_SELF, &self) != 0) return false;
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  usage->cpuSeconds = seconds(self.ru_utime) + seconds(self.ru_stime);
  usage->sleeps = self.ru_nvcsw;
  usage->preemptions = self.ru_nivcsw;
  return true;
}

}  // namespace plat
