#include "sim/package.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "sim/core.h"

namespace sim {
namespace {

void PutHex(std::string& out, uint8_t byte, unsigned& sum) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out.push_back(kDigits[byte >> 4]);
  out.push_back(kDigits[byte & 0xF]);
  sum += byte;
}

void PutRecord(std::string& out, uint8_t type, uint16_t address, const uint8_t* data, size_t count) {
  unsigned sum = 0;
  out.push_back(':');
  PutHex(out, static_cast<uint8_t>(count), sum);
  PutHex(out, static_cast<uint8_t>(address >> 8), sum);
  PutHex(out, static_cast<uint8_t>(address & 0xFF), sum);
  PutHex(out, type, sum);
  for (size_t i = 0; i < count; ++i) PutHex(out, data[i], sum);
  unsigned ignored = 0;
  PutHex(out, static_cast<uint8_t>(-sum & 0xFF), ignored);
  out += "\r\n";
}

bool WriteFile(const std::string& path, const void* data, size_t count) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(data, 1, count, file) == count;
  return std::fclose(file) == 0 && written;
}

}  // namespace

std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; i += 4) {
    const uint32_t word = random();
    for (size_t k = 0; k < 4 && i + k < count; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return bytes;
}

std::string IntelHex(const std::vector<uint8_t>& programmer, unsigned recordSize) {
  std::string text;
  text.reserve(programmer.size() * 2 + programmer.size() / recordSize * 13 + 64);
  for (size_t offset = 0; offset < programmer.size() || offset == 0; offset += recordSize) {
    const uint32_t address = kRamBase + static_cast<uint32_t>(offset);
    if (offset == 0 || (address & 0xFFFF) == 0) {
      const uint8_t upper[] = {static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16)};
      PutRecord(text, 0x04, 0, upper, sizeof upper);
    }
    if (offset >= programmer.size()) break;
    const size_t count = std::min<size_t>(recordSize, programmer.size() - offset);
    PutRecord(text, 0x00, static_cast<uint16_t>(address & 0xFFFF), programmer.data() + offset, count);
  }
  PutRecord(text, 0x01, 0, nullptr, 0);
  return text;
}

bool WritePackage(const std::string& folder, const PackageSpec& spec, Package& out) {
  out.programmer = RandomBytes(spec.programmerSize, spec.seed);
  out.image = RandomBytes(spec.imageSize, spec.seed * 2654435761u + 1);
  const std::string hex = IntelHex(out.programmer, spec.recordSize);
  return WriteFile(folder + "/" + kProgrammerFile, hex.data(), hex.size()) &&
         WriteFile(folder + "/" + kImageFile, out.image.data(), out.image.size());
}

}  // namespace sim
