// The exported Dll_ functions over the one linklayer object.
#include "link/api.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "link/ids.h"
#include "link/linklayer.h"
#include "link/trace.h"

namespace {

std::atomic<linklayer*> g_link{nullptr};

linklayer& Link() {
  linklayer* link = g_link.load(std::memory_order_acquire);
  return link != nullptr ? *link : theLinkLayer;
}

// The longest command the device takes from us.
constexpr size_t kMaxCommand = 255;
// The most Dll_ReadDate copies to its caller.
constexpr size_t kMaxPayload = 1024;

bool Queue(const std::string& command) {
  if (command.size() > kMaxCommand) return false;
  return Link().pWriteQ->Enqueue(IdAtCommand, command.data(), static_cast<int32_t>(command.size()), true);
}

// A text to put in double quotes: one that could end the quotes or the
// command line would let a settings file send commands of its own.
bool Quotable(const char* text) { return text != nullptr && std::strpbrk(text, "\r\n\"") == nullptr; }

// `command` followed by each text in double quotes, separated by commas.
std::string WithQuoted(std::string command, std::initializer_list<const char*> texts) {
  const char* separator = "";
  for (const char* text : texts) {
    command.append(separator).append("\"").append(text).append("\"");
    separator = ",";
  }
  return command;
}

bool Switch(const char* command, int on) {
  std::string text(command);
  text.push_back(static_cast<unsigned char>(on) != 0 ? '1' : '0');
  return Queue(text);
}

}  // namespace

void SetDllLink(linklayer* link) { g_link.store(link, std::memory_order_release); }

extern "C" {

int Dll_SetNotify(void* event) {
  Link().SetNotifyEvent(event);
  return 1;
}

bool DLL_STDCALL Dll_Connect(int, int, void*) {
  linklayer& link = Link();
  const std::unique_lock roles = link.LockRoles();
  if (link.CurrentLinkState() == linklayer::PortOpen) {
    DllTrace("Dll_Connect called in case of connected \n");
    return true;
  }
  return link.Connect(0, 0);
}

bool DLL_STDCALL Dll_Disconnect(int) { return Link().ClosePort(); }

bool DLL_STDCALL Dll_ReadDate(int* id, char* data, int* length) {
  if (id == nullptr || data == nullptr || length == nullptr) return false;
  linklayer& link = Link();
  std::vector<char> staging(linklayer::RingSize);
  int32_t taken = 0;
  unsigned size = 0;
  while (!link.pReadQ->Dequeue(&taken, staging.data(), static_cast<unsigned>(staging.size()), &size)) {
    if (size <= staging.size()) return false;  // empty
    staging.resize(size);                       // larger than usual: take it whole
  }
  *id = taken;
  if (size >= 2) {
    const size_t payload = std::min<size_t>(size - 2, kMaxPayload);  // without the queue's CR LF
    std::memcpy(data, staging.data(), payload);
    *length = static_cast<int>(payload);
    link.Platform().Sleep(link.Timings().ReadDatePauseMs);
  } else {
    *length = 0;
  }
  return true;
}

bool DLL_STDCALL Dll_SearchPort() {
  static constexpr char kRequest[5] = {};
  return Link().pWriteQ->Enqueue(IdPortScanRequest, kRequest, sizeof kRequest, true);
}

int DLL_STDCALL Dll_GetDiagModeReq() { return Link().LastScan().diagMode; }

int DLL_STDCALL Dll_GetDiagportReq() {
  const uint8_t port = Link().LastScan().diagPort;
  return port == linklayer::NoPort ? -1 : port;
}

unsigned char DLL_STDCALL Dll_IsDualPort() { return DualPortFlag; }

bool DLL_STDCALL Dll_VersionReq() { return Queue("AT+CGMR"); }

bool DLL_STDCALL Dll_SetRFFuncReq(int fun) {
  return Queue(fun == -1 ? std::string("AT+CFUN?") : "AT+CFUN=" + std::to_string(fun));
}

bool DLL_STDCALL Dll_TurnDiagnosticOnOffReq(int mode, const char* text1, const char* text2) {
  if (mode == 3) return Queue("AT+CSWITCHDM?");
  if (!Quotable(text1) || (mode == 2 && !Quotable(text2))) return false;
  const std::string command = "AT+CSWITCHDM=" + std::to_string(mode) + ",";
  return Queue(mode == 2 ? WithQuoted(command, {text1, text2}) : WithQuoted(command, {text1}));
}

bool DLL_STDCALL Dll_TurnDiagnosticOn2Req(const char* text) {
  return Quotable(text) && Queue(WithQuoted("AT+CSWITCHDIAG=", {text}));
}

bool DLL_STDCALL Dll_SetDualChannelReq() { return Queue("AT+SWITCHDC"); }
bool DLL_STDCALL Dll_GetFactoryModeReq() { return Queue("AT+CSWITCHFTM?"); }
bool DLL_STDCALL Dll_SetFactoryModeReq(int on) { return Switch("AT+CSWITCHFTM=", on); }
bool DLL_STDCALL Dll_GetFactoryModeReq2() { return Queue("AT+CSWITCHTEST?"); }
bool DLL_STDCALL Dll_SetFactoryModeReq2(int on) { return Switch("AT+CSWITCHTEST=", on); }

}  // extern "C"
