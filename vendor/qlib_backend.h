// Our stand-in for the vendor's phone library forwards every QLIB_ function
// to a backend: a table with one entry per function. The stand-in starts
// with its default backend, which finds no phone server (QLIB_ConnectServer
// gives null, every query fails), so a build without the real library takes
// the program's failure paths. A test puts its own table in; an entry left
// null keeps the default's behaviour for that function.
#pragma once

#include "vendor/qlib.h"

struct QlibBackend {
  void(QLIB_CALL* SetLibraryMode)(unsigned char mode);
  void(QLIB_CALL* GetLibraryVersion)(char* version);
  void(QLIB_CALL* GetLibraryCapabilities)(unsigned char*, unsigned char*, unsigned char*, unsigned char*);
  QlibHandle(QLIB_CALL* ConnectServer)(unsigned short comPort);
  unsigned char(QLIB_CALL* ConfigureCallBacks)(QlibHandle, void*, QlibSoftwareDownloadCallback,
                                               QlibAsyncMessageCallback);
  unsigned char(QLIB_CALL* ConfigureEfs2CallBacks)(QlibHandle, QlibEfsTransferCallback, QlibEfsDirectoryCallback);
  unsigned char(QLIB_CALL* ConfigureLibraryTextLogCallBack)(QlibHandle, QlibTextLogCallback);
  unsigned char(QLIB_CALL* SetDTR_State)(QlibHandle, unsigned char);
  unsigned char(QLIB_CALL* FlushRxBuffer)(QlibHandle);
  unsigned char(QLIB_CALL* IsPhoneConnected)(QlibHandle);
  unsigned char(QLIB_CALL* GetComPortNumber)(QlibHandle, unsigned short*);
  unsigned char(QLIB_CALL* GetQpstPhoneStatus)(QlibHandle, uint32_t*);
  unsigned char(QLIB_CALL* DIAG_STATUS_F)(QlibHandle, unsigned char*);
  unsigned char(QLIB_CALL* DIAG_NV_READ_F)(QlibHandle, unsigned short, unsigned char*, int, unsigned short*);
  unsigned char(QLIB_CALL* DIAG_VERNO_F)(QlibHandle, char*, char*, char*, char*, char*, unsigned char*,
                                         unsigned char*, unsigned char*, unsigned short*, unsigned char*,
                                         unsigned char*, unsigned char*);
  unsigned char(QLIB_CALL* DIAG_EXT_BUILD_ID_F)(QlibHandle, uint32_t*, uint32_t*, char*, char*);
  void(QLIB_CALL* DisconnectServer)(QlibHandle);
  void(QLIB_CALL* DisconnectAllServers)();
  unsigned char(QLIB_CALL* SetEfsReadAndWritePacketSize)(QlibHandle, unsigned short, unsigned short);
  unsigned char(QLIB_CALL* SetSendDataSerialWriteSizeLimit)(QlibHandle, int);
  unsigned char(QLIB_CALL* EfsWrite)(QlibHandle, const char*, const char*);
};

// The version text of the default backend.
#define QLIB_STAND_IN_VERSION "Tamri QMSL stand-in 1.0, no phone server"

extern "C" {

// Makes `backend` the one every QLIB_ function forwards to, from the next
// call on, on every thread; null puts the default back. The table must
// outlive its use. Returns the table used before (the default's included).
QLIB_API const QlibBackend* QLIB_CALL QlibStandIn_SetBackend(const QlibBackend* backend);
// The default backend's table.
QLIB_API const QlibBackend* QLIB_CALL QlibStandIn_DefaultBackend(void);

}  // extern "C"
