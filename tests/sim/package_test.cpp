// Generated firmware packages: the HEX text is well-formed Intel HEX for the
// RAM at 0x10000000 and carries exactly the programmer bytes returned.
#include "sim/package.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/port_kit.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Record {
  unsigned type;
  uint32_t address;  // with the latest extended linear address
  Bytes data;
};

// Reads the text line by line, checking each record's count and checksum.
std::vector<Record> ParseRecords(const std::string& text) {
  std::vector<Record> records;
  std::istringstream lines(text);
  uint32_t upper = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    EXPECT_EQ(line.at(0), ':');
    Bytes bytes;
    for (size_t i = 1; i + 1 < line.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(line.size(), 1 + 2 * bytes.size());
    EXPECT_EQ(bytes.size(), 5u + bytes.at(0)) << line;
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    EXPECT_EQ(sum & 0xFF, 0u) << line;
    Record record{bytes.at(3), upper | static_cast<uint32_t>(bytes[1] << 8 | bytes[2]),
                  Bytes(bytes.begin() + 4, bytes.end() - 1)};
    if (record.type == 4) upper = static_cast<uint32_t>(record.data.at(0) << 24 | record.data.at(1) << 16);
    records.push_back(record);
  }
  return records;
}

TEST(SimPackage, WritesTheProgrammerAsIntelHexAndTheImageRaw) {
  struct Case {
    size_t programmerSize;
    unsigned recordSize;
    size_t extendedRecords;
  };
  for (const Case& c : std::vector<Case>{{3000, 16, 1}, {70001, 32, 2}, {65536, 32, 1}}) {
    SCOPED_TRACE(c.programmerSize);
    testkit::TempDeviceRoot folder;
    sim::Package package;
    ASSERT_TRUE(sim::WritePackage(folder.Path(),
                                  {.programmerSize = c.programmerSize, .imageSize = 5000, .recordSize = c.recordSize},
                                  package));
    ASSERT_EQ(package.programmer.size(), c.programmerSize);

    const auto records = ParseRecords(ReadText(folder.Path() + "/" + sim::kProgrammerFile));
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records.front().type, 4u);
    EXPECT_EQ(records.back().type, 1u);
    EXPECT_TRUE(records.back().data.empty());
    Bytes carried;
    size_t extended = 0;
    for (size_t i = 0; i + 1 < records.size(); ++i) {
      const Record& r = records[i];
      if (r.type == 4) {
        ++extended;
        continue;
      }
      ASSERT_EQ(r.type, 0u);
      EXPECT_EQ(r.address, 0x10000000u + carried.size());
      if (i + 2 < records.size()) {
        EXPECT_EQ(r.data.size(), c.recordSize);
      }
      carried.insert(carried.end(), r.data.begin(), r.data.end());
    }
    EXPECT_EQ(extended, c.extendedRecords);
    EXPECT_EQ(carried, package.programmer);

    const std::string image = ReadText(folder.Path() + "/" + sim::kImageFile);
    EXPECT_EQ(Bytes(image.begin(), image.end()), package.image);
    EXPECT_EQ(package.image.size(), 5000u);
  }
}

TEST(SimPackage, RandomBytesFollowTheSeed) {
  EXPECT_EQ(sim::RandomBytes(1001, 5), sim::RandomBytes(1001, 5));
  EXPECT_NE(sim::RandomBytes(1001, 5), sim::RandomBytes(1001, 6));
  const Bytes bytes = sim::RandomBytes(1 << 16, 1);
  EXPECT_NE(std::count(bytes.begin(), bytes.end(), 0x7E), 0);
}

}  // namespace
