// The first phase of a transfer: the device's own DIAG and DMSS download
// commands, which switch it into its download mode and load and start the
// flash programmer in its RAM.
#include <algorithm>
#include <cstring>

#include "download/exchange.h"
#include "download/framing.h"
#include "download/images.h"
#include "download/status.h"
#include "download/steps.h"
#include "plat/clock.h"
#include "plat/debug.h"

namespace download {
namespace {

constexpr uint8_t kDiagDownloadMode = 0x3A;
constexpr uint8_t kDiagVersion = 0x00;
constexpr uint8_t kDmssWrite32 = 0x0F;
constexpr uint8_t kDmssAck = 0x02;
constexpr uint8_t kDmssNop = 0x06;
constexpr uint8_t kDmssParamRequest = 0x07;
constexpr uint8_t kDmssParamResponse = 0x08;
constexpr uint8_t kDmssGo = 0x05;

// The two DIAG requests go out without a leading flag, the DMSS ones with.
constexpr int kNoLeadingFlag = 0;
constexpr int kLeadingFlag = 1;

// Where the programmer is loaded and started.
constexpr uint32_t kProgrammerAddress = 0x10000000;
constexpr int32_t kProgrammerBlock = 1017;  // 7 header bytes make 1024

// Time the started programmer needs before it answers.
constexpr uint32_t kProgrammerStartMs = 5000;

}  // namespace

int SwitchToDownloadMode() {
  BeginRequest();
  PutByte(kDiagDownloadMode);
  const int result = Transact(kNoLeadingFlag, kDiagDownloadMode, "switch to download mode error!!!");
  if (result != 1) return result;
  // The device re-enumerates into its download mode meanwhile; the bar runs
  // through the second that takes.
  ShowStatusF("%s", "switch to download mode, please wait...");
  for (int i = 0; i <= 20; ++i) {
    plat::Sleep(50);
    ShowProgress(i * 100 / 21);
  }
  ShowProgress(0);
  return 1;
}

int SendNop() {
  plat::DebugDump("send nop.\n");
  BeginRequest();
  PutByte(kDmssNop);
  return Transact(kLeadingFlag, kDmssAck);
}

int ParamRequest() {
  BeginRequest();
  PutByte(kDmssParamRequest);
  return Transact(kLeadingFlag, kDmssParamResponse);
}

int WriteProgrammer() {
  const ImageSlot& image = ImageTable[ProgrammerImage];
  const int32_t length = image.Data ? image.Length : 0;
  uint32_t address = kProgrammerAddress;
  int32_t block = kProgrammerBlock;
  for (int32_t offset = 0; offset < length; offset += block) {
    block = std::min(block, length - offset);
    BeginRequest();
    PutByte(kDmssWrite32);
    PutBigEndian32(address);
    PutBigEndian16(static_cast<uint16_t>(block));
    PutBytes(image.Data.get() + offset, block);
    address += static_cast<uint32_t>(block);
    if (const int result = Transact(kLeadingFlag, kDmssAck); result != 1) return result;
  }
  return 1;
}

int go_cmd() {
  plat::DebugDump("go_cmd.\n");
  BeginRequest();
  PutByte(kDmssGo);
  PutBigEndian32(kProgrammerAddress);
  if (const int result = Transact(kLeadingFlag, kDmssAck); result != 1) return result;
  plat::Sleep(kProgrammerStartMs);
  plat::DebugDump("go_cmd ok.\n");
  return 1;
}

int read_version() {
  BeginRequest();
  PutByte(kDiagVersion);
  const Reply reply = Exchange(kNoLeadingFlag);
  if (reply != Reply::Frame) return NoFrameResult(reply);
  if (RxFrame.Bytes[0] != kDiagVersion) {
    ShowStatusF("%s", "read_version error!!!");
    return -1;
  }
  // The text lies between the code and the CRC and may end early in a NUL;
  // ShowStatusF cuts it to the status buffer.
  const char* text = reinterpret_cast<const char*>(&RxFrame.Bytes[1]);
  const size_t room = static_cast<size_t>(RxFrame.Count - 3);
  const void* nul = std::memchr(text, '\0', room);
  const size_t length = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : room;
  ShowStatusF("Version:%.*s", static_cast<int>(length), text);
  return 1;
}

int Delay15Seconds() {
  constexpr uint32_t kDelayMs = 15000;
  const uint32_t start = plat::GetTickCount();
  for (uint32_t elapsed; (elapsed = plat::GetTickCount() - start) <= kDelayMs;) plat::Sleep(kDelayMs + 1 - elapsed);
  return 1;
}

}  // namespace download
