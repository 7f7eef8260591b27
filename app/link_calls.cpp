#include "app/link_calls.h"

LinkCalls RealLinkCalls() {
  return {
      .Dll_SetNotify = ::Dll_SetNotify,
      .Dll_Connect = ::Dll_Connect,
      .Dll_Disconnect = ::Dll_Disconnect,
      .Dll_ReadDate = ::Dll_ReadDate,
      .Dll_SearchPort = ::Dll_SearchPort,
      .Dll_GetDiagModeReq = ::Dll_GetDiagModeReq,
      .Dll_GetDiagportReq = ::Dll_GetDiagportReq,
      .Dll_VersionReq = ::Dll_VersionReq,
      .Dll_SetRFFuncReq = ::Dll_SetRFFuncReq,
      .Dll_TurnDiagnosticOnOffReq = ::Dll_TurnDiagnosticOnOffReq,
      .Dll_SetDualChannelReq = ::Dll_SetDualChannelReq,
      .Dll_GetFactoryModeReq = ::Dll_GetFactoryModeReq,
      .Dll_SetFactoryModeReq = ::Dll_SetFactoryModeReq,
      .Dll_GetFactoryModeReq2 = ::Dll_GetFactoryModeReq2,
      .Dll_SetFactoryModeReq2 = ::Dll_SetFactoryModeReq2,
  };
}

LinkCalls Link = RealLinkCalls();
