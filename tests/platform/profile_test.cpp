// Profile files through the platform layer only: each test writes its own
// file in the configuration folder and removes it afterwards. Only what the
// platform's own private-profile functions also do is checked here (they
// trim values and rewrite the file's layout); byte-exact editing is tested
// per backend.
#include "plat/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "plat/process.h"

namespace {

using plat::GetProfileString;
using plat::WriteProfileString;

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    name_ = "plat_profile_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(++counter) + ".ini";
    path_ = plat::ProfilePath(name_);
    std::filesystem::remove(path_);
  }
  void TearDown() override { std::filesystem::remove(path_); }

  void WriteFile(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
    std::ofstream file(path_, std::ios::binary);
    file << text;
  }
  std::string Get(const std::string& section, const std::string& key, const std::string& fallback = "<default>") {
    return GetProfileString(name_, section, key, fallback);
  }

  std::string name_;
  std::string path_;
};

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
  EXPECT_EQ(Get("Password", "DM"), "<default>");
  EXPECT_EQ(Get("Password", "DM", ""), "");
  WriteFile("[Password]\r\nDM=1234\r\n");
  EXPECT_EQ(Get("Other", "DM"), "<default>");
  EXPECT_EQ(Get("Password", "DX"), "<default>");
  EXPECT_EQ(Get("Password", "D"), "<default>");
}

struct LookupCase {
  const char* section;
  const char* key;
  const char* expected;
};

TEST_F(ProfileTest, SectionsAndKeysMatchWithoutRegardToCase) {
  for (const char* lineEnd : {"\r\n", "\n"}) {
    const std::string nl = lineEnd;
    WriteFile("[Password]" + nl + "DM=70419352" + nl + "[Phone Image Paths]" + nl + "Item 0=C:\\fw\\one" + nl +
              "item 1=C:\\fw two" + nl + "[Empty]" + nl + "[Last]" + nl + "Key=last value");
    const LookupCase cases[] = {
        {"Password", "DM", "70419352"},
        {"PASSWORD", "dm", "70419352"},
        {"password", "Dm", "70419352"},
        {"Phone Image Paths", "Item 0", "C:\\fw\\one"},
        {"phone image paths", "ITEM 1", "C:\\fw two"},
        {"Empty", "Item 0", "<default>"},
        {"Password", "Item 0", "<default>"},  // keys belong to their own section
        {"Last", "key", "last value"},         // no line end at the end of the file
    };
    for (const auto& c : cases) {
      EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << " / " << c.key << ", line end " << nl.size();
    }
  }
}

TEST_F(ProfileTest, ValueIsEverythingAfterTheFirstEquals) {
  WriteFile("[S]\r\nA=x=y\r\nB=\r\nC=two words\r\n");
  EXPECT_EQ(Get("S", "A"), "x=y");
  EXPECT_EQ(Get("S", "B"), "");
  EXPECT_EQ(Get("S", "C"), "two words");
}

TEST_F(ProfileTest, WriteCreatesFileAndSection) {
  ASSERT_TRUE(WriteProfileString(name_, "Phone Image Paths", "Item 0", "C:\\fw\\v1"));
  EXPECT_TRUE(std::filesystem::exists(path_));
  EXPECT_EQ(Get("Phone Image Paths", "Item 0"), "C:\\fw\\v1");
  ASSERT_TRUE(WriteProfileString(name_, "Upload Image Files", "Item 0", "D:\\up"));
  EXPECT_EQ(Get("upload image files", "item 0"), "D:\\up");
  EXPECT_EQ(Get("Phone Image Paths", "Item 0"), "C:\\fw\\v1");
}

TEST_F(ProfileTest, WriteReplacesOrAddsAndKeepsTheRest) {
  WriteFile("[Password]\r\nDM=1111\r\n[Phone Image Paths]\r\nItem 0=C:\\a\r\nItem 1=C:\\b\r\n[Other]\r\nX=1\r\n");
  ASSERT_TRUE(WriteProfileString(name_, "phone image paths", "ITEM 1", "C:\\new"));
  ASSERT_TRUE(WriteProfileString(name_, "Phone Image Paths", "Item 2", "C:\\c"));
  ASSERT_TRUE(WriteProfileString(name_, "Password", "DM", ""));
  const LookupCase cases[] = {
      {"Password", "DM", ""},
      {"Phone Image Paths", "Item 0", "C:\\a"},
      {"Phone Image Paths", "Item 1", "C:\\new"},
      {"Phone Image Paths", "Item 2", "C:\\c"},
      {"Other", "X", "1"},
      {"Other", "Item 2", "<default>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Get(c.section, c.key), c.expected) << c.section << " / " << c.key;
}

std::string Numbered(const char* prefix, int n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

TEST_F(ProfileTest, ManyWritesRoundTrip) {
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(WriteProfileString(name_, "Phone Image Paths", Numbered("Item ", i), Numbered("path ", i)));
  }
  for (int i = 9; i >= 0; --i) {
    ASSERT_TRUE(WriteProfileString(name_, "Phone Image Paths", Numbered("Item ", i), Numbered("p", 9 - i)));
  }
  for (int i = 0; i < 10; ++i) EXPECT_EQ(Get("Phone Image Paths", Numbered("Item ", i)), Numbered("p", 9 - i));
  EXPECT_EQ(Get("Phone Image Paths", "Item 10"), "<default>");
}

}  // namespace
