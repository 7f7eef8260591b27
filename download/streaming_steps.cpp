// The second phase of a transfer: the streaming download protocol that the
// programmer answers once it runs, and the step tables of a download and an
// upload.
#include <algorithm>
#include <cstring>

#include "download/exchange.h"
#include "download/framing.h"
#include "download/images.h"
#include "download/status.h"
#include "download/steps.h"

namespace download {
namespace {

constexpr uint8_t kHello = 0x01;
constexpr uint8_t kHelloResponse = 0x02;
constexpr uint8_t kRead = 0x03;
constexpr uint8_t kReadResponse = 0x04;
constexpr uint8_t kStreamWrite = 0x07;
constexpr uint8_t kStreamWriteResponse = 0x08;
constexpr uint8_t kReset = 0x0B;
constexpr uint8_t kResetResponse = 0x0C;
constexpr uint8_t kClose = 0x15;
constexpr uint8_t kCloseResponse = 0x16;
constexpr uint8_t kSecurityMode = 0x17;
constexpr uint8_t kSecurityModeResponse = 0x18;
constexpr uint8_t kPartitionTable = 0x19;
constexpr uint8_t kPartitionTableResponse = 0x1A;
constexpr uint8_t kOpenMultiImage = 0x1B;
constexpr uint8_t kOpenMultiImageResponse = 0x1C;

constexpr int kLeadingFlag = 1;

constexpr char kHelloMagic[] = "QCOM fast download protocol host";
constexpr uint8_t kProtocolVersion = 3;
constexpr uint8_t kCompatibleVersion = 3;
constexpr uint8_t kFeatureBits = 9;
// Where the flash device's name stands in the hello reply (the code at 0).
constexpr int32_t kFlashNameLengthAt = 43;
constexpr int32_t kFlashNameAt = 44;
constexpr int32_t kFlashNameMax = 63;

constexpr int32_t kStreamBlock = 1024;

constexpr uint16_t kReadBlock = 1024;
// A whole read reply as stored: code, 4 address bytes, the data, the CRC.
constexpr int32_t kReadReplyCount = 1 + 4 + kReadBlock + 2;
constexpr int32_t kReadDataAt = 5;

int32_t ReadFlashStart = 0;

// Bytes of an image entry; an entry that holds nothing has none, whatever
// length an earlier transfer left in it.
int32_t ImageLength(const ImageSlot& image) { return image.Data ? image.Length : 0; }

// Percent of the image sent. Below 100 bytes the hundredth of the length is
// 0, so those images are reckoned directly.
int StreamPercent(int32_t sent, int32_t length) {
  if (length < 100) return static_cast<int>(int64_t{sent} * 100 / length);
  return static_cast<int>(sent / (length / 100));
}

// Writes an image into flash from address 0 in blocks of 1024 bytes; the
// device image alone reports progress.
int StreamWrite(ImageIndex index, const char* wrongReplyText, bool withProgress) {
  const ImageSlot& image = ImageTable[index];
  const int32_t length = ImageLength(image);
  uint32_t address = 0;
  int32_t block = kStreamBlock;
  for (int32_t offset = 0; offset < length;) {
    block = std::min(block, length - offset);
    BeginRequest();
    PutByte(kStreamWrite);
    PutLittleEndian32(address);
    PutBytes(image.Data.get() + offset, block);
    address += static_cast<uint32_t>(block);
    offset += block;
    if (const int result = Transact(kLeadingFlag, kStreamWriteResponse, wrongReplyText); result != 1) return result;
    if (withProgress) {
      const int percent = StreamPercent(offset, length);
      ShowStatusF("download Nuvo %d%%\r", percent);
      ShowProgress(percent);
    }
  }
  if (withProgress) {
    ShowStatusF("%s", "download Nuvo 100%");
    ShowProgress(100);
  }
  return 1;
}

// A read reply can be short, or damaged on the line: only a whole one with
// its own CRC right may go into the upload.
bool IsWholeReadReply() {
  if (RxFrame.Count != kReadReplyCount) return false;
  const int32_t crcAt = kReadReplyCount - 2;
  const int crc = RxFrame.Bytes[crcAt] | RxFrame.Bytes[crcAt + 1] << 8;
  return CalcCrc16(RxFrame.Bytes.data(), crcAt) == crc;
}

// Opens one image of a multi-image download; types 4 and 5 carry a header.
int OpenImage(uint8_t type, const ImageSlot* header, const char* doneText, const char* wrongReplyText) {
  BeginRequest();
  PutByte(kOpenMultiImage);
  PutByte(type);
  if (header != nullptr) PutBytes(header->Data.get(), ImageLength(*header));
  const int result = Transact(kLeadingFlag, kOpenMultiImageResponse, wrongReplyText);
  if (result == 1 && doneText != nullptr) ShowStatusF("%s", doneText);
  return result;
}

}  // namespace

uint8_t UploadBuffer[kUploadBytes];

int SendHello() {
  BeginRequest();
  PutByte(kHello);
  PutBytes(reinterpret_cast<const uint8_t*>(kHelloMagic), sizeof kHelloMagic - 1);
  PutByte(kProtocolVersion);
  PutByte(kCompatibleVersion);
  PutByte(kFeatureBits);
  const Reply reply = Exchange(kLeadingFlag, ReplyWait::UntilSilence);
  // A programmer that does not answer the hello is taken as ready.
  if (reply == Reply::Silence) return 1;
  if (reply != Reply::Frame) return NoFrameResult(reply);
  if (RxFrame.Bytes[0] != kHelloResponse) return -1;

  // The name's length byte is the device's word; the name is cut to what the
  // frame holds before its CRC and to the 63 characters shown.
  const int32_t payload = RxFrame.Count - 2;
  int32_t length = 0;
  if (payload > kFlashNameLengthAt) {
    length = std::min({int32_t{RxFrame.Bytes[kFlashNameLengthAt]}, kFlashNameMax, payload - kFlashNameAt});
  }
  char name[kFlashNameMax + 1] = {};
  if (length > 0) std::memcpy(name, &RxFrame.Bytes[kFlashNameAt], static_cast<size_t>(length));
  ShowStatusF("Flash_type:%s", name);
  return 1;
}

int WriteAmss() { return StreamWrite(DeviceImage, "download Nuvo!", true); }
int WritePbl() { return StreamWrite(PblImage, "download pbl.mbn error!", false); }
int WriteQcsblhdCfgdata() { return StreamWrite(QcsblhdCfgdataImage, "download qcsblhd_cfgdata.mbn error!!!", false); }
int WriteQcsbl() { return StreamWrite(QcsblImage, "download qcsbl.mbn error!", false); }
int WriteOemsbl() { return StreamWrite(OemsblImage, "download oemsbl.mbn error!", false); }

int ReadFlash() {
  int attempts = 0;
  for (int32_t offset = ReadFlashStart; offset < kUploadBytes;) {
    BeginRequest();
    PutByte(kRead);
    PutLittleEndian32(static_cast<uint32_t>(offset));
    PutLittleEndian16(kReadBlock);
    const Reply reply = Exchange(kLeadingFlag);
    if (reply != Reply::Frame) return NoFrameResult(reply);
    if (RxFrame.Bytes[0] != kReadResponse) {
      ShowStatusF("%s", "upload Nuvo!");
      return -1;
    }
    if (!IsWholeReadReply()) {
      // Asked again, but not for ever: a device that keeps failing one
      // block ends the upload.
      ShowStatusF("%s", "upload Nuvo!");
      if (++attempts == kReadFlashAttempts) return -1;
      continue;
    }
    attempts = 0;
    RxFrame.Count = 0;
    std::memcpy(&UploadBuffer[offset], &RxFrame.Bytes[kReadDataAt], kReadBlock);
    const int percent = offset / (kUploadBytes / 100);
    ShowStatusF("upload Nuvo %d%%\r", percent);
    ShowProgress(percent);
    offset += kReadBlock;
  }
  ShowStatusF("%s", "upload Nuvo 100%");
  ShowProgress(100);
  return 1;
}

int ResetTarget() {
  BeginRequest();
  PutByte(kReset);
  const int result = Transact(kLeadingFlag, kResetResponse, "reset error!!!");
  if (result == 1) ShowStatusF("%s", "reset");
  return result;
}

int SetSecurityMode() {
  BeginRequest();
  PutByte(kSecurityMode);
  PutByte(1);
  return Transact(kLeadingFlag, kSecurityModeResponse);
}

int SendPartitionTable() {
  const ImageSlot& table = ImageTable[PartitionImage];
  uint8_t overrideFlag = 0;
  // The device answers 1 when the table differs from its own; sent again
  // with the override flag it is taken.
  for (;;) {
    BeginRequest();
    PutByte(kPartitionTable);
    PutByte(overrideFlag);
    PutBytes(table.Data.get(), ImageLength(table));
    const int result = Transact(kLeadingFlag, kPartitionTableResponse, "download partition.mbn error!");
    if (result != 1) return result;
    const uint8_t status = RxFrame.Bytes[1];
    if (status == 0) {
      ShowStatusF("%s", "download partition.mbn");
      return 1;
    }
    if (status != 1) {
      ShowStatusF("%s", "download partition.mbn error!");
      return -1;
    }
    overrideFlag = 1;
  }
}

int OpenPbl() { return OpenImage(1, nullptr, "download pbl.mbn", "download pbl.mbn error!"); }
int OpenQcsblhdCfgdata() {
  return OpenImage(2, nullptr, "download qcsblhd_cfgdata.mbn", "download qcsblhd_cfgdata.mbn error!!!");
}
int OpenQcsbl() { return OpenImage(3, nullptr, "download qcsbl.mbn", "download qcsbl.mbn error!"); }
int OpenOemsbl() {
  return OpenImage(4, &ImageTable[OemsblHeaderImage], "download oemsbl.mbn", "download oemsbl.mbn error!");
}
int OpenAmss() { return OpenImage(5, &ImageTable[AmssHeaderImage], nullptr, "download amss.mbn!"); }

int CloseImage() {
  BeginRequest();
  PutByte(kClose);
  return Transact(kLeadingFlag, kCloseResponse);
}

const StepFn DownloadSteps[11] = {
    SwitchToDownloadMode, SendNop, SendNop, ParamRequest, WriteProgrammer, go_cmd,
    SendHello,            SendHello, WriteAmss, ResetTarget, nullptr,
};

const StepFn UploadSteps[11] = {
    SwitchToDownloadMode, SendNop, SendNop, ParamRequest, WriteProgrammer, go_cmd,
    SendHello,            SendHello, ReadFlash, ResetTarget, nullptr,
};

namespace steps_testing {

void SetReadFlashStart(int32_t address) {
  ReadFlashStart = std::clamp(address / kReadBlock * kReadBlock, int32_t{0}, kUploadBytes);
}

}  // namespace steps_testing

}  // namespace download
