// The device's flash: 32 MiB kept in memory and written through to a file,
// so a test (or a later upload) sees every write in both places.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace sim {

inline constexpr uint32_t kFlashSize = 33554432;

// What the flash holds before the first write.
enum class Fill {
  Erased,   // every byte 0xFF
  Pattern,  // each 32-bit word holds its own address, little-endian
  Escapes,  // 7E 7D 7E 7D ...: every byte must be escaped on the line
};

// The byte a fresh flash of `fill` holds at `address`.
uint8_t FillByte(Fill fill, uint32_t address);

class Flash {
 public:
  Flash() = default;
  ~Flash();
  Flash(const Flash&) = delete;
  Flash& operator=(const Flash&) = delete;

  // Fills the flash and writes the file anew with that content; false with a
  // reason in `error` when the file cannot be written.
  bool Open(const std::string& path, Fill fill, std::string* error);
  // Flushes and closes the file; the memory stays readable.
  void Close();

  // Writes `count` bytes at `address` (the caller checks the range) into
  // memory and the file; false when the file write failed.
  bool Write(uint32_t address, const uint8_t* data, size_t count);
  const uint8_t* Data() const { return bytes_.get(); }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  std::FILE* file_ = nullptr;
};

}  // namespace sim
