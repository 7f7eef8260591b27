// The main window: start-up, settings, folder history, browse, about box and
// the minimised window's painting.
#include "app/TamriDlg.h"

#include <string>

#include "app/Tamri.h"
#include "app/settings.h"
#include "download/workers.h"
#include "res/resource.h"
#include "ui/dialog.h"

std::atomic<int32_t> ModemDetectResult{0};

namespace {

constexpr const char* kDefaultAccessCode = "70419352";

}  // namespace

CAboutDlg::CAboutDlg() : ui::Dialog(IDD_ABOUT_DIALOG) {}

CTamriDlg::CTamriDlg(ui::WindowHandle parent) : ui::Dialog(IDD_MAIN_DIALOG, parent) {
  AppIcon = ui::LoadIcon(IDR_MAINFRAME);
  download::DeviceDiagMode = 0;
  ModemDetectResult = 0;
}

CTamriDlg::~CTamriDlg() { ShutdownDriverThread(); }

void CTamriDlg::DoDataExchange(ui::DataExchange& dx) {
  ui::Dialog::DoDataExchange(dx);
  ui::ExchangeControl(dx, IDC_PROGRESS, ProgressBar);
  ui::ExchangeControl(dx, IDC_STATUS_TEXT, StatusLabel);
  ui::ExchangeControl(dx, IDC_IMAGE_FOLDER, FolderCombo);
  ui::ExchangeText(dx, IDC_IMAGE_FOLDER, ImageFolder);
  ui::ExchangeText(dx, IDC_STATUS_TEXT, StatusText);
}

bool CTamriDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  ui::SetWindowText(Handle(), "Firmware Upgrade");

  const std::string aboutItem = ui::LoadString(IDS_ABOUT_MENU_ITEM);
  if (!aboutItem.empty()) AppendSystemMenuItem(IDM_ABOUTBOX, aboutItem);

  SetIcon(AppIcon, true);
  SetIcon(AppIcon, false);

  DmPassword = settings::Read(settings::kPasswordSection, settings::kPasswordKey);
  if (DmPassword.empty()) DmPassword = kDefaultAccessCode;

  for (const std::string& folder : settings::ReadList(settings::kImagePathsSection)) {
    ui::ComboAddString(FolderCombo, folder);
  }
  UploadPathList = settings::ReadList(settings::kUploadFilesSection);

  CreateDriverThread();
  return true;
}

bool CTamriDlg::OnSysCommand(uint32_t id, intptr_t /*param*/) {
  if ((id & 0xFFF0u) != IDM_ABOUTBOX) return false;
  CAboutDlg about;
  about.DoModal();
  return true;
}

bool CTamriDlg::OnPaint() {
  if (!IsIconic()) return false;
  ui::PaintContext paint(*this);
  paint.EraseIconBackground();
  const int x = (paint.ClientWidth() - ui::SystemIconWidth() + 1) / 2;
  const int y = (paint.ClientHeight() - ui::SystemIconHeight() + 1) / 2;
  paint.DrawIcon(x, y, AppIcon);
  return true;
}

ui::IconHandle CTamriDlg::OnQueryDragIcon() { return AppIcon; }

void CTamriDlg::OnBrowseFolder() {
  std::string folder;
  if (!ui::BrowseForFolder(folder)) return;
  const int index = ui::ComboAddString(FolderCombo, folder);
  ui::ComboSetCurSel(FolderCombo, index);
}

bool CTamriDlg::OnCommand(uint32_t id) {
  switch (id) {
    case IDC_BROWSE_FOLDER: OnBrowseFolder(); return true;
    case IDC_UPLOAD_IMAGE: OnUploadImage(); return true;
    case ID_DL_FINISH: OnDlFinish(); return true;
    case ID_EFS_FINISHED: OnEfsFinished(); return true;
    case ID_EFS_FAILED: OnEfsFailed(); return true;
    case IDC_BROWSE_FILE_DEV: OnBrowseFileDev(); return true;
    default: return false;
  }
}

void CTamriDlg::SetStatus(const std::string& text) { ui::SetWindowText(StatusLabel, text); }
