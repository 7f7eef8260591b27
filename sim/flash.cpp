#include "sim/flash.h"

#include <cstring>

namespace sim {

uint8_t FillByte(Fill fill, uint32_t address) {
  switch (fill) {
    case Fill::Erased:
      return 0xFF;
    case Fill::Pattern: {
      const uint32_t word = address & ~3u;
      return static_cast<uint8_t>(word >> (8 * (address & 3u)));
    }
    case Fill::Escapes:
      return (address & 1u) == 0 ? 0x7E : 0x7D;
  }
  return 0xFF;
}

Flash::~Flash() { Close(); }

bool Flash::Open(const std::string& path, Fill fill, std::string* error) {
  Close();
  if (!bytes_) bytes_ = std::make_unique_for_overwrite<uint8_t[]>(kFlashSize);
  uint8_t* bytes = bytes_.get();
  switch (fill) {
    case Fill::Erased:
      std::memset(bytes, 0xFF, kFlashSize);
      break;
    case Fill::Pattern:
      for (uint32_t word = 0; word < kFlashSize; word += 4) {
        bytes[word] = static_cast<uint8_t>(word);
        bytes[word + 1] = static_cast<uint8_t>(word >> 8);
        bytes[word + 2] = static_cast<uint8_t>(word >> 16);
        bytes[word + 3] = static_cast<uint8_t>(word >> 24);
      }
      break;
    case Fill::Escapes:
      for (uint32_t address = 0; address < kFlashSize; address += 2) {
        bytes[address] = 0x7E;
        bytes[address + 1] = 0x7D;
      }
      break;
  }
  file_ = std::fopen(path.c_str(), "w+b");
  if (file_ == nullptr) {
    if (error != nullptr) *error = "cannot create the flash file " + path;
    return false;
  }
  if (std::fwrite(bytes_.get(), 1, kFlashSize, file_) != kFlashSize || std::fflush(file_) != 0) {
    if (error != nullptr) *error = "cannot write the flash file " + path;
    Close();
    return false;
  }
  return true;
}

void Flash::Close() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

bool Flash::Write(uint32_t address, const uint8_t* data, size_t count) {
  std::memcpy(bytes_.get() + address, data, count);
  if (file_ == nullptr) return false;
  // Flushed at once: whoever reads the file meanwhile sees the write.
  return std::fseek(file_, static_cast<long>(address), SEEK_SET) == 0 &&
         std::fwrite(data, 1, count, file_) == count && std::fflush(file_) == 0;
}

}  // namespace sim
