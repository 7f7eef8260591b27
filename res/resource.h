// Resource ids and the string table's texts, shared by the resource script
// (tamri.rc, compiled by windres) and the C++ code: the texts are macros so
// that the script and the headless backend's string table are one list.
#pragma once

// Dialog templates.
#define IDD_ABOUT_DIALOG 100
#define IDD_MAIN_DIALOG 102

// Icon and menu.
#define IDR_MAINFRAME 128
#define IDR_HIDE_MENU 129

// Controls of the main dialog.
#define IDC_STATUS_TEXT 1000
#define IDC_IMAGE_FOLDER 1001
#define IDC_UPLOAD_IMAGE 1003
#define IDC_PROGRESS 1027
#define IDC_BROWSE_FOLDER 1029
#define IDC_BROWSE_FILE_DEV 1030

// Commands posted to the main dialog (reserved by the menu "Hide").
#define ID_DL_FINISH_CMD 32771
#define ID_EFS_FINISHED 32772
#define ID_EFS_FAILED 32774

// The about item of the system menu.
#define IDM_ABOUTBOX 0x0010

// The string table.
#define IDS_ABOUT_MENU_ITEM 101
#define IDS_CONFIRM_UPGRADE 102
#define IDS_CLOSE_WHILE_DOWNLOADING 103
#define IDS_CLOSE_WHILE_UPLOADING 104
#define IDS_NO_IMAGE_FOLDER 105
#define IDS_NO_UPLOAD_FOLDER 106
#define IDS_DOWNLOAD_COMPLETE 107
#define IDS_DOWNLOAD_ERROR 108
#define IDS_SWITCHING_MODE 109
#define IDS_SWITCH_MODE_ERROR 110
#define IDS_DOWNLOAD_PROGRESS 111
#define IDS_PHONE_CONNECTED 112
#define IDS_PHONE_NOT_CONNECTED 113
#define IDS_PC_MANAGER_RUNNING 114

#define TEXT_ABOUT_MENU_ITEM "About Tamri(&A)..."
#define TEXT_CONFIRM_UPGRADE                                                                    \
  "Warning:\nClosing this program or removing the device during \nupgrading is still in progress " \
  "will damage the device.\nSure to upgrade?"
#define TEXT_CLOSE_WHILE_DOWNLOADING "Downloading is in progress! Exit anyway?\r\nWarning: this may corrupt the device!"
#define TEXT_CLOSE_WHILE_UPLOADING \
  "Upload Image upgrading is in progress! Exit anyway?\r\nWarning: this may corrupt the device!"
#define TEXT_NO_IMAGE_FOLDER \
  "Please download the firmware upgrade package and specify \nthe path of the phone image first! (eg. C:\\VOSM)"
#define TEXT_NO_UPLOAD_FOLDER                                                                         \
  "Please download the Upload image upgrade package and specify \nthe path of the Upload image first! " \
  "(eg. C:\\FILE_DEV)"
#define TEXT_DOWNLOAD_COMPLETE "download complete! resetting modem..."
#define TEXT_DOWNLOAD_ERROR "download error!"
#define TEXT_SWITCHING_MODE "switch to download mode, please wait..."
#define TEXT_SWITCH_MODE_ERROR "switch to download mode error!"
#define TEXT_DOWNLOAD_PROGRESS "download amss.mbn %d%%\r"
#define TEXT_PHONE_CONNECTED "Phone Connected Successfully!"
#define TEXT_PHONE_NOT_CONNECTED "Phone not Connected!"
#define TEXT_PC_MANAGER_RUNNING "PC Manager is running now, please close it before to run this program."

// The string table as one list: X(id, text).
#define TAMRI_STRING_TABLE(X)                                 \
  X(IDS_ABOUT_MENU_ITEM, TEXT_ABOUT_MENU_ITEM)                 \
  X(IDS_CONFIRM_UPGRADE, TEXT_CONFIRM_UPGRADE)                 \
  X(IDS_CLOSE_WHILE_DOWNLOADING, TEXT_CLOSE_WHILE_DOWNLOADING) \
  X(IDS_CLOSE_WHILE_UPLOADING, TEXT_CLOSE_WHILE_UPLOADING)     \
  X(IDS_NO_IMAGE_FOLDER, TEXT_NO_IMAGE_FOLDER)                 \
  X(IDS_NO_UPLOAD_FOLDER, TEXT_NO_UPLOAD_FOLDER)               \
  X(IDS_DOWNLOAD_COMPLETE, TEXT_DOWNLOAD_COMPLETE)             \
  X(IDS_DOWNLOAD_ERROR, TEXT_DOWNLOAD_ERROR)                   \
  X(IDS_SWITCHING_MODE, TEXT_SWITCHING_MODE)                   \
  X(IDS_SWITCH_MODE_ERROR, TEXT_SWITCH_MODE_ERROR)             \
  X(IDS_DOWNLOAD_PROGRESS, TEXT_DOWNLOAD_PROGRESS)             \
  X(IDS_PHONE_CONNECTED, TEXT_PHONE_CONNECTED)                 \
  X(IDS_PHONE_NOT_CONNECTED, TEXT_PHONE_NOT_CONNECTED)         \
  X(IDS_PC_MANAGER_RUNNING, TEXT_PC_MANAGER_RUNNING)
