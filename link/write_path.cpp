// The write thread: takes requests off WriteQ one at a time, writes each to
// the AT port and waits for its final result before the next.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link/trace.h"

uint32_t linklayer::WriteLoop() {
  if (StartEvent.Wait(plat::INFINITE) != plat::WaitResult::Signaled) return 0;
  // The stop is listed first, so a stop set together with a request wins.
  const plat::Event* const waitList[] = {&StopEvent, &WriteRequestEvent};
  for (;;) {
    const plat::WaitAnyResult woken = plat::Event::WaitAny(waitList, plat::INFINITE);
    // A failed wait (the events are gone) ends the loop rather than spin.
    if (woken.result != plat::WaitResult::Signaled || woken.index == 0) break;
    if (!DrainWriteQueue()) break;
  }
  DllTrace("linklayer write loop is over\n");
  return 0;
}

bool linklayer::DrainWriteQueue() {
  // Reset before the first take: a request queued from here on sets it again.
  WriteRequestEvent.Reset();
  DllTrace("Begin write loop \n");
  std::vector<char> buffer(RingSize);
  for (;;) {
    if (StopEvent.Wait(0) != plat::WaitResult::Timeout) return false;
    int32_t id = 0;
    unsigned length = 0;
    if (!pWriteQ->Dequeue(&id, buffer.data(), static_cast<unsigned>(buffer.size()), &length)) {
      if (length <= buffer.size()) break;  // empty
      buffer.resize(length);               // a request larger than usual: take it whole
      continue;
    }
    if (!HandleRequest(id, buffer.data(), static_cast<int>(length))) return false;
  }
  DllTrace("end write loop \n");
  return true;
}

bool linklayer::HandleRequest(int32_t id, const char* data, int length) {
  if (id == IdPortScanRequest) {
    ScanPorts();
    return true;
  }
  if (!CurrentPort()) {
    // The caller hears of a closed port once in the process, never for id 10.
    if (PortLostNoticeSent || id == IdNoPortNotice) return true;
    const char payload = 0;
    pReadQ->Enqueue(IdPortNotOpen, &payload, 1, false);
    Notify();
    PortLostNoticeSent = 1;
    return true;
  }

  char text[91];
  const int shown = std::min(length, 90);
  std::memcpy(text, data, shown);
  text[shown] = '\0';
  DllTrace(text);

  if (id == IdSmsNewSet) bSmsNew = 1;
  const uint32_t waitMs = id == IdWaitNoTimeout ? plat::INFINITE : options_.Timings.ResponseWaitMs;
  const plat::Event* const waitList[] = {&StopEvent, &ResponseEvent};
  for (int attempt = 0; attempt < options_.Timings.WriteAttempts; ++attempt) {
    if (id == IdSmsSend && bSmsNew) {
      char refusal[64];
      std::snprintf(refusal, sizeof refusal, "Try to send SMS, while bSmsNew=%d\n", bSmsNew);
      DllTrace(refusal);
      static constexpr char NotAllowed[] = "operation not allowed";
      pReadQ->Enqueue(IdOperationNotAllowed, NotAllowed, sizeof NotAllowed - 1, false);
      return true;
    }
    // Reset before the port is taken: a close from here on both fails the
    // write and ends the wait.
    ResponseEvent.Reset();
    const plat::PortHandle port = CurrentPort();
    if (!port) return true;
    WritePort(port, data, length);
    const plat::WaitAnyResult result = plat::Event::WaitAny(waitList, waitMs);
    if (result.result == plat::WaitResult::Timeout) continue;
    return result.result == plat::WaitResult::Signaled && result.index == 1;
  }
  return true;  // no final result after the last attempt: dropped
}
