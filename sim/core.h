// The simulated Nuvo device's protocol core, apart from any transport: it
// takes the bytes the host sends and works out the reply bytes and what
// happens to the device. Not thread-safe; the port driver (device.h) owns
// one and guards it.
//
// States: running firmware answers the DIAG switch, status and version
// requests; a device held in its boot loader answers the status request with
// its prompt and goes to download mode on "AT$QCDMG";
// download mode answers the DMSS commands that load the programmer into RAM
// at 0x10000000 and start it; the running programmer answers the streaming
// protocol that writes and reads the flash and resets the device; a reset
// device is silent for a while (its ports may vanish from the map
// meanwhile) and then runs its firmware again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/at.h"
#include "sim/flash.h"
#include "sim/hdlc.h"
#include "sim/knobs.h"

namespace sim {

enum class State : uint8_t {
  Diag,       // running firmware
  Dmss,       // download mode
  Streaming,  // the programmer runs
  Reset,      // silent until it runs its firmware again
  Unplugged,  // hung up; stays gone
  BootLoader, // the boot loader's prompt; "AT$QCDMG" leads to download mode
};
std::string_view StateName(State state);

inline constexpr uint32_t kRamBase = 0x10000000;
inline constexpr uint32_t kRamSize = 0x00100000;
inline constexpr uint32_t kRamBlockMax = 1017;     // data bytes per RAM write
inline constexpr uint32_t kStreamBlockMax = 1024;  // data bytes per flash write or read

// Reply codes besides the acknowledgements of the dialogue.
inline constexpr uint8_t kDiagBadCommand = 0x13;  // + the request's bytes
inline constexpr uint8_t kDmssNak = 0x03;         // + a 16-bit reason, big-endian
inline constexpr uint8_t kStreamError = 0x0D;     // + a 32-bit reason, little-endian
enum class Reason : uint8_t { UnknownCommand = 1, BadLength = 2, OutOfRange = 3, BadMagic = 4 };

inline constexpr char kHelloMagic[] = "QCOM fast download protocol host";

// The head of the running firmware's status reply, and the boot loader's
// answer to the same request (sent as it is, without framing).
inline constexpr uint8_t kStatusReply[] = {0x0C, 0xE1, 0x00, 0xE1, 0x00, 0x00, 0x00, 0x00};
inline constexpr char kBootPrompt[] = "\r\rM6275A-OEMSBL>\x8E\x7E";  // 18 bytes
inline constexpr char kBootCommand[] = "AT$QCDMG\r";

// The device's ports besides its diagnostic port, by profile: none; one
// modem port; a modem port and an AT-only port; one modem port that ends its
// inquiry answer where the type belongs; and the boot-loader profile, whose
// diagnostic port shows the boot loader's prompt, with one modem port.
enum class Profile : uint8_t { DiagOnly, SingleModem, DualPort, LineFeedModem, BootLoader };
std::string_view ProfileName(Profile profile);
std::optional<Profile> ProfileByName(std::string_view name);

struct Config {
  unsigned com = 7;
  std::string mapName;  // empty: "\Device\QCUSB_COM<com>_0"
  std::string flashPath;
  Fill fill = Fill::Erased;
  State initialState = State::Diag;  // Diag, or Dmss for a device that waits in download mode
                                     // (the boot-loader profile starts in BootLoader)
  uint32_t resetSilenceMs = 2000;    // system time
  bool reenumerate = true;           // the ports leave the map and the COM link during a reset
  bool throttle = false;             // 11520 bytes/s each way, as a 115200-baud line
  std::string flashName = "NUVO-SIM-NAND-256";
  std::string versionText = "NUVO-SIM-1.0";  // one word: the firmware's version in both replies

  // The AT side.
  Profile profile = Profile::DiagOnly;
  unsigned atCom = 0;                        // the first AT port's number (0: com + 1), the next one after it
  std::string accessCode = "70419352";       // for the diagnostic-mode switch
  uint32_t reenumeratePauseMs = 2000;        // system time the ports stay away after a mode switch or AT+CFUN=6
  AtModes modes;                             // the modes at power-on
  SwitchRestart switchRestart = SwitchRestart::AnyChange;  // which mode switches restart the device
};

std::string DefaultMapName(unsigned com);

// A moment on two clocks: real microseconds since the device was made, and
// the system's (scaled) tick count.
struct Stamp {
  uint64_t realUs = 0;
  uint32_t tick = 0;
};

// One frame the device received, and what it answered.
struct TranscriptEntry {
  static constexpr size_t kHead = 48;  // bytes kept of a request and of a reply
  Stamp arrived;                       // when the frame's closing flag came in
  Stamp replied;                       // when the reply had been written (no reply: zero)
  State state = State::Diag;           // the state the frame found
  Step step = Step::Unknown;
  bool crcOk = false;
  bool leadingFlag = false;
  uint16_t faults = 0;         // bit (1 << Fault) for every knob applied
  uint16_t requestLength = 0;  // payload bytes, without the CRC
  uint16_t replyLength = 0;    // payload bytes of the reply as sent, without the CRC; 0: none
  std::array<uint8_t, kHead> request{};
  std::array<uint8_t, kHead> reply{};

  bool Faulted(Fault fault) const { return (faults & (1u << static_cast<unsigned>(fault))) != 0; }
};

enum class Memory : uint8_t { Ram, Flash };

struct WriteRecord {
  Memory memory = Memory::Flash;
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t request = 0;  // transcript index
};

// What the driver must do after a frame: send `bytes` in pieces (each after
// its pause), then carry out the effect.
struct Response {
  struct Piece {
    uint32_t pauseMs = 0;  // real milliseconds before the piece
    size_t end = 0;        // the piece ends at this offset of `bytes`
  };
  enum class Effect : uint8_t { None, Reset, HangUp };

  std::vector<uint8_t> bytes;
  std::vector<Piece> pieces;
  Effect effect = Effect::None;
  uint32_t silenceMs = 0;  // for a reset: real milliseconds, or kForever

  void Clear();
};

class Core {
 public:
  explicit Core(const Config& config);

  // Creates the flash file with its initial contents.
  bool Open(std::string* error);
  void Close();  // flushes and closes the flash file

  // Takes received bytes up to the end of the next frame; FrameReady() then
  // tells whether Handle() has a frame to answer. The boot loader takes its
  // probe and its command out of the raw bytes instead.
  size_t Feed(const uint8_t* data, size_t count);
  bool FrameReady() const { return deframer_.Ready() || bootProbe_; }
  // Answers the frame that Feed() closed, as received at `at`.
  void Handle(const Stamp& at, Response& out);
  // The reply to the last frame has been written.
  void MarkReplied(const Stamp& at);
  // The silence after a reset is over: the firmware runs again.
  void EndReset();
  // Plugged in again: the device starts as at power-on, running its firmware
  // (or its boot loader), whatever it was in the middle of lost; the flash
  // keeps its contents.
  void PowerOn();

  State GetState() const { return state_; }
  // Whether the device's ports are in the map and linked as COM<n>.
  bool Listed() const { return listed_; }
  const std::vector<TranscriptEntry>& Transcript() const { return transcript_; }
  const std::vector<WriteRecord>& WriteLog() const { return writes_; }
  uint32_t BadCrcCount() const { return badCrc_; }
  uint32_t ResetCount() const { return resets_; }
  const uint8_t* FlashData() const { return flash_.Data(); }
  const uint8_t* RamData() const { return ram_.get(); }
  bool FlashFileOk() const { return flashFileOk_; }

  void AddKnob(const Knob& knob);
  void ClearKnobs();

 private:
  struct ArmedKnob {
    Knob knob;
    uint32_t seen = 0;
  };

  uint32_t FaultsFor(Step step, uint32_t index);
  void Answer(Step step, std::span<const uint8_t> request, uint32_t faults, uint32_t index);
  void AnswerDiag(Step step, std::span<const uint8_t> request);
  void AnswerDmss(Step step, std::span<const uint8_t> request, uint32_t index);
  void AnswerStreaming(Step step, std::span<const uint8_t> request, uint32_t faults, uint32_t index);
  void Nak(std::span<const uint8_t> request, Reason reason);
  size_t FeedBootLoader(const uint8_t* data, size_t count);
  void AnswerBootProbe(const Stamp& at, Response& out);
  void BeginReset(uint32_t silenceMs);
  void Send(uint32_t faults, Response& out);

  Config config_;
  State state_;
  bool listed_ = true;
  Deframer deframer_;
  std::string bootText_;     // the boot loader's last bytes, for its probe and command
  bool bootProbe_ = false;   // the boot loader has a probe to answer
  bool skipText_ = false;    // after the boot loader's command: the rest of its text up to the next flag
  bool bareReply_ = false;   // the reply goes out without its opening flag
  Flash flash_;
  bool flashFileOk_ = true;
  std::unique_ptr<uint8_t[]> ram_;
  std::vector<TranscriptEntry> transcript_;
  std::vector<WriteRecord> writes_;
  std::vector<ArmedKnob> knobs_;
  std::vector<uint8_t> reply_;  // the reply payload being built
  Response::Effect effect_ = Response::Effect::None;
  uint32_t silenceMs_ = 0;
  std::array<uint32_t, 16> faultValue_{};  // the value of each fault applied to the current frame
  uint32_t badCrc_ = 0;
  uint32_t resets_ = 0;
};

}  // namespace sim
