// The main window on the headless backend over a scripted link: started on
// a UI thread of its own, fed indications, read and driven as a person
// would.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "app/TamriDlg.h"
#include "box_script.h"
#include "scripted_link.h"
#include "ui/headless/dialog_driver.h"

// A 120-byte version record whose second field is `version` (cut to its
// 30 bytes, with no NUL when it fills them).
std::string VersionRecordWith(const std::string& version);

// A fresh settings folder for one test, removed afterwards.
class TempSettings {
 public:
  TempSettings();
  ~TempSettings();
  const std::filesystem::path& Folder() const { return folder_; }
  // Writes `value` under `key` of `section` in the program's settings file.
  void Set(const std::string& section, const std::string& key, const std::string& value);
  std::string Get(const std::string& section, const std::string& key) const;

 private:
  std::filesystem::path folder_;
};

class WindowTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kWaitMs = 10000;

  WindowTest();
  ~WindowTest() override;

  // Runs the window on its UI thread and waits until it is up and has
  // drained what was queued before it.
  void Start();
  // Ends the dialog (if it still runs) and waits for the UI thread.
  void Finish();
  bool Ended(uint32_t ms = kWaitMs);

  // Queues an indication and waits until the window has handled it.
  void Indicate(int id, const std::string& payload);
  void Indicate(int id, std::initializer_list<uint8_t> payload);
  void Settle();

  std::string Status();
  bool Enabled(int id);
  ui::headless::ControlView ControlOf(int id);

  // Drives the machine to the found device with `version` through a scan
  // that found both ports.
  void FindWithVersion(const std::string& version);

  TempSettings settings_;
  ScriptedLink link_;
  BoxScript boxes_;
  std::unique_ptr<CTamriDlg> dialog_;
  ui::WindowHandle window_ = ui::NoWindow;

 private:
  std::thread ui_;
};
