#include "download/images.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace download {
namespace {

// The text sits in a buffer of exactly its size, so a read past it is caught
// by the address sanitizer.
struct Parsed {
  int32_t result;
  std::vector<uint8_t> bytes;  // the output bytes; none on -1
};

Parsed Parse(const std::string& text) {
  std::vector<uint8_t> buffer(text.begin(), text.end());
  std::unique_ptr<uint8_t[]> out;
  const int32_t result = ParseIntelHex(buffer.data(), static_cast<int32_t>(buffer.size()), out);
  EXPECT_NE(out, nullptr);
  Parsed parsed{result, {}};
  if (result > 0) parsed.bytes.assign(out.get(), out.get() + result);
  return parsed;
}

struct HexCase {
  const char* what;
  std::string text;
  int32_t result;
  std::vector<uint8_t> bytes;
};

class IntelHex : public testing::TestWithParam<HexCase> {};

TEST_P(IntelHex, Converts) {
  const HexCase& c = GetParam();
  const Parsed parsed = Parse(c.text);
  EXPECT_EQ(parsed.result, c.result);
  EXPECT_EQ(parsed.bytes, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Records, IntelHex,
    testing::Values(
        HexCase{"data record then end of file", ":0300100011223387\n:00000001FF\n", 3, {0x11, 0x22, 0x33}},
        HexCase{"file order, not address order", ":0201000001029A\r\n:020000000304F7\r\n", 4, {1, 2, 3, 4}},
        HexCase{"extended address has no effect", ":020000041000EA\n:0100000055AA\n", 1, {0x55}},
        HexCase{"bad digit in extended address", ":02000004G000EA\n", -1, {}},
        HexCase{"checksum ignored", ":0100000042FF\n", 1, {0x42}},
        HexCase{"missing checksum", ":0100000042", 1, {0x42}},
        HexCase{"lower case in either place", ":03001000aAbBCc17\n", 3, {0xAA, 0xBB, 0xCC}},
        HexCase{"records after end of file still read", ":00000001FF\n:0100000077FF\n", 1, {0x77}},
        HexCase{"types 01 02 03 05 add nothing",
                ":00000001FF\n:020000021200EA\n:0400000300003800C1\n:04000005000000CD2A\n", 0, {}},
        HexCase{"odd type characters skip the record", ":010000G011EE\n:0100000 011\n", 0, {}},
        HexCase{"empty data record", ":00000000\n", 0, {}},
        HexCase{"text between records ignored", "junk 12\r\n:0100000011EE\r\nmore\r\n:0100000022DD", 2, {0x11, 0x22}},
        HexCase{"no record at all", "hello\n", 0, {}},
        HexCase{"empty text", "", 0, {}},
        HexCase{"bad digit in count", ":G100000011EE\n", -1, {}},
        HexCase{"bad digit in data", ":0100000011EE\n:01000000ZZ00\n", -1, {}},
        HexCase{"cut short before the type", ":0100", -1, {}},
        HexCase{"cut short inside the type", ":0100000", -1, {}},
        HexCase{"cut short in the data", ":0300000011", -1, {}},
        HexCase{"cut short in half a pair", ":010000001", -1, {}},
        HexCase{"extended address cut short", ":02000004100", -1, {}},
        HexCase{"lone colon at the end", ":0100000011EE\n:", -1, {}},
        // The second record's colon sits in the first's address field and
        // both claim 16 bytes of the same 32 digits: 32 bytes from 44
        // characters, more than the 22-byte output holds.
        HexCase{"overlapping records never overflow the output", ":10:10000000" + std::string(32, '1'), -1, {}}));

TEST(IntelHexOutput, KeepsBytesConvertedBeforeABadRecord) {
  const std::string text = ":0200000011220000\n:01000000X1\n";
  std::vector<uint8_t> buffer(text.begin(), text.end());
  std::unique_ptr<uint8_t[]> out;
  ASSERT_EQ(ParseIntelHex(buffer.data(), static_cast<int32_t>(buffer.size()), out), -1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[0], 0x11);
  EXPECT_EQ(out[1], 0x22);
}

TEST(IntelHexOutput, FillsTheWholeBufferWhenTheTextAllows) {
  // 24 characters give a 12-byte buffer; the same overlap trick puts exactly
  // 12 bytes into it.
  const Parsed parsed = Parse(":06:06000000" + std::string(12, 'A'));
  EXPECT_EQ(parsed.result, 12);
  EXPECT_EQ(parsed.bytes,
            (std::vector<uint8_t>{0x00, 0x0A, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
}

struct PairCase {
  char high, low;
  int value;
};

class HexPair : public testing::TestWithParam<PairCase> {};

TEST_P(HexPair, Value) {
  const PairCase& c = GetParam();
  EXPECT_EQ(HexPairValue(c.high, c.low), c.value) << c.high << c.low;
}

INSTANTIATE_TEST_SUITE_P(Digits, HexPair,
                         testing::Values(PairCase{'0', '0', 0x00}, PairCase{'9', '9', 0x99}, PairCase{'F', 'F', 0xFF},
                                         PairCase{'a', 'F', 0xAF}, PairCase{'A', 'f', 0xAF}, PairCase{'f', 'a', 0xFA},
                                         PairCase{'1', '0', 0x10}, PairCase{'/', '0', BadHexPair},
                                         PairCase{'0', ':', BadHexPair}, PairCase{'@', '0', BadHexPair},
                                         PairCase{'0', 'G', BadHexPair}, PairCase{'`', '0', BadHexPair},
                                         PairCase{'0', 'g', BadHexPair}, PairCase{'\0', '0', BadHexPair},
                                         PairCase{' ', ' ', BadHexPair}));

class LoadFileTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("images_test_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Write(const char* name, const std::string& contents) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << contents;
    return path.string();
  }

  std::filesystem::path dir_;
};

TEST_F(LoadFileTest, ReadsTheWholeFileWithSpareBytes) {
  const std::string contents("\x00\x01:\r\n\xff image", 11);
  const std::string path = Write("NuvoDownload.bin", contents);
  int32_t length = -1;
  const std::unique_ptr<uint8_t[]> data = LoadFile(path.c_str(), &length);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(length, static_cast<int32_t>(contents.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.get()), length), contents);
  // The spare bytes belong to the buffer (the address sanitizer checks).
  data[length + LoadFileSpare - 1] = 0;
}

TEST_F(LoadFileTest, RefusesWhatIsNotAnImage) {
  Write("empty.bin", "");
  std::filesystem::create_directory(dir_ / "folder.bin");
  for (const char* name : {"missing.bin", "empty.bin", "folder.bin"}) {
    int32_t length = 77;
    EXPECT_EQ(LoadFile((dir_ / name).string().c_str(), &length), nullptr) << name;
    EXPECT_EQ(length, 77) << name;
  }
}

class FreeImagesTest : public testing::Test {
 protected:
  void SetUp() override { FreeImages(); }
  void TearDown() override { FreeImages(); }
};

TEST_F(FreeImagesTest, EmptiesEveryEntryAndKeepsLengths) {
  ImageTable[ProgrammerImage] = {std::make_unique<uint8_t[]>(4), 4};
  ImageTable[PblImage] = {std::make_unique<uint8_t[]>(2), 2};
  ImageTable[DeviceImage] = {std::make_unique<uint8_t[]>(8), 8};
  FreeImages();
  for (const ImageSlot& slot : ImageTable) EXPECT_EQ(slot.Data, nullptr);
  EXPECT_EQ(ImageTable[ProgrammerImage].Length, 4);
  EXPECT_EQ(ImageTable[PblImage].Length, 2);
  EXPECT_EQ(ImageTable[DeviceImage].Length, 8);
}

TEST_F(FreeImagesTest, RepeatedAndOnAnEmptyTableDoesNothing) {
  FreeImages();
  FreeImages();
  for (const ImageSlot& slot : ImageTable) EXPECT_EQ(slot.Data, nullptr);
}

}  // namespace
}  // namespace download
