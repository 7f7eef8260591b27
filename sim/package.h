// Firmware packages made up on the spot for tests and demos: a random flash
// programmer as Intel HEX and a random device image, so no binary has to be
// kept in the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr char kProgrammerFile[] = "armprg.hex";
inline constexpr char kImageFile[] = "NuvoDownload.bin";

struct PackageSpec {
  size_t programmerSize = 3000;  // bytes of programmer code
  size_t imageSize = 65536;      // bytes of device image
  unsigned recordSize = 32;      // data bytes per HEX record: 16 or 32 (the last may be shorter)
  uint32_t seed = 1;
};

struct Package {
  std::vector<uint8_t> programmer;  // what the HEX records carry, in file order
  std::vector<uint8_t> image;
};

// Random bytes from `seed`, the same for the same seed.
std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed);

// The programmer as Intel HEX for the RAM at 0x10000000: an extended linear
// address record (type 04) at the start and at every 64 KiB, data records
// with their addresses and checksums, and an end-of-file record.
std::string IntelHex(const std::vector<uint8_t>& programmer, unsigned recordSize);

// Writes kProgrammerFile and kImageFile into `folder` (which must exist) and
// returns the bytes they hold in `out`; false when a file cannot be written.
bool WritePackage(const std::string& folder, const PackageSpec& spec, Package& out);

}  // namespace sim
