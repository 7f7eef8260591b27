// File status by the narrow name that fopen takes: what kind of thing a name
// stands for and a regular file's size, also in a folder whose name goes
// beyond ASCII (under wine with code page 936 a name in GBK bytes, which
// the standard library's narrow paths would read as another name).
#include "plat/file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "testkit/directory.h"

namespace {

using plat::FileKind;
using plat::GetFileStatus;
using plat::PathInFolder;

class FileStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = (std::filesystem::temp_directory_path() / ("plat_file_" + std::to_string(std::random_device{}())))
                .string();
    ASSERT_TRUE(plat::MakeDirectory(root_));
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  // Written through fopen, so by the same narrow name as the status reads.
  static bool WriteFile(const std::string& path, const std::string& contents) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    return std::fclose(file) == 0 && written;
  }

  std::string root_;
};

enum class Make { Nothing, File, Folder };

struct StatusCase {
  const char* name;
  Make make;
  const char* contents;
  FileKind kind;
  uint64_t size;
};

TEST_F(FileStatusTest, TellsRegularFilesWithTheirSizeFromEverythingElse) {
  const StatusCase cases[] = {
      {"armprg.hex", Make::File, ":00000001FF\n", FileKind::Regular, 12},
      {"empty.bin", Make::File, "", FileKind::Regular, 0},
      {"folder.bin", Make::Folder, "", FileKind::Other, 0},
      {"missing.bin", Make::Nothing, "", FileKind::None, 0},
  };
  for (const StatusCase& c : cases) {
    const std::string path = PathInFolder(root_, c.name);
    if (c.make == Make::File) {
      ASSERT_TRUE(WriteFile(path, c.contents)) << c.name;
    } else if (c.make == Make::Folder) {
      ASSERT_TRUE(plat::MakeDirectory(path)) << c.name;
    }
    const plat::FileStatus status = GetFileStatus(path.c_str());
    EXPECT_EQ(status.kind, c.kind) << c.name;
    EXPECT_EQ(status.size, c.size) << c.name;
  }
  EXPECT_EQ(GetFileStatus("").kind, FileKind::None);
  EXPECT_EQ(GetFileStatus(nullptr).kind, FileKind::None);
  EXPECT_EQ(GetFileStatus(PathInFolder(root_, "missing/armprg.hex").c_str()).kind, FileKind::None);
}

TEST_F(FileStatusTest, AFileInAFolderNamedBeyondAsciiIsFoundAndOpens) {
  const std::string folder = PathInFolder(root_, plat::kBeyondAsciiName);
  ASSERT_TRUE(plat::MakeDirectory(folder));
  const std::string file = PathInFolder(folder, "armprg.hex");
  ASSERT_TRUE(WriteFile(file, ":00000001FF\n"));

  const plat::FileStatus status = GetFileStatus(file.c_str());
  EXPECT_EQ(status.kind, FileKind::Regular);
  EXPECT_EQ(status.size, 12u);
  EXPECT_EQ(GetFileStatus(folder.c_str()).kind, FileKind::Other);
  std::FILE* opened = std::fopen(file.c_str(), "rb");
  EXPECT_NE(opened, nullptr);
  if (opened != nullptr) std::fclose(opened);
}

TEST(PathInFolder, JoinsWithOneSeparatorAndABareDriveNamesItsRoot) {
#if defined(_WIN32)
  EXPECT_EQ(PathInFolder("C:", "armprg.hex"), "C:\\armprg.hex");
  EXPECT_EQ(PathInFolder("C:\\fw", "NPRG6246.HEX"), "C:\\fw\\NPRG6246.HEX");
#else
  EXPECT_EQ(PathInFolder("C:", "armprg.hex"), "C:/armprg.hex");
  EXPECT_EQ(PathInFolder("/fw", "NPRG6246.HEX"), "/fw/NPRG6246.HEX");
#endif
}

}  // namespace
