// The EFS file write: the start on the UI thread, the write thread with its
// temporary FILE_DEV, the transfer callback's progress, the result handlers,
// and the browse for a file named FILE_DEV.
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <string_view>

#include "app/TamriDlg.h"
#include "app/efs_write.h"
#include "app/vendor_library.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/file.h"
#include "plat/thread.h"
#include "res/resource.h"
#include "ui/dialog.h"
#include "vendor/qlib.h"

EfsWriteJob EfsJob;

namespace {

constexpr const char* kTempFileDevName = "FILE_DEV";
constexpr unsigned short kReadPacketSize = 1000;
constexpr unsigned short kWritePacketSize = 1500;
constexpr int kSerialWriteSizeLimit = 1500;
constexpr uint32_t kBetweenWritesMs = 1000;
constexpr uint32_t kAfterResultMs = 1000;

constexpr const char* kEfsPathTooLong = "The EFS path is too long: at most 259 characters are possible.";
constexpr const char* kLocalPathTooLong = "The local file path is too long: at most 259 characters are possible.";

// The write's thread, kept to be joined before the next one starts. Never
// destroyed: a write may still run while the program ends.
struct WriteThreadSlot {
  std::mutex mutex;
  plat::Thread thread;
};
WriteThreadSlot& Slot() {
  static auto* slot = new WriteThreadSlot;
  return *slot;
}

// Set from a start until the thread has finished with its job, just before
// it posts the result: a second start in between is refused.
std::atomic<bool> g_writeRunning{false};
// The running thread's own copy of the job, for the transfer callback.
std::atomic<const EfsWriteJob*> g_runningJob{nullptr};

void DumpCause(int cause) { plat::DebugDump("File could not be opened " + std::to_string(cause) + "\n"); }

// Creates `path` empty (emptying a file that is there); false with the C
// runtime's error number in `cause`.
bool CreateEmpty(const std::string& path, int& cause) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    cause = errno;
    return false;
  }
  if (std::fclose(file) != 0) {
    cause = errno;
    return false;
  }
  return true;
}

// Both writes of a job; true when both succeeded and FILE_DEV is gone again.
bool WriteThroughTempFile(const EfsWriteJob& job) {
  std::string temp;
  if (!TempFileDevPath(temp)) {
    plat::DebugDump(
        "WRITE TEMP FILE_DEV: FAIL, its path beside the program is unknown or longer than 259 characters\n");
    return false;
  }
  int cause = 0;
  if (!CreateEmpty(temp, cause)) {
    DumpCause(cause);
    return false;
  }
  if (!QLIB_EfsWrite(LibraryHandle(), temp.c_str(), job.EfsPath)) {
    // FILE_DEV stays; the next write empties and removes it.
    plat::DebugDump("WRITE TEMP FILE_DEV: FAIL\n");
    return false;
  }
  plat::DebugDump("WRITE TEMP FILE_DEV: PASS\n");
  plat::Sleep(kBetweenWritesMs);
  const bool written = QLIB_EfsWrite(LibraryHandle(), job.LocalFile, job.EfsPath) != 0;
  plat::DebugDump(written ? "EFS WRITE: PASS\n" : "EFS WRITE: FAIL\n");
  // Removed before the result is posted, so that a failed removal is the
  // one result, not a second one after a success.
  if (std::remove(temp.c_str()) != 0) {
    DumpCause(errno);
    return false;
  }
  return written;
}

// Copies `text` into a job's path field; the caller checked that it fits.
void CopyPath(char (&field)[kEfsPathSize], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), text.size());
}

}  // namespace

bool TempFileDevPath(std::string& path) {
  std::string program;
  if (!VendorHost.ProgramImagePath(program) || program.empty()) return false;
  const std::size_t cut = program.find_last_of("\\/");
  path = (cut == std::string::npos ? std::string() : program.substr(0, cut + 1)) + kTempFileDevName;
  return path.size() < kEfsPathSize;
}

void PostResultCommand(const EfsWriteJob& job, uint32_t id) {
  if (job.DialogWnd == ui::NoWindow || !ui::IsWindow(job.DialogWnd)) return;
  ui::PostCommand(job.DialogWnd, id);
}

uint32_t EfsWriteThreadProc(const EfsWriteJob* job) {
  g_runningJob = job;
  const bool written = WriteThroughTempFile(*job);
  g_runningJob = nullptr;
  g_writeRunning = false;
  PostResultCommand(*job, written ? EfsFinished : EfsFailed);
  return written ? 1 : 0;
}

unsigned char QLIB_CALL EfsTransferStatusCallback(const char* srcName, const char* dstName, int32_t operation,
                                                  int32_t subOption, uint32_t bytesTransferred, uint32_t fileSize,
                                                  void* context) {
  char pointer[2 + 2 * sizeof(void*) + 1];
  std::snprintf(pointer, sizeof pointer, "0x%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<uintptr_t>(context));
  plat::DebugDump(std::string("-----------------\n") +                                      //
                  "         SRC Name: " + (srcName != nullptr ? srcName : "") + "\n" +       //
                  "         DST Name: " + (dstName != nullptr ? dstName : "") + "\n" +       //
                  "        Operation: " + std::to_string(operation) + "\n" +                 //
                  "       Sub Option: " + std::to_string(subOption) + "\n" +                 //
                  "Bytes Transferred: " + std::to_string(bytesTransferred) + "\n" +          //
                  "        File Size: " + std::to_string(fileSize) + "\n" +                  //
                  "          Context: " + pointer + "\n");

  // The running write's own job; outside a write the last job filled.
  const EfsWriteJob* running = g_runningJob.load();
  const EfsWriteJob& job = running != nullptr ? *running : EfsJob;
  if (job.FileSize <= 0) return 0;
  // 64 bits: bytes times 100 passes 32 bits from about 42 MB on.
  const uint64_t percent =
      std::min<uint64_t>(uint64_t{bytesTransferred} * 100 / static_cast<uint64_t>(job.FileSize), 100);
  char text[kEfsPathSize];
  std::snprintf(text, sizeof text,
                job.WriteFlag != 0 ? "Write EFS: %" PRIu32 " Bytes Transferred."
                                   : "Read EFS: %" PRIu32 " Bytes Transferred.",
                bytesTransferred);
  if (job.StatusWnd != ui::NoWindow && ui::IsWindow(job.StatusWnd)) ui::SendText(job.StatusWnd, text);
  if (job.ProgressWnd != ui::NoWindow && ui::IsWindow(job.ProgressWnd)) {
    ui::SendProgress(job.ProgressWnd, static_cast<int>(percent));
  }
  return 1;
}

int CTamriDlg::StartEfsWrite(const char* efsPath, const char* localFile) {
  // One write at a time: the job is not rewritten while a thread runs.
  bool idle = false;
  if (!g_writeRunning.compare_exchange_strong(idle, true)) return 0;
  const bool started = [&] {
    const std::string efs = efsPath != nullptr ? efsPath : "";
    const std::string local = localFile != nullptr ? localFile : "";
    if (efs.size() >= kEfsPathSize) {
      ui::MessageBox(Handle(), kEfsPathTooLong, ui::MbOk);
      return false;
    }
    if (local.size() >= kEfsPathSize) {
      ui::MessageBox(Handle(), kLocalPathTooLong, ui::MbOk);
      return false;
    }
    // By the narrow name, as the library is handed it and opens it (on
    // Windows in the ANSI code page); a folder has a status too, of size 0.
    const plat::FileStatus status = plat::GetFileStatus(local.c_str());
    if (status.kind == plat::FileKind::None) {
      ui::MessageBox(Handle(), local + " doesn't exist!", ui::MbOk);
      return false;
    }
    const uint64_t size = status.size;
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      ui::MessageBox(Handle(), local + " is too large: at most 2147483647 bytes can be written.", ui::MbOk);
      return false;
    }

    QLIB_SetEfsReadAndWritePacketSize(LibraryHandle(), kReadPacketSize, kWritePacketSize);
    QLIB_SetSendDataSerialWriteSizeLimit(LibraryHandle(), kSerialWriteSizeLimit);
    plat::DebugDump("EFS WRITE:  EFS: " + local + "to phone: " + efs + "\n");

    CopyPath(EfsJob.EfsPath, efs);
    CopyPath(EfsJob.LocalFile, local);
    EfsJob.FileSize = static_cast<int32_t>(size);
    EfsJob.WriteFlag = 1;
    EfsJob.StatusWnd = StatusLabel;
    EfsJob.ProgressWnd = ProgressBar;
    EfsJob.DialogWnd = Handle();

    WriteThreadSlot& slot = Slot();
    std::lock_guard lock(slot.mutex);
    // The last write's thread has passed its end; it is joined before the
    // slot takes the next.
    if (slot.thread.Joinable()) slot.thread.Join();
    return slot.thread.Start([job = EfsJob] { return EfsWriteThreadProc(&job); }, plat::ThreadPriority::Normal);
  }();
  if (!started) g_writeRunning = false;
  return started ? 1 : 0;
}

void CTamriDlg::OnEfsFinished() { EndEfsWrite(true); }

void CTamriDlg::OnEfsFailed() { EndEfsWrite(false); }

void CTamriDlg::EndEfsWrite(bool succeeded) {
  TransferBusy = 0;
  EnableActionButtons(true);
  ui::SendProgress(ProgressBar, 0);
  const bool write = EfsJob.WriteFlag != 0;
  if (succeeded) {
    StatusText = write ? "Write EFS file successfully!" : "Read EFS file successfully!";
  } else {
    StatusText = write ? "Write EFS file fail!" : "Read EFS file fail!";
  }
  UpdateData(false);
  DisconnectVendorLibrary();
  plat::Sleep(kAfterResultMs);
  DeviceState = StateFound;
}

void CTamriDlg::OnBrowseFileDev() {
  std::string path = kTempFileDevName;  // the dialog's initial file name
  if (!ui::OpenFileDialog(ui::NoWindow, "", path)) return;
  if (path.empty()) {
    UploadPathSelection = -1;
    return;
  }
  const std::string_view name = kTempFileDevName;
  if (!std::string_view(path).ends_with(name)) {
    ui::MessageBox(Handle(), "Please specify a file named as \"FILE_DEV\"!", ui::MbOk);
    UploadPathSelection = -1;
    return;
  }
  UploadPathList.push_back(path);
  UploadPathSelection = static_cast<int>(UploadPathList.size()) - 1;
}

namespace efs_testing {

void JoinWriteThread() {
  WriteThreadSlot& slot = Slot();
  std::lock_guard lock(slot.mutex);
  if (slot.thread.Joinable()) slot.thread.Join();
}

}  // namespace efs_testing
