#include "download/images.h"

#include <cstdio>
#include <limits>
#include <new>

#include "handoff/never_destroyed.h"
#include "plat/file.h"

namespace download {
namespace {

constinit handoff::NeverDestroyed<ImageSlot[ImageCount]> ImageStorage;

}  // namespace

constinit ImageSlot (&ImageTable)[ImageCount] = ImageStorage.value;

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::unique_ptr<uint8_t[]> LoadFile(const char* path, int32_t* length) {
  // A directory or a device would open (or not) differently per platform and
  // has no meaningful size: only regular files are images. The status is
  // read by the same narrow name as fopen takes.
  if (plat::GetFileStatus(path).kind != plat::FileKind::Regular) return nullptr;

  File file(std::fopen(path, "rb"));
  if (!file) return nullptr;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return nullptr;
  const long size = std::ftell(file.get());
  // ftell gives -1 for a size it cannot represent; the buffer's size must
  // still fit the int32 length.
  if (size <= 0 || size > std::numeric_limits<int32_t>::max() - LoadFileSpare) return nullptr;
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return nullptr;

  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size + LoadFileSpare]);
  if (!buffer) return nullptr;
  *length = static_cast<int32_t>(std::fread(buffer.get(), 1, static_cast<size_t>(size), file.get()));
  return buffer;
}

int HexPairValue(char high, char low) {
  const int h = HexDigitValue(high);
  const int l = HexDigitValue(low);
  if (h < 0 || l < 0) return BadHexPair;
  return h * 16 + l;
}

int32_t ParseIntelHex(const uint8_t* text, int32_t length, std::unique_ptr<uint8_t[]>& out) {
  const int32_t capacity = length > 0 ? length / 2 : 0;
  out.reset(new (std::nothrow) uint8_t[capacity]);
  if (!out || length < 0) return -1;

  int32_t count = 0;
  for (int32_t colon = 0; colon < length; ++colon) {
    if (text[colon] != ':') continue;

    // Positions count from the colon; a pair beyond the text is a bad record.
    const uint8_t* record = text + colon;
    const int32_t available = length - colon;
    auto pair = [&](int32_t at) {
      if (at + 1 >= available) return BadHexPair;
      return HexPairValue(static_cast<char>(record[at]), static_cast<char>(record[at + 1]));
    };
    if (available < 9) return -1;  // no room for the type at 7-8
    const bool data = record[7] == '0' && record[8] == '0';
    const bool extendedAddress = record[7] == '0' && record[8] == '4';

    if (extendedAddress) {
      // Checked, not used: no address affects the image.
      if (pair(9) == BadHexPair || pair(11) == BadHexPair) return -1;
    } else if (data) {
      const int bytes = pair(1);
      if (bytes == BadHexPair) return -1;
      for (int k = 0; k < bytes; ++k) {
        const int value = pair(9 + 2 * k);
        // Records can overlap (a colon inside another record's address), so
        // even hex-clean text can promise more bytes than the buffer holds.
        if (value == BadHexPair || count == capacity) return -1;
        out[count++] = static_cast<uint8_t>(value);
      }
    }
  }
  return count;
}

void FreeImages() {
  for (ImageSlot& slot : ImageTable) slot.Data.reset();
}

}  // namespace download
