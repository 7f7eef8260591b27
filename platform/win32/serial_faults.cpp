#include "serial_faults.h"

#include <mutex>

namespace plat::serial_faults {
namespace {

struct Counters {
  int opens = 0, getState = 0, setState = 0;
};
std::mutex g_mutex;
Counters g_counters;

bool Take(int& counter) {
  std::lock_guard lock(g_mutex);
  if (counter == 0) return false;
  if (counter > 0) --counter;
  return true;
}

void Put(int& counter, int count) {
  std::lock_guard lock(g_mutex);
  counter = count < -1 ? -1 : count;
}

}  // namespace

void FailOpens(int count) { Put(g_counters.opens, count); }
void FailGetCommState(int count) { Put(g_counters.getState, count); }
void FailSetCommState(int count) { Put(g_counters.setState, count); }
void Reset() {
  std::lock_guard lock(g_mutex);
  g_counters = {};
}

bool TakeOpen() { return Take(g_counters.opens); }
bool TakeGetCommState() { return Take(g_counters.getState); }
bool TakeSetCommState() { return Take(g_counters.setState); }

}  // namespace plat::serial_faults
