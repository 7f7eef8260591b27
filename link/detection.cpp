// Modem detection and the watch of the serial-port map: the monitor thread
// follows plugging and unplugging of the device.
#include <cstdio>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link/trace.h"

namespace {

enum class ArmResult { Armed, Failed, Stopped };

// Arms the watch, opening it first where it is not open. A watch that
// cannot be armed is closed and opened again after a pause that doubles
// each time, so that a passing failure of the map (its key deleted and
// made again, say) does not end the following of plug and unplug.
ArmResult ArmWatch(LinkMapWatch& watch, bool& open, plat::Event& changed, const plat::Event& stop,
                   const LinkTimings& timings) {
  uint32_t pause = timings.WatchRetryMs;
  for (int attempt = 1;; ++attempt) {
    if (!open) open = watch.Open();
    if (open && watch.Arm(changed)) return ArmResult::Armed;
    if (attempt >= timings.WatchAttempts) return ArmResult::Failed;
    watch.Close();
    open = false;
    // The pause ends early at the stop, and a failed wait ends it too.
    if (stop.Wait(pause) != plat::WaitResult::Timeout) return ArmResult::Stopped;
    pause *= 2;
  }
}

}  // namespace

uint32_t linklayer::MonitorLoop() {
  DllTrace("Beging Monitor loop\n");  // the spelling is kept on purpose, as every trace text's
  plat::Event changed;
  if (!changed.Create(false, false)) return 1;
  LinkMapWatch watch = options_.Platform.NewMapWatch();
  // The watch is opened with its first arming, once the object is complete:
  // during static construction the platform's own statics may not be.
  bool open = false;
  uint32_t result = 1;
  if (StartEvent.Wait(plat::INFINITE) == plat::WaitResult::Signaled) {
    const plat::Event* const waitList[] = {&StopEvent, &changed};
    for (;;) {
      const ArmResult armed = ArmWatch(watch, open, changed, StopEvent, options_.Timings);
      if (armed == ArmResult::Stopped) {
        result = 0;
        break;
      }
      if (armed == ArmResult::Failed) {
        DllTrace("failed to monitor the registry\n");
        break;
      }
      DetectModem();
      // A change during the detection has set the event already: the next
      // cycle follows at once, and only one.
      const plat::WaitAnyResult woken = plat::Event::WaitAny(waitList, plat::INFINITE);
      if (woken.result != plat::WaitResult::Signaled) break;  // the events are gone: no busy loop
      if (woken.index == 0) {
        result = 0;
        break;
      }
    }
  }
  watch.Close();
  changed.Close();
  if (result == 0) DllTrace("linklayer monitor loop is over\n");
  return result;
}

void linklayer::DetectModem() {
  // A device may answer and restart at once: its answer is on the AT port
  // as its ports leave the map. It is read and handed on before the port
  // goes, ahead of this report.
  ReadOnceMore();
  ClosePort();
  options_.Platform.Sleep(options_.Timings.DetectPauseMs);
  char payload = 0;
  {
    // The test and the reopen or reset see a finished scan, never a
    // running one.
    const std::unique_lock roles = LockRoles();
    unsigned char ports[MaxDevicePorts];
    const int count = ListDevicePorts(ports);
    if (count > 0) {
      // A device with a single port (SecondModemPort 0xFF, never listed) is
      // reported after every change on purpose: the window then searches
      // again, and that is how it follows such a device.
      if (IsPortInList(ports, ModemPort, count) && IsPortInList(ports, SecondModemPort, count)) {
        OpenPort();  // silently; a failure shows at the next request
        return;
      }
      payload = 1;
    } else {
      ModemPort = NoPort;
      SecondModemPort = NoPort;
    }
  }
  pReadQ->Enqueue(IdModemDetect, &payload, 1, false);
  Notify();
  char text[64];
  std::snprintf(text, sizeof text, "Detecting modem %s, result=%d.\r\n", "", payload);
  DllTrace(text);
}
