// The modem link: the one process-wide linklayer object that owns the
// device's AT port, the request and indication queues, the response parser
// and the read, write and monitor threads.
#pragma once

#include <atomic>
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

  // LinkState values.
  static constexpr uint8_t PortClosed = 0;
  static constexpr uint8_t PortOpen = 2;

  linklayer();
  explicit linklayer(LinkOptions options);
  ~linklayer();
  linklayer(const linklayer&) = delete;
  linklayer& operator=(const linklayer&) = delete;

  // Creates the four events and starts the three threads (unless the
  // options say otherwise); false, with no event and no thread, when an
  // event cannot be created.
  bool StartThreads();
  // Wakes every waiter on the four events, then closes them. Always true.
  bool CloseEvents();
  // Empties the read ring.
  void ResetReadBuffer();

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
  // Opens, closes and reopens the AT port; the arguments are not used.
  bool Connect(int, int);
  // Closes the AT port, then releases a write that waits for its result.
  // Always true; harmless on a closed port.
  bool ClosePort();
  // One write of `length` bytes; the outcome is only traced.
  void WritePort(const plat::PortHandle& port, const char* data, int length);

  // The open AT port (null when closed) and LinkState, read under the
  // port lock: the port stays valid for the caller's I/O even if it is
  // closed meanwhile, which then fails that I/O.
  plat::PortHandle CurrentPort() const;
  uint8_t CurrentLinkState() const;

  void SignalStart();
  void SignalStop();
  void SignalWriteRequest();
  void SignalResponse();

  // The notification event is a handle of the API caller's (an event's
  // plat::Event::NotifyHandle, on Windows an event HANDLE); null keeps the
  // one registered before.
  void SetNotifyEvent(void* handle);
  void* GetNotifyEvent() const;
  // Sets the registered notification event, if any.
  void Notify();

  // The loops of the three threads; each first waits for StartEvent.
  uint32_t ReadLoop();
  uint32_t WriteLoop();
  uint32_t MonitorLoop();

  // The write loop's drain: resets WriteRequestEvent and handles every
  // request on WriteQ. False when StopEvent ended it.
  bool DrainWriteQueue();
  // The port scan: probes every listed device port for the diagnostic and
  // the AT port and reports IdPortScanResult. Runs the ScanPorts hook of the
  // options instead when there is one.
  void ScanPorts();
  // Fills `ports` (room for MaxDevicePorts) with the COM numbers of the
  // device ports of the serial-port map; returns their count.
  uint8_t ListDevicePorts(unsigned char* ports);
  static constexpr int MaxDevicePorts = 30;
  // Closes the AT port, lists the device ports and either reopens the AT
  // port silently or reports IdModemDetect.
  void DetectModem();

  // The roles lock: the scan holds it from its start to its report, the
  // modem detection around its test-and-reopen, and Connect and the role
  // getters around their use, so that none of them sees a half-done scan.
  // Taken before the port lock, never while holding it.
  std::unique_lock<std::mutex> LockRoles();

  // Appends received bytes to the ring; false (and the ring emptied) when
  // they do not fit beside the unread ones, false for no bytes.
  bool AppendReadData(const char* data, int length);
  // Dispatches the unread bytes of the ring to the parser's handlers.
  void ParseReadData();
  // Whether the NUL-terminated text holds a byte above 0xA0.
  static bool HasHighByte(const unsigned char* text);

  const LinkTimings& Timings() const { return options_.Timings; }
  const LinkPlatform& Platform() const { return options_.Platform; }

  static uint32_t ReadThreadProc(linklayer* link);
  static uint32_t WriteThreadProc(linklayer* link);
  static uint32_t MonitorThreadProc(linklayer* link);

 private:
  friend class LinkLayerPeer;  // tests look at the ring and the flags

  const LinkOptions options_;

  // The port state; guarded by portMutex_, which is never held across I/O
  // or a wait.
  mutable std::mutex portMutex_;
  plat::PortHandle PortHandle;
  uint8_t LinkState = PortClosed;

 public:
  plat::Event StopEvent;          // set once, at destruction: the loops end
  plat::Event StartEvent;         // set once, when the object is complete
  plat::Event WriteRequestEvent;  // a request is queued on WriteQ
  plat::Event ResponseEvent;      // a final result came, or the port closed

 private:
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

 public:
  PrimitiveQueue WriteQ;  // requests for the write thread
  PrimitiveQueue ReadQ;   // indications for the API caller
  PrimitiveQueue* const pReadQ;
  PrimitiveQueue* const pWriteQ;
  ResponseParser Parser;

  // Written by the port scan and modem detection, read by the API.
  std::atomic<int32_t> DiagMode{0};
  std::atomic<uint8_t> ModemPort{NoPort};
  std::atomic<uint8_t> DiagPort{NoPort};
  std::atomic<uint8_t> SecondModemPort{NoPort};

 private:
  // Drops the AT port from the state and closes it; false when none was open.
  bool ReleasePort();
  bool CreateEvents();
  // One request taken off WriteQ; false when StopEvent ended it.
  bool HandleRequest(int32_t id, const char* data, int length);

  std::mutex rolesMutex_;

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
