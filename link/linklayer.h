// The modem link: the one process-wide linklayer object that owns the
// device's AT port, the request and indication queues, the response parser
// and the read, write and monitor threads.
//
// Who touches what:
//
//   state                     written by                    read by                   guard
//   AT port, LinkState        API caller (Connect, close),  read and write threads    portMutex_
//                             monitor (detection), ~
//   read ring, parser rows    read thread only              read thread               none needed
//   WriteQ                    API caller, handlers (read)   write thread              the queue's own
//   ReadQ                     handlers (read), write and    API caller (ReadDate)     the queue's own
//                             monitor threads
//   port roles (ModemPort,    write thread (scan), monitor  scan, detection, Connect  rolesMutex_
//   SecondModemPort, DiagPort,  (detection)
//   DiagMode)
//   last scan snapshot        write thread, as a scan ends  API getters               lastScanMutex_
//   PortLostNoticeSent, bSmsNew  write thread only          write thread              none needed
//   NotifyEvent               API caller (SetNotify)        any thread                atomic
//   the four events           constructor, destructor       the three loops           set once / closed after the joins
//   read turns (asked,        monitor (asks, sets           both                      readTurnMutex_ (the counts);
//   served), ReadNowEvent     ReadNowEvent), read thread                              the event made and closed with
//                             (serves, resets it)                                     the four
//
// Lock order: rolesMutex_ before portMutex_. The queue locks,
// lastScanMutex_ and readTurnMutex_ are leaves: nothing else is taken while
// they are held, and none of them is held across I/O or a wait.
//
// Two effects cross threads on purpose:
// - ClosePort, from any thread, closes the port and sets ResponseEvent:
//   a write thread waiting for a final result is released at once, and
//   finds the port closed rather than writing its next request into it.
// - The handlers run on the read thread inside ParseReadData and reach back
//   through the link that parses (ParsingLink()): they queue on its ReadQ,
//   the text-sending ones on its WriteQ (which wakes the write thread), and
//   a final result sets its ResponseEvent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "link/parser.h"
#include "link/primitive_queue.h"
#include "plat/event.h"
#include "plat/serial.h"
#include "plat/serial_map.h"
#include "plat/thread.h"

// One change watch on the serial-port map, as the monitor loop uses it:
// open the map's key (or its parent while the map is missing), arm a
// one-shot notification of the next change, close.
struct LinkMapWatch {
  std::function<bool()> Open;
  std::function<bool(plat::Event& changed)> Arm;
  std::function<void()> Close;
};

// The platform pieces the link uses; the defaults are the platform's own.
struct LinkPlatform {
  // Opens a serial port by device name ("\\.\COM7"); null when it cannot.
  std::function<plat::PortHandle(const std::string& name)> OpenSerialPort;
  // Reads one value of the serial-port map (plat::SerialMap::EnumValue).
  std::function<plat::EnumStatus(uint32_t index, char* name, uint32_t nameSize, char* data, uint32_t dataSize)>
      EnumSerialMap;
  std::function<void(uint32_t ms)> Sleep;
  std::function<void(std::string_view text)> DebugOutput;
  // A fresh change watch on the serial-port map for the monitor loop
  // (plat::SerialMapWatch).
  std::function<LinkMapWatch()> NewMapWatch;

  LinkPlatform();
};

// The link's pauses and limits, in milliseconds of system time.
struct LinkTimings {
  uint32_t ResponseWaitMs = 20000;  // write loop: wait for a final result
  int WriteAttempts = 3;            // write loop: writes of one request
  uint32_t ReadPollMs = 50;         // read loop: pause between reads
  uint32_t ScanShortPauseMs = 10;   // port scan
  uint32_t ScanLongPauseMs = 100;   // port scan
  uint32_t ConnectPauseMs = 100;    // Connect: between close and reopen
  uint32_t DetectPauseMs = 100;     // modem detection: after closing the port
  uint32_t DetectReadMs = 300;      // modem detection: longest wait for the last read before closing
  uint32_t ReadDatePauseMs = 50;    // after each indication handed out
  uint32_t CloseEventsPauseMs = 10;  // CloseEvents: between waking and closing
  uint32_t WatchRetryMs = 100;      // monitor loop: first pause before reopening a failed watch
  int WatchAttempts = 5;            // monitor loop: arms of the watch before it gives up
};

struct LinkOptions {
  LinkPlatform Platform;
  LinkTimings Timings;
  // False: the object is complete and released, but no thread runs; its
  // loops can then be driven from the caller's thread.
  bool StartThreads = true;
  // The parser's rows; empty for ResponseHandlerTable. Copied at construction.
  std::span<const ResponseHandlerEntry> ResponseRows;
  // The port scan the write thread runs for an IdPortScanRequest.
  std::function<void(linklayer& link)> ScanPorts;
};

class linklayer {
 public:
  static constexpr uint8_t NoPort = 0xFF;
  static constexpr int RingSize = 4096;
  static constexpr int MaxDevicePorts = 30;

  // LinkState values.
  static constexpr uint8_t PortClosed = 0;
  static constexpr uint8_t PortOpen = 2;

  linklayer();
  explicit linklayer(LinkOptions options);
  ~linklayer();
  linklayer(const linklayer&) = delete;
  linklayer& operator=(const linklayer&) = delete;

  // Opens, closes and reopens the AT port on ModemPort; the arguments are
  // not used.
  bool Connect(int, int);
  // Closes the AT port, then releases a write that waits for its result.
  // Always true; harmless on a closed port.
  bool ClosePort();

  // The open AT port (null when closed) and LinkState, read under the
  // port lock: the port stays valid for the caller's I/O even if it is
  // closed meanwhile, which then fails that I/O.
  plat::PortHandle CurrentPort() const;
  uint8_t CurrentLinkState() const;

  // What the last finished port scan found, published as it ends: read at
  // once, a running scan never holds the reader up.
  struct ScanSnapshot {
    uint8_t diagPort = NoPort;
    int32_t diagMode = 0;
  };
  ScanSnapshot LastScan() const;

  // The roles lock: the scan holds it from its start to its report, the
  // modem detection around its test-and-reopen, and Connect's callers
  // around their test and connect, so that none of them sees a half-done
  // scan. Taken before the port lock, never while holding it.
  std::unique_lock<std::mutex> LockRoles();

  // A final result came (the handlers' signal to the write loop).
  void SignalResponse();

  // The notification event is a handle of the API caller's (an event's
  // plat::Event::NotifyHandle, on Windows an event HANDLE); null keeps the
  // one registered before.
  void SetNotifyEvent(void* handle);
  void* GetNotifyEvent() const;
  // Sets the registered notification event, if any.
  void Notify();

  // Whether the NUL-terminated text holds a byte above 0xA0. Nothing calls
  // it yet; it is kept for the text handlers that may need it.
  static bool HasHighByte(const unsigned char* text);

  const LinkTimings& Timings() const { return options_.Timings; }
  const LinkPlatform& Platform() const { return options_.Platform; }

  // The request and indication queues: the API and the handlers queue on
  // them, the write loop and the API caller take from them.
  PrimitiveQueue* const pReadQ;
  PrimitiveQueue* const pWriteQ;

 private:
  friend class LinkLayerPeer;  // the tests' one way in
  struct Scan;                 // the port scan's steps (port_scan.cpp)

  // Creates the five events (the four and ReadNowEvent) and starts the three threads (unless the
  // options say otherwise); false, with no event and no thread, when an
  // event cannot be created.
  bool StartThreads();
  bool CreateEvents();
  // Wakes every waiter on the five events, then closes them. Always true.
  bool CloseEvents();

  void SignalStart();
  void SignalStop();
  void SignalWriteRequest();

  // Puts the link's line settings on an open port. False when the control
  // block cannot be read or written: the port has then been closed.
  bool ConfigurePort(const plat::PortHandle& port);
  // Opens and configures ModemPort as the AT port. False when there is no
  // modem port, it cannot be opened or configured, or a port is open
  // already; nothing is then held.
  bool OpenPort();
  // Opens "\\.\COM<com>" and purges it, tracing the outcome; null when it
  // cannot be opened.
  plat::PortHandle OpenComPort(unsigned com, const char* failedTrace, const char* openedTrace);
  // Drops the AT port from the state and closes it; false when none was open.
  bool ReleasePort();
  // One write of `length` bytes; the outcome is only traced.
  void WritePort(const plat::PortHandle& port, const char* data, int length);

  // The loops of the three threads; each first waits for StartEvent.
  uint32_t ReadLoop();
  uint32_t WriteLoop();
  uint32_t MonitorLoop();
  static uint32_t ReadThreadProc(linklayer* link);
  static uint32_t WriteThreadProc(linklayer* link);
  static uint32_t MonitorThreadProc(linklayer* link);

  // One turn of the read loop: a read of the AT port, when one is open,
  // and the parse of what it brought.
  void ReadTurn();
  // Has the read loop read the AT port once more, in a turn begun after the
  // call, and waits for that turn to end (at most DetectReadMs). Nothing
  // happens while no AT port is open.
  void ReadOnceMore();

  // Read path: empties the ring; appends received bytes to it (false, and
  // the ring emptied, when they do not fit beside the unread ones; false for
  // no bytes); dispatches its unread bytes to the parser's handlers.
  void ResetReadBuffer();
  bool AppendReadData(const char* data, int length);
  void ParseReadData();

  // Write path: resets WriteRequestEvent and handles every request on
  // WriteQ (false when StopEvent ended it); one request taken off WriteQ
  // (false when StopEvent ended it).
  bool DrainWriteQueue();
  bool HandleRequest(int32_t id, const char* data, int length);

  // The port scan: probes every listed device port for the diagnostic and
  // the AT port and reports IdPortScanResult; ends early, reporting
  // nothing, when the link stops. Runs the ScanPorts hook of the options
  // instead when there is one.
  void ScanPorts();
  // Fills `ports` (room for MaxDevicePorts) with the COM numbers of the
  // device ports of the serial-port map; returns their count.
  uint8_t ListDevicePorts(unsigned char* ports);
  // Closes the AT port, lists the device ports and either reopens the AT
  // port silently or reports IdModemDetect.
  void DetectModem();
  bool Stopping() const;

  const LinkOptions options_;

  // The port state; guarded by portMutex_, which is never held across I/O
  // or a wait.
  mutable std::mutex portMutex_;
  plat::PortHandle PortHandle;
  uint8_t LinkState = PortClosed;

  plat::Event StopEvent;          // set once, at destruction: the loops end
  plat::Event StartEvent;         // set once, when the object is complete
  plat::Event WriteRequestEvent;  // a request is queued on WriteQ
  plat::Event ResponseEvent;      // a final result came, or the port closed
  plat::Event ReadNowEvent;       // the read loop's pause ends: a read turn is asked for

  std::atomic<void*> NotifyEvent{nullptr};  // the API caller's handle; not ours to close

  // Only the write thread reads and writes these two; they never go back to 0.
  uint8_t PortLostNoticeSent = 0;
  uint8_t bSmsNew = 0;

  // The read ring; the read thread's alone.
  struct Ring {
    int32_t readIndex = 0;   // position of the first unread byte
    int32_t writeCount = 0;  // bytes appended since the reset, modulo a multiple of RingSize
    int32_t num4read = 0;    // unread bytes
    char bytes[RingSize] = {};
  } ReadRing;

  PrimitiveQueue WriteQ;  // requests for the write thread
  PrimitiveQueue ReadQ;   // indications for the API caller
  ResponseParser Parser;

  // The port roles: written by the port scan and modem detection under the
  // roles lock.
  std::mutex rolesMutex_;
  std::atomic<int32_t> DiagMode{0};
  std::atomic<uint8_t> ModemPort{NoPort};
  std::atomic<uint8_t> DiagPort{NoPort};
  std::atomic<uint8_t> SecondModemPort{NoPort};

  // The last finished scan's diagnostic port and mode; a leaf lock.
  mutable std::mutex lastScanMutex_;
  ScanSnapshot lastScan_;

  // Read turns asked for by ReadOnceMore, and the last of them that a turn
  // of the read loop has served.
  std::mutex readTurnMutex_;
  std::condition_variable readTurnDone_;
  uint64_t readTurnsAsked_ = 0;
  uint64_t readTurnsServed_ = 0;

  plat::Thread readThread_;
  plat::Thread writeThread_;
  plat::Thread monitorThread_;
};

extern linklayer theLinkLayer;

// The type flag of the last AT-only or modem answer that settled it: 1 for a
// device with an AT-only port beside its modem port. Process-wide; only the
// port scan writes it, and it keeps its value across scans.
extern std::atomic<uint8_t> DualPortFlag;

// Whether one of the first `count` entries of `ports` is `port`.
int IsPortInList(const unsigned char* ports, unsigned char port, int count);
