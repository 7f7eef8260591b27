// What the vendor-library tests share: standard output and the debug dump
// captured, the key that ends ReportVersion's wait and the program's own
// path scripted, and the main window with two test commands that run
// CTamriDlg::ConnectVendorLibrary and CTamriDlg::StartEfsWrite on its UI
// thread (no control of the window reaches them).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "app/TamriDlg.h"
#include "vendor/testing/scripted_phone.h"
#include "window_fixture.h"

// Installs the test's host calls for its lifetime: standard output and the
// debug dump go to buffers, the key is pressed after a number of checks,
// and the program's executable is a path the test names.
class VendorHostScript {
 public:
  VendorHostScript();
  ~VendorHostScript();
  VendorHostScript(const VendorHostScript&) = delete;
  VendorHostScript& operator=(const VendorHostScript&) = delete;

  std::string Output() const;
  void ClearOutput();
  std::string Dump() const;
  void ClearDump();
  // The key check answers false `checks` times, then true; -1 never.
  void PressKeyAfter(int checks);
  int KeyChecks() const;
  // The program's executable path; empty: unknown.
  void SetProgramPath(const std::string& path);
};

// The main window with the test commands.
class VendorDlg : public CTamriDlg {
 public:
  static constexpr uint32_t kConnectCommand = 0x7E01;
  static constexpr uint32_t kStartEfsCommand = 0x7E02;

  std::string efsPath;
  std::string localFile;
  std::atomic<int> startResult{-1};

 protected:
  bool OnCommand(uint32_t id) override;
};

class VendorWindowTest : public WindowTest {
 protected:
  VendorWindowTest();
  ~VendorWindowTest() override;

  VendorDlg& Dialog() { return static_cast<VendorDlg&>(*dialog_); }
  // Runs ConnectVendorLibrary on the UI thread and waits for it.
  void Connect();
  // Runs StartEfsWrite on the UI thread; its result.
  int StartEfs(const std::string& efsPath, const std::string& localFile);

  qlib_testing::ScriptedPhone phone_;
  VendorHostScript host_;
};
