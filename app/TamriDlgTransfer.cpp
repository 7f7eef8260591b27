// Starting, finishing and closing: Download and Upload Image remember the
// folder, check it, fill the one job block and hand it to the engine; the
// engine's ID_DL_FINISH clears the transfer; closing warns during a transfer
// and puts the device back by its firmware's class before the dialog ends.
#include <cstring>
#include <string>

#include "app/Tamri.h"
#include "app/TamriDlg.h"
#include "app/link_calls.h"
#include "app/settings.h"
#include "handoff/scan_diag_port.h"
#include "download/workers.h"
#include "plat/clock.h"
#include "plat/file.h"
#include "res/resource.h"
#include "ui/dialog.h"

DownloadJob DownloadJobBlock;

namespace {

constexpr const char* kProgrammerHexName = "armprg.hex";
constexpr const char* kProgrammerHexFallbackName = "NPRG6246.HEX";
constexpr uint32_t kCloseWaitMs = 10000;
constexpr uint32_t kResetStepMs = 3000;
constexpr int kResetFunctionality = 7;
constexpr int kRestartFunctionality = 6;

constexpr const char* kFolderTooLong = "The folder path is too long: at most 259 characters are possible.";
constexpr const char* kTransferRunning = "A transfer is still in progress. Please wait until it has ended.";

// A programmer file the engine would open: the path formed as the engine
// forms it (a bare drive "C:" names its root), read by the name fopen takes,
// and a regular file, which a folder of that name is not.
bool FileExists(const std::string& folder, const char* name) {
  return plat::GetFileStatus(plat::PathInFolder(folder, name).c_str()).kind == plat::FileKind::Regular;
}

}  // namespace

void CTamriDlg::EnableActionButtons(bool enable) {
  ui::EnableWindow(Item(IDOK_BUTTON), enable);
  ui::EnableWindow(Item(IDC_UPLOAD_IMAGE), enable);
}

void CTamriDlg::RememberFolder() {
  UpdateData(true);
  settings::Remember(settings::kImagePathsSection, ImageFolder);
}

bool CTamriDlg::RefuseWhileTransferRuns() {
  // The found action enables the buttons whenever the device is found, also
  // while a transfer runs; a second start then would run a second worker
  // over the engine's one port, buffers and images.
  if (!download::TransferActive()) return false;
  ui::MessageBox(Handle(), kTransferRunning, ui::MbOk);
  return true;
}

bool CTamriDlg::CheckImageFolder() {
  if (ImageFolder.empty()) {
    ui::MessageBox(Handle(), ui::LoadString(IDS_NO_IMAGE_FOLDER), ui::MbOk);
    ui::SetFocus(FolderCombo);
    return false;
  }
  if (ImageFolder.size() >= sizeof DownloadJobBlock.ImagePath) {
    ui::MessageBox(Handle(), kFolderTooLong, ui::MbOk);
    ui::SetFocus(FolderCombo);
    return false;
  }
  if (!FileExists(ImageFolder, kProgrammerHexName) && !FileExists(ImageFolder, kProgrammerHexFallbackName)) {
    ui::MessageBox(Handle(), "target file doesn't exist!", ui::MbOk);
    return false;
  }
  return true;
}

void CTamriDlg::FillJob(int32_t comPort) {
  // Checked to fit by CheckImageFolder.
  std::memset(DownloadJobBlock.ImagePath, 0, sizeof DownloadJobBlock.ImagePath);
  std::memcpy(DownloadJobBlock.ImagePath, ImageFolder.data(), ImageFolder.size());
  DownloadJobBlock.ComPort = comPort;
  DownloadJobBlock.StatusWnd = StatusLabel;
  DownloadJobBlock.ProgressWnd = ProgressBar;
  DownloadJobBlock.DialogWnd = Handle();
}

void CTamriDlg::StartTransfer(int32_t comPort, int32_t busy, int (*starter)(const DownloadJob*)) {
  FillJob(comPort);
  TransferBusy = busy;
  sinceTransferStart_ = SinceTransferStart::Unchanged;
  if (starter(&DownloadJobBlock) != 0) {
    // No worker: nothing changed but the job block.
    TransferBusy = 0;
    return;
  }
  EnableActionButtons(false);
}

void CTamriDlg::OnOK() {
  if (RefuseWhileTransferRuns()) return;
  RememberFolder();
  StartDownload();
}

void CTamriDlg::StartDownload() {
  const int32_t comPort = DeviceDiagPort & 0xFFFF;
  if (!CheckImageFolder()) return;
  const int answer = ui::MessageBox(Handle(), ui::LoadString(IDS_CONFIRM_UPGRADE),
                                    ui::MbYesNo | ui::MbIconExclamation | ui::MbDefButton2);
  if (answer != ui::IdYes) return;
  StartTransfer(comPort, 1, download::StartDownloadThread);
}

void CTamriDlg::OnUploadImage() {
  const int32_t comPort = DeviceDiagPort & 0xFFFF;
  if (RefuseWhileTransferRuns()) return;
  RememberFolder();
  if (!CheckImageFolder()) return;
  StartTransfer(comPort, 2, download::StartUploadThread);
}

void CTamriDlg::OnDlFinish() {
  TransferBusy = 0;
  ui::SendProgress(ProgressBar, 0);
  {
    std::lock_guard lock(foundMutex_);
    // The device restarts at a transfer's end and may be found again before
    // the engine's last steps are done (writing the upload's file can take
    // longer): what a found action took after the device left (the port, a
    // port the scan left in the slot for the next transfer) is the device as
    // it is now. A found action before it left (a change of the port map
    // reruns the search during the transfer) took the device as it was
    // before its restart: forgotten like any other.
    if (sinceTransferStart_ == SinceTransferStart::FoundAgain && DeviceState == StateFound) return;
    // The engine closed its port at the end of the transfer; a port a scan
    // left in the slot since then is closed here, not leaked.
    handoff::ScanDiagPortHandle.Clear();
    DeviceDiagPort = -1;
    download::DeviceDiagMode = 0;
    DeviceState = StateNoDevice;
  }
  // Off until the device is found again, also when a found action during
  // the transfer had turned them on.
  EnableActionButtons(false);
}

void CTamriDlg::OnCancel() {
  // Escape and every other cancel go through the closing rules: no silent
  // end during a transfer, no skipped reset or switch-off.
  OnClose();
}

void CTamriDlg::OnClose() {
  const int busy = TransferBusy;
  if (busy == 1 || busy == 2) {
    const int text = busy == 1 ? IDS_CLOSE_WHILE_DOWNLOADING : IDS_CLOSE_WHILE_UPLOADING;
    const int answer =
        ui::MessageBox(Handle(), ui::LoadString(text), ui::MbOkCancel | ui::MbIconStop | ui::MbDefButton2);
    if (answer != ui::IdOk) return;
  }
  if (VersionClass == 3) {
    ui::BeginWaitCursor();
    SetStatus("Resetting...");
    Link.Dll_SetRFFuncReq(kResetFunctionality);
    plat::Sleep(kResetStepMs);
    Link.Dll_SetRFFuncReq(kRestartFunctionality);
    plat::Sleep(kResetStepMs);
    ui::EndWaitCursor();
    EndWithCancel();
    return;
  }
  if (VersionClass == 1 && DiagModeState == 2 && !closingWait_) {
    // No answer comes to a request that could not be queued: then the
    // dialog ends at once.
    if (Link.Dll_TurnDiagnosticOnOffReq(0, DmPassword.c_str(), "")) {
      closingWait_ = true;
      DeviceState = StateClosing;
      ui::EnableWindow(Handle(), false);
      for (const int id : {IDOK_BUTTON, IDC_UPLOAD_IMAGE, IDC_IMAGE_FOLDER, IDC_BROWSE_FOLDER, IDC_STATUS_TEXT,
                           IDC_PROGRESS}) {
        ui::EnableWindow(Item(id), false);
      }
      SetTimer(TIMER_CLOSE_WAIT, kCloseWaitMs);
      return;
    }
  } else if (closingWait_) {
    // Already waiting for the device: the answer or the timer ends it.
    return;
  }
  EndWithCancel();
}
