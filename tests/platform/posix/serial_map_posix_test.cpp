// The serial-port map as the file SERIALCOMM in a private device root: what
// needs the map missing, the file format that outside scripts write, and
// writers in several processes.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "plat/device_root.h"
#include "plat/serial_map.h"
#include "testkit/device_root.h"
#include "testkit/serial_map_writer.h"

namespace {

using plat::EnumStatus;
using plat::SerialMap;
using plat::SerialMapWriter;
using plat::WaitResult;
using Pairs = std::vector<std::pair<std::string, std::string>>;

class SerialMapFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/plat_map_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    plat::SetDeviceRoot(root_);
    ASSERT_TRUE(changed_.Create(false, false));
  }
  void TearDown() override {
    plat::SetDeviceRoot("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  static Pairs All() {
    Pairs pairs;
    char name[256];
    char data[256];
    for (uint32_t i = 0; SerialMap::EnumValue(i, name, sizeof name, data, sizeof data) == EnumStatus::Ok; ++i) {
      pairs.emplace_back(name, data);
    }
    return pairs;
  }
  std::string MapFile() const { return root_ + "/SERIALCOMM"; }

  std::string root_;
  plat::Event changed_;
  static constexpr uint32_t kLong = 5000;
  static constexpr uint32_t kShort = 150;
};

TEST_F(SerialMapFile, MissingMap) {
  char name[60];
  char data[60];
  EXPECT_FALSE(SerialMap::Exists());
  EXPECT_EQ(SerialMap::EnumValue(0, name, sizeof name, data, sizeof data), EnumStatus::Failed);
  EXPECT_FALSE(SerialMapWriter::RemoveValue("x"));
  EXPECT_FALSE(SerialMapWriter::Remove());
  EXPECT_FALSE(SerialMap::Exists()) << "a failed change created the map";

  ASSERT_TRUE(SerialMapWriter::Create());
  EXPECT_TRUE(SerialMap::Exists());
  EXPECT_EQ(SerialMap::EnumValue(0, name, sizeof name, data, sizeof data), EnumStatus::NoMoreItems);
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM1"));
  ASSERT_TRUE(SerialMapWriter::Remove());
  EXPECT_FALSE(SerialMap::Exists());
  EXPECT_EQ(SerialMap::EnumValue(0, name, sizeof name, data, sizeof data), EnumStatus::Failed);
  ASSERT_TRUE(SerialMapWriter::AddValue("b", "COM2")) << "adding creates the map";
  EXPECT_EQ(All(), (Pairs{{"b", "COM2"}}));
}

TEST_F(SerialMapFile, OrderIsInsertionOrderNotByName) {
  ASSERT_TRUE(SerialMapWriter::AddValue("z", "COM1"));
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM2"));
  ASSERT_TRUE(SerialMapWriter::AddValue("m", "COM3"));
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM4"));
  EXPECT_EQ(All(), (Pairs{{"z", "COM1"}, {"a", "COM4"}, {"m", "COM3"}}));
  ASSERT_TRUE(SerialMapWriter::RemoveValue("z"));
  ASSERT_TRUE(SerialMapWriter::AddValue("z", "COM5"));
  EXPECT_EQ(All(), (Pairs{{"a", "COM4"}, {"m", "COM3"}, {"z", "COM5"}}));
}

TEST_F(SerialMapFile, TextsThatCannotBeStoredAreRefused) {
  ASSERT_TRUE(SerialMapWriter::AddValue("keep", "COM1"));
  const std::pair<std::string, std::string> refused[] = {
      {"tab\tname", "COM1"}, {"line\nname", "COM1"}, {std::string("nul\0name", 8), "COM1"},
      {"name", "tab\tdata"}, {"name", "line\ndata"}, {"name", std::string("nul\0data", 8)},
  };
  for (const auto& [name, data] : refused) EXPECT_FALSE(SerialMapWriter::AddValue(name, data));
  EXPECT_EQ(All(), (Pairs{{"keep", "COM1"}}));
}

TEST_F(SerialMapFile, EmptyNameAndDataAreValues) {
  ASSERT_TRUE(SerialMapWriter::AddValue("", "COM3"));
  ASSERT_TRUE(SerialMapWriter::AddValue("n", ""));
  EXPECT_EQ(All(), (Pairs{{"", "COM3"}, {"n", ""}}));
}

TEST_F(SerialMapFile, ReadsAMapWrittenByAScript) {
  {
    std::ofstream file(MapFile(), std::ios::binary);
    file << "\\Device\\QCUSB_COM7_0\tCOM7\n"
         << "not a value\n"
         << "\n"
         << "\\Device\\Serial0\tCOM1\twith a tab\n"
         << "\\Device\\QCUSB_COM8_0\tCOM8";  // no final line end
  }
  EXPECT_EQ(All(), (Pairs{{"\\Device\\QCUSB_COM7_0", "COM7"},
                          {"\\Device\\Serial0", "COM1\twith a tab"},
                          {"\\Device\\QCUSB_COM8_0", "COM8"}}));
  ASSERT_TRUE(SerialMapWriter::AddValue("\\Device\\QCUSB_COM9_0", "COM9"));
  std::ifstream file(MapFile(), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text,
            "\\Device\\QCUSB_COM7_0\tCOM7\n\\Device\\Serial0\tCOM1\twith a tab\n\\Device\\QCUSB_COM8_0\tCOM8\n"
            "\\Device\\QCUSB_COM9_0\tCOM9\n");
}

TEST_F(SerialMapFile, TheRootIsMadeOnDemand) {
  const std::string nested = root_ + "/a/b";
  plat::SetDeviceRoot(nested);
  EXPECT_FALSE(SerialMap::Exists());
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM1"));
  EXPECT_TRUE(std::filesystem::is_regular_file(nested + "/SERIALCOMM"));
}

TEST_F(SerialMapFile, WritersInSeveralProcessesLoseNothing) {
  constexpr int kChildren = 4;
  constexpr int kEach = 15;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int failures = 0;
      for (int i = 0; i < kEach; ++i) {
        failures += SerialMapWriter::AddValue("p" + std::to_string(c) + "_" + std::to_string(i), "COM1") ? 0 : 1;
      }
      ::_exit(failures);
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(All().size(), static_cast<size_t>(kChildren * kEach));
}

TEST_F(SerialMapFile, WatchOnTheParentSeesTheMapCreated) {
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  EXPECT_TRUE(watch.WatchingParent());
  ASSERT_TRUE(watch.Arm(changed_));
  EXPECT_EQ(changed_.Wait(kShort), WaitResult::Timeout);
  ASSERT_TRUE(SerialMapWriter::Create());
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
  // Still on the parent: any change in the root counts.
  ASSERT_TRUE(watch.Arm(changed_));
  std::ofstream(root_ + "/COM9") << "x";
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
}

TEST_F(SerialMapFile, WatchOnTheMapIgnoresOtherFilesInTheRoot) {
  ASSERT_TRUE(SerialMapWriter::Create());
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  EXPECT_FALSE(watch.WatchingParent());
  ASSERT_TRUE(watch.Arm(changed_));
  std::ofstream(root_ + "/COM9") << "x";
  ASSERT_EQ(::symlink("/dev/null", (root_ + "/COM10").c_str()), 0);
  EXPECT_EQ(changed_.Wait(kShort), WaitResult::Timeout);
  ASSERT_TRUE(SerialMapWriter::Remove());
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled) << "the map's removal";
  ASSERT_TRUE(watch.Arm(changed_));
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM1"));
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled) << "the map's return";
}

TEST_F(SerialMapFile, AChangeBeforeArmingDoesNotFireIt) {
  ASSERT_TRUE(SerialMapWriter::Create());
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  ASSERT_TRUE(SerialMapWriter::AddValue("before", "COM1"));
  ASSERT_TRUE(watch.Arm(changed_));
  EXPECT_EQ(changed_.Wait(kShort), WaitResult::Timeout);
  ASSERT_TRUE(SerialMapWriter::AddValue("after", "COM2"));
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
}

TEST_F(SerialMapFile, OpenWithoutRootMakesItAndWatchesIt) {
  plat::SetDeviceRoot(root_ + "/later");
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  EXPECT_TRUE(watch.WatchingParent());
  ASSERT_TRUE(watch.Arm(changed_));
  ASSERT_TRUE(SerialMapWriter::AddValue("a", "COM1"));
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
}

TEST_F(SerialMapFile, RootRemovedEndsTheWatch) {
  const std::string inner = root_ + "/inner";
  plat::SetDeviceRoot(inner);
  plat::SerialMapWatch watch;
  ASSERT_TRUE(watch.Open());
  ASSERT_TRUE(watch.Arm(changed_));
  std::filesystem::remove_all(inner);
  EXPECT_EQ(changed_.Wait(kLong), WaitResult::Signaled);
  EXPECT_FALSE(watch.Arm(changed_)) << "armed a watch on a folder that is gone";
}

TEST_F(SerialMapFile, OpenAndCloseRepeatedly) {
  for (int i = 0; i < 50; ++i) {
    plat::SerialMapWatch watch;
    ASSERT_TRUE(watch.Open());
    ASSERT_TRUE(watch.Arm(changed_));
    watch.Close();
    watch.Close();
  }
}

}  // namespace
