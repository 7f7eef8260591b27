// The stand-in library: every QLIB_ function forwards to the backend in use.
// The default backend talks to no phone: it has no server to connect to, so
// the handle it gives is null and every call through a handle fails. Of the
// caller's buffers it writes only its own version text, the capability
// flags (none) and the port number that means "no phone found".
#include <atomic>
#include <cstring>

#include "vendor/qlib.h"
#include "vendor/qlib_backend.h"

namespace {

void QLIB_CALL DefaultSetLibraryMode(unsigned char) {}

void QLIB_CALL DefaultGetLibraryVersion(char* version) {
  static_assert(sizeof QLIB_STAND_IN_VERSION <= kQlibVersionSize);
  if (version != nullptr) std::memcpy(version, QLIB_STAND_IN_VERSION, sizeof QLIB_STAND_IN_VERSION);
}

void QLIB_CALL DefaultGetLibraryCapabilities(unsigned char* first, unsigned char* second, unsigned char* third,
                                             unsigned char* softwareDownload) {
  for (unsigned char* flag : {first, second, third, softwareDownload}) {
    if (flag != nullptr) *flag = 0;
  }
}

QlibHandle QLIB_CALL DefaultConnectServer(unsigned short) { return nullptr; }
unsigned char QLIB_CALL DefaultConfigureCallBacks(QlibHandle, void*, QlibSoftwareDownloadCallback,
                                                  QlibAsyncMessageCallback) {
  return 0;
}
unsigned char QLIB_CALL DefaultConfigureEfs2CallBacks(QlibHandle, QlibEfsTransferCallback, QlibEfsDirectoryCallback) {
  return 0;
}
unsigned char QLIB_CALL DefaultConfigureLibraryTextLogCallBack(QlibHandle, QlibTextLogCallback) { return 0; }
unsigned char QLIB_CALL DefaultSetDTR_State(QlibHandle, unsigned char) { return 0; }
unsigned char QLIB_CALL DefaultFlushRxBuffer(QlibHandle) { return 0; }
unsigned char QLIB_CALL DefaultIsPhoneConnected(QlibHandle) { return 0; }
unsigned char QLIB_CALL DefaultGetComPortNumber(QlibHandle, unsigned short* port) {
  if (port != nullptr) *port = kQlibAutoPort;
  return 0;
}
unsigned char QLIB_CALL DefaultGetQpstPhoneStatus(QlibHandle, uint32_t*) { return 0; }
unsigned char QLIB_CALL DefaultDiagStatus(QlibHandle, unsigned char*) { return 0; }
unsigned char QLIB_CALL DefaultDiagNvRead(QlibHandle, unsigned short, unsigned char*, int, unsigned short*) {
  return 0;
}
unsigned char QLIB_CALL DefaultDiagVerno(QlibHandle, char*, char*, char*, char*, char*, unsigned char*,
                                         unsigned char*, unsigned char*, unsigned short*, unsigned char*,
                                         unsigned char*, unsigned char*) {
  return 0;
}
unsigned char QLIB_CALL DefaultDiagExtBuildId(QlibHandle, uint32_t*, uint32_t*, char*, char*) { return 0; }
void QLIB_CALL DefaultDisconnectServer(QlibHandle) {}
void QLIB_CALL DefaultDisconnectAllServers() {}
unsigned char QLIB_CALL DefaultSetEfsPacketSize(QlibHandle, unsigned short, unsigned short) { return 0; }
unsigned char QLIB_CALL DefaultSetSerialWriteLimit(QlibHandle, int) { return 0; }
unsigned char QLIB_CALL DefaultEfsWrite(QlibHandle, const char*, const char*) { return 0; }

constexpr QlibBackend kDefaultBackend = {
    DefaultSetLibraryMode,
    DefaultGetLibraryVersion,
    DefaultGetLibraryCapabilities,
    DefaultConnectServer,
    DefaultConfigureCallBacks,
    DefaultConfigureEfs2CallBacks,
    DefaultConfigureLibraryTextLogCallBack,
    DefaultSetDTR_State,
    DefaultFlushRxBuffer,
    DefaultIsPhoneConnected,
    DefaultGetComPortNumber,
    DefaultGetQpstPhoneStatus,
    DefaultDiagStatus,
    DefaultDiagNvRead,
    DefaultDiagVerno,
    DefaultDiagExtBuildId,
    DefaultDisconnectServer,
    DefaultDisconnectAllServers,
    DefaultSetEfsPacketSize,
    DefaultSetSerialWriteLimit,
    DefaultEfsWrite,
};

std::atomic<const QlibBackend*> g_backend{&kDefaultBackend};

// Calls the backend's entry for the function, or the default's where the
// backend leaves it null.
template <auto Entry, typename... Args>
auto Forward(Args... args) {
  auto function = g_backend.load()->*Entry;
  if (function == nullptr) function = kDefaultBackend.*Entry;
  return function(args...);
}

}  // namespace

extern "C" {

const QlibBackend* QLIB_CALL QlibStandIn_SetBackend(const QlibBackend* backend) {
  return g_backend.exchange(backend != nullptr ? backend : &kDefaultBackend);
}

const QlibBackend* QLIB_CALL QlibStandIn_DefaultBackend(void) { return &kDefaultBackend; }

void QLIB_CALL QLIB_SetLibraryMode(unsigned char mode) { Forward<&QlibBackend::SetLibraryMode>(mode); }

void QLIB_CALL QLIB_GetLibraryVersion(char* version) { Forward<&QlibBackend::GetLibraryVersion>(version); }

void QLIB_CALL QLIB_GetLibraryCapabilities(unsigned char* first, unsigned char* second, unsigned char* third,
                                           unsigned char* softwareDownload) {
  Forward<&QlibBackend::GetLibraryCapabilities>(first, second, third, softwareDownload);
}

QlibHandle QLIB_CALL QLIB_ConnectServer(unsigned short comPort) {
  return Forward<&QlibBackend::ConnectServer>(comPort);
}

unsigned char QLIB_CALL QLIB_ConfigureCallBacks(QlibHandle handle, void* general,
                                                QlibSoftwareDownloadCallback softwareDownload,
                                                QlibAsyncMessageCallback asyncMessage) {
  return Forward<&QlibBackend::ConfigureCallBacks>(handle, general, softwareDownload, asyncMessage);
}

unsigned char QLIB_CALL QLIB_ConfigureEfs2CallBacks(QlibHandle handle, QlibEfsTransferCallback transfer,
                                                    QlibEfsDirectoryCallback directory) {
  return Forward<&QlibBackend::ConfigureEfs2CallBacks>(handle, transfer, directory);
}

unsigned char QLIB_CALL QLIB_ConfigureLibraryTextLogCallBack(QlibHandle handle, QlibTextLogCallback textLog) {
  return Forward<&QlibBackend::ConfigureLibraryTextLogCallBack>(handle, textLog);
}

unsigned char QLIB_CALL QLIB_SetDTR_State(QlibHandle handle, unsigned char state) {
  return Forward<&QlibBackend::SetDTR_State>(handle, state);
}

unsigned char QLIB_CALL QLIB_FlushRxBuffer(QlibHandle handle) { return Forward<&QlibBackend::FlushRxBuffer>(handle); }

unsigned char QLIB_CALL QLIB_IsPhoneConnected(QlibHandle handle) {
  return Forward<&QlibBackend::IsPhoneConnected>(handle);
}

unsigned char QLIB_CALL QLIB_GetComPortNumber(QlibHandle handle, unsigned short* port) {
  return Forward<&QlibBackend::GetComPortNumber>(handle, port);
}

unsigned char QLIB_CALL QLIB_GetQpstPhoneStatus(QlibHandle handle, uint32_t* mode) {
  return Forward<&QlibBackend::GetQpstPhoneStatus>(handle, mode);
}

unsigned char QLIB_CALL QLIB_DIAG_STATUS_F(QlibHandle handle, unsigned char* status) {
  return Forward<&QlibBackend::DIAG_STATUS_F>(handle, status);
}

unsigned char QLIB_CALL QLIB_DIAG_NV_READ_F(QlibHandle handle, unsigned short item, unsigned char* data, int length,
                                            unsigned short* status) {
  return Forward<&QlibBackend::DIAG_NV_READ_F>(handle, item, data, length, status);
}

unsigned char QLIB_CALL QLIB_DIAG_VERNO_F(QlibHandle handle, char* compileDate, char* compileTime, char* releaseDate,
                                          char* releaseTime, char* versionDir, unsigned char* stationClassMark,
                                          unsigned char* caiRevision, unsigned char* mobileModel,
                                          unsigned short* firmwareRevision, unsigned char* slotCycleIndex,
                                          unsigned char* vocoderMajor, unsigned char* vocoderMinor) {
  return Forward<&QlibBackend::DIAG_VERNO_F>(handle, compileDate, compileTime, releaseDate, releaseTime, versionDir,
                                             stationClassMark, caiRevision, mobileModel, firmwareRevision,
                                             slotCycleIndex, vocoderMajor, vocoderMinor);
}

unsigned char QLIB_CALL QLIB_DIAG_EXT_BUILD_ID_F(QlibHandle handle, uint32_t* msmHardwareVersion,
                                                 uint32_t* mobileModel, char* softwareRevision, char* modelId) {
  return Forward<&QlibBackend::DIAG_EXT_BUILD_ID_F>(handle, msmHardwareVersion, mobileModel, softwareRevision,
                                                    modelId);
}

void QLIB_CALL QLIB_DisconnectServer(QlibHandle handle) { Forward<&QlibBackend::DisconnectServer>(handle); }

void QLIB_CALL QLIB_DisconnectAllServers(void) { Forward<&QlibBackend::DisconnectAllServers>(); }

unsigned char QLIB_CALL QLIB_SetEfsReadAndWritePacketSize(QlibHandle handle, unsigned short readSize,
                                                          unsigned short writeSize) {
  return Forward<&QlibBackend::SetEfsReadAndWritePacketSize>(handle, readSize, writeSize);
}

unsigned char QLIB_CALL QLIB_SetSendDataSerialWriteSizeLimit(QlibHandle handle, int limit) {
  return Forward<&QlibBackend::SetSendDataSerialWriteSizeLimit>(handle, limit);
}

unsigned char QLIB_CALL QLIB_EfsWrite(QlibHandle handle, const char* localFile, const char* efsPath) {
  return Forward<&QlibBackend::EfsWrite>(handle, localFile, efsPath);
}

}  // extern "C"
