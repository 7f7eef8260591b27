#include "link/linklayer.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "link/trace.h"
#include "plat/clock.h"
#include "plat/debug.h"

LinkPlatform::LinkPlatform()
    : OpenSerialPort([](const std::string& name) { return plat::SerialPort::OpenByName(name); }),
      EnumSerialMap(&plat::SerialMap::EnumValue),
      Sleep(&plat::Sleep),
      DebugOutput([](std::string_view text) { plat::OutputDebugString(text); }),
      NewMapWatch([] {
        auto watch = std::make_shared<plat::SerialMapWatch>();
        return LinkMapWatch{[watch] { return watch->Open(); },
                            [watch](plat::Event& changed) { return watch->Arm(changed); },
                            [watch] { watch->Close(); }};
      }) {}

namespace {

// Entries each queue holds before an enqueue empties it.
constexpr unsigned kQueueCapacity = 40;

// The AT port's line: reads end 10 ms after the last byte or 100 ms after
// the start, writes give up after 100 ms.
constexpr plat::CommTimeouts kPortTimeouts{.ReadIntervalTimeout = 10,
                                           .ReadTotalTimeoutMultiplier = 0,
                                           .ReadTotalTimeoutConstant = 100,
                                           .WriteTotalTimeoutMultiplier = 0,
                                           .WriteTotalTimeoutConstant = 100};
constexpr uint32_t kBaudRate = 115200;
constexpr char kXonChar = 0x11;
constexpr char kXoffChar = 0x13;
// Flow control: XON goes out once the receive buffer has drained to 100
// bytes, XOFF once only 100 bytes of it are free.
constexpr uint16_t kXonLimit = 100;
constexpr uint16_t kXoffLimit = 100;
constexpr uint32_t kDriverQueueBytes = 8192;  // the driver's receive and send buffers

}  // namespace

// Static construction runs this before the application starts; its threads
// wait for StartEvent, which is set as the last step.
linklayer theLinkLayer;

linklayer::linklayer() : linklayer(LinkOptions{}) {}

linklayer::linklayer(LinkOptions options)
    : pReadQ(&ReadQ),
      pWriteQ(&WriteQ),
      options_(std::move(options)),
      WriteQ("<Unknown>"),
      ReadQ("<Unknown>"),
      Parser(options_.ResponseRows.empty() ? ResponseParser() : ResponseParser(options_.ResponseRows)) {
  pReadQ->Init(kQueueCapacity, "<ReadQ>");
  pWriteQ->Init(kQueueCapacity, "<WriteQ>");
  // Either queue wakes the write thread when asked to.
  const auto wakeWriter = [](void* link) { static_cast<linklayer*>(link)->SignalWriteRequest(); };
  pReadQ->SetWake(wakeWriter, this);
  pWriteQ->SetWake(wakeWriter, this);
  ResetReadBuffer();
  (void)StartThreads();
  SignalStart();
}

linklayer::~linklayer() {
  SignalStop();
  if (ReleasePort()) {
    DllTrace("Close serial port\n");
    DllTrace("close EVENTS at ~ procedure\n");
  }
  // Nothing the threads use may go before they have ended.
  readThread_.Join();
  writeThread_.Join();
  monitorThread_.Join();
  CloseEvents();
  DllTrace("~linklayer\n");
}

bool linklayer::CreateEvents() {
  plat::Event* const events[] = {&StopEvent, &StartEvent, &WriteRequestEvent, &ResponseEvent, &ReadNowEvent};
  for (plat::Event* event : events) {
    if (!event->Create(true, false)) {
      for (plat::Event* created : events) created->Close();
      return false;
    }
  }
  return true;
}

bool linklayer::StartThreads() {
  if (!CreateEvents()) return false;
  if (!options_.StartThreads) return true;
  // A thread that cannot be started is not noticed: its loop just never runs.
  (void)readThread_.Start([this] { return ReadThreadProc(this); }, plat::ThreadPriority::Highest);
  (void)writeThread_.Start([this] { return WriteThreadProc(this); }, plat::ThreadPriority::AboveNormal);
  (void)monitorThread_.Start([this] { return MonitorThreadProc(this); }, plat::ThreadPriority::Normal);
  return true;
}

uint32_t linklayer::ReadThreadProc(linklayer* link) { return link->ReadLoop(); }
uint32_t linklayer::WriteThreadProc(linklayer* link) { return link->WriteLoop(); }
uint32_t linklayer::MonitorThreadProc(linklayer* link) { return link->MonitorLoop(); }

bool linklayer::CloseEvents() {
  plat::Event* const events[] = {&StartEvent, &StopEvent, &WriteRequestEvent, &ResponseEvent, &ReadNowEvent};
  for (plat::Event* event : events) event->Set();  // an invalid slot refuses
  options_.Platform.Sleep(options_.Timings.CloseEventsPauseMs);
  for (plat::Event* event : events) event->Close();
  return true;
}

linklayer::ScanSnapshot linklayer::LastScan() const {
  std::lock_guard lock(lastScanMutex_);
  return lastScan_;
}

bool linklayer::Stopping() const { return StopEvent.Wait(0) == plat::WaitResult::Signaled; }

void linklayer::SignalStart() { StartEvent.Set(); }
void linklayer::SignalStop() { StopEvent.Set(); }
void linklayer::SignalWriteRequest() { WriteRequestEvent.Set(); }
void linklayer::SignalResponse() { ResponseEvent.Set(); }

void linklayer::SetNotifyEvent(void* handle) {
  if (handle != nullptr) NotifyEvent.store(handle, std::memory_order_release);
}

void* linklayer::GetNotifyEvent() const { return NotifyEvent.load(std::memory_order_acquire); }

void linklayer::Notify() {
  if (void* handle = GetNotifyEvent()) plat::SetNotifyHandle(handle);
}

plat::PortHandle linklayer::CurrentPort() const {
  std::lock_guard lock(portMutex_);
  return PortHandle;
}

uint8_t linklayer::CurrentLinkState() const {
  std::lock_guard lock(portMutex_);
  return LinkState;
}

bool linklayer::ConfigurePort(const plat::PortHandle& port) {
  if (!port) return false;
  if (!port->SetCommTimeouts(kPortTimeouts)) DllTrace(" error on Set commtimeouts \n");

  plat::Dcb dcb;
  if (!port->GetCommState(dcb)) {
    DllTrace("Unable to obtain serial device control block values.\n");
    port->Close();
    return false;
  }
  dcb.BaudRate = kBaudRate;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.fParity = 0;
  dcb.Parity = plat::NOPARITY;
  dcb.StopBits = plat::ONESTOPBIT;
  dcb.fOutX = 1;
  dcb.fInX = 1;
  dcb.XonChar = kXonChar;
  dcb.XoffChar = kXoffChar;
  dcb.XonLim = kXonLimit;
  dcb.XoffLim = kXoffLimit;
  if (!port->SetCommState(dcb)) {
    port->Close();
    DllTrace("can not set dcb for comm \n");
    return false;
  }
  if (!port->SetupComm(kDriverQueueBytes, kDriverQueueBytes)) DllTrace(" error on Setup comm \n");
  (void)port->SetCommMask(plat::EV_RXCHAR);
  return true;
}

bool linklayer::OpenPort() {
  const unsigned com = ModemPort.load();
  if (com == NoPort) return false;
  DllTrace("dll: open port\n");
  plat::PortHandle port = OpenComPort(com, "Cannot open serial port!\n", "open serial port successfully!\n");
  if (!port) return false;
  // Configured before anyone can use it: a port keeps no time-outs of its
  // own from one handle to the next, and the read loop would block on it.
  if (!ConfigurePort(port)) return false;
  {
    std::lock_guard lock(portMutex_);
    if (!PortHandle) {
      PortHandle = std::move(port);
      LinkState = PortOpen;
      return true;
    }
  }
  // Another thread opened the AT port meanwhile; that one stays.
  port->Close();
  return false;
}

plat::PortHandle linklayer::OpenComPort(unsigned com, const char* failedTrace, const char* openedTrace) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", com);
  plat::PortHandle port = options_.Platform.OpenSerialPort(name);
  if (!port) {
    DllTrace(failedTrace);
    return nullptr;
  }
  DllTrace(openedTrace);
  port->PurgeComm(plat::PURGE_TXABORT | plat::PURGE_TXCLEAR | plat::PURGE_RXCLEAR);
  port->ClearCommError();
  return port;
}

bool linklayer::Connect(int, int) {
  if (!OpenPort()) return false;
  DllTrace("Comm is ok now\n");
  ClosePort();
  options_.Platform.Sleep(options_.Timings.ConnectPauseMs);
  return OpenPort();
}

bool linklayer::ReleasePort() {
  plat::PortHandle port;
  {
    std::lock_guard lock(portMutex_);
    port = std::exchange(PortHandle, nullptr);
    LinkState = PortClosed;
  }
  if (!port) return false;
  port->SetCommMask(0);
  port->Close();  // ends the read or write that another thread may be in
  return true;
}

bool linklayer::ClosePort() {
  // The port goes first, so that the write loop, once released, finds it
  // closed instead of writing its next request into it.
  ReleasePort();
  SignalResponse();
  DllTrace(" close port\n");
  return true;
}

void linklayer::WritePort(const plat::PortHandle& port, const char* data, int length) {
  DllTrace("Write file\n");
  if (!port) {
    DllTrace("Write com when invalid handle\n");
    return;
  }
  if (length <= 0) return;
  uint32_t written = 0;
  if (port->Write(data, static_cast<uint32_t>(length), &written)) {
    DllTrace("Write com succes\n");  // the spelling is kept on purpose, as every trace text's
    return;
  }
  // The platform gives no error code here.
  char text[64];
  std::snprintf(text, sizeof text, "I/O error on serial port %d \n", -1);
  DllTrace(text);
  port->ClearCommError();
}
