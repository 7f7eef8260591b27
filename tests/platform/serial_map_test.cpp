// The serial-port map through the platform layer only. The map may be a
// system-wide one shared with others (the registry key), so these tests use
// value names of their own, find them by enumerating, and never remove the
// whole map; what needs a missing map is tested per backend.
#include "plat/serial_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "plat/device_root.h"
#include "plat/process.h"
#include "testkit/device_root.h"
#include "testkit/serial_map_writer.h"

namespace {

using plat::EnumStatus;
using plat::SerialMap;
using plat::SerialMapWriter;
using plat::WaitResult;

// A fresh device root for one test, and value names that are this test's own.
class SerialMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    const std::string tag = std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++counter);
    root_ = std::filesystem::temp_directory_path() / ("plat_map_" + tag);
    std::filesystem::remove_all(root_);
    ASSERT_TRUE(std::filesystem::create_directory(root_));
    plat::SetDeviceRoot(root_.string());
    prefix_ = "\\Device\\PlatTest" + tag + "_";
  }
  void TearDown() override {
    for (const auto& name : added_) SerialMapWriter::RemoveValue(name);
    plat::SetDeviceRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string Name(const std::string& suffix) { return prefix_ + suffix; }
  bool Add(const std::string& name, const std::string& data) {
    added_.push_back(name);
    return SerialMapWriter::AddValue(name, data);
  }

  // This test's values, in enumeration order, with their indexes.
  struct Entry {
    uint32_t index;
    std::string name;
    std::string data;
  };
  std::vector<Entry> Mine() {
    std::vector<Entry> found;
    char name[1024];
    char data[1024];
    for (uint32_t i = 0;; ++i) {
      const EnumStatus status = SerialMap::EnumValue(i, name, sizeof name, data, sizeof data);
      if (status == EnumStatus::MoreData) continue;
      if (status != EnumStatus::Ok) break;
      if (std::string(name).rfind(prefix_, 0) == 0) found.push_back({i, name, data});
    }
    return found;
  }
  std::vector<std::pair<std::string, std::string>> MineAsPairs() {
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& entry : Mine()) pairs.emplace_back(entry.name, entry.data);
    return pairs;
  }

  std::filesystem::path root_;
  std::string prefix_;
  std::vector<std::string> added_;
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(SerialMapTest, AddedValuesAreListedInOrder) {
  // Names in alphabetical order as well, since a registry may list by name.
  ASSERT_TRUE(Add(Name("a_QCUSB_COM7_0"), "COM7"));
  ASSERT_TRUE(Add(Name("b_QCUSB_COM8_0"), "COM8"));
  ASSERT_TRUE(Add(Name("c_other"), "COM12"));
  EXPECT_TRUE(SerialMap::Exists());
  EXPECT_EQ(MineAsPairs(), (Pairs{{Name("a_QCUSB_COM7_0"), "COM7"},
                                  {Name("b_QCUSB_COM8_0"), "COM8"},
                                  {Name("c_other"), "COM12"}}));
}

TEST_F(SerialMapTest, AddingAnExistingNameReplacesItsDataInPlace) {
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  ASSERT_TRUE(Add(Name("b"), "COM2"));
  ASSERT_TRUE(Add(Name("c"), "COM3"));
  ASSERT_TRUE(Add(Name("b"), "COM22"));
  EXPECT_EQ(MineAsPairs(), (Pairs{{Name("a"), "COM1"}, {Name("b"), "COM22"}, {Name("c"), "COM3"}}));
}

TEST_F(SerialMapTest, RemoveValueTakesOnlyThatValue) {
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  ASSERT_TRUE(Add(Name("b"), "COM2"));
  ASSERT_TRUE(Add(Name("c"), "COM3"));
  EXPECT_TRUE(SerialMapWriter::RemoveValue(Name("b")));
  EXPECT_EQ(MineAsPairs(), (Pairs{{Name("a"), "COM1"}, {Name("c"), "COM3"}}));
  EXPECT_FALSE(SerialMapWriter::RemoveValue(Name("b"))) << "removing a value that is not there";
  EXPECT_FALSE(SerialMapWriter::RemoveValue(Name("never")));
}

TEST_F(SerialMapTest, CreateKeepsAnExistingMap) {
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  EXPECT_TRUE(SerialMapWriter::Create());
  EXPECT_EQ(MineAsPairs(), (Pairs{{Name("a"), "COM1"}}));
}

// Sizes count the NUL: a text of n characters needs a buffer of n + 1.
struct FitCase {
  size_t nameLength;
  size_t dataLength;
  EnumStatus status;
};

TEST_F(SerialMapTest, SixtyByteBuffersTakeFiftyNineCharacters) {
  const FitCase cases[] = {
      {59, 4, EnumStatus::Ok},        {60, 4, EnumStatus::MoreData}, {61, 4, EnumStatus::MoreData},
      {40, 59, EnumStatus::Ok},       {40, 60, EnumStatus::MoreData}, {59, 59, EnumStatus::Ok},
      {60, 60, EnumStatus::MoreData}, {40, 0, EnumStatus::Ok},
  };
  for (const auto& c : cases) {
    const std::string name = Name("") + std::string(c.nameLength - Name("").size(), 'n');
    const std::string data(c.dataLength, 'd');
    ASSERT_TRUE(Add(name, data));
    uint32_t index = 0;
    bool found = false;
    for (const auto& entry : Mine()) {
      if (entry.name == name) {
        index = entry.index;
        found = true;
      }
    }
    ASSERT_TRUE(found) << c.nameLength;
    char nameBuffer[60];
    char dataBuffer[60];
    EXPECT_EQ(SerialMap::EnumValue(index, nameBuffer, sizeof nameBuffer, dataBuffer, sizeof dataBuffer), c.status)
        << "name " << c.nameLength << ", data " << c.dataLength;
    if (c.status == EnumStatus::Ok) {
      EXPECT_EQ(std::string(nameBuffer), name);
      EXPECT_EQ(std::string(dataBuffer), data);
    }
    ASSERT_TRUE(SerialMapWriter::RemoveValue(name));
  }
}

TEST_F(SerialMapTest, PastTheLastValueIsNoMoreItems) {
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  char name[60];
  char data[60];
  uint32_t index = 0;
  while (SerialMap::EnumValue(index, name, sizeof name, data, sizeof data) != EnumStatus::NoMoreItems) {
    ASSERT_LT(index, 100000u);
    ++index;
  }
  EXPECT_GE(index, 1u);
  EXPECT_EQ(SerialMap::EnumValue(index + 1, name, sizeof name, data, sizeof data), EnumStatus::NoMoreItems);
}

TEST_F(SerialMapTest, ConcurrentWritersLoseNoValue) {
  constexpr int kThreads = 4;
  constexpr int kEach = 10;
  std::vector<std::thread> writers;
  std::atomic<int> failures{0};
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) added_.push_back(Name(std::to_string(t) + "_" + std::to_string(i)));
  }
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        if (!SerialMapWriter::AddValue(Name(std::to_string(t) + "_" + std::to_string(i)), "COM" + std::to_string(i))) {
          ++failures;
        }
      }
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Mine().size(), static_cast<size_t>(kThreads * kEach));
}

// The watch.
class SerialMapWatchTest : public SerialMapTest {
 protected:
  void SetUp() override {
    SerialMapTest::SetUp();
    ASSERT_TRUE(changed_.Create(false, false));
  }
  plat::Event changed_;
  static constexpr uint32_t kLong = 5000;   // for a change that must be seen
  static constexpr uint32_t kShort = 150;   // for one that must not
};

TEST_F(SerialMapWatchTest, EachKindOfChangeFiresTheArmedWatch) {
  ASSERT_TRUE(Add(Name("base"), "COM1"));
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  EXPECT_FALSE(watch.WatchingParent());
  const std::pair<const char*, std::function<bool()>> changes[] = {
      {"value added", [&] { return Add(Name("new"), "COM2"); }},
      {"data changed", [&] { return Add(Name("new"), "COM3"); }},
      {"value removed", [&] { return SerialMapWriter::RemoveValue(Name("new")); }},
  };
  for (const auto& [what, change] : changes) {
    ASSERT_TRUE(watch.Arm(changed_)) << what;
    ASSERT_TRUE(change()) << what;
    EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled) << what;
  }
}

TEST_F(SerialMapWatchTest, AnArmingFiresAtMostOnce) {
  ASSERT_TRUE(SerialMapWriter::Create());
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  ASSERT_TRUE(watch.Arm(changed_));
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  ASSERT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
  ASSERT_TRUE(Add(Name("b"), "COM2"));
  ASSERT_TRUE(SerialMapWriter::RemoveValue(Name("a")));
  EXPECT_EQ(changed_.Wait(kShort), WaitResult::Timeout) << "fired again without being armed";
}

TEST_F(SerialMapWatchTest, AChangeRightAfterReArmingIsSeen) {
  ASSERT_TRUE(SerialMapWriter::Create());
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(watch.Arm(changed_)) << round;
    ASSERT_TRUE(Add(Name("v"), "COM" + std::to_string(round)));
    ASSERT_EQ(changed_.Wait(kLong), WaitResult::Signaled) << "round " << round;
  }
}

TEST_F(SerialMapWatchTest, ClosingTheWatchedEventWhileArmedIsHarmless) {
  ASSERT_TRUE(SerialMapWriter::Create());
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  {
    plat::Event shortLived;
    ASSERT_TRUE(shortLived.Create(false, false));
    ASSERT_TRUE(watch.Arm(shortLived));
  }
  ASSERT_TRUE(Add(Name("a"), "COM1"));
  // Re-armed with a live event, the watch goes on working.
  ASSERT_TRUE(watch.Arm(changed_));
  ASSERT_TRUE(Add(Name("b"), "COM2"));
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
  watch.Close();
  EXPECT_FALSE(watch.Arm(changed_)) << "armed a closed watch";
}

TEST_F(SerialMapWatchTest, ArmNeedsAnOpenWatchAndAValidEvent) {
  plat::SerialMapWatch watch;
  EXPECT_FALSE(watch.Arm(changed_));
  ASSERT_TRUE(watch.Open());
  plat::Event none;
  EXPECT_FALSE(watch.Arm(none));
}

}  // namespace
