// The images a transfer works on: the flash programmer (run from the device's
// RAM) and the device image (written into its flash), held in a process-wide
// table while one transfer runs, and the loaders that fill it.
//
// Only the transfer's worker thread touches the table, and one transfer runs
// at a time, so nothing here locks.
#pragma once

#include <cstdint>
#include <memory>

namespace download {

// One entry of the image table; it owns its buffer.
struct ImageSlot {
  std::unique_ptr<uint8_t[]> Data;  // null while the entry is empty
  int32_t Length = 0;               // image bytes; kept by FreeImages
};

// Entries 1 to 7 belong to a multi-image download that no step table runs;
// no loader fills them.
enum ImageIndex : int {
  ProgrammerImage,  // "armprg.hex" or "NPRG6246.HEX", converted by ParseIntelHex
  PartitionImage,
  QcsblhdCfgdataImage,
  QcsblImage,
  PblImage,
  OemsblHeaderImage,
  OemsblImage,
  AmssHeaderImage,
  DeviceImage,  // "NuvoDownload.bin", raw
  ImageCount
};

// Never destroyed: a worker may still be using it when the process exits.
extern ImageSlot (&ImageTable)[ImageCount];

// Extra bytes after the file's contents in a LoadFile buffer; their contents
// are unspecified.
inline constexpr int32_t LoadFileSpare = 128;

// Reads the whole regular file at `path` into a new buffer of its size plus
// LoadFileSpare bytes and stores the number of bytes read in `*length`. Null
// (and `*length` untouched) when the file cannot be opened, is not a regular
// file, is empty, is too large for an int32 length, or no memory is left.
std::unique_ptr<uint8_t[]> LoadFile(const char* path, int32_t* length);

// The value of a pair of hex digits (either case), or BadHexPair when either
// character is not a hex digit.
inline constexpr int BadHexPair = 9999;
int HexPairValue(char high, char low);

// Converts Intel HEX text into a flat image: the data bytes of every data
// record (type 00), in the order of the records in the text. Record addresses,
// extended addresses (type 04, whose digits are still checked) and checksums
// do not affect the output; every other record type is skipped, and records
// after an end-of-file record are still read. Text outside records is ignored.
//
// `out` receives a buffer of length / 2 bytes before parsing starts, also
// when the result is -1. Returns the number of bytes placed in it, or -1 for
// a bad record: a character that is not a hex digit where one is needed, a
// record cut short by the end of the text, or more data than the buffer holds.
// Bytes converted before a bad record stay in the buffer.
int32_t ParseIntelHex(const uint8_t* text, int32_t length, std::unique_ptr<uint8_t[]>& out);

// Empties every entry of ImageTable; their lengths are left as they were.
// Run at the end of every transfer, on success and on failure.
void FreeImages();

}  // namespace download
