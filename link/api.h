// The exported modem-control API: flat functions over the one linklayer
// object. A request queues its AT command and returns at once whether it
// could be queued; the answer comes later as an indication, taken with
// Dll_ReadDate after the registered event was set.
//
// C linkage. On Windows Dll_SetNotify uses the C calling convention and the
// other sixteen the standard one, exported under their decorated names with
// the ordinals of nuvo_link.def; elsewhere there is one calling convention.
#pragma once

#include "plat/notify_record.h"

#if defined(_WIN32)
#define DLL_STDCALL __stdcall
#else
#define DLL_STDCALL
#endif

class linklayer;

extern "C" {

// Registers the event set whenever indications were queued: an event handle
// (on Windows an event HANDLE; elsewhere the address of a NuvoNotifyRecord,
// plat/notify_record.h, which says how a caller makes one, or what
// plat::Event::NotifyHandle gives from any program's copy of the platform
// layer). A value that is no such handle is kept but sets nothing. Null
// keeps the one registered before. Always 1.
int Dll_SetNotify(void* event);

// Opens the AT port on the modem port of the last scan; true when it is
// open (also when it was already). The arguments, the last an event handle,
// are not used.
bool DLL_STDCALL Dll_Connect(int, int, void* event);
// Closes the AT port; always true.
bool DLL_STDCALL Dll_Disconnect(int);
// Takes the oldest indication: its id, at most 1024 bytes of its payload
// into `data`, and the count copied. False when there is none, or for a null
// pointer (nothing is then taken).
bool DLL_STDCALL Dll_ReadDate(int* id, char* data, int* length);
// Asks for a port scan; its result comes as IdPortScanResult. False when the
// request could not be queued.
bool DLL_STDCALL Dll_SearchPort();

// The last completed scan: DiagMode (1 when the boot loader answered) and
// the diagnostic port's number, -1 for none.
int DLL_STDCALL Dll_GetDiagModeReq();
int DLL_STDCALL Dll_GetDiagportReq();
// 1 when the last answer that settled it came from an AT-only port.
unsigned char DLL_STDCALL Dll_IsDualPort();

// The requests. Each is false, queuing nothing, when the queue is full,
// when its command would exceed 255 characters, or when a text it quotes
// is null or holds CR, LF or a double quote. Only the low byte of `on`
// counts.
bool DLL_STDCALL Dll_VersionReq();
bool DLL_STDCALL Dll_SetRFFuncReq(int fun);  // -1 asks for the state
bool DLL_STDCALL Dll_TurnDiagnosticOnOffReq(int mode, const char* text1, const char* text2);
bool DLL_STDCALL Dll_TurnDiagnosticOn2Req(const char* text);
bool DLL_STDCALL Dll_SetDualChannelReq();
bool DLL_STDCALL Dll_GetFactoryModeReq();
bool DLL_STDCALL Dll_SetFactoryModeReq(int on);
bool DLL_STDCALL Dll_GetFactoryModeReq2();
bool DLL_STDCALL Dll_SetFactoryModeReq2(int on);

}  // extern "C"

// Test hook: the link the functions act on; null returns to theLinkLayer.
void SetDllLink(linklayer* link);
