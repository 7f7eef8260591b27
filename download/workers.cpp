#include "download/workers.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "download/framing.h"
#include "download/images.h"
#include "download/status.h"
#include "download/transport.h"
#include "plat/file.h"
#include "plat/thread.h"
#include "ui/window.h"

namespace download {

std::atomic<int> DeviceDiagMode{0};
char FilePathBuffer[FilePathBufferSize];

namespace {

constexpr const char* kProgrammerHexName = "armprg.hex";
constexpr const char* kProgrammerHexFallbackName = "NPRG6246.HEX";
constexpr const char* kDeviceImageName = "NuvoDownload.bin";
constexpr const char* kUploadFileName = "NuvoUpload.bin";

constexpr int kDownloadBaudKey = 115200;
constexpr const char* kDownloadLineMode = "pn";  // DTR on, RTS off

constexpr int kPortSettleMs = 500;
constexpr int kAfterFailedRunMs = 5000;
constexpr int kAfterCompletedRunMs = 15000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::atomic<workers_testing::UploadFileFault> UploadFault{workers_testing::UploadFileFault::None};

// Worker threads still known to the starters. Nothing waits for a worker, so
// a thread is joined only once it has ended, when the next one starts. The
// list is never destroyed: a worker in its final wait at process exit is
// simply ended with the process.
struct WorkerThread {
  plat::Thread thread;
  std::shared_ptr<std::atomic<bool>> ended;
};
struct WorkerThreadList {
  std::mutex mutex;
  std::vector<WorkerThread> threads;
};
WorkerThreadList& Workers() {
  static auto* list = new WorkerThreadList;
  return *list;
}

// The job as it was at the start: the window may fill its block again once
// this transfer is in its final wait.
DownloadJob CopyJob(const DownloadJob* job) {
  DownloadJob copy = *job;
  copy.ImagePath[sizeof copy.ImagePath - 1] = '\0';
  return copy;
}

// The engine's state exists once: a start is refused while the worker of
// another transfer still uses it, that is until that worker is in its final
// wait or has ended. The starter takes the engine for the thread it starts;
// the worker gives it back (on that thread) before its final wait, and the
// thread's end gives it back in any case.
std::atomic<bool> EngineTaken{false};
thread_local bool HoldsEngine = false;

void ReleaseEngine() {
  if (!HoldsEngine) return;  // a worker called directly holds nothing
  HoldsEngine = false;
  EngineTaken.store(false);
}

int StartWorkerThread(const DownloadJob* job, uint32_t (*threadProc)(const DownloadJob*)) {
  bool idle = false;
  if (!EngineTaken.compare_exchange_strong(idle, true)) return 1;  // nothing of the running transfer touched
  CurrentJob = job;
  // The worker's job is fixed at the start: the window may fill its block
  // again before the thread runs.
  auto copy = std::make_shared<const DownloadJob>(CopyJob(job));
  auto ended = std::make_shared<std::atomic<bool>>(false);
  WorkerThread worker{plat::Thread(), ended};
  const bool started = worker.thread.Start(
      [copy, threadProc, ended] {
        HoldsEngine = true;
        const uint32_t code = threadProc(copy.get());
        ReleaseEngine();
        ended->store(true);
        return code;
      },
      plat::ThreadPriority::Normal);
  if (!started) {
    EngineTaken.store(false);
    return 1;
  }
  WorkerThreadList& workers = Workers();
  std::lock_guard lock(workers.mutex);
  std::erase_if(workers.threads, [](WorkerThread& old) {
    if (!old.ended->load()) return false;
    old.thread.Join();
    return true;
  });
  workers.threads.push_back(std::move(worker));
  return 0;
}

const char* BuildFilePath(const char* folder, const char* name) {
  // The same join as the window's check before a start, cut to the buffer.
  std::snprintf(FilePathBuffer, sizeof FilePathBuffer, "%s", plat::PathInFolder(folder, name).c_str());
  return FilePathBuffer;
}

// Loads "armprg.hex", else "NPRG6246.HEX", and converts it into
// ProgrammerImage. On failure the reason is shown, naming the file.
bool LoadProgrammer(const char* folder) {
  int32_t length = 0;
  std::unique_ptr<uint8_t[]> text = LoadFile(BuildFilePath(folder, kProgrammerHexName), &length);
  if (!text) text = LoadFile(BuildFilePath(folder, kProgrammerHexFallbackName), &length);
  if (!text) {
    ShowStatusF("%s can't open!!!", FilePathBuffer);
    return false;
  }
  std::unique_ptr<uint8_t[]> image;
  const int32_t count = ParseIntelHex(text.get(), length, image);
  text.reset();
  // Half a programmer in the device's RAM would be started all the same.
  if (count < 0 || !image) {
    ShowStatusF("%s format error!!!", FilePathBuffer);
    return false;
  }
  ImageTable[ProgrammerImage].Data = std::move(image);
  ImageTable[ProgrammerImage].Length = count;
  return true;
}

bool LoadDeviceImage(const char* folder) {
  int32_t length = 0;
  std::unique_ptr<uint8_t[]> image = LoadFile(BuildFilePath(folder, kDeviceImageName), &length);
  if (!image) {
    ShowStatusF("%s can't open!!!", FilePathBuffer);
    return false;
  }
  ImageTable[DeviceImage].Data = std::move(image);
  ImageTable[DeviceImage].Length = length;
  return true;
}

bool OpenPort(const DownloadJob& job) {
  if (OpenDownloadPort(job.ComPort, kDownloadBaudKey, kDownloadLineMode) >= 0) return true;
  ShowStatusF("%s", "open com error!!!");
  return false;
}

void PostFinish(const DownloadJob& job) {
  if (job.DialogWnd != ui::NoWindow && ui::IsWindow(job.DialogWnd)) ui::PostCommand(job.DialogWnd, ID_DL_FINISH);
}

// Writes the upload in one go and closes the file; true only when every
// byte went out and the close (which flushes) succeeded too.
bool WriteUploadFile(File file) {
  const workers_testing::UploadFileFault fault = UploadFault.load();
  const size_t asked = fault == workers_testing::UploadFileFault::ShortWrite ? kUploadBytes / 2 : kUploadBytes;
  const size_t written = std::fwrite(UploadBuffer, 1, asked, file.get());
  const bool closed = std::fclose(file.release()) == 0 && fault != workers_testing::UploadFileFault::CloseFails;
  return written == kUploadBytes && closed;
}

}  // namespace

int RunStepTable(const StepFn* table) {
  RxFrame.Count = 0;
  // Rows 0 and 1 are skipped for a device already in its download mode on
  // purpose, the second no-operation still runs: keep the start at row 2.
  for (int row = DeviceDiagMode.load() == 1 ? 2 : 0; table[row] != nullptr; ++row) {
    if (table[row]() != 1) return 0;
  }
  return 1;
}

int DownloadWorker(const DownloadJob* startJob) {
  const DownloadJob job = CopyJob(startJob);
  if (!LoadProgrammer(job.ImagePath) || !LoadDeviceImage(job.ImagePath) || !OpenPort(job)) {
    FreeImages();
    return 0;
  }
  RecvWait(0, kPortSettleMs);
  ShowStatusF("%s", "begin to download:");
  if (RunStepTable(DownloadSteps) != 1) {
    ShowStatusF("%s", "download error!");
    FreeImages();
    CloseDownloadPort();
    ReleaseEngine();
    RecvWait(0, kAfterFailedRunMs);
    return 0;
  }
  FreeImages();
  CloseDownloadPort();
  ShowStatusF("%s", "download complete!");
  // The window may start the next transfer as soon as it hears of this one's
  // end; what is left uses the worker's own copy of the job only.
  ReleaseEngine();
  PostFinish(job);
  RecvWait(0, kAfterCompletedRunMs);
  return 1;
}

int UploadWorker(const DownloadJob* startJob) {
  const DownloadJob job = CopyJob(startJob);
  // Created, and so emptied, before anything else: a failed run leaves an
  // empty file behind.
  File file(std::fopen(BuildFilePath(job.ImagePath, kUploadFileName), "wb"));
  if (!file) {
    ShowStatusF("%s can't Create!!!", FilePathBuffer);
    FreeImages();
    return 0;
  }
  if (!LoadProgrammer(job.ImagePath) || !OpenPort(job)) {
    FreeImages();
    file.reset();
    return 0;
  }
  RecvWait(0, kPortSettleMs);
  ShowStatusF("%s", "begin to upload:");
  if (RunStepTable(UploadSteps) != 1) {
    ShowStatusF("%s", "upload error!");
    FreeImages();
    CloseDownloadPort();
    file.reset();
    ReleaseEngine();
    RecvWait(0, kAfterFailedRunMs);
    return 0;
  }
  FreeImages();
  CloseDownloadPort();
  const bool written = WriteUploadFile(std::move(file));
  ShowStatusF("%s", written ? "upload complete!" : "upload write error!");
  ReleaseEngine();
  PostFinish(job);
  RecvWait(0, kAfterCompletedRunMs);
  return 1;
}

uint32_t DownloadThreadProc(const DownloadJob* job) {
  DownloadWorker(job);
  return 0;
}

uint32_t UploadThreadProc(const DownloadJob* job) {
  UploadWorker(job);
  return 0;
}

int StartDownloadThread(const DownloadJob* job) { return StartWorkerThread(job, DownloadThreadProc); }
int StartUploadThread(const DownloadJob* job) { return StartWorkerThread(job, UploadThreadProc); }

bool TransferActive() { return EngineTaken.load(); }

namespace workers_testing {

void JoinWorkers() {
  std::vector<WorkerThread> threads;
  {
    WorkerThreadList& workers = Workers();
    std::lock_guard lock(workers.mutex);
    threads.swap(workers.threads);
  }
  for (WorkerThread& worker : threads) worker.thread.Join();
}

void SetUploadFileFault(UploadFileFault fault) { UploadFault.store(fault); }

}  // namespace workers_testing

}  // namespace download
