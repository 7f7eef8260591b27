// The stand-in library as the program's loader meets it: the module under
// the original's file name, loaded at run time, with the 21 QLIB_ functions
// exported under their plain names, and its default backend, which finds
// no phone server; a backend put in forwards, and the default comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "plat/dynamic_library.h"
#include "vendor/qlib.h"
#include "vendor/qlib_backend.h"

namespace {

// The build knows the module by its path on the build machine; under wine
// that machine's root is drive Z.
std::string ModulePath() {
  std::string path = QMSL_MODULE;
#if defined(_WIN32)
  if (!path.empty() && path.front() == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
#endif
  return path;
}

const char* const kExports[] = {
    "QLIB_SetLibraryMode", "QLIB_GetLibraryVersion", "QLIB_GetLibraryCapabilities", "QLIB_ConnectServer",
    "QLIB_ConfigureCallBacks", "QLIB_ConfigureEfs2CallBacks", "QLIB_ConfigureLibraryTextLogCallBack",
    "QLIB_SetDTR_State", "QLIB_FlushRxBuffer", "QLIB_IsPhoneConnected", "QLIB_GetComPortNumber",
    "QLIB_GetQpstPhoneStatus", "QLIB_DIAG_STATUS_F", "QLIB_DIAG_NV_READ_F", "QLIB_DIAG_VERNO_F",
    "QLIB_DIAG_EXT_BUILD_ID_F", "QLIB_DisconnectServer", "QLIB_DisconnectAllServers",
    "QLIB_SetEfsReadAndWritePacketSize", "QLIB_SetSendDataSerialWriteSizeLimit", "QLIB_EfsWrite",
};

// A function of the module by its name, typed as its declaration (which
// is only looked at, never linked against).
#define SYMBOL(name) Get<decltype(&name)>(#name)

class StandInModule : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module_.Open(ModulePath())) << module_.Error() << " " << ModulePath(); }

  template <typename Pointer>
  Pointer Get(const char* name) {
    auto symbol = reinterpret_cast<Pointer>(module_.Symbol(name));
    EXPECT_NE(symbol, nullptr) << name;
    return symbol;
  }

  plat::DynamicLibrary module_;
};

TEST_F(StandInModule, ExportsEveryQlibFunctionByName) {
  static_assert(sizeof kExports / sizeof kExports[0] == 21);
  for (const char* name : kExports) EXPECT_NE(module_.Symbol(name), nullptr) << name;
  EXPECT_NE(module_.Symbol("QlibStandIn_SetBackend"), nullptr);
}

TEST_F(StandInModule, TheDefaultBackendFindsNoPhoneServer) {
  const auto connect = SYMBOL(QLIB_ConnectServer);
  const auto version = SYMBOL(QLIB_GetLibraryVersion);
  const auto capabilities = SYMBOL(QLIB_GetLibraryCapabilities);
  const auto connected = SYMBOL(QLIB_IsPhoneConnected);
  const auto port = SYMBOL(QLIB_GetComPortNumber);
  const auto qpst = SYMBOL(QLIB_GetQpstPhoneStatus);
  const auto diagStatus = SYMBOL(QLIB_DIAG_STATUS_F);
  const auto nvRead = SYMBOL(QLIB_DIAG_NV_READ_F);
  const auto extBuild = SYMBOL(QLIB_DIAG_EXT_BUILD_ID_F);
  const auto configure = SYMBOL(QLIB_ConfigureCallBacks);
  const auto packetSize = SYMBOL(QLIB_SetEfsReadAndWritePacketSize);
  const auto efsWrite = SYMBOL(QLIB_EfsWrite);
  const auto disconnect = SYMBOL(QLIB_DisconnectServer);
  const auto disconnectAll = SYMBOL(QLIB_DisconnectAllServers);
  ASSERT_FALSE(HasFailure());

  EXPECT_EQ(connect(kQlibAutoPort), nullptr);
  EXPECT_EQ(connect(3), nullptr);

  char text[kQlibVersionSize];
  std::memset(text, 'x', sizeof text);
  version(text);
  ASSERT_NE(std::memchr(text, '\0', sizeof text), nullptr);
  EXPECT_STREQ(text, QLIB_STAND_IN_VERSION);

  unsigned char flags[4] = {1, 1, 1, 1};
  capabilities(&flags[0], &flags[1], &flags[2], &flags[3]);
  EXPECT_EQ(flags[3], 0) << "no software-download events";

  EXPECT_EQ(connected(nullptr), 0);
  unsigned short comPort = 1234;
  EXPECT_EQ(port(nullptr, &comPort), 0);
  EXPECT_EQ(comPort, kQlibAutoPort);
  uint32_t mode = 5;
  EXPECT_EQ(qpst(nullptr, &mode), 0);
  unsigned char status = 99;
  EXPECT_EQ(diagStatus(nullptr, &status), 0);
  EXPECT_EQ(status, 99);
  unsigned char ftm = 0;
  unsigned short nvStatus = 0;
  EXPECT_EQ(nvRead(nullptr, 453, &ftm, 1, &nvStatus), 0);
  uint32_t hardware = 0, model = 0;
  char revision[kQlibBuildIdTextSize] = {};
  char modelId[kQlibBuildIdTextSize] = {};
  EXPECT_EQ(extBuild(nullptr, &hardware, &model, revision, modelId), 0);
  EXPECT_EQ(configure(nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(packetSize(nullptr, 1000, 1500), 0);
  EXPECT_EQ(efsWrite(nullptr, "local", "/efs"), 0);
  disconnect(nullptr);
  disconnectAll();
}

QlibHandle QLIB_CALL SevenServer(unsigned short) { return reinterpret_cast<QlibHandle>(7); }

TEST_F(StandInModule, ABackendPutInIsForwardedToAndTheDefaultComesBack) {
  const auto setBackend = SYMBOL(QlibStandIn_SetBackend);
  const auto connect = SYMBOL(QLIB_ConnectServer);
  const auto connected = SYMBOL(QLIB_IsPhoneConnected);
  ASSERT_FALSE(HasFailure());

  // Only one entry: the others keep the default's behaviour.
  QlibBackend backend{};
  backend.ConnectServer = SevenServer;
  const QlibBackend* before = setBackend(&backend);
  EXPECT_NE(before, nullptr);
  EXPECT_EQ(connect(kQlibAutoPort), reinterpret_cast<QlibHandle>(7));
  EXPECT_EQ(connected(reinterpret_cast<QlibHandle>(7)), 0);
  EXPECT_EQ(setBackend(nullptr), &backend);
  EXPECT_EQ(connect(kQlibAutoPort), nullptr);
}

}  // namespace
