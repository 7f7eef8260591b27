// A notify handle comes from outside (another copy of the platform layer, a
// caller in another language, or a mistake): only a record of the published
// layout has its function called, and any other value is ignored without
// being read where it cannot be read, as Windows ignores a bad HANDLE.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "plat/event.h"
#include "plat/guarded_bytes.h"
#include "plat/notify_record.h"
#include "posix/event_internal.h"
#include "support/foreign_notify.h"

namespace {

using plat::posix::CopyIfReadable;
using plat::posix::Probe;

const size_t kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));

// A page that was mapped and is no longer.
void* UnmappedPage() {
  void* page = mmap(nullptr, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  EXPECT_NE(page, MAP_FAILED);
  munmap(page, kPage);
  return page;
}

// ---------------------------------------------------------------------------
// Reading memory that may not be readable, by each probe.

struct ProbeCase {
  const char* name;
  Probe probe;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.name; }

class Probes : public testing::TestWithParam<ProbeCase> {};

TEST_P(Probes, CopyWhatIsReadableAndRefuseTheRestWithoutAFault) {
  const Probe probe = GetParam().probe;
  const std::string bytes = "the 32 bytes a record takes here";
  plat::GuardedBytes guarded(kPage);
  ASSERT_TRUE(guarded.Valid());
  const char* atEnd = guarded.Place(bytes.data(), bytes.size());  // its last byte is the last readable one
  ASSERT_NE(atEnd, nullptr);

  for (const char* readable : {bytes.data(), atEnd}) {
    char out[32] = {};
    EXPECT_TRUE(CopyIfReadable(readable, out, sizeof out, probe));
    EXPECT_EQ(std::string(out, sizeof out), bytes);
  }
  const struct {
    const char* name;
    const void* address;
  } unreadable[] = {
      {"null", nullptr},
      {"low", reinterpret_cast<const void*>(0x10)},
      {"unmapped", UnmappedPage()},
      {"guard page", atEnd + bytes.size()},
      {"into the guard page", atEnd + 8},
      {"kernel", reinterpret_cast<const void*>(~uintptr_t{0} - 15)},
  };
  for (const auto& c : unreadable) {
    SCOPED_TRACE(c.name);
    char out[32] = {};
    EXPECT_FALSE(CopyIfReadable(c.address, out, sizeof out, probe));
  }
}

INSTANTIATE_TEST_SUITE_P(NotifyRecord, Probes,
                         testing::Values(ProbeCase{"Any", Probe::Any}, ProbeCase{"VmRead", Probe::VmRead},
                                         ProbeCase{"Pipe", Probe::Pipe}),
                         [](const auto& info) { return std::string(info.param.name); });

// A sandbox's system-call filter may refuse process_vm_readv; the check then
// reads through a pipe instead of refusing every handle (which would leave
// the caller never woken). Run in a child process, which the filter binds.
TEST(NotifyRecord, WhereTheKernelCopyIsRefusedAPipeMakesIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto refuseVmReadAndCheck = [] {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_process_vm_readv, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      std::perror("seccomp");
      std::_Exit(2);
    }
    const uint64_t readable = 7;
    uint64_t out = 0;
    if (CopyIfReadable(&readable, &out, sizeof out, Probe::VmRead)) std::_Exit(3);  // the filter is not in force
    void* const foreign = ForeignNotifyMake(1);
    if (!plat::SetNotifyHandle(foreign) || ForeignNotifySets(foreign) != 1) std::_Exit(4);
    if (plat::SetNotifyHandle(reinterpret_cast<void*>(0x10)) || plat::SetNotifyHandle(UnmappedPage())) std::_Exit(5);
    std::_Exit(0);
  };
  EXPECT_EXIT(refuseVmReadAndCheck(), testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// What SetNotifyHandle takes.

// Counts calls, for records whose function must never be called.
std::atomic<int> strayCalls{0};
int CountStray(void*) {
  ++strayCalls;
  return 1;
}

NuvoNotifyRecord RecordAt(const void* self, uint32_t version = NUVO_NOTIFY_VERSION) {
  return {NUVO_NOTIFY_MAGIC, version, static_cast<const NuvoNotifyRecord*>(self), &CountStray, nullptr};
}

// A record of a foreign caller, made by hand from the public header alone.
TEST(NotifyRecord, AForeignRecordIsAcceptedAndItsFunctionCalled) {
  for (const int result : {1, 0}) {
    SCOPED_TRACE(result);
    void* const handle = ForeignNotifyMake(result);
    ASSERT_NE(handle, nullptr);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(plat::SetNotifyHandle(handle), result != 0);
    EXPECT_EQ(ForeignNotifySets(handle), 2);
  }
}

// The last bytes of a mapping are readable: a record that ends there is one.
TEST(NotifyRecord, ARecordEndingAtTheLastReadableByteIsAccepted) {
  plat::GuardedBytes guarded(kPage);
  ASSERT_TRUE(guarded.Valid());
  const NuvoNotifyRecord blank{};
  auto* place = reinterpret_cast<NuvoNotifyRecord*>(const_cast<char*>(guarded.Place(&blank, sizeof blank)));
  ASSERT_NE(place, nullptr);
  *place = RecordAt(place);
  const int before = strayCalls;
  EXPECT_TRUE(plat::SetNotifyHandle(place));
  EXPECT_EQ(strayCalls, before + 1);
}

TEST(NotifyRecord, AnythingElseIsIgnoredWithoutAFaultOrACall) {
  plat::GuardedBytes guarded(kPage);
  ASSERT_TRUE(guarded.Valid());
  const NuvoNotifyRecord blank{};
  const char* const guardPage = guarded.Place(&blank, sizeof blank) + sizeof blank;

  // A record cut by the guard page: all but its last field readable.
  const size_t cutLength = offsetof(NuvoNotifyRecord, context);
  auto* cut = reinterpret_cast<NuvoNotifyRecord*>(const_cast<char*>(guardPage - cutLength));
  {
    const NuvoNotifyRecord whole = RecordAt(cut);
    std::memcpy(cut, &whole, cutLength);
  }
  // Memory that holds a record's bytes but is not where they say they are.
  static NuvoNotifyRecord original = RecordAt(&original);
  static NuvoNotifyRecord copy = original;
  static NuvoNotifyRecord elsewhere = RecordAt(&original);
  // Another layout version of this one, and the layout before it (another
  // magic with the version in its low byte, no version field, no self).
  static NuvoNotifyRecord older = RecordAt(&older, 0);
  static NuvoNotifyRecord newer = RecordAt(&newer, NUVO_NOTIFY_VERSION + 1);
  struct FirstLayout {
    uint32_t magic;
    int (*set)(void*);
    void* context;
  };
  static FirstLayout first{0x4E544602u, &CountStray, nullptr};
  // Readable memory of no record: zeros, and bytes of every value.
  static uint64_t zeros[8] = {};
  static unsigned char garbage[64];
  for (size_t i = 0; i < sizeof garbage; ++i) garbage[i] = static_cast<unsigned char>(i * 37 + 11);
  // An event's own handle, one byte off.
  plat::Event event;
  ASSERT_TRUE(event.Create(true, false));
  char* const own = static_cast<char*>(event.NotifyHandle());

  const struct {
    const char* name;
    void* handle;
  } cases[] = {
      {"low", reinterpret_cast<void*>(0x10)},
      {"unmapped", UnmappedPage()},
      {"guard page", const_cast<char*>(guardPage)},
      {"cut by the guard page", cut},
      {"misaligned", own + 1},
      {"misaligned into the guard page", const_cast<char*>(guardPage - 4)},
      {"kernel", reinterpret_cast<void*>(~uintptr_t{0} & ~uintptr_t{7})},
      {"copy", &copy},
      {"self elsewhere", &elsewhere},
      {"older version", &older},
      {"newer version", &newer},
      {"first layout", &first},
      {"zeros", zeros},
      {"garbage", garbage},
  };
  const int before = strayCalls;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(plat::SetNotifyHandle(c.handle));
  }
  EXPECT_EQ(strayCalls, before);
  EXPECT_EQ(event.Wait(0), plat::WaitResult::Timeout);
  // The record the copies were taken from is one.
  EXPECT_TRUE(plat::SetNotifyHandle(&original));
  EXPECT_EQ(strayCalls, before + 1);
}

}  // namespace
