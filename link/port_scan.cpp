// Port discovery and the port scan: which device ports the serial-port map
// lists, which of them is the diagnostic port and which the AT port.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "handoff/scan_diag_port.h"
#include "link/ids.h"
#include "link/linklayer.h"
#include "link/trace.h"
#include "plat/com_name.h"

std::atomic<uint8_t> DualPortFlag{0};

namespace {

constexpr uint32_t kMapTextSize = 60;  // name and data buffers of a map value
constexpr uint32_t kAnswerSize = 200;

constexpr char kDiagProbe[] = "\x0C\x14\x3A\x7E";
constexpr char kDiagReply[] = "\x0C\xE1\x00\xE1";
constexpr char kBootPrompt[] = "\x0D\x0D" "M6275A-OEMSBL>" "\x8E\x7E";
constexpr char kBootCommand[] = "AT$QCDMG\r";
constexpr char kNopFrame[] = "\x7E\x06\x4E\x95\x7E";
constexpr char kInquiry[] = "AT+CINQP?\r\n";

constexpr std::string_view kModemPortY2 = "+CINQP: MODEM PORT,y2";
constexpr std::string_view kAtOnlyPort = "+CINQP: AT ONLY PORTy";
constexpr std::string_view kModemPortY = "+CINQP: MODEM PORTy";

// Type values of an answer: the plain modem port, and the two that announce
// a second modem-type port.
constexpr uint8_t kTypeModem = 2;
constexpr uint8_t kTypeFirstOfTwo = 1;
constexpr uint8_t kTypeLineFeed = static_cast<uint8_t>('\n' - '0');

bool AnnouncesSecondPort(uint8_t type) { return type == kTypeFirstOfTwo || type == kTypeLineFeed; }

template <size_t N>
bool StartsWith(const char* answer, int count, const char (&pattern)[N]) {
  return count >= static_cast<int>(N - 1) && std::memcmp(answer, pattern, N - 1) == 0;
}

// The COM number of a map value's data "COM<digits>", by the rule every COM
// name is read by; what follows the digits is not looked at. 0 when it is no
// port we can open by number.
unsigned ComNumber(const char* data) { return plat::ComDigitsNumber(data + 3); }

void TraceNumber(const char* format, unsigned number) {
  char text[64];
  std::snprintf(text, sizeof text, format, number);
  DllTrace(text);
}

// Where the scan's reports of one pass go: the debug output in pass 1, the
// trace hook in pass 2.
struct Reporter {
  linklayer& link;
  bool debugOutput;

  void operator()(const char* text) const {
    if (debugOutput)
      link.Platform().DebugOutput(text);
    else
      DllTrace(text);
  }
  void Number(const char* format, unsigned number) const {
    char text[64];
    std::snprintf(text, sizeof text, format, number);
    (*this)(text);
  }
};

// One read of up to kAnswerSize bytes into the cleared `answer`; the count
// read, 0 after a failure.
int ReadAnswer(const plat::PortHandle& port, char* answer, const Reporter& report) {
  std::memset(answer, 0, kAnswerSize);
  uint32_t got = 0;
  if (!port->Read(answer, kAnswerSize, &got)) {
    report("ERR: I/O error on serial port \n");
    got = 0;
  }
  report("dll: scaning port \n");
  return static_cast<int>(got);
}

void Pause(linklayer& link, uint32_t ms) { link.Platform().Sleep(ms); }

// Pass 2's bookkeeping across the ports.
struct AtSearch {
  int atFlag = 0;
  uint8_t type = kTypeModem;
  int answers = 0;
  int expected = 1;
};

// The type of an answer: the byte two places after the found text, minus
// '0'; a byte the read did not deliver counts as NUL.
uint8_t TypeAfter(std::string_view answer, size_t found, size_t length) {
  const size_t at = found + length + 1;
  const char byte = at < answer.size() ? answer[at] : '\0';
  return static_cast<uint8_t>(byte - '0');
}

}  // namespace

// The scan's steps on one port; a part of the link, as they set its roles
// and use its port primitives.
struct linklayer::Scan {
  template <size_t N>
  static void Write(linklayer& link, const plat::PortHandle& port, const char (&bytes)[N]) {
    link.WritePort(port, bytes, static_cast<int>(N - 1));
  }

  static plat::PortHandle OpenScanPort(linklayer& link, unsigned com) {
    plat::PortHandle port = link.OpenComPort(com, "scan port: can not open!\n", "scan port: open ok!\n");
    if (!port || !link.ConfigurePort(port)) return nullptr;  // a port the configuration failed on is closed already
    return port;
  }

  // Pass 1 on one port: true when it is the diagnostic port.
  static bool ProbeDiagPort(linklayer& link, unsigned com) {
    const plat::PortHandle port = OpenScanPort(link, com);
    if (!port) return false;
    const LinkTimings& timings = link.Timings();
    const Reporter report{link, true};
    Pause(link, timings.ScanShortPauseMs);
    Write(link, port, kDiagProbe);
    Pause(link, timings.ScanLongPauseMs);
    Write(link, port, kDiagProbe);
    Pause(link, timings.ScanLongPauseMs);

    char answer[kAnswerSize];
    const int count = ReadAnswer(port, answer, report);
    const bool diagReply = StartsWith(answer, count, kDiagReply);
    const bool bootPrompt = !diagReply && StartsWith(answer, count, kBootPrompt);
    if (!diagReply && !bootPrompt) {
      port->Close();
      return false;
    }
    link.DiagPort = static_cast<uint8_t>(com);
    report.Number("the port is %u\r\n", com);
    report("dll: scan port ok\n");
    if (diagReply) {
      port->Close();
      return true;
    }

    // The boot loader: put it into download mode and leave the port open for
    // the download engine.
    link.DiagMode = 1;
    for (int i = 0; i < 2; ++i) {
      Write(link, port, kDiagProbe);
      Pause(link, timings.ScanLongPauseMs);
    }
    for (int i = 0; i < 2; ++i) {
      Write(link, port, kBootCommand);
      Pause(link, timings.ScanLongPauseMs);
    }
    for (int i = 0; i < 2; ++i) {
      Write(link, port, kNopFrame);
      Pause(link, timings.ScanLongPauseMs);
    }
    uint32_t got = 0;  // what this read brings is not looked at
    if (!port->Read(answer, kAnswerSize, &got)) report("ERR: I/O error on serial port \n");
    handoff::ScanDiagPortHandle.Put(port, static_cast<int>(com));
    return true;
  }

  // Pass 2 on one port: true when the AT port search is over.
  static bool ProbeAtPort(linklayer& link, unsigned com, AtSearch& search) {
    const plat::PortHandle port = OpenScanPort(link, com);
    if (!port) return false;
    const LinkTimings& timings = link.Timings();
    Pause(link, timings.ScanShortPauseMs);
    Write(link, port, kInquiry);
    Pause(link, timings.ScanShortPauseMs);
    port->PurgeComm(plat::PURGE_RXCLEAR);  // the answer to the first inquiry goes
    Write(link, port, kInquiry);
    Pause(link, timings.ScanShortPauseMs);

    char buffer[kAnswerSize];
    const std::string_view answer(buffer, static_cast<size_t>(ReadAnswer(port, buffer, Reporter{link, false})));
    port->Close();
    const uint8_t com8 = static_cast<uint8_t>(com);

    if (answer.find(kModemPortY2) != std::string_view::npos) {
      link.ModemPort = com8;
      search.atFlag = 1;
      search.type = kTypeModem;
      TraceNumber("the port is %u\r\n", com);
      DllTrace("dll: scan port ok\n");
      DualPortFlag = 0;
      return true;
    }
    if (answer.find(kAtOnlyPort) != std::string_view::npos) {
      DualPortFlag = 1;
      link.ModemPort = com8;
      TraceNumber("the AT port is %u\r\n", com);
      DllTrace("dll: scan AT port ok\n");
      if (++search.answers != 2) return false;
      search.atFlag = 1;
      search.type = TypeAfter(answer, answer.find(kAtOnlyPort), kAtOnlyPort.size());
      return true;
    }
    if (const size_t found = answer.find(kModemPortY); found != std::string_view::npos) {
      search.type = TypeAfter(answer, found, kModemPortY.size());
      ++search.answers;
      if (AnnouncesSecondPort(search.type)) {
        link.SecondModemPort = com8;
        search.expected = 2;
      } else {
        link.ModemPort = com8;
        DualPortFlag = 0;
      }
      TraceNumber("the modem port is %u\r\n", com);
      DllTrace("dll: scan modem port ok\n");
      if (search.answers != search.expected) return false;
      search.atFlag = 1;
      return true;
    }
    return false;
  }
};

int IsPortInList(const unsigned char* ports, unsigned char port, int count) {
  for (int i = 0; i < count; ++i)
    if (ports[i] == port) return 1;
  return 0;
}

uint8_t linklayer::ListDevicePorts(unsigned char* ports) {
  uint8_t count = 0;
  for (uint32_t index = 0; count < MaxDevicePorts; ++index) {
    char name[kMapTextSize];
    char data[kMapTextSize];
    const plat::EnumStatus status = options_.Platform.EnumSerialMap(index, name, kMapTextSize, data, kMapTextSize);
    // A value too long for the buffers is no port of ours, but the ones
    // after it may be.
    if (status == plat::EnumStatus::MoreData) continue;
    if (status != plat::EnumStatus::Ok) break;
    name[kMapTextSize - 1] = '\0';
    data[kMapTextSize - 1] = '\0';
    if (std::strncmp(data, "COM", 3) != 0 || std::strstr(name, "QCUSB") == nullptr) continue;
    const unsigned com = ComNumber(data);
    if (com == 0) continue;
    ports[count++] = static_cast<unsigned char>(com);
  }
  return count;
}

void linklayer::ScanPorts() {
  // A stop (the link going away) ends the scan before its next port, so
  // that the process does not wait at exit for a scan of every port.
  if (options_.ScanPorts) {
    options_.ScanPorts(*this);
    return;
  }
  std::unique_lock roles = LockRoles();
  ModemPort = NoPort;
  DiagPort = NoPort;
  SecondModemPort = NoPort;
  DiagMode = 0;
  int diagFlag = 0;
  AtSearch search;

  unsigned char ports[MaxDevicePorts];
  const uint8_t count = ListDevicePorts(ports);
  // The trace texts keep their spelling ("Begain", "scaning") on purpose:
  // readers of the trace search for them as they have always been.
  TraceNumber("Begain scan ports, count=%u\r\n", count);

  for (uint8_t i = 0; i < count; ++i) {
    if (Stopping()) return;
    if (Scan::ProbeDiagPort(*this, ports[i])) {
      diagFlag = 2;
      break;
    }
  }
  for (uint8_t i = 0; i < count; ++i) {
    if (Stopping()) return;
    if (diagFlag == 2 && ports[i] == DiagPort) continue;
    if (Scan::ProbeAtPort(*this, ports[i], search)) break;
  }

  TraceNumber("Finished scan ports, result=%u\r\n", static_cast<unsigned>(search.atFlag));
  if (search.atFlag == 0 && AnnouncesSecondPort(search.type)) {
    // A modem port announced a second one that never answered: it is the
    // AT port all the same.
    search.atFlag = 1;
    ModemPort = SecondModemPort.load();
    SecondModemPort = NoPort;
  }
  const char result[2] = {static_cast<char>(search.atFlag + diagFlag), static_cast<char>(search.type)};
  {
    std::lock_guard lock(lastScanMutex_);
    lastScan_ = ScanSnapshot{DiagPort.load(), DiagMode.load()};
  }
  roles.unlock();  // the scan is complete: whoever the report wakes may look at it
  pReadQ->Enqueue(IdPortScanResult, result, sizeof result, false);
  Notify();
}

std::unique_lock<std::mutex> linklayer::LockRoles() { return std::unique_lock(rolesMutex_); }
