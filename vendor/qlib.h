// The chipset vendor's phone library (QMSL_MSVC6R), as this program uses it:
// the QLIB_ functions it calls, the five callbacks it registers and the
// records the library hands to them. The library is closed and is only
// imported; these are our own declarations of what the program passes and
// relies on, and our stand-in library (vendor/) exports exactly them.
//
// Every boolean result is a byte, non-zero for success. Texts are 8-bit and
// NUL-terminated where the library writes its own terminator; a buffer the
// program hands over has the size named at its function.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define QLIB_CALL __cdecl
#if defined(QLIB_BUILDING_STAND_IN)
#define QLIB_API __declspec(dllexport)
#else
#define QLIB_API __declspec(dllimport)
#endif
#else
#define QLIB_CALL
#define QLIB_API __attribute__((visibility("default")))
#endif

// A connection to the library's phone server; null is none.
typedef void* QlibHandle;

// The COM port number that asks the library to find the phone's port itself,
// and that it reports while no phone has been found.
inline constexpr unsigned short kQlibAutoPort = 0xFFFF;

// Buffer sizes of the calls that fill texts.
inline constexpr std::size_t kQlibVersionSize = 52;
inline constexpr std::size_t kQlibVernoTextSize = 12;
inline constexpr std::size_t kQlibBuildIdTextSize = 512;

// A text log entry of the library.
struct TextLogRecord {
  uint16_t logType;     // 0
  uint8_t reserved[6];  // 2
  char text[512];       // 8, NUL-terminated within the field
};

// A message the library passes on unasked. Type 16 with the marker 0xFFFF
// carries a text log entry.
struct AsyncMessageRecord {
  uint8_t messageType;   // 0
  uint8_t reserved1[5];  // 1
  uint16_t marker;       // 6
  uint8_t reserved2[8];  // 8
  TextLogRecord log;     // 16: log type at 16, text from 24
};
inline constexpr uint8_t kAsyncTextLogType = 16;
inline constexpr uint16_t kAsyncTextLogMarker = 0xFFFF;

// An event of the library's software download. Which fields exist depends on
// the event type (0 to 14); each member of the union is the layout of the
// types named at it, from offset 4 on. Texts end with a NUL within their
// field.
struct SoftwareDownloadEvent {
  uint32_t eventType;  // 0
  union {
    struct {  // type 0, download
      int32_t context;           // 4
      int32_t status;            // 8
      uint16_t error;            // 12
      uint16_t percentComplete;  // 14
      uint16_t block;            // 16
      uint16_t reserved;         // 18
      int32_t address;           // 20
      char data[92];             // 24
    } download;
    struct {  // type 1, NV backup
      int32_t context;           // 4
      int32_t status;            // 8
      uint16_t error;            // 12
      uint16_t percentComplete;  // 14
      uint16_t nvItem;           // 16
      char data[98];             // 18
    } nvBackup;
    struct {  // types 3, 4, 5, 9, 10: a loader or flash name
      int32_t reserved;      // 4
      char name[100];        // 8
      int32_t customLoader;  // 108; the loader size for type 4
      int32_t localFile;     // 112
    } loader;
    struct {  // types 6, 7, 11, 12, 14: two numbers
      int32_t reserved;  // 4
      int32_t first;     // 8: status (6), bytes written (7, 12), image size (11), status code (14)
      int32_t second;    // 12: detail (6), image type (11), detail code (14)
    } numbers;
  };
};
inline constexpr std::size_t kSoftwareDownloadEventSize = 116;

static_assert(offsetof(TextLogRecord, text) == 8);
static_assert(offsetof(AsyncMessageRecord, marker) == 6);
static_assert(offsetof(AsyncMessageRecord, log) == 16);
static_assert(offsetof(AsyncMessageRecord, log) + offsetof(TextLogRecord, text) == 24);
static_assert(offsetof(SoftwareDownloadEvent, download.context) == 4);
static_assert(offsetof(SoftwareDownloadEvent, download.error) == 12);
static_assert(offsetof(SoftwareDownloadEvent, download.percentComplete) == 14);
static_assert(offsetof(SoftwareDownloadEvent, download.block) == 16);
static_assert(offsetof(SoftwareDownloadEvent, download.address) == 20);
static_assert(offsetof(SoftwareDownloadEvent, download.data) == 24);
static_assert(offsetof(SoftwareDownloadEvent, nvBackup.nvItem) == 16);
static_assert(offsetof(SoftwareDownloadEvent, nvBackup.data) == 18);
static_assert(offsetof(SoftwareDownloadEvent, loader.name) == 8);
static_assert(offsetof(SoftwareDownloadEvent, loader.customLoader) == 108);
static_assert(offsetof(SoftwareDownloadEvent, loader.localFile) == 112);
static_assert(offsetof(SoftwareDownloadEvent, numbers.first) == 8);
static_assert(offsetof(SoftwareDownloadEvent, numbers.second) == 12);
static_assert(sizeof(SoftwareDownloadEvent) == kSoftwareDownloadEventSize);

// The callbacks, called on whatever thread the library chooses.
typedef void(QLIB_CALL* QlibAsyncMessageCallback)(uint16_t size, const AsyncMessageRecord* message, int32_t context);
typedef void(QLIB_CALL* QlibTextLogCallback)(int32_t first, const TextLogRecord* record);
typedef unsigned char(QLIB_CALL* QlibEfsDirectoryCallback)(const char* name, unsigned char isFile,
                                                           uint16_t attributeMask, unsigned char bufferOption,
                                                           unsigned char cleanupOption, int32_t createDate,
                                                           int32_t fileSize, int32_t context);
typedef unsigned char(QLIB_CALL* QlibSoftwareDownloadCallback)(const SoftwareDownloadEvent* event);
typedef unsigned char(QLIB_CALL* QlibEfsTransferCallback)(const char* srcName, const char* dstName, int32_t operation,
                                                          int32_t subOption, uint32_t bytesTransferred,
                                                          uint32_t fileSize, void* context);

extern "C" {

QLIB_API void QLIB_CALL QLIB_SetLibraryMode(unsigned char mode);
// `version`: 52 bytes.
QLIB_API void QLIB_CALL QLIB_GetLibraryVersion(char* version);
// The fourth flag: the software-download event callback is supported.
QLIB_API void QLIB_CALL QLIB_GetLibraryCapabilities(unsigned char* first, unsigned char* second,
                                                    unsigned char* third, unsigned char* softwareDownload);
// kQlibAutoPort lets the library find the phone's port. Null on failure.
QLIB_API QlibHandle QLIB_CALL QLIB_ConnectServer(unsigned short comPort);
// `general` is a further callback the program does not use (null).
QLIB_API unsigned char QLIB_CALL QLIB_ConfigureCallBacks(QlibHandle handle, void* general,
                                                         QlibSoftwareDownloadCallback softwareDownload,
                                                         QlibAsyncMessageCallback asyncMessage);
QLIB_API unsigned char QLIB_CALL QLIB_ConfigureEfs2CallBacks(QlibHandle handle, QlibEfsTransferCallback transfer,
                                                             QlibEfsDirectoryCallback directory);
QLIB_API unsigned char QLIB_CALL QLIB_ConfigureLibraryTextLogCallBack(QlibHandle handle,
                                                                      QlibTextLogCallback textLog);
QLIB_API unsigned char QLIB_CALL QLIB_SetDTR_State(QlibHandle handle, unsigned char state);
QLIB_API unsigned char QLIB_CALL QLIB_FlushRxBuffer(QlibHandle handle);
QLIB_API unsigned char QLIB_CALL QLIB_IsPhoneConnected(QlibHandle handle);
// Writes the port in use; kQlibAutoPort while no phone has been found.
QLIB_API unsigned char QLIB_CALL QLIB_GetComPortNumber(QlibHandle handle, unsigned short* port);
// The phone's mode, 0 for none.
QLIB_API unsigned char QLIB_CALL QLIB_GetQpstPhoneStatus(QlibHandle handle, uint32_t* mode);
QLIB_API unsigned char QLIB_CALL QLIB_DIAG_STATUS_F(QlibHandle handle, unsigned char* status);
QLIB_API unsigned char QLIB_CALL QLIB_DIAG_NV_READ_F(QlibHandle handle, unsigned short item, unsigned char* data,
                                                     int length, unsigned short* status);
// Five 12-byte texts, then the seven numbers.
QLIB_API unsigned char QLIB_CALL QLIB_DIAG_VERNO_F(QlibHandle handle, char* compileDate, char* compileTime,
                                                   char* releaseDate, char* releaseTime, char* versionDir,
                                                   unsigned char* stationClassMark, unsigned char* caiRevision,
                                                   unsigned char* mobileModel, unsigned short* firmwareRevision,
                                                   unsigned char* slotCycleIndex, unsigned char* vocoderMajor,
                                                   unsigned char* vocoderMinor);
// Two numbers, then two 512-byte texts.
QLIB_API unsigned char QLIB_CALL QLIB_DIAG_EXT_BUILD_ID_F(QlibHandle handle, uint32_t* msmHardwareVersion,
                                                          uint32_t* mobileModel, char* softwareRevision,
                                                          char* modelId);
QLIB_API void QLIB_CALL QLIB_DisconnectServer(QlibHandle handle);
QLIB_API void QLIB_CALL QLIB_DisconnectAllServers(void);
QLIB_API unsigned char QLIB_CALL QLIB_SetEfsReadAndWritePacketSize(QlibHandle handle, unsigned short readSize,
                                                                   unsigned short writeSize);
QLIB_API unsigned char QLIB_CALL QLIB_SetSendDataSerialWriteSizeLimit(QlibHandle handle, int limit);
// Writes the local file into the phone's EFS; the EFS transfer callback may
// be called during the call.
QLIB_API unsigned char QLIB_CALL QLIB_EfsWrite(QlibHandle handle, const char* localFile, const char* efsPath);

}  // extern "C"
