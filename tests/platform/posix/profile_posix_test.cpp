// Profile files on POSIX: kept in a private configuration folder for the
// whole test program, edited byte-exactly, values taken untrimmed.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "plat/profile.h"

namespace {

// Every profile test of this program writes into a fresh folder, never into
// the user's own configuration.
class PrivateConfigHome : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/plat_config_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::string folder_;
};

[[maybe_unused]] testing::Environment* const kConfigHome =
    testing::AddGlobalTestEnvironment(new PrivateConfigHome);

class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    name_ = "edit_" + std::to_string(++counter) + ".ini";
    path_ = plat::ProfilePath(name_);
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  void WriteFile(const std::string& text) {
    std::ofstream file(path_, std::ios::binary);
    file << text;
  }
  std::string ReadFile() {
    std::ifstream file(path_, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  }

  std::string name_;
  std::string path_;
};

TEST_F(ProfileFile, PathIsInTheConfigurationFolder) {
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string config = saved != nullptr ? saved : "";
  EXPECT_EQ(plat::ProfilePath("Tamri.INI"), config + "/Tamri.INI");
  const char* home = std::getenv("HOME");
  const std::string savedHome = home != nullptr ? home : "";
  ::setenv("XDG_CONFIG_HOME", "", 1);
  ::setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(plat::ProfilePath("Tamri.INI"), "/home/someone/.config/Tamri.INI");
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(ProfileFile, ValuesAreTakenAsTheyStand) {
  WriteFile("[Password]\r\nDM= 7041 9352 \r\n  Key  = spaced\t\r\n[ Spaced Section ]\nA=\"quoted\"\n");
  EXPECT_EQ(plat::GetProfileString(name_, "Password", "DM", "-"), " 7041 9352 ");
  EXPECT_EQ(plat::GetProfileString(name_, "password", "key", "-"), " spaced\t");
  EXPECT_EQ(plat::GetProfileString(name_, "spaced section", "a", "-"), "\"quoted\"");
}

TEST_F(ProfileFile, TheFirstOfTwoSectionsOrKeysCounts) {
  WriteFile("[S]\nA=1\nA=2\n[s]\nA=3\nB=4\n");
  EXPECT_EQ(plat::GetProfileString(name_, "S", "A", "-"), "1");
  EXPECT_EQ(plat::GetProfileString(name_, "S", "B", "-"), "-");
  ASSERT_TRUE(plat::WriteProfileString(name_, "S", "A", "9"));
  EXPECT_EQ(ReadFile(), "[S]\nA=9\nA=2\n[s]\nA=3\nB=4\n");
}

struct EditCase {
  const char* what;
  std::string before;
  const char* section;
  const char* key;
  const char* value;
  std::string after;
};

TEST_F(ProfileFile, WritesChangeOnlyWhatTheyMust) {
  const EditCase cases[] = {
      {"value replaced in place, spacing and other lines kept",
       "; settings\r\n[Password]\r\n  dm = old \r\n\r\n[Other]\r\nX=1\r\n", "Password", "DM", "new",
       "; settings\r\n[Password]\r\n  dm =new\r\n\r\n[Other]\r\nX=1\r\n"},
      {"key added after the section's last line, before blank lines",
       "[Phone Image Paths]\r\nItem 0=a\r\n\r\n[Other]\r\nX=1\r\n", "phone image paths", "Item 1", "b",
       "[Phone Image Paths]\r\nItem 0=a\r\nItem 1=b\r\n\r\n[Other]\r\nX=1\r\n"},
      {"key added to the last section without a final line end", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
      {"key added to an empty section", "[A]\n[B]\nz=1\n", "A", "y", "2", "[A]\ny=2\n[B]\nz=1\n"},
      {"section added at the end with the file's line ends", "[A]\r\nx=1\r\n", "B", "k", "v",
       "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
      {"section added after a last line without line end", "[A]\nx=1", "B", "k", "v", "[A]\nx=1\n[B]\nk=v\n"},
      {"empty file", "", "S", "k", "v", "[S]\nk=v\n"},
      {"value with spaces and an equals sign", "[S]\nk=1\n", "S", "k", " a = b ", "[S]\nk= a = b \n"},
      {"value emptied", "[S]\r\nk=1\r\nm=2\r\n", "S", "k", "", "[S]\r\nk=\r\nm=2\r\n"},
  };
  for (const auto& c : cases) {
    WriteFile(c.before);
    ASSERT_TRUE(plat::WriteProfileString(name_, c.section, c.key, c.value)) << c.what;
    EXPECT_EQ(ReadFile(), c.after) << c.what;
    EXPECT_EQ(plat::GetProfileString(name_, c.section, c.key, "-"), c.value) << c.what;
  }
}

TEST_F(ProfileFile, WriteMakesTheFolder) {
  const std::string nested = "deeper/folder/" + name_;
  ASSERT_TRUE(plat::WriteProfileString(nested, "S", "k", "v"));
  EXPECT_EQ(plat::GetProfileString(nested, "S", "k", "-"), "v");
  std::filesystem::remove_all(std::filesystem::path(plat::ProfilePath("deeper")));
}

TEST_F(ProfileFile, WritesThatWouldBreakTheFileAreRefused) {
  WriteFile("[S]\nk=1\n");
  const struct {
    const char* section;
    const char* key;
    const char* value;
  } refused[] = {
      {"S", "k", "two\nlines"}, {"S", "k", "cr\r"},  {"S", "a=b", "1"}, {"S", "", "1"},     {"S", "  ", "1"},
      {"S", "new\nkey", "1"},   {"S]x", "k", "1"},   {"S\n", "k", "1"}, {"S", "[k]", "1"},
  };
  for (const auto& r : refused) {
    EXPECT_FALSE(plat::WriteProfileString(name_, r.section, r.key, r.value)) << r.section << "/" << r.key;
  }
  EXPECT_EQ(ReadFile(), "[S]\nk=1\n");
}

}  // namespace
