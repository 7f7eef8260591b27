// Helpers shared by the link layer's tests: a look at the object's private
// state, the indications of a queue, and an AT peer on a test port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "indication.h"
#include "link/linklayer.h"
#include "plat/event.h"
#include "support/port_kit.h"

// The tests' one way into the link's private parts: its ring and flags, its
// events and port roles, and its loops and steps to drive from the test's
// own thread.
class LinkLayerPeer {
 public:
  // The unread bytes of the read ring, in ring order.
  static std::string Unread(const linklayer& link) {
    std::string unread;
    for (int i = 0; i < link.ReadRing.num4read; ++i)
      unread += link.ReadRing.bytes[(link.ReadRing.readIndex + i) % linklayer::RingSize];
    return unread;
  }
  static int32_t ReadIndex(const linklayer& link) { return link.ReadRing.readIndex; }
  static bool SmsNew(const linklayer& link) { return link.bSmsNew != 0; }
  static const ResponseParser& Parser(const linklayer& link) { return link.Parser; }

  // Port roles, as the scan and the detection leave them.
  static std::atomic<uint8_t>& ModemPort(linklayer& link) { return link.ModemPort; }
  static std::atomic<uint8_t>& SecondModemPort(linklayer& link) { return link.SecondModemPort; }
  static std::atomic<uint8_t>& DiagPort(linklayer& link) { return link.DiagPort; }
  static std::atomic<int32_t>& DiagMode(linklayer& link) { return link.DiagMode; }
  // As a finished scan publishes them for the getters.
  static void SetLastScan(linklayer& link, uint8_t diagPort, int32_t diagMode) {
    std::lock_guard lock(link.lastScanMutex_);
    link.lastScan_ = linklayer::ScanSnapshot{diagPort, diagMode};
  }

  static plat::Event& StartEvent(linklayer& link) { return link.StartEvent; }
  static plat::Event& ResponseEvent(linklayer& link) { return link.ResponseEvent; }
  static plat::Event& WriteRequestEvent(linklayer& link) { return link.WriteRequestEvent; }
  static void SignalStop(linklayer& link) { link.SignalStop(); }
  static bool CloseEvents(linklayer& link) { return link.CloseEvents(); }

  static bool OpenPort(linklayer& link) { return link.OpenPort(); }
  static uint32_t WriteLoop(linklayer& link) { return link.WriteLoop(); }
  static uint32_t MonitorLoop(linklayer& link) { return link.MonitorLoop(); }
  static bool DrainWriteQueue(linklayer& link) { return link.DrainWriteQueue(); }
  static void ScanPorts(linklayer& link) { link.ScanPorts(); }
  static uint8_t ListDevicePorts(linklayer& link, unsigned char* ports) { return link.ListDevicePorts(ports); }
  static void ResetReadBuffer(linklayer& link) { link.ResetReadBuffer(); }
  static bool AppendReadData(linklayer& link, const char* data, int length) {
    return link.AppendReadData(data, length);
  }
  static void ParseReadData(linklayer& link) { link.ParseReadData(); }
};

namespace linktest {

// Takes every entry off `queue`; payloads without the CR LF the queue adds.
std::vector<Indication> TakeAll(PrimitiveQueue& queue);

// Options for a private instance: no threads unless asked for, and no
// serial-port map watch, hence no modem detection. Each of its pauses also
// waits until every live ScanPeer has answered what it was sent: the scan
// gives a port a few milliseconds to answer, which a loaded test machine
// does not always keep.
LinkOptions TestOptions(bool threads = false);

// Collects the indications of a running link as they arrive.
class IndicationWatch {
 public:
  explicit IndicationWatch(linklayer& link);
  // Waits (real ms, generous) until `count` indications with `id` have arrived.
  bool WaitFor(int32_t id, size_t count = 1, uint32_t realMs = 10000);
  // Everything that arrived so far, in order.
  std::vector<Indication> Seen();
  plat::Event& NotifyEvent() { return notify_; }

 private:
  linklayer& link_;
  plat::Event notify_;
  std::vector<Indication> seen_;
};

// An AT device on a test port: each command line (ended by CR LF) is
// recorded with the system tick of its arrival and answered in one write
// with what `answer` returns for it.
class AtPeer {
 public:
  using Answer = std::function<std::string(const std::string& command)>;
  AtPeer(testkit::TestPort& port, Answer answer);

  struct Command {
    std::string text;  // as received, CR LF included
    uint32_t tick;
  };
  std::vector<Command> Commands() const;
  // Every byte received, commands or not.
  std::string Received() const { return peer_.Received(); }
  // Waits (real ms) until at least `count` commands have arrived.
  bool WaitForCommands(size_t count, uint32_t realMs = 10000) const;

 private:
  struct State {
    explicit State(Answer a) : answer(std::move(a)) {}
    mutable std::mutex mutex;
    std::string pending;
    std::vector<Command> commands;
    const Answer answer;
  };
  std::shared_ptr<State> state_;
  testkit::ScriptedPeer peer_;
};

// The scan's fixed sequences, as a device port sees and answers them.
extern const std::string kProbe;       // the diagnostic probe
extern const std::string kInquiry;     // "AT+CINQP?" with CR LF
extern const std::string kDiagReply;   // a diagnostic port's answer to the probe
extern const std::string kBootPrompt;  // the boot loader's answer to it

// The map name of a device port: one with "QCUSB" in it.
std::string QcusbName(unsigned com);

// What a port says to the diagnostic probe and to the port inquiry.
struct Answers {
  std::string probe;
  std::string inquiry;
};

// An inquiry answer line as a device sends it, with its final "OK".
std::string Inq(const std::string& line);

// A device port listed in the map whose peer answers each probe and each
// inquiry it receives, counting the inquiries.
class ScanPeer {
 public:
  ScanPeer(unsigned com, Answers answers);
  ~ScanPeer();
  ScanPeer(const ScanPeer&) = delete;
  ScanPeer& operator=(const ScanPeer&) = delete;

  bool Ok() const { return port_.Ok(); }
  unsigned Com() const { return port_.Com(); }
  int Inquiries() const;
  std::string Received() const { return peer_.Received(); }
  testkit::TestPort& Port() { return port_; }

 private:
  struct State {
    explicit State(Answers a) : answers(std::move(a)) {}
    std::string Take(const std::string& chunk);
    const Answers answers;
    std::mutex mutex;
    std::string pending;
    int inquiries = 0;
  };

  testkit::TestPort port_;
  std::shared_ptr<State> state_;
  testkit::ScriptedPeer peer_;
};

}  // namespace linktest
