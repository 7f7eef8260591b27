// The link layer's module as another program uses it: loaded at run time,
// its seventeen Dll_ functions looked up by name, and a search, a connect and
// a version request made through them against the simulated device.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "api_user.h"
#include "plat/clock.h"
#include "plat/dynamic_library.h"
#include "plat/environment.h"
#include "plat/event.h"
#include "sim/device.h"
#include "support/foreign_notify.h"
#include "support/port_kit.h"
#include "support/wait.h"

namespace {

using linktest::Indication;

// The module's own ids, as its user knows them.
constexpr int kOk = 100;
constexpr int kVersion = 153;
constexpr int kModemDetect = 162;
constexpr int kPortScanResult = 195;
constexpr int kScale = 5;

const char* const kNames[] = {
    "Dll_Connect",           "Dll_Disconnect",         "Dll_GetDiagModeReq",         "Dll_GetDiagportReq",
    "Dll_GetFactoryModeReq2", "Dll_GetFactoryModeReq", "Dll_IsDualPort",             "Dll_ReadDate",
    "Dll_SearchPort",        "Dll_SetDualChannelReq",  "Dll_SetFactoryModeReq2",     "Dll_SetFactoryModeReq",
    "Dll_SetNotify",         "Dll_SetRFFuncReq",       "Dll_TurnDiagnosticOn2Req",   "Dll_TurnDiagnosticOnOffReq",
    "Dll_VersionReq",
};

using SetNotifyFn = int (*)(void*);
using ConnectFn = bool (*)(int, int, void*);
using ReadDateFn = bool (*)(int*, char*, int*);
using NoArgumentFn = bool (*)();
using GetterFn = int (*)();

template <typename F>
F Fn(const plat::DynamicLibrary& module, const char* name) {
  return reinterpret_cast<F>(module.Symbol(name));
}

class LinkModule : public testing::Test {
 protected:
  void SetUp() override {
    savedScale_ = plat::TimeScale();
    plat::SetTimeScale(kScale);
    // The module has a platform layer of its own, which takes its root and
    // time scale from the environment when it loads.
    ASSERT_TRUE(plat::SetEnvironment("TAMRI_DEVICE_ROOT", root_.Path()));
    ASSERT_TRUE(plat::SetEnvironment("TAMRI_TIME_SCALE", std::to_string(kScale)));
  }
  void TearDown() override {
    module_.Close();  // its link layer ends its threads as at process exit
    device_.reset();
    plat::SetEnvironment("TAMRI_DEVICE_ROOT", "");
    plat::SetEnvironment("TAMRI_TIME_SCALE", "");
    plat::SetTimeScale(savedScale_);
  }

  int savedScale_ = 1;
  testkit::TempDeviceRoot root_;
  std::unique_ptr<sim::Device> device_;
  plat::DynamicLibrary module_;
};

TEST_F(LinkModule, DrivesTheDeviceThroughTheExportedFunctions) {
  sim::Config config;
  config.com = 7;
  config.profile = sim::Profile::SingleModem;
  config.flashPath = root_.Path() + "/flash.bin";
  config.versionText = "M6275A-V9";
  device_ = std::make_unique<sim::Device>(config);
  std::string error;
  ASSERT_TRUE(device_->Start(&error)) << error;
  ASSERT_TRUE(device_->WaitForListed(true, 10000));

  ASSERT_TRUE(module_.Open(NUVO_LINK_MODULE)) << module_.Error();
  for (const char* name : kNames) EXPECT_NE(module_.Symbol(name), nullptr) << name;
  EXPECT_EQ(module_.Symbol("SetDllLink"), nullptr);  // nothing else of ours

  // The module's platform layer is a copy of its own; the handle of an event
  // of ours is still one it can set, and it is what wakes this user.
  e2e::ApiUser<ReadDateFn> user(Fn<ReadDateFn>(module_, "Dll_ReadDate"));
  ASSERT_EQ(Fn<SetNotifyFn>(module_, "Dll_SetNotify")(user.Handle()), 1);
  EXPECT_EQ(user.Until(kModemDetect), std::vector<Indication>{e2e::One(kModemDetect, 1)});

  ASSERT_TRUE(Fn<NoArgumentFn>(module_, "Dll_SearchPort")());
  EXPECT_EQ(user.Until(kPortScanResult), (std::vector<Indication>{{kPortScanResult, "\x03\x02"}}));
  EXPECT_EQ(Fn<GetterFn>(module_, "Dll_GetDiagportReq")(), 7);

  ASSERT_TRUE(Fn<ConnectFn>(module_, "Dll_Connect")(0, 0, user.Handle()));
  ASSERT_TRUE(Fn<NoArgumentFn>(module_, "Dll_VersionReq")());
  const std::vector<Indication> version = user.Until(kOk);
  ASSERT_EQ(version.size(), 2u);
  EXPECT_EQ(version[0].id, kVersion);
  ASSERT_EQ(version[0].payload.size(), 120u);
  EXPECT_EQ(std::string(version[0].payload.c_str() + 30), "M6275A-V9");
  EXPECT_EQ(version[1], (Indication{kOk, "OK"}));
}

// Takes indications by polling, as a caller whose handle wakes nobody must,
// until one with `id` came; false when none did within 20 real seconds.
bool PolledUntil(ReadDateFn readDate, int id) {
  return testkit::Eventually(
      [&] {
        int got = 0;
        int length = 0;
        char data[1024];
        while (readDate(&got, data, &length)) {
          if (got == id) return true;
        }
        return false;
      },
      std::chrono::seconds(20));
}

// The module's platform layer checks the handle it is given: a record that a
// caller in another language made is set, and a value that is no handle is
// ignored while the link goes on. No device: each scan reports no port. The
// module stays loaded from one test to the next, so this one polls and
// expects nothing of what came before.
TEST_F(LinkModule, SetsAForeignRecordAndIgnoresWhatIsNoHandle) {
  ASSERT_TRUE(module_.Open(NUVO_LINK_MODULE)) << module_.Error();
  const auto setNotify = Fn<SetNotifyFn>(module_, "Dll_SetNotify");
  const auto searchPort = Fn<NoArgumentFn>(module_, "Dll_SearchPort");
  const auto readDate = Fn<ReadDateFn>(module_, "Dll_ReadDate");
  static unsigned char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  void* const foreign = ForeignNotifyMake(1);
  ASSERT_NE(foreign, nullptr);

  for (void* const notAHandle : {reinterpret_cast<void*>(0x10), static_cast<void*>(garbage)}) {
    ASSERT_EQ(setNotify(notAHandle), 1);
    ASSERT_TRUE(searchPort());
    EXPECT_TRUE(PolledUntil(readDate, kPortScanResult));
  }
  ASSERT_EQ(setNotify(foreign), 1);
  ASSERT_TRUE(searchPort());
  EXPECT_TRUE(PolledUntil(readDate, kPortScanResult));
  // The record is set right after the result was queued.
  EXPECT_TRUE(testkit::Eventually([&] { return ForeignNotifySets(foreign) >= 1; }));
}

}  // namespace
