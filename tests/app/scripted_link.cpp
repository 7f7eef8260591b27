#include "scripted_link.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "plat/event.h"

namespace {

struct Indication {
  int id;
  std::string payload;
};

struct State {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Indication> queue;
  std::vector<std::string> calls;
  void* notify = nullptr;
  bool connectResult = true;
  int diagPort = 7;
  int diagMode = 0;
  bool queued = true;
  // A read found the queue empty after the last push and the last take: the
  // driver thread has handled everything it took.
  bool idle = false;
};

State* g_state = nullptr;

void Log(const std::string& call) {
  std::lock_guard lock(g_state->mutex);
  g_state->calls.push_back(call);
  g_state->changed.notify_all();
}

bool Queued() {
  std::lock_guard lock(g_state->mutex);
  return g_state->queued;
}

std::string Text(const char* text) { return text == nullptr ? "<null>" : text; }

int SetNotify(void* event) {
  {
    std::lock_guard lock(g_state->mutex);
    g_state->notify = event;
  }
  Log("SetNotify");
  return 1;
}
bool DLL_STDCALL Connect(int, int, void*) {
  Log("Connect");
  std::lock_guard lock(g_state->mutex);
  return g_state->connectResult;
}
bool DLL_STDCALL Disconnect(int) {
  Log("Disconnect");
  return true;
}
bool DLL_STDCALL ReadDate(int* id, char* data, int* length) {
  std::lock_guard lock(g_state->mutex);
  if (g_state->queue.empty()) {
    g_state->idle = true;
    g_state->changed.notify_all();
    return false;
  }
  const Indication indication = std::move(g_state->queue.front());
  g_state->queue.pop_front();
  g_state->idle = false;
  *id = indication.id;
  const std::size_t count = std::min<std::size_t>(indication.payload.size(), 1024);
  std::memcpy(data, indication.payload.data(), count);
  *length = static_cast<int>(count);
  return true;
}
bool DLL_STDCALL SearchPort() {
  Log("SearchPort");
  return true;
}
int DLL_STDCALL GetDiagModeReq() {
  std::lock_guard lock(g_state->mutex);
  return g_state->diagMode;
}
int DLL_STDCALL GetDiagportReq() {
  std::lock_guard lock(g_state->mutex);
  return g_state->diagPort;
}
bool DLL_STDCALL VersionReq() {
  Log("VersionReq");
  return Queued();
}
bool DLL_STDCALL SetRFFuncReq(int fun) {
  Log("SetRFFuncReq(" + std::to_string(fun) + ")");
  return Queued();
}
bool DLL_STDCALL TurnDiagnosticOnOffReq(int mode, const char* text1, const char* text2) {
  Log("TurnDiagnosticOnOffReq(" + std::to_string(mode) + "," + Text(text1) + "," + Text(text2) + ")");
  return Queued();
}
bool DLL_STDCALL SetDualChannelReq() {
  Log("SetDualChannelReq");
  return Queued();
}
bool DLL_STDCALL GetFactoryModeReq() {
  Log("GetFactoryModeReq");
  return Queued();
}
bool DLL_STDCALL SetFactoryModeReq(int on) {
  Log("SetFactoryModeReq(" + std::to_string(on) + ")");
  return Queued();
}
bool DLL_STDCALL GetFactoryModeReq2() {
  Log("GetFactoryModeReq2");
  return Queued();
}
bool DLL_STDCALL SetFactoryModeReq2(int on) {
  Log("SetFactoryModeReq2(" + std::to_string(on) + ")");
  return Queued();
}

}  // namespace

struct ScriptedLink::Impl {};

ScriptedLink::ScriptedLink() {
  g_state = new State;
  Link = LinkCalls{
      .Dll_SetNotify = SetNotify,
      .Dll_Connect = Connect,
      .Dll_Disconnect = Disconnect,
      .Dll_ReadDate = ReadDate,
      .Dll_SearchPort = SearchPort,
      .Dll_GetDiagModeReq = GetDiagModeReq,
      .Dll_GetDiagportReq = GetDiagportReq,
      .Dll_VersionReq = VersionReq,
      .Dll_SetRFFuncReq = SetRFFuncReq,
      .Dll_TurnDiagnosticOnOffReq = TurnDiagnosticOnOffReq,
      .Dll_SetDualChannelReq = SetDualChannelReq,
      .Dll_GetFactoryModeReq = GetFactoryModeReq,
      .Dll_SetFactoryModeReq = SetFactoryModeReq,
      .Dll_GetFactoryModeReq2 = GetFactoryModeReq2,
      .Dll_SetFactoryModeReq2 = SetFactoryModeReq2,
  };
}

ScriptedLink::~ScriptedLink() {
  Link = RealLinkCalls();
  delete g_state;
  g_state = nullptr;
}

void ScriptedLink::SetConnectResult(bool connected) {
  std::lock_guard lock(g_state->mutex);
  g_state->connectResult = connected;
}
void ScriptedLink::SetDiagPort(int port) {
  std::lock_guard lock(g_state->mutex);
  g_state->diagPort = port;
}
void ScriptedLink::SetDiagMode(int mode) {
  std::lock_guard lock(g_state->mutex);
  g_state->diagMode = mode;
}
void ScriptedLink::SetRequestsQueued(bool queued) {
  std::lock_guard lock(g_state->mutex);
  g_state->queued = queued;
}

void ScriptedLink::Indicate(int id, const std::string& payload) {
  void* notify;
  {
    std::lock_guard lock(g_state->mutex);
    g_state->queue.push_back({id, payload});
    g_state->idle = false;
    notify = g_state->notify;
  }
  if (notify != nullptr) plat::SetNotifyHandle(notify);
}

void ScriptedLink::Indicate(int id, std::initializer_list<uint8_t> payload) {
  Indicate(id, std::string(payload.begin(), payload.end()));
}

bool ScriptedLink::WaitDrained(uint32_t ms) {
  std::unique_lock lock(g_state->mutex);
  return g_state->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                   [&] { return g_state->queue.empty() && g_state->idle; });
}

std::vector<std::string> ScriptedLink::Calls() const {
  std::lock_guard lock(g_state->mutex);
  return g_state->calls;
}

void ScriptedLink::ClearCalls() {
  std::lock_guard lock(g_state->mutex);
  g_state->calls.clear();
}

bool ScriptedLink::WaitForCall(const std::string& call, uint32_t ms) {
  std::unique_lock lock(g_state->mutex);
  return g_state->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] {
    return std::find(g_state->calls.begin(), g_state->calls.end(), call) != g_state->calls.end();
  });
}

void* ScriptedLink::Notify() const {
  std::lock_guard lock(g_state->mutex);
  return g_state->notify;
}
