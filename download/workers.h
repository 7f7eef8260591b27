// The transfer workers: a download or an upload runs as one worker thread
// that loads the images, opens the device's diagnostic port, runs the step
// table and tells the window what happens only through the job's windows:
// status lines, progress and, after a completed transfer, ID_DL_FINISH.
//
// The engine's state exists once, so one transfer runs at a time: the
// starters refuse a start while the worker of another transfer is still
// before its final wait (during that wait the worker touches no shared
// state). A worker called directly is not counted: its caller keeps to the
// rule.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "download/job.h"
#include "download/steps.h"

// The command posted to DialogWnd after a completed transfer.
#ifndef ID_DL_FINISH
inline constexpr uint32_t ID_DL_FINISH = 32771;
#endif

namespace download {

// 1 when the device was found already in its download mode: the step run
// then skips the DIAG switch and the first no-operation. The application owns
// the value (it copies it when it finds the device and clears it on
// ID_DL_FINISH); the engine only reads it, once per step run.
extern std::atomic<int> DeviceDiagMode;

// Where the workers build each file name: the job's folder and a fixed name.
inline constexpr std::size_t FilePathBufferSize = 512;
extern char FilePathBuffer[FilePathBufferSize];

// Make `job` the current job and start its worker thread, which works on a
// copy of the job taken here. 0 when the thread runs; 1 when it cannot be
// created, or while another transfer's worker is still before its final wait
// (nothing is then changed: not CurrentJob, not the running transfer). They
// do not wait for the thread.
int StartDownloadThread(const DownloadJob* job);
int StartUploadThread(const DownloadJob* job);
// True while a started transfer's worker is before its final wait: a start
// now would be refused.
bool TransferActive();

// Thread entries: run the worker with the job, 0 whatever it returned.
uint32_t DownloadThreadProc(const DownloadJob* job);
uint32_t UploadThreadProc(const DownloadJob* job);

// The transfers themselves, on the calling thread; each works on a copy of
// the job taken at its start. 1 after a completed run, 0 after a failure.
// Started by a starter, each gives the engine back before its final wait.
int DownloadWorker(const DownloadJob* job);
int UploadWorker(const DownloadJob* job);

// Runs `table` to its null end, from row 2 when DeviceDiagMode is 1, else
// from row 0. 1 when every step returned 1; 0 at the first that did not.
int RunStepTable(const StepFn* table);

namespace workers_testing {
// Joins every worker thread the starters have started.
void JoinWorkers();
// Makes the upload file's final write or close report a failure.
enum class UploadFileFault { None, ShortWrite, CloseFails };
void SetUploadFileFault(UploadFileFault fault);
}  // namespace workers_testing

}  // namespace download
