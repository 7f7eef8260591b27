// ScanDiagPortHandle: the diagnostic port that the link layer's port scan
// leaves open for the next transfer, with its COM number. The scan puts it,
// the download engine takes it when the number is its job's port, and the
// window clears it when a transfer finishes. Thread-safe. A handle that
// leaves the slot through Put or Clear is closed; one handed out by Take
// belongs to the caller.
#pragma once

#include <mutex>

#include "plat/serial.h"

namespace handoff {

struct ScannedPort {
  plat::PortHandle Port;  // null: none
  int ComPort = -1;
};

class ScanDiagPortSlot {
 public:
  // Holds `port` as COM<comPort>; a different handle held before is closed.
  void Put(plat::PortHandle port, int comPort);
  // Hands out what the slot holds and empties it.
  ScannedPort Take();
  // Closes what the slot holds and empties it.
  void Clear();

 private:
  std::mutex mutex_;
  ScannedPort held_;
};

// Never destroyed: the link layer's scan and a transfer may still use it
// when the process exits.
extern ScanDiagPortSlot& ScanDiagPortHandle;

}  // namespace handoff
