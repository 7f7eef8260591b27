// The program's one window: the firmware folder with its history, the
// Download and Upload Image buttons, the status line and the progress bar;
// its driver thread, which drains the link layer's indications and runs the
// device search-and-connect state machine; and the rules for starting,
// finishing and closing a transfer.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "download/job.h"
#include "plat/event.h"
#include "plat/thread.h"
#include "ui/dialog.h"

// The device state machine's states.
enum DeviceStateValue : int32_t {
  StateNoDevice = 0,
  StatePortsPresent = 1,
  StateSearchingPorts = 2,
  StateVersionAsked = 3,
  StateDiagModeAsked = 4,
  StateDualChannelSet = 6,
  StateFactoryModeAsked = 9,
  StateFound = 12,
  StateClosing = 13,
  StateStopped = 14,
};

// The Download button is the dialog's OK button.
inline constexpr int IDOK_BUTTON = ui::IdOk;

// The window's timers.
inline constexpr uintptr_t TIMER_SEARCH_PORT = 105;
inline constexpr uintptr_t TIMER_CLOSE_WAIT = 117;

// Process-wide values of the window, shared by the UI and driver threads.
extern std::atomic<int32_t> DeviceState;
extern std::atomic<int32_t> LastScanFound;
extern std::atomic<int32_t> ModemDetectResult;
// A copy of the last version answer (four 30-byte text fields); the driver
// thread alone writes and reads it.
inline constexpr std::size_t DeviceVersionSize = 120;
extern char DeviceVersion[DeviceVersionSize];
// The block the window fills at each transfer start.
extern DownloadJob DownloadJobBlock;

// The window's three events, process-wide and never destroyed: the link
// layer keeps the notification event registered for the process's life.
plat::Event& ThreadMutexEvent();
plat::Event& DriverEvent();
plat::Event& ThreadExitEvent();
void LockThreadMutex();
void UnlockThreadMutex();
// The window cannot run without its events and its driver thread: shows
// `failure` in a box owned by `owner` with an OK button and no icon, and
// ends the process with code 0 once it is closed.
[[noreturn]] void ExitOnStartFailure(ui::WindowHandle owner, const char* failure);

class CTamriDlg;
uint32_t DriverThreadProc(void* parameter);

class CTamriDlg : public ui::Dialog {
 public:
  explicit CTamriDlg(ui::WindowHandle parent = ui::NoWindow);
  ~CTamriDlg() override;

  // The state machine's entry, on the driver thread: one indication.
  void HandleIndication(unsigned char id, const char* data, int32_t length);
  void OnModemDetect();
  void EnableActionButtons(bool enable);

  // The vendor library: connect (with the callbacks and the reports) and
  // disconnect; no control reaches them. UI thread.
  void ConnectVendorLibrary();
  void DisconnectVendorLibrary();
  // Starts writing `localFile` to `efsPath` in the phone's EFS on a thread
  // of its own; 1 when it started, 0 when not (also while a write runs).
  // Nothing calls it. UI thread.
  int StartEfsWrite(const char* efsPath, const char* localFile);

  // Stops the driver thread as the original window would have: without
  // waiting for it. Nothing calls it.
  void StopDriverThread();
  // Ends the driver thread and waits for it; after it returns no indication
  // reaches this window. Called once the dialog has ended.
  void ShutdownDriverThread();

  // The members the state machine and the transfer rules share, read and
  // written by both threads.
  std::atomic<int32_t> TransferBusy{0};
  std::atomic<int32_t> DeviceDiagPort{-1};
  std::atomic<int32_t> VersionClass{0};
  std::atomic<int32_t> DiagModeState{0};

  // The lists and values of the data exchange.
  std::vector<std::string> UploadPathList;  // never shown: no control holds it
  int UploadPathSelection = -1;             // the list's selected entry; -1 none
  ui::WindowHandle ProgressBar = ui::NoWindow;
  ui::WindowHandle StatusLabel = ui::NoWindow;
  ui::WindowHandle FolderCombo = ui::NoWindow;
  std::string ImageFolder;
  std::string StatusText = "Searching Device...";
  ui::IconHandle AppIcon = 0;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& dx) override;
  void OnOK() override;
  void OnCancel() override;
  bool OnCommand(uint32_t id) override;
  void OnTimer(uintptr_t id) override;
  void OnClose() override;
  bool OnSysCommand(uint32_t id, intptr_t param) override;
  bool OnPaint() override;
  ui::IconHandle OnQueryDragIcon() override;

 private:
  friend uint32_t DriverThreadProc(void* parameter);
  friend struct TamriDlgTesting;

  void CreateDriverThread();
  void OnBrowseFolder();
  void OnUploadImage();
  void OnDlFinish();
  void OnEfsFinished();
  void OnEfsFailed();
  void EndEfsWrite(bool succeeded);
  void OnBrowseFileDev();
  void StartDownload();
  void RememberFolder();
  // Steps 2 and 3 of a start: a folder is given, fits the job and holds a
  // flash programmer. False after telling the user why not.
  bool CheckImageFolder();
  // A start refused while another transfer's worker still runs.
  bool RefuseWhileTransferRuns();
  void FillJob(int32_t comPort);
  // Fills the job, marks the transfer `busy` (1 download, 2 upload) and
  // hands the job to `starter`.
  void StartTransfer(int32_t comPort, int32_t busy, int (*starter)(const DownloadJob*));
  // The found action, with the version text or with none.
  void FoundDevice(bool withVersion);
  void SetStatus(const std::string& text);
  // Ends the dialog the way the closing rules do (the platform's cancel).
  void EndWithCancel();
  // Ends a close that waits for the device, on the answer or on the time
  // limit (`how`), unless the other has ended it already.
  void EndWaitingClose(const char* how);
  // A pause of the driver thread that ends early when the thread must end;
  // false then.
  bool DriverSleep(uint32_t ms);

  // The device is seen leaving: a detection or a search that found no
  // device port. Driver thread.
  void DeviceLeft();

  // What the device did since the running transfer started, for the
  // transfer's finish: the start clears it; the device seen leaving marks
  // it Left, and a found action after that FoundAgain.
  enum class SinceTransferStart { Unchanged, Left, FoundAgain };
  std::atomic<SinceTransferStart> sinceTransferStart_{SinceTransferStart::Unchanged};
  // Held by the found action while it takes the device and by the finish
  // while it decides and forgets, so that neither sees half the other's
  // values.
  std::mutex foundMutex_;

  plat::Thread driverThread_;
  // A close waits for the device's answer: the answer or timer 117 ends the
  // dialog whatever state a detection has moved the machine to meanwhile.
  std::atomic<bool> closingWait_{false};
  std::atomic<bool> closeEnded_{false};
};

extern std::atomic<CTamriDlg*> DriverDialog;

class CAboutDlg : public ui::Dialog {
 public:
  CAboutDlg();
};
