// The main window's second way to the phone: the chipset vendor's library
// (QMSL_MSVC6R, vendor/qlib.h). Its connection handle, the version and
// status reports printed to standard output, and the callbacks the window
// registers with the library. The window connects through
// CTamriDlg::ConnectVendorLibrary; the EFS write (app/efs_write.h) is the
// connection's only user.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "vendor/qlib.h"

// The library connection; null for none. Written by a connect and by the
// reconnect of ReportVersion; a disconnect leaves it as it was.
extern std::atomic<QlibHandle> VendorLibraryHandle;
inline QlibHandle LibraryHandle() { return VendorLibraryHandle.load(); }

// While a flag is 0 its callback prints nothing. Nothing in the program
// sets them.
extern std::atomic<unsigned char> AsyncMessageTrace;
extern std::atomic<unsigned char> TextLogTrace;

// The file names of the EFS directory listings the library reports, written
// only by EfsDirectoryCallback and read by nothing.
inline constexpr int32_t kEfsDirectoryEntries = 500;
inline constexpr std::size_t kEfsDirectoryNameSize = 200;
extern char EfsDirectoryTable[kEfsDirectoryEntries][kEfsDirectoryNameSize];
extern int32_t EfsDirectoryCount;

// The phone modes of QLIB_GetQpstPhoneStatus by value.
inline constexpr uint32_t kPhoneModeCount = 12;
extern const char* const PhoneModeNames[kPhoneModeCount];

// The reports, printed to standard output through the library's handle.
// ReportVersion waits for the phone while it is not connected, until it is,
// until it is in a download mode or until a key is pressed (at once when
// there is no console).
void ReportVersion();
void ReportPhoneStatus();

// The callbacks the connect registers. Each reads its record only within
// the record's fields.
void QLIB_CALL AsyncMessageCallback(uint16_t size, const AsyncMessageRecord* message, int32_t context);
void QLIB_CALL LibraryTextLogCallback(int32_t first, const TextLogRecord* record);
unsigned char QLIB_CALL EfsDirectoryCallback(const char* name, unsigned char isFile, uint16_t attributeMask,
                                             unsigned char bufferOption, unsigned char cleanupOption,
                                             int32_t createDate, int32_t fileSize, int32_t context);
unsigned char QLIB_CALL SoftwareDownloadEventCallback(const SoftwareDownloadEvent* event);

// What the vendor-library code asks of its host, replaceable by tests.
struct VendorHostCalls {
  // Standard output: the reports and the callbacks' prints.
  void (*WriteOutput)(std::string_view text);
  // The key that ends ReportVersion's wait (plat::ConsoleKeyPressed).
  bool (*KeyPressed)();
  // The full path of the program's own executable; false when unknown.
  bool (*ProgramImagePath)(std::string& path);
};
extern VendorHostCalls VendorHost;
VendorHostCalls RealVendorHostCalls();

// printf to standard output through VendorHost.WriteOutput.
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 1, 2)))
#endif
void VendorPrint(const char* format, ...);

// The text of a field of `size` bytes that the library may have left
// without its NUL: up to the first NUL or the field's end.
std::string_view FieldText(const char* field, std::size_t size);
