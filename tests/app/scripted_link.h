// A scripted link layer for the window's tests: it stands in for the Dll_
// functions through the window's call table, logs every call with its
// arguments, answers with the results a test sets, and hands out the
// indications a test queues, waking the window's driver thread the way the
// link layer does (through the registered notification handle).
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <condition_variable>
#include <string>
#include <vector>

#include "app/link_calls.h"

class ScriptedLink {
 public:
  // Installs itself in the window's call table; the destructor puts the
  // real functions back.
  ScriptedLink();
  ~ScriptedLink();
  ScriptedLink(const ScriptedLink&) = delete;
  ScriptedLink& operator=(const ScriptedLink&) = delete;

  // Results of the calls.
  void SetConnectResult(bool connected);
  void SetDiagPort(int port);
  void SetDiagMode(int mode);
  // Every request of the Dll_ functions answers `queued` (false: the link
  // refused to queue it).
  void SetRequestsQueued(bool queued);

  // Queues an indication and sets the registered event.
  void Indicate(int id, const std::string& payload);
  void Indicate(int id, std::initializer_list<uint8_t> payload);
  // Waits up to `ms` of real time until every queued indication has been
  // taken and the driver thread has asked for more (so it has handled them).
  bool WaitDrained(uint32_t ms);

  // The calls so far, one text each, such as "SearchPort" or
  // "TurnDiagnosticOnOffReq(1,70419352,)"; ReadDate and the getters are not
  // logged.
  std::vector<std::string> Calls() const;
  void ClearCalls();
  // Waits up to `ms` of real time until `call` is logged.
  bool WaitForCall(const std::string& call, uint32_t ms);
  // The handle the window registered.
  void* Notify() const;

 private:
  struct Impl;
};
