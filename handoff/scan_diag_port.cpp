#include "handoff/scan_diag_port.h"

#include <utility>

#include "handoff/never_destroyed.h"

namespace handoff {
namespace {

// Constant-initialised where the platform's mutex allows it.
NeverDestroyed<ScanDiagPortSlot> SlotStorage;

}  // namespace

constinit ScanDiagPortSlot& ScanDiagPortHandle = SlotStorage.value;

void ScanDiagPortSlot::Put(plat::PortHandle port, int comPort) {
  plat::PortHandle replaced;
  {
    std::lock_guard lock(mutex_);
    if (held_.Port != port) replaced = std::move(held_.Port);
    held_ = {std::move(port), comPort};
  }
  if (replaced) replaced->Close();
}

ScannedPort ScanDiagPortSlot::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(held_, {});
}

void ScanDiagPortSlot::Clear() {
  ScannedPort cleared = Take();
  if (cleared.Port) cleared.Port->Close();
}

}  // namespace handoff
