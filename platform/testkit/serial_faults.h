// Planned failures of serial port calls (plat/serial.h), for tests: make the
// next `count` opens / GetCommState / SetCommState calls fail (count -1, or
// any negative count: every call until reset).
#pragma once

namespace plat::serial_faults {

void FailOpens(int count);
void FailGetCommState(int count);
void FailSetCommState(int count);
void Reset();

}  // namespace plat::serial_faults
