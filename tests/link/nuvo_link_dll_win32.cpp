// The link layer's Windows module as another program uses it: nuvo_link.dll
// loaded at run time, its seventeen exports found under their decorated
// names and under their ordinals, an event of this program registered and
// set by the module, the module's first indications read, and the module
// let go (and the program ended) without a hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "plat/dynamic_library.h"
#include "plat/event.h"

namespace {

// The module's own ids, as its user knows them.
constexpr int kModemDetect = 162;
constexpr int kPortScanResult = 195;

// In the order of their ordinals, 1 to 17: Dll_SetNotify under its plain
// name, the standard-call functions decorated with their argument bytes.
const char* const kExports[] = {
    "_Dll_Connect@12",           "_Dll_Disconnect@4",         "_Dll_GetDiagModeReq@0",
    "_Dll_GetDiagportReq@0",     "_Dll_GetFactoryModeReq2@0", "_Dll_GetFactoryModeReq@0",
    "_Dll_IsDualPort@0",         "_Dll_ReadDate@12",          "_Dll_SearchPort@0",
    "_Dll_SetDualChannelReq@0",  "_Dll_SetFactoryModeReq2@4", "_Dll_SetFactoryModeReq@4",
    "Dll_SetNotify",             "_Dll_SetRFFuncReq@4",       "_Dll_TurnDiagnosticOn2Req@4",
    "_Dll_TurnDiagnosticOnOffReq@12", "_Dll_VersionReq@0",
};

using SetNotifyFn = int(__cdecl*)(void*);
using ReadDateFn = bool(__stdcall*)(int*, char*, int*);
using SearchPortFn = bool(__stdcall*)();

// The build knows the module by its path on the build machine; under wine
// that machine's root is drive Z.
std::string ModulePath() {
  std::string path = NUVO_LINK_DLL;
  if (!path.empty() && path.front() == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
  return path;
}

struct Indication {
  int id;
  std::string payload;
};

TEST(NuvoLinkDll, ExportsByNameAndOrdinalAndSetsTheUsersEvent) {
  plat::DynamicLibrary module;
  ASSERT_TRUE(module.Open(ModulePath())) << module.Error() << " " << ModulePath();

  // An event of ours, clear: only the module can set it.
  plat::Event event;
  ASSERT_TRUE(event.Create(true, false));
  const auto setNotify = reinterpret_cast<SetNotifyFn>(module.Symbol("Dll_SetNotify"));
  ASSERT_NE(setNotify, nullptr);
  ASSERT_EQ(setNotify(event.NotifyHandle()), 1);

  for (size_t i = 0; i < std::size(kExports); ++i) {
    void* const byName = module.Symbol(kExports[i]);
    EXPECT_NE(byName, nullptr) << kExports[i];
    EXPECT_EQ(module.SymbolByOrdinal(static_cast<unsigned>(i + 1)), byName) << kExports[i];
  }
  EXPECT_EQ(module.SymbolByOrdinal(18), nullptr);
  // Nothing under other names: not the plain names of the standard-call
  // functions, not the decorated one of the C function, nothing else of ours.
  for (const char* absent : {"Dll_Connect", "Dll_ReadDate", "_Dll_SetNotify", "SetDllLink"}) {
    EXPECT_EQ(module.Symbol(absent), nullptr) << absent;
  }

  // The modem detection at start queues an indication. Whether it came
  // before the registration or after, the search asked for now reports
  // after it: the event is set at least once from here on.
  const auto readDate = reinterpret_cast<ReadDateFn>(module.Symbol("_Dll_ReadDate@12"));
  const auto searchPort = reinterpret_cast<SearchPortFn>(module.Symbol("_Dll_SearchPort@0"));
  ASSERT_NE(readDate, nullptr);
  ASSERT_NE(searchPort, nullptr);
  ASSERT_TRUE(searchPort());

  std::vector<Indication> taken;
  const auto has = [&taken](int id) {
    return std::any_of(taken.begin(), taken.end(), [id](const Indication& i) { return i.id == id; });
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool woken = false;
  while (!(has(kModemDetect) && has(kPortScanResult))) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    ASSERT_GT(left.count(), 0) << "indications taken: " << taken.size();
    if (event.Wait(static_cast<uint32_t>(left.count())) != plat::WaitResult::Signaled) continue;
    woken = true;
    event.Reset();
    int id = 0;
    int length = 0;
    char data[1024];
    while (readDate(&id, data, &length)) taken.push_back({id, std::string(data, static_cast<size_t>(length))});
  }
  EXPECT_TRUE(woken);
  for (const Indication& indication : taken) {
    if (indication.id == kModemDetect) {
      EXPECT_EQ(indication.payload.size(), 1u);
    } else if (indication.id == kPortScanResult) {
      EXPECT_EQ(indication.payload.size(), 2u);
    }
  }

  // The module stays loaded with its threads; closing the handle and ending
  // the program do not wait on them under the loader's lock.
  module.Close();
}

}  // namespace
