#include "vendor_fixture.h"

#include <mutex>

#include "app/efs_write.h"
#include "app/vendor_library.h"
#include "plat/debug.h"
#include "ui/headless/dialog_driver.h"

namespace {

struct HostState {
  std::mutex mutex;
  std::string output;
  std::string dump;
  int keyAfter = 0;
  int keyChecks = 0;
  std::string programPath;
};

HostState& Host() {
  static HostState state;
  return state;
}

void Write(std::string_view text) {
  std::lock_guard lock(Host().mutex);
  Host().output.append(text);
}

bool KeyPressed() {
  std::lock_guard lock(Host().mutex);
  const int check = Host().keyChecks++;
  return Host().keyAfter >= 0 && check >= Host().keyAfter;
}

bool ProgramPath(std::string& path) {
  std::lock_guard lock(Host().mutex);
  if (Host().programPath.empty()) return false;
  path = Host().programPath;
  return true;
}

}  // namespace

VendorHostScript::VendorHostScript() {
  {
    HostState& host = Host();
    std::lock_guard lock(host.mutex);
    host.output.clear();
    host.dump.clear();
    host.keyAfter = 0;
    host.keyChecks = 0;
    host.programPath.clear();
  }
  VendorHost = VendorHostCalls{Write, KeyPressed, ProgramPath};
  plat::SetDebugSink([](plat::DebugChannel channel, std::string_view text) {
    if (channel != plat::DebugChannel::Dump) return;
    std::lock_guard lock(Host().mutex);
    Host().dump.append(text);
  });
}

VendorHostScript::~VendorHostScript() {
  plat::SetDebugSink(nullptr);
  VendorHost = RealVendorHostCalls();
}

std::string VendorHostScript::Output() const {
  std::lock_guard lock(Host().mutex);
  return Host().output;
}

void VendorHostScript::ClearOutput() {
  std::lock_guard lock(Host().mutex);
  Host().output.clear();
}

std::string VendorHostScript::Dump() const {
  std::lock_guard lock(Host().mutex);
  return Host().dump;
}

void VendorHostScript::ClearDump() {
  std::lock_guard lock(Host().mutex);
  Host().dump.clear();
}

void VendorHostScript::PressKeyAfter(int checks) {
  std::lock_guard lock(Host().mutex);
  Host().keyAfter = checks;
  Host().keyChecks = 0;
}

int VendorHostScript::KeyChecks() const {
  std::lock_guard lock(Host().mutex);
  return Host().keyChecks;
}

void VendorHostScript::SetProgramPath(const std::string& path) {
  std::lock_guard lock(Host().mutex);
  Host().programPath = path;
}

bool VendorDlg::OnCommand(uint32_t id) {
  switch (id) {
    case kConnectCommand:
      ConnectVendorLibrary();
      return true;
    case kStartEfsCommand:
      startResult = StartEfsWrite(efsPath.c_str(), localFile.c_str());
      return true;
    default:
      return CTamriDlg::OnCommand(id);
  }
}

VendorWindowTest::VendorWindowTest() {
  dialog_ = std::make_unique<VendorDlg>();
  VendorLibraryHandle = nullptr;
  EfsJob = EfsWriteJob{};
}

VendorWindowTest::~VendorWindowTest() {
  // The write thread ends before the phone behind it goes.
  efs_testing::JoinWriteThread();
  Finish();
  VendorLibraryHandle = nullptr;
}

void VendorWindowTest::Connect() {
  ui::headless::Command(window_, VendorDlg::kConnectCommand);
  ui::headless::Sync(window_);
}

int VendorWindowTest::StartEfs(const std::string& efsPath, const std::string& localFile) {
  Dialog().efsPath = efsPath;
  Dialog().localFile = localFile;
  Dialog().startResult = -1;
  ui::headless::Command(window_, VendorDlg::kStartEfsCommand);
  ui::headless::Sync(window_);
  return Dialog().startResult;
}
