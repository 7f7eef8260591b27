// The four printing callbacks as the library calls them: every software
// download event type, the trace flags, the directory table's limits, and
// records whose texts run to their field's end without a NUL (the records
// are allocated at their exact size, so a read past one is caught).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/vendor_library.h"
#include "vendor_fixture.h"

namespace {

// A zeroed record of exactly its size, filled at byte offsets as the
// library lays it out.
template <typename Record>
class Bytes {
 public:
  Bytes() : record_(std::make_unique<Record>()) { std::memset(record_.get(), 0, sizeof(Record)); }
  Bytes& Put32(std::size_t offset, int32_t value) { return Put(offset, &value, 4); }
  Bytes& Put16(std::size_t offset, uint16_t value) { return Put(offset, &value, 2); }
  Bytes& Put8(std::size_t offset, uint8_t value) { return Put(offset, &value, 1); }
  // The text's bytes, with no NUL of ours.
  Bytes& PutText(std::size_t offset, const std::string& text) { return Put(offset, text.data(), text.size()); }
  const Record* get() const { return record_.get(); }

 private:
  Bytes& Put(std::size_t offset, const void* data, std::size_t count) {
    EXPECT_LE(offset + count, sizeof(Record));
    std::memcpy(reinterpret_cast<char*>(record_.get()) + offset, data, count);
    return *this;
  }
  std::unique_ptr<Record> record_;
};

using Event = Bytes<SoftwareDownloadEvent>;

class CallbackTest : public ::testing::Test {
 protected:
  CallbackTest() {
    AsyncMessageTrace = 0;
    TextLogTrace = 0;
    EfsDirectoryCount = 0;
    std::memset(EfsDirectoryTable, 0, sizeof EfsDirectoryTable);
  }
  ~CallbackTest() override {
    AsyncMessageTrace = 0;
    TextLogTrace = 0;
    EfsDirectoryCount = 0;
  }
  VendorHostScript host_;
};

struct EventCase {
  const char* name;
  Event event;
  std::string expected;
};

TEST_F(CallbackTest, EverySoftwareDownloadEventType) {
  const std::string name100(100, 'N');
  std::vector<EventCase> cases;
  cases.push_back({"0 download",
                   std::move(Event().Put32(0, 0).Put32(4, 7).Put32(8, 1).Put16(12, 2).Put16(14, 55).Put16(16, 9)
                                 .Put32(20, 4096).PutText(24, "DATA0")),
                   "\n Event: SWD_downloadEvent-----------------\n    Status: 1\n     Error: 2\n%Complete: 55\n"
                   "     Block: 9\n   Address: 4096\n      Data: DATA0\n   Context: 7\n"});
  cases.push_back({"1 NV backup",
                   std::move(Event().Put32(0, 1).Put32(4, 8).Put32(8, 3).Put16(12, 4).Put16(14, 66).Put16(16, 453)
                                 .PutText(18, "NVDATA")),
                   "\n Event: SWD_nvBackupEvent    Status: 3\n     Error: 4\n%Complete: 66\n   NV Item: 453\n"
                   "      Data: NVDATA\n   Context: 8\n"});
  cases.push_back({"1 NV backup without data",
                   std::move(Event().Put32(0, 1).Put32(4, 8).Put32(8, 3).Put16(12, 4).Put16(14, 66).Put16(16, 453)),
                   "\n Event: SWD_nvBackupEvent    Status: 3\n     Error: 4\n%Complete: 66\n   NV Item: 453\n"
                   "   Context: 8\n"});
  cases.push_back({"2", std::move(Event().Put32(0, 2)), "\n Event: SWD_doAutoRestore"});
  cases.push_back({"3", std::move(Event().Put32(0, 3).PutText(8, "loader.hex").Put32(108, 1).Put32(112, 2)),
                   "\n Event: SWD_reportLoaderStatus\n    Loader name: loader.hex\n    Custom Loader: 1"
                   "\n       Local File: 2"});
  cases.push_back({"4", std::move(Event().Put32(0, 4).PutText(8, "flash0").Put32(108, 65536)),
                   "\n Event: SWD_bootDownloadStart\n    FLASH name: flash0\n    Loader Size: 65536"});
  cases.push_back({"5", std::move(Event().Put32(0, 5).PutText(8, "boot.mbn").Put32(108, 0).Put32(112, 1)),
                   "\n Event: SWD_bootReportLoaderStatus\n    Loader name: boot.mbn\n    Custom Loader: 0"
                   "\n  Local File name: 1"});
  cases.push_back({"6 shares 5's first line", std::move(Event().Put32(0, 6).Put32(8, -1).Put32(12, 17)),
                   "\n Event: SWD_bootReportLoaderStatus\n    Status: -1\n    Detail: 17"});
  cases.push_back({"7", std::move(Event().Put32(0, 7).Put32(8, 2048)),
                   "\n Event: SWD_bootDownloadProgress\n    Bytes written: 2048"});
  cases.push_back({"8", std::move(Event().Put32(0, 8)), "\n Event: SWD_bootDownloadComplete"});
  cases.push_back({"9", std::move(Event().Put32(0, 9).PutText(8, "mi.hex").Put32(108, 1).Put32(112, 0)),
                   "\n Event: SWD_MIReportLoaderStatus\n    Loader name: mi.hex\n    Custom Loader: 1"
                   "\n   Local File name: 0"});
  cases.push_back({"10", std::move(Event().Put32(0, 10).PutText(8, "nand")),
                   "\n Event: SWD_MIReportFlashStatus\n    FLASH name: nand"});
  cases.push_back({"11", std::move(Event().Put32(0, 11).Put32(8, 1048576).Put32(12, 3)),
                   "\n Event: SWD_MIStartDownload\n    Image Size: 1048576\n    Image Type: 3"});
  cases.push_back({"12", std::move(Event().Put32(0, 12).Put32(8, 4096)),
                   "\n Event: SWD_MIDownloadProgress\n    Bytes Written: 4096"});
  cases.push_back({"13", std::move(Event().Put32(0, 13)), "\n Event: SWD_MIDownloadComplete"});
  cases.push_back({"14", std::move(Event().Put32(0, 14).Put32(8, 6).Put32(12, 5)),
                   "\n Event: SWD_MIDownloadStatus\n    Detail Code: 5\n    Status Code: 6"});
  cases.push_back({"15", std::move(Event().Put32(0, 15).PutText(8, "ignored")), "\n Event: Default"});
  cases.push_back({"0xFFFFFFFF read unsigned", std::move(Event().Put32(0, -1)), "\n Event: Default"});
  // Texts that fill their field: a name up to offset 108, data up to the
  // record's end.
  cases.push_back({"3 with a name without NUL",
                   std::move(Event().Put32(0, 3).PutText(8, name100).PutText(108, "AAAA").Put32(112, 2)),
                   "\n Event: SWD_reportLoaderStatus\n    Loader name: " + name100 +
                       "\n    Custom Loader: 1094795585\n       Local File: 2"});
  cases.push_back({"0 with data without NUL", std::move(Event().Put32(0, 0).PutText(24, std::string(92, 'D'))),
                   "\n Event: SWD_downloadEvent-----------------\n    Status: 0\n     Error: 0\n%Complete: 0\n"
                   "     Block: 0\n   Address: 0\n      Data: " +
                       std::string(92, 'D') + "\n   Context: 0\n"});
  cases.push_back({"1 with data without NUL", std::move(Event().Put32(0, 1).PutText(18, std::string(98, 'E'))),
                   "\n Event: SWD_nvBackupEvent    Status: 0\n     Error: 0\n%Complete: 0\n   NV Item: 0\n"
                   "      Data: " +
                       std::string(98, 'E') + "\n   Context: 0\n"});
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    host_.ClearOutput();
    EXPECT_EQ(SoftwareDownloadEventCallback(c.event.get()), 1);
    EXPECT_EQ(host_.Output(), c.expected);
  }
}

using Message = Bytes<AsyncMessageRecord>;
constexpr uint16_t kFullSize = sizeof(AsyncMessageRecord);
const std::string kAsyncLine = "\nAsync message received by C callback.  Context = 9, Size = ";

struct AsyncCase {
  const char* name;
  unsigned char trace;
  uint16_t size;
  bool null;
  Message message;
  std::string expected;
};

TEST_F(CallbackTest, AsyncMessagesAndTheTextLogEntriesTheyCarry) {
  const auto logEntry = [](uint8_t type, uint16_t marker, const std::string& text) {
    return std::move(Message().Put8(0, type).Put16(6, marker).Put16(16, 3).PutText(24, text));
  };
  const std::string entry = "\n  QMSL Text Log found...\n      Log Type: 3\n      Log Text: ";
  std::vector<AsyncCase> cases;
  cases.push_back({"tracing off", 0, kFullSize, false, logEntry(16, 0xFFFF, "hello"), ""});
  cases.push_back({"a text log entry", 1, kFullSize, false, logEntry(16, 0xFFFF, "hello"),
                   kAsyncLine + std::to_string(kFullSize) + entry + "hello"});
  cases.push_back({"type 16 with another marker", 1, kFullSize, false, logEntry(16, 0x1234, "hello"),
                   kAsyncLine + std::to_string(kFullSize)});
  cases.push_back({"another type with the marker", 1, kFullSize, false, logEntry(15, 0xFFFF, "hello"),
                   kAsyncLine + std::to_string(kFullSize)});
  cases.push_back({"a text up to the record's end", 1, kFullSize, false,
                   logEntry(16, 0xFFFF, std::string(512, 'T')),
                   kAsyncLine + std::to_string(kFullSize) + entry + std::string(512, 'T')});
  cases.push_back({"a text cut by the message's size", 1, 24 + 5, false, logEntry(16, 0xFFFF, "hello world"),
                   kAsyncLine + "29" + entry + "hello"});
  cases.push_back({"too short for an entry", 1, 20, false, logEntry(16, 0xFFFF, "hello"), kAsyncLine + "20"});
  cases.push_back({"no message", 1, 0, true, Message(), kAsyncLine + "0"});
  for (const AsyncCase& c : cases) {
    SCOPED_TRACE(c.name);
    host_.ClearOutput();
    AsyncMessageTrace = c.trace;
    AsyncMessageCallback(c.size, c.null ? nullptr : c.message.get(), 9);
    EXPECT_EQ(host_.Output(), c.expected);
  }
}

TEST_F(CallbackTest, TheLibrarysTextLog) {
  using Log = Bytes<TextLogRecord>;
  struct LogCase {
    const char* name;
    unsigned char trace;
    Log record;
    std::string expected;
  };
  std::vector<LogCase> cases;
  cases.push_back({"tracing off", 0, std::move(Log().Put16(0, 7).PutText(8, "started")), ""});
  cases.push_back({"tracing on", 1, std::move(Log().Put16(0, 7).PutText(8, "started")),
                   "\n  QMSL Text Log found...\n      Log Type: 7\n      Log Text: started"});
  cases.push_back({"a text up to the record's end", 1,
                   std::move(Log().Put16(0, 65535).PutText(8, std::string(512, 'L'))),
                   "\n  QMSL Text Log found...\n      Log Type: 65535\n      Log Text: " + std::string(512, 'L')});
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.name);
    host_.ClearOutput();
    TextLogTrace = c.trace;
    LibraryTextLogCallback(0, c.record.get());
    EXPECT_EQ(host_.Output(), c.expected);
  }
}

std::string DirectoryEntry(const std::string& name, const char* type) {
  return "-----------------\n          Name: " + name + "\n          Type: " + type +
         "\nAttribute Mask: 511\n Buffer Option: 1\nCleanup Option: 2\n   Create Date: 1700000000\n"
         "     File Size: 1234\n       Context: 5\n";
}

unsigned char ListEntry(const std::string& name, bool isFile) {
  return EfsDirectoryCallback(name.c_str(), isFile ? 1 : 0, 511, 1, 2, 1700000000, 1234, 5);
}

TEST_F(CallbackTest, ADirectoryEntryIsPrintedAndOnlyFilesThatFitAreStored) {
  struct DirectoryCase {
    std::string name;
    bool isFile;
    bool stored;
  };
  const std::vector<DirectoryCase> cases = {
      {"/nv/item_files/a", true, true},
      {"/nv", false, false},
      {std::string(199, 'f'), true, true},
      {std::string(200, 'g'), true, false},
      {"/b", true, true},
  };
  int32_t count = 0;
  for (const DirectoryCase& c : cases) {
    SCOPED_TRACE(c.name);
    host_.ClearOutput();
    EXPECT_EQ(ListEntry(c.name, c.isFile), 1);
    EXPECT_EQ(host_.Output(), DirectoryEntry(c.name, c.isFile ? "File" : "Folder"));
    if (c.stored) {
      EXPECT_STREQ(EfsDirectoryTable[count], c.name.c_str());
      ++count;
    }
    EXPECT_EQ(EfsDirectoryCount, count);
  }
}

TEST_F(CallbackTest, TheDirectoryTableStopsAt500Names) {
  for (int i = 0; i < 502; ++i) EXPECT_EQ(ListEntry("/f" + std::to_string(i), true), 1);
  EXPECT_EQ(EfsDirectoryCount, kEfsDirectoryEntries);
  EXPECT_STREQ(EfsDirectoryTable[499], "/f499");
  // The 501st and 502nd names were printed, not stored.
  EXPECT_NE(host_.Output().find("          Name: /f501\n"), std::string::npos);
}

}  // namespace
