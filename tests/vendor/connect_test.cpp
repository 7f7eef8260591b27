// Connecting the window to the vendor library: the calls in their order,
// the callbacks registered whatever the handle, each way the connection
// ends (no server, the phone at the first or the second look, no phone),
// the status line, and the disconnect that keeps the handle.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "app/efs_write.h"
#include "app/vendor_library.h"
#include "res/resource.h"
#include "ui/headless/dialog_driver.h"
#include "vendor_fixture.h"

namespace {

QlibHandle HandleOf(uintptr_t value) { return reinterpret_cast<QlibHandle>(value); }

class ConnectTest : public VendorWindowTest {
 protected:
  void SetUp() override {
    host_.PressKeyAfter(0);
    Start();
  }
  std::vector<std::string> FirstCalls(std::size_t count) const {
    std::vector<std::string> calls = phone_.CallTexts();
    calls.resize(std::min(count, calls.size()));
    return calls;
  }
};

const std::string kReportStart = "\n----------------\nVersion Report\n----------------\n";

struct ConnectCase {
  const char* name;
  uintptr_t handle;
  std::vector<bool> connected;
  std::string output;  // what is printed before the version report, or all of it
  bool reports;
  std::string status;
};

TEST_F(ConnectTest, EachWayAConnectionEnds) {
  const std::vector<ConnectCase> cases = {
      {"no server", 0, {true}, "\nServer connection: FAIL\n", false, "Server connection Failed!"},
      {"the phone at the first look", 1, {true}, "\nContext creation: PASS\n", true, TEXT_PHONE_CONNECTED},
      {"the phone at the second look", 1, {false, true},
       "\nContext creation: PASS\n\nPhone Connection Status: PASS\n", true, TEXT_PHONE_CONNECTED},
      {"no phone", 1, {false}, "\nContext creation: PASS\n\nPhone Connection Status: FAIL\n", false,
       TEXT_PHONE_NOT_CONNECTED},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.name);
    phone_.ClearCalls();
    host_.ClearOutput();
    phone_.SetConnectHandles({c.handle});
    phone_.SetPhoneConnected(c.connected);
    Connect();
    EXPECT_EQ(VendorLibraryHandle.load(), HandleOf(c.handle));
    const std::string h = std::to_string(c.handle);
    EXPECT_EQ(FirstCalls(7), (std::vector<std::string>{
                                 "SetLibraryMode(0)", "GetLibraryVersion(set)", "GetLibraryCapabilities(0,0,0,0)",
                                 "ConnectServer(65535)", "ConfigureCallBacks(" + h + ",null,null,set)",
                                 "ConfigureEfs2CallBacks(" + h + ",set,set)",
                                 "ConfigureLibraryTextLogCallBack(" + h + ",set)"}));
    if (c.handle == 0) {
      EXPECT_EQ(phone_.CallTexts().size(), 7u) << "nothing follows a failed connect";
    } else {
      const std::vector<std::string> calls = phone_.CallTexts();
      ASSERT_GE(calls.size(), 10u);
      EXPECT_EQ(std::vector<std::string>(calls.begin() + 7, calls.begin() + 10),
                (std::vector<std::string>{"SetDTR_State(1,1)", "FlushRxBuffer(1)", "IsPhoneConnected(1)"}));
    }
    const std::string output = host_.Output();
    if (c.reports) {
      EXPECT_EQ(output.substr(0, c.output.size() + kReportStart.size()), c.output + kReportStart);
    } else {
      EXPECT_EQ(output, c.output);
    }
    EXPECT_EQ(Status(), c.status);
    EXPECT_EQ(dialog_->StatusText, c.status);
  }
}

TEST_F(ConnectTest, TheRegisteredCallbacksAreTheWindowsAndPrintWhenFired) {
  Connect();
  EXPECT_EQ(phone_.AsyncMessageCallback(), &AsyncMessageCallback);
  EXPECT_EQ(phone_.EfsTransferCallback(), &EfsTransferStatusCallback);
  EXPECT_EQ(phone_.EfsDirectoryCallback(), &EfsDirectoryCallback);
  EXPECT_EQ(phone_.TextLogCallback(), &LibraryTextLogCallback);
  host_.ClearOutput();
  ASSERT_NE(phone_.EfsDirectoryCallback(), nullptr);
  EXPECT_EQ(phone_.EfsDirectoryCallback()("/nv/x", 0, 1, 2, 3, 4, 5, 6), 1);
  const std::string start = "-----------------\n          Name: /nv/x\n";
  EXPECT_EQ(host_.Output().substr(0, start.size()), start);
  EfsDirectoryCount = 0;
}

TEST_F(ConnectTest, TheSoftwareDownloadCallbackOnlyWithTheFourthCapability) {
  const std::vector<std::pair<std::array<unsigned char, 4>, bool>> cases = {
      {{0, 0, 0, 0}, false}, {{1, 1, 1, 0}, false}, {{0, 0, 0, 1}, true}, {{0, 0, 0, 0xFF}, true}};
  for (const auto& [flags, registered] : cases) {
    SCOPED_TRACE(registered);
    phone_.ClearCalls();
    phone_.SetCapabilities(flags);
    Connect();
    EXPECT_EQ(phone_.CallsOf("ConfigureCallBacks").at(0).text,
              registered ? "ConfigureCallBacks(1,null,set,set)" : "ConfigureCallBacks(1,null,null,set)");
    EXPECT_EQ(phone_.SoftwareDownloadCallback(), registered ? &SoftwareDownloadEventCallback : nullptr);
  }
}

TEST_F(ConnectTest, TheFolderTypedBeforeAConnectStaysInItsBox) {
  ui::headless::Type(window_, IDC_IMAGE_FOLDER, "/work/package");
  Connect();
  EXPECT_EQ(ControlOf(IDC_IMAGE_FOLDER).text, "/work/package");
  EXPECT_EQ(dialog_->ImageFolder, "/work/package");
}

TEST_F(ConnectTest, DisconnectingEndsEveryConnectionAndKeepsTheHandle) {
  phone_.SetConnectHandles({4});
  Connect();
  phone_.ClearCalls();
  dialog_->DisconnectVendorLibrary();
  EXPECT_EQ(phone_.CallTexts(), (std::vector<std::string>{"DisconnectServer(4)", "DisconnectAllServers"}));
  EXPECT_EQ(VendorLibraryHandle.load(), HandleOf(4));
}

}  // namespace
