// The vendor library's connection: connecting to its phone server,
// registering the callbacks, the version and status reports on standard
// output, and disconnecting. The callbacks print what the library hands
// them, each record read only within its fields: the library may leave a
// text without its NUL.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/TamriDlg.h"
#include "app/efs_write.h"
#include "app/vendor_library.h"
#include "plat/console.h"
#include "plat/process.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "vendor/qlib.h"

std::atomic<QlibHandle> VendorLibraryHandle{nullptr};
std::atomic<unsigned char> AsyncMessageTrace{0};
std::atomic<unsigned char> TextLogTrace{0};
char EfsDirectoryTable[kEfsDirectoryEntries][kEfsDirectoryNameSize];
int32_t EfsDirectoryCount = 0;

const char* const PhoneModeNames[kPhoneModeCount] = {
    "SWD_modeNone", "SWD_modeDataServices", "SWD_modeDownload",
    "SWD_modeDiagnostic", "SWD_modeDiagnosticOffline", "SWD_modeReset",
    "SWD_modeStreamDownload", "SWD_modeMspDownload", "SWD_modeMspDiagnostic",
    "SWD_modeMspDiagnosticOffline", "SWD_modeMspReset", "SWD_modeMspStreamDownload",
};

namespace {

// The NV item that holds the phone's FTM mode.
constexpr unsigned short kNvFtmMode = 453;
// The preset of the status byte, which a query may leave as it is.
constexpr unsigned char kStatusPreset = 99;
// The dates keep 11 characters, the times and the version folder 8.
constexpr std::size_t kDateLength = 11;
constexpr std::size_t kTimeLength = 8;

void WriteStandardOutput(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

bool OwnImagePath(std::string& path) { return plat::ProcessImagePath(plat::CurrentProcessId(), path); }

int Length(std::string_view text) { return static_cast<int>(text.size()); }

const char* PhoneStatusName(unsigned char status) {
  switch (status) {
    case 0: return "OFFLINE";
    case 1: return "ONLINE";
    case 2: return "LOW POWER MODE";
    default: return "Unknown";
  }
}

// The text log entry of a library record, as both log callbacks print it;
// `available` is how many of the text's bytes the record holds.
void PrintTextLog(uint16_t logType, const char* text, std::size_t available) {
  const std::string_view logText = FieldText(text, available);
  VendorPrint("\n  QMSL Text Log found...");
  VendorPrint("\n      Log Type: %d", logType);
  VendorPrint("\n      Log Text: %.*s", Length(logText), logText.data());
}

// The phone's version numbers and texts, printed when the version query
// succeeded.
void PrintVersionNumbers() {
  char compileDate[kQlibVernoTextSize] = {};
  char compileTime[kQlibVernoTextSize] = {};
  char releaseDate[kQlibVernoTextSize] = {};
  char releaseTime[kQlibVernoTextSize] = {};
  char versionDir[kQlibVernoTextSize] = {};
  unsigned char stationClassMark = 0, caiRevision = 0, mobileModel = 0, slotCycleIndex = 0;
  unsigned char vocoderMajor = 0, vocoderMinor = 0;
  unsigned short firmwareRevision = 0;
  if (!QLIB_DIAG_VERNO_F(LibraryHandle(), compileDate, compileTime, releaseDate, releaseTime, versionDir,
                         &stationClassMark, &caiRevision, &mobileModel, &firmwareRevision, &slotCycleIndex,
                         &vocoderMajor, &vocoderMinor)) {
    VendorPrint("Version Number: FAIL\n");
    return;
  }
  compileDate[kDateLength] = '\0';
  releaseDate[kDateLength] = '\0';
  compileTime[kTimeLength] = '\0';
  releaseTime[kTimeLength] = '\0';
  versionDir[kTimeLength] = '\0';
  VendorPrint("Mobile Version report: PASS\n");
  VendorPrint("Compile Date: %s\n", compileDate);
  VendorPrint("Compile Time: %s\n", compileTime);
  VendorPrint("Release Date: %s\n", releaseDate);
  VendorPrint("Release Time: %s\n", releaseTime);
  VendorPrint(" Version Dir: %s\n", versionDir);
  VendorPrint("\n\n");
  VendorPrint("   Station Class Mark: %d\n", stationClassMark);
  VendorPrint("              CAI Rev: %d\n", caiRevision);
  VendorPrint("         Mobile Model: %d\n", mobileModel);
  VendorPrint("         Firmware Rev: %d\n", firmwareRevision);
  VendorPrint("     Slot Cycle Index: %d\n", slotCycleIndex);
  VendorPrint("Vocoder major version: %d\n", vocoderMajor);
  VendorPrint("Vocoder minor version: %d\n", vocoderMinor);

  uint32_t msmHardwareVersion = 0;
  uint32_t mobileModelNumber = 0;
  std::vector<char> softwareRevision(kQlibBuildIdTextSize, '\0');
  std::vector<char> modelId(kQlibBuildIdTextSize, '\0');
  if (QLIB_DIAG_EXT_BUILD_ID_F(LibraryHandle(), &msmHardwareVersion, &mobileModelNumber, softwareRevision.data(),
                               modelId.data())) {
    const std::string_view revision = FieldText(softwareRevision.data(), softwareRevision.size());
    const std::string_view model = FieldText(modelId.data(), modelId.size());
    VendorPrint("\n");
    VendorPrint("      Ext MSM HW Version: 0x%X\n", static_cast<unsigned>(msmHardwareVersion));
    VendorPrint("       Ext Mobile Model#: 0x%X\n", static_cast<unsigned>(mobileModelNumber));
    VendorPrint("Ext Mobile Mobile SW Rev: %.*s\n", Length(revision), revision.data());
    VendorPrint("            Ext Model ID: %.*s\n", Length(model), model.data());
    ReportPhoneStatus();
  } else {
    VendorPrint("\nQLIB_DIAG_EXT_BUILD_ID_F = FAIL");
  }
  VendorPrint("\n");
}

}  // namespace

VendorHostCalls RealVendorHostCalls() {
  return VendorHostCalls{WriteStandardOutput, plat::ConsoleKeyPressed, OwnImagePath};
}

VendorHostCalls VendorHost = RealVendorHostCalls();

void VendorPrint(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<std::size_t>(length));
    VendorHost.WriteOutput(text);
  }
  va_end(arguments);
}

std::string_view FieldText(const char* field, std::size_t size) {
  if (field == nullptr) return {};
  return std::string_view(field, strnlen(field, size));
}

void CTamriDlg::ConnectVendorLibrary() {
  UpdateData(true);
  QLIB_SetLibraryMode(0);
  char version[kQlibVersionSize] = {};
  QLIB_GetLibraryVersion(version);
  unsigned char first = 0, second = 0, third = 0, softwareDownload = 0;
  QLIB_GetLibraryCapabilities(&first, &second, &third, &softwareDownload);
  VendorLibraryHandle = QLIB_ConnectServer(kQlibAutoPort);

  // Registered whatever the handle is, null included.
  QLIB_ConfigureCallBacks(LibraryHandle(), nullptr, softwareDownload != 0 ? SoftwareDownloadEventCallback : nullptr,
                          AsyncMessageCallback);
  QLIB_ConfigureEfs2CallBacks(LibraryHandle(), EfsTransferStatusCallback, EfsDirectoryCallback);
  QLIB_ConfigureLibraryTextLogCallBack(LibraryHandle(), LibraryTextLogCallback);

  if (LibraryHandle() != nullptr) {
    VendorPrint("\nContext creation: PASS\n");
    QLIB_SetDTR_State(LibraryHandle(), 1);
    QLIB_FlushRxBuffer(LibraryHandle());
    if (QLIB_IsPhoneConnected(LibraryHandle())) {
      ReportVersion();
      StatusText = ui::LoadString(IDS_PHONE_CONNECTED);
    } else if (QLIB_IsPhoneConnected(LibraryHandle())) {
      VendorPrint("\nPhone Connection Status: PASS\n");
      StatusText = ui::LoadString(IDS_PHONE_CONNECTED);
      ReportVersion();
    } else {
      VendorPrint("\nPhone Connection Status: FAIL\n");
      StatusText = ui::LoadString(IDS_PHONE_NOT_CONNECTED);
    }
  } else {
    VendorPrint("\nServer connection: FAIL\n");
    StatusText = "Server connection Failed!";
  }
  UpdateData(false);
}

void CTamriDlg::DisconnectVendorLibrary() {
  QLIB_DisconnectServer(LibraryHandle());
  QLIB_DisconnectAllServers();
}

void ReportVersion() {
  VendorPrint("\n----------------\nVersion Report\n----------------\n");
  bool connected = false;
  bool inDownloadMode = false;

  char version[kQlibVersionSize] = {};
  QLIB_GetLibraryVersion(version);
  const std::string_view versionText = FieldText(version, sizeof version);
  VendorPrint("\nQLIB DLL Version: %.*s", Length(versionText), versionText.data());

  unsigned short port = kQlibAutoPort;
  QLIB_GetComPortNumber(LibraryHandle(), &port);
  if (port == kQlibAutoPort) {
    VendorPrint("\nAuto detect selected, no phone has been found, searching...\n");
    // The connection before stays open.
    VendorLibraryHandle = QLIB_ConnectServer(kQlibAutoPort);
  }
  // Not preset again: a query that writes nothing leaves what the first
  // one found.
  QLIB_GetComPortNumber(LibraryHandle(), &port);
  if (port == kQlibAutoPort) {
    VendorPrint("\nCOM Port: AUTO, NOT DETECTED\n");
    return;
  }
  VendorPrint("\nCOM Port: %d\n", port);

  connected = QLIB_IsPhoneConnected(LibraryHandle()) != 0;
  if (!connected) {
    QLIB_FlushRxBuffer(LibraryHandle());
    VendorPrint("<<Waiting for phone, press any key to exit>>\n");
    while (!connected && !inDownloadMode && !VendorHost.KeyPressed()) {
      connected = QLIB_IsPhoneConnected(LibraryHandle()) != 0;
      uint32_t mode = 0;
      inDownloadMode = QLIB_GetQpstPhoneStatus(LibraryHandle(), &mode) == 1 && mode != 0;
    }
  }

  if (connected) {
    if (!QLIB_IsPhoneConnected(LibraryHandle())) {
      VendorPrint("\n Phone is not connected.");
      return;
    }
    PrintVersionNumbers();
  } else if (inDownloadMode) {
    VendorPrint("\n Phone is in download mode.");
    ReportPhoneStatus();
  }
}

void ReportPhoneStatus() {
  unsigned char status = kStatusPreset;
  if (QLIB_DIAG_STATUS_F(LibraryHandle(), &status)) {
    VendorPrint("\n            Phone Status: %s", PhoneStatusName(status));
  } else {
    VendorPrint("\nQLIB_DIAG_STATUS_F: %s", "FAIL");
  }

  unsigned char ftmMode = 0;
  unsigned short nvStatus = 0;
  if (QLIB_DIAG_NV_READ_F(LibraryHandle(), kNvFtmMode, &ftmMode, 1, &nvStatus)) {
    VendorPrint("\n                FTM Mode: %s", ftmMode != 0 ? "ON" : "OFF");
  } else {
    VendorPrint("\nQLIB_DIAG_NV_READ_F(NV_FTM_MODE_I): FAIL");
  }

  uint32_t mode = 0;
  if (QLIB_GetQpstPhoneStatus(LibraryHandle(), &mode) && mode < kPhoneModeCount) {
    VendorPrint("\n\nQPST Phone Status: %s", PhoneModeNames[mode]);
  }
}

void QLIB_CALL AsyncMessageCallback(uint16_t size, const AsyncMessageRecord* message, int32_t context) {
  if (AsyncMessageTrace == 0) return;
  VendorPrint("\nAsync message received by C callback.  Context = %d, Size = %d", context, size);
  // The record is read no further than the message's size says it reaches;
  // a message too short for a log entry's header carries none.
  const std::size_t reach = message != nullptr ? std::min<std::size_t>(size, sizeof(AsyncMessageRecord)) : 0;
  constexpr std::size_t kText = offsetof(AsyncMessageRecord, log) + offsetof(TextLogRecord, text);
  if (reach < kText || message->messageType != kAsyncTextLogType || message->marker != kAsyncTextLogMarker) return;
  PrintTextLog(message->log.logType, message->log.text, reach - kText);
}

void QLIB_CALL LibraryTextLogCallback(int32_t /*first*/, const TextLogRecord* record) {
  if (TextLogTrace == 0 || record == nullptr) return;
  PrintTextLog(record->logType, record->text, sizeof record->text);
}

unsigned char QLIB_CALL EfsDirectoryCallback(const char* name, unsigned char isFile, uint16_t attributeMask,
                                             unsigned char bufferOption, unsigned char cleanupOption,
                                             int32_t createDate, int32_t fileSize, int32_t context) {
  if (name == nullptr) name = "";
  VendorPrint("-----------------\n");
  VendorPrint("          Name: %s\n", name);
  VendorPrint("          Type: %s\n", isFile != 0 ? "File" : "Folder");
  VendorPrint("Attribute Mask: %d\n", attributeMask);
  VendorPrint(" Buffer Option: %d\n", bufferOption);
  VendorPrint("Cleanup Option: %d\n", cleanupOption);
  VendorPrint("   Create Date: %d\n", createDate);
  VendorPrint("     File Size: %d\n", fileSize);
  VendorPrint("       Context: %d\n", context);
  const std::size_t length = strnlen(name, kEfsDirectoryNameSize);
  if (EfsDirectoryCount >= 0 && EfsDirectoryCount < kEfsDirectoryEntries && isFile != 0 &&
      length < kEfsDirectoryNameSize) {
    std::memcpy(EfsDirectoryTable[EfsDirectoryCount], name, length + 1);
    ++EfsDirectoryCount;
  }
  return 1;
}

unsigned char QLIB_CALL SoftwareDownloadEventCallback(const SoftwareDownloadEvent* event) {
  if (event == nullptr) return 1;
  const auto& download = event->download;
  const auto& nvBackup = event->nvBackup;
  const auto& loader = event->loader;
  const auto& numbers = event->numbers;
  const std::string_view name = FieldText(loader.name, sizeof loader.name);
  // Types 3, 5 and 9 differ only in their first line and the local file's label.
  const auto printLoaderStatus = [&](const char* event, const char* localFileLabel) {
    VendorPrint("\n Event: %s", event);
    VendorPrint("\n    Loader name: %.*s", Length(name), name.data());
    VendorPrint("\n    Custom Loader: %d", loader.customLoader);
    VendorPrint("\n%s: %d", localFileLabel, loader.localFile);
  };
  switch (event->eventType) {
    case 0: {
      const std::string_view data = FieldText(download.data, sizeof download.data);
      VendorPrint("\n Event: SWD_downloadEvent");
      VendorPrint("-----------------\n");
      VendorPrint("    Status: %d\n", download.status);
      VendorPrint("     Error: %d\n", download.error);
      VendorPrint("%%Complete: %d\n", download.percentComplete);
      VendorPrint("     Block: %d\n", download.block);
      VendorPrint("   Address: %d\n", download.address);
      VendorPrint("      Data: %.*s\n", Length(data), data.data());
      VendorPrint("   Context: %d\n", download.context);
      break;
    }
    case 1: {
      const std::string_view data = FieldText(nvBackup.data, sizeof nvBackup.data);
      VendorPrint("\n Event: SWD_nvBackupEvent");
      VendorPrint("    Status: %d\n", nvBackup.status);
      VendorPrint("     Error: %d\n", nvBackup.error);
      VendorPrint("%%Complete: %d\n", nvBackup.percentComplete);
      VendorPrint("   NV Item: %d\n", nvBackup.nvItem);
      if (!data.empty()) VendorPrint("      Data: %.*s\n", Length(data), data.data());
      VendorPrint("   Context: %d\n", nvBackup.context);
      break;
    }
    case 2:
      VendorPrint("\n Event: SWD_doAutoRestore");
      break;
    case 3:
      printLoaderStatus("SWD_reportLoaderStatus", "       Local File");
      break;
    case 4:
      VendorPrint("\n Event: SWD_bootDownloadStart");
      VendorPrint("\n    FLASH name: %.*s", Length(name), name.data());
      VendorPrint("\n    Loader Size: %d", loader.customLoader);
      break;
    case 5:
      printLoaderStatus("SWD_bootReportLoaderStatus", "  Local File name");
      break;
    case 6:
      VendorPrint("\n Event: SWD_bootReportLoaderStatus");
      VendorPrint("\n    Status: %d", numbers.first);
      VendorPrint("\n    Detail: %d", numbers.second);
      break;
    case 7:
      VendorPrint("\n Event: SWD_bootDownloadProgress");
      VendorPrint("\n    Bytes written: %d", numbers.first);
      break;
    case 8:
      VendorPrint("\n Event: SWD_bootDownloadComplete");
      break;
    case 9:
      printLoaderStatus("SWD_MIReportLoaderStatus", "   Local File name");
      break;
    case 10:
      VendorPrint("\n Event: SWD_MIReportFlashStatus");
      VendorPrint("\n    FLASH name: %.*s", Length(name), name.data());
      break;
    case 11:
      VendorPrint("\n Event: SWD_MIStartDownload");
      VendorPrint("\n    Image Size: %d", numbers.first);
      VendorPrint("\n    Image Type: %d", numbers.second);
      break;
    case 12:
      VendorPrint("\n Event: SWD_MIDownloadProgress");
      VendorPrint("\n    Bytes Written: %d", numbers.first);
      break;
    case 13:
      VendorPrint("\n Event: SWD_MIDownloadComplete");
      break;
    case 14:
      VendorPrint("\n Event: SWD_MIDownloadStatus");
      VendorPrint("\n    Detail Code: %d", numbers.second);
      VendorPrint("\n    Status Code: %d", numbers.first);
      break;
    default:
      VendorPrint("\n Event: Default");
      break;
  }
  return 1;
}
