// Writing one local file into the phone's EFS file system through the
// vendor library: the job block, its thread, the transfer callback that
// shows the progress, and the result command posted to the window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "res/resource.h"
#include "ui/window.h"
#include "vendor/qlib.h"

// A path of the job: at most 259 characters and the NUL.
inline constexpr std::size_t kEfsPathSize = 260;

// The result commands posted to the window.
inline constexpr uint32_t EfsFinished = ID_EFS_FINISHED;
inline constexpr uint32_t EfsFailed = ID_EFS_FAILED;

struct EfsWriteJob {
  char EfsPath[kEfsPathSize];    // destination in the phone's EFS
  char LocalFile[kEfsPathSize];  // the file to write
  int32_t FileSize;              // the local file's size: the divisor of the percentage
  int32_t WriteFlag;             // 1: a write; 0 would select the "Read EFS" texts
  ui::WindowHandle StatusWnd;    // the status line; NoWindow for none
  ui::WindowHandle ProgressWnd;  // the progress bar; NoWindow for none
  ui::WindowHandle DialogWnd;    // receives the result command
};

// The job of the last write started. Filled by CTamriDlg::StartEfsWrite
// while no write runs; the write's thread works on a copy of its own.
extern EfsWriteJob EfsJob;

// The thread of one write: an empty FILE_DEV to the EFS path first, one
// second's pause, then the local file to the same path. Posts exactly one
// result command, after FILE_DEV is removed again; 1 when both writes
// succeeded, else 0.
uint32_t EfsWriteThreadProc(const EfsWriteJob* job);

// Posts the command to the job's dialog; nothing when it has none or its
// window is gone.
void PostResultCommand(const EfsWriteJob& job, uint32_t id);

// The library's EFS transfer callback: writes the transfer to the debug
// dump and shows the running write's bytes and percentage in its windows.
// False, with nothing shown, when the job's file size is 0.
unsigned char QLIB_CALL EfsTransferStatusCallback(const char* srcName, const char* dstName, int32_t operation,
                                                  int32_t subOption, uint32_t bytesTransferred, uint32_t fileSize,
                                                  void* context);

// The path of FILE_DEV beside the program's executable; false when the
// program's path is unknown or the result would pass 259 characters.
bool TempFileDevPath(std::string& path);

namespace efs_testing {
// Waits for the write thread, when one was started.
void JoinWriteThread();
}  // namespace efs_testing
