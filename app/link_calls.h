// The window's only way to the link layer: the exported Dll_ functions,
// called through this table so that tests can stand a scripted link in for
// the real one. Every entry defaults to the Dll_ function of its name.
#pragma once

#include "link/api.h"

struct LinkCalls {
  int (*Dll_SetNotify)(void* event);
  bool(DLL_STDCALL* Dll_Connect)(int, int, void* event);
  bool(DLL_STDCALL* Dll_Disconnect)(int);
  bool(DLL_STDCALL* Dll_ReadDate)(int* id, char* data, int* length);
  bool(DLL_STDCALL* Dll_SearchPort)();
  int(DLL_STDCALL* Dll_GetDiagModeReq)();
  int(DLL_STDCALL* Dll_GetDiagportReq)();
  bool(DLL_STDCALL* Dll_VersionReq)();
  bool(DLL_STDCALL* Dll_SetRFFuncReq)(int fun);
  bool(DLL_STDCALL* Dll_TurnDiagnosticOnOffReq)(int mode, const char* text1, const char* text2);
  bool(DLL_STDCALL* Dll_SetDualChannelReq)();
  bool(DLL_STDCALL* Dll_GetFactoryModeReq)();
  bool(DLL_STDCALL* Dll_SetFactoryModeReq)(int on);
  bool(DLL_STDCALL* Dll_GetFactoryModeReq2)();
  bool(DLL_STDCALL* Dll_SetFactoryModeReq2)(int on);
};

// The table the window calls through.
extern LinkCalls Link;
// The table of the real Dll_ functions.
LinkCalls RealLinkCalls();
