#include "transport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/event.h"
#include "plat/serial.h"
#include "plat/thread.h"
#include "handoff/never_destroyed.h"
#include "handoff/scan_diag_port.h"

namespace download {
namespace {

constexpr int kRingSize = 65536;
constexpr uint32_t kDriverQueueBytes = 8192;
// Time a SendBytes may take beyond the line time of its bytes.
constexpr int kSendSlackMs = 5000;
// Pause of the receive thread between failures, so a vanished port is not
// polled in a tight loop.
constexpr uint32_t kRecvBackoffMs = 10;
// Longest a receive thread's read waits for a first byte. A stop aborts the
// read; this bounds the wait only for a stop that comes just before a read
// begins.
constexpr uint32_t kRecvReadBoundMs = 100;
// RecvWait watches the ring before it sleeps on DataReady. Bytes seen during
// the watch cost no sleep and no wake (two system calls natively, two server
// round trips under wine); a sleep also lets the worker's processor halt, and
// the receive thread's wake then has to bring it back first, so a reply just
// missed by the watch comes late by a wake on top of its round trip.
// The first wait after a request, the one for its reply, watches about twice
// as long as the recent replies took, at least kRecvWatchMin and at most
// kRecvWatchMax; when they take longer than kRecvWatchMax (a kilobyte on a
// real line takes milliseconds) it watches kRecvWatchMin, as a wake is then
// small beside the wait. Every other wait (for the rest of a reply that comes
// in pieces) watches kRecvWatchMin, so a slow line is not watched for the
// whole of a reply.
using WatchClock = std::chrono::steady_clock;
constexpr std::chrono::nanoseconds kRecvWatchMin = std::chrono::microseconds(100);
constexpr std::chrono::nanoseconds kRecvWatchMax = std::chrono::microseconds(500);
// A look at the clock during the watch that finds this much time gone since
// the one before means the worker lost its processor meanwhile: the machine
// is busy, and watching on would only take processor time from the threads
// that bring the reply. The watch then ends.
constexpr std::chrono::nanoseconds kRecvWatchPreempted = std::chrono::microseconds(50);

// The receive thread waits for bytes in its read: a read returns at once with
// whatever the driver holds, else with the first bytes to arrive, else empty
// after kRecvReadBoundMs. So a burst is taken in one call as it arrives and
// no bytes a caller waits for are held back. Set on the scan's port too: its
// 10 ms interval time-out would hold back every reply by that much. A write
// gives up after a second, which lets SendBytes keep its own deadline.
constexpr plat::CommTimeouts kPortTimeouts{plat::MAXDWORD, plat::MAXDWORD, kRecvReadBoundMs, 0, 1000};

struct BaudRow {
  int key;
  int rate;
};
constexpr std::array<BaudRow, 24> kBaudTable{{
    {9600, 9600},     {9, 9600},        {14400, 14400},   {14, 14400},    {19200, 19200},
    {19, 19200},      {38400, 38400},   {38, 38400},      {57600, 57600}, {57, 57600},
    {115200, 115200}, {115, 115200},    {203125, 203125}, {203, 203125},  {230400, 230400},
    {230, 230400},    {406250, 406250}, {406, 406250},    {460800, 460800}, {460, 460800},
    {812500, 812500}, {812, 812500},    {921600, 921600}, {921, 921600},
}};
// The device's 812500 clock is reached by programming this rate.
constexpr int kRate812500Programmed = 827586;

struct DownloadPortState {
  plat::PortHandle Handle;  // null when no port is open
  plat::Dcb Dcb;
  plat::Thread RecvThread;
  std::atomic<bool> StopRecv{false};
  std::atomic<int> FailedRecvRounds{0};  // since the open; tests watch it
};

// One producer (the receive thread moves WriteIndex) and one consumer (the
// worker moves ReadIndex). One slot always stays free so that a full ring
// is told apart from an empty one.
struct RecvRingState {
  std::array<uint8_t, kRingSize> Bytes{};
  std::atomic<int> WriteIndex{0};
  std::atomic<int> ReadIndex{0};
  std::atomic<int> Wanted{0};  // unread count a waiting caller needs; 0: none
  plat::Event DataReady;       // auto-reset
  int Dropped = 0;             // bytes lost to a full ring since the open
  // The worker's alone: whether a request went out since the last wait, and
  // how long the recent waits for a reply took (an average that follows each
  // new one by an eighth).
  bool AwaitingReply = false;
  std::chrono::nanoseconds ReplyTime{0};
};

// Never destroyed: the worker and the receive thread may still be running
// when the process exits. The port's state is built at first use; the ring,
// which every received byte passes, is ready before any code runs.
DownloadPortState& DownloadPort() {
  static auto* const state = new DownloadPortState;
  return *state;
}
constinit handoff::NeverDestroyed<RecvRingState> RingStorage;
RecvRingState& RecvRing() { return RingStorage.value; }

int Unread() {
  RecvRingState& ring = RecvRing();
  int n = ring.WriteIndex.load() - ring.ReadIndex.load();
  return n < 0 ? n + kRingSize : n;
}

void RecvRingReset() {
  RecvRingState& ring = RecvRing();
  ring.WriteIndex = 0;
  ring.ReadIndex = 0;
  ring.Wanted = 0;
  ring.Dropped = 0;
  ring.AwaitingReply = false;
  ring.ReplyTime = kRecvWatchMin / 2;
  ring.Bytes.fill(0x77);
}

// Wakes the waiting caller once the unread count has reached what it wants.
// Claiming Wanted first keeps two rechecks from signalling for one wait.
void recv_push_tm() {
  RecvRingState& ring = RecvRing();
  int wanted = ring.Wanted.load();
  if (wanted <= 0 || Unread() < wanted) return;
  if (!ring.Wanted.compare_exchange_strong(wanted, 0)) return;
  if (!ring.DataReady.Set()) {
    // The platform layer keeps no error code for a failed signal.
    std::fprintf(stderr, "FATAL: recv_push_tm(): SetEvent() failed with Win32 error %d\n", 0);
  }
}

void RecvPush(const uint8_t* data, int count) {
  RecvRingState& ring = RecvRing();
  if (count <= 0) return;
  const int write = ring.WriteIndex.load(std::memory_order_relaxed);
  const int stored = std::min(count, kRingSize - 1 - Unread());
  const int first = std::min(stored, kRingSize - write);
  std::memcpy(&ring.Bytes[write], data, first);
  std::memcpy(&ring.Bytes[0], data + first, stored - first);
  ring.WriteIndex.store((write + stored) % kRingSize);
  if (stored < count) {
    ring.Dropped += count - stored;
    plat::DebugDump("recv ring full: " + std::to_string(ring.Dropped) +
                    " bytes dropped since the open\n");
  }
  recv_push_tm();
}

uint32_t RecvThreadProc(const plat::PortHandle& port) {
  DownloadPortState& state = DownloadPort();
  std::array<uint8_t, 4096> chunk;
  int failures = 0;
  while (!state.StopRecv) {
    uint32_t got = 0;
    const bool ok = port->Read(chunk.data(), chunk.size(), &got);
    RecvPush(chunk.data(), static_cast<int>(got));
    if (ok) {
      failures = 0;
      continue;
    }
    ++state.FailedRecvRounds;
    if (++failures > 1 && !state.StopRecv) {
      // One failed read is mostly a purge that aborted it (PurgeRx); reads
      // that keep failing leave the driver's receive side in doubt: start
      // over, and pause so a vanished port is not read in a tight loop.
      port->PurgeComm(plat::PURGE_RXABORT | plat::PURGE_RXCLEAR);
      plat::Sleep(kRecvBackoffMs);
    }
  }
  return 0;
}

uint32_t DtrControlFor(char letter) {
  if (letter == 'h') return plat::DTR_CONTROL_HANDSHAKE;
  if (letter == 'n') return plat::DTR_CONTROL_DISABLE;
  return plat::DTR_CONTROL_ENABLE;
}

uint32_t RtsControlFor(char letter) {
  if (letter == 'h') return plat::RTS_CONTROL_HANDSHAKE;
  if (letter == 'p') return plat::RTS_CONTROL_ENABLE;
  return plat::RTS_CONTROL_DISABLE;
}

// The port of the job: the scan's handle when it is for that number, else
// the port opened by name. A scan handle for another port is closed.
plat::PortHandle AcquirePort(int port) {
  handoff::ScannedPort scanned = handoff::ScanDiagPortHandle.Take();
  if (scanned.Port && scanned.ComPort == port) return scanned.Port;
  if (scanned.Port) scanned.Port->Close();
  return plat::SerialPort::OpenByName("\\\\.\\COM" + std::to_string(port));
}

int ConfigurePort(plat::SerialPort& port, int rate, const char* mode) {
  plat::Dcb dcb;
  if (!port.GetCommState(dcb)) return kErrPortOpen;
  dcb.fAbortOnError = 0;
  dcb.ByteSize = 8;
  dcb.Parity = plat::NOPARITY;
  dcb.StopBits = plat::ONESTOPBIT;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDsrSensitivity = 0;
  const bool hasMode = mode && mode[0];
  dcb.fDtrControl = DtrControlFor(hasMode ? mode[0] : '\0');
  dcb.fRtsControl = RtsControlFor(hasMode ? mode[1] : '\0');
  // A raw binary line: the frames carry 0x11, 0x13, NULs and any other byte
  // unescaped, so no software flow control and no byte replacement.
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  DownloadPort().Dcb = dcb;
  if (!port.SetCommState(dcb)) return kErrPortOpen;
  port.SetupComm(kDriverQueueBytes, kDriverQueueBytes);
  if (!port.SetCommTimeouts(kPortTimeouts)) return kErrPortOpen;
  int set = SetBaudRate(rate);
  return set < 0 ? set : 0;
}

int OpenAndConfigurePort(int port, int rate, const char* mode) {
  DownloadPortState& state = DownloadPort();
  state.Handle = AcquirePort(port);
  if (!state.Handle) return kErrPortOpen;
  int result = ConfigurePort(*state.Handle, rate, mode);
  if (result == 0) {
    state.StopRecv = false;
    state.FailedRecvRounds = 0;
    if (!state.RecvThread.Start([handle = state.Handle] { return RecvThreadProc(handle); })) {
      result = kErrPortOpen;
    }
  }
  if (result != 0) {
    state.Handle->Close();
    state.Handle.reset();
    return result;
  }
  PurgeAll();
  return 0;
}

void ShutdownPort() {
  DownloadPortState& state = DownloadPort();
  if (!state.Handle) return;
  PurgeAll();
  // The abort ends the receive thread's read; a read that begins after it
  // ends within kRecvReadBoundMs, and the thread then sees the stop flag.
  state.StopRecv = true;
  state.Handle->PurgeComm(plat::PURGE_RXABORT);
  state.RecvThread.Join();
  state.RecvThread = plat::Thread();
  state.Handle->Close();
  state.Handle.reset();
  RecvRing().DataReady.Close();
  handoff::ScanDiagPortHandle.Clear();
}

}  // namespace

int OpenDownloadPort(int port, int rate, const char* mode) {
  ShutdownPort();
  RecvRingReset();
  RecvRing().DataReady = plat::Event();
  if (!RecvRing().DataReady.Create(false, false)) return kErrDataReadyEvent;
  int result = OpenAndConfigurePort(port, rate, mode);
  if (result != 0) RecvRing().DataReady.Close();
  return result;
}

int CloseDownloadPort() {
  ShutdownPort();
  return 1;
}

int SendBytes(const uint8_t* data, int count) {
  DownloadPortState& state = DownloadPort();
  if (!state.Handle) return kErrWrite;
  const uint32_t start = plat::GetTickCount();
  const uint32_t limit = static_cast<uint32_t>(kSendSlackMs + ByteTimeMs(count));
  int sent = 0;
  while (sent < count) {
    uint32_t written = 0;
    if (!state.Handle->Write(data + sent, static_cast<uint32_t>(count - sent), &written)) return kErrWrite;
    sent += static_cast<int>(written);
    if (sent < count && plat::GetTickCount() - start >= limit) return kErrWrite;
  }
  RecvRing().AwaitingReply = true;
  return sent;
}

std::chrono::nanoseconds ReplyWatchLength() {
  const std::chrono::nanoseconds typical = RecvRing().ReplyTime;
  if (typical > kRecvWatchMax) return kRecvWatchMin;
  return std::clamp(2 * typical, kRecvWatchMin, kRecvWatchMax);
}

// A wait that ran out counts as twice the longest watch, so that a few of
// them (a hello that waits for silence) do not stretch the watch for long.
void NoteReplyTime(WatchClock::time_point start) {
  const std::chrono::nanoseconds took = std::min<std::chrono::nanoseconds>(WatchClock::now() - start, 2 * kRecvWatchMax);
  std::chrono::nanoseconds& typical = RecvRing().ReplyTime;
  typical += (took - typical) / 8;
}

// Watches the ring from `start` for `length`, but not beyond the time limit
// `limitMs`; true once it holds `count` unread bytes.
bool WatchForUnread(int count, WatchClock::time_point start, std::chrono::nanoseconds length, uint32_t limitMs) {
  const auto end = start + std::min<std::chrono::nanoseconds>(length, std::chrono::milliseconds(plat::RealMs(limitMs)));
  for (auto last = start;;) {
    for (int i = 0; i < 64; ++i) {
      if (Unread() >= count) return true;
#if defined(__i386__) || defined(__x86_64__)
      __builtin_ia32_pause();
#endif
    }
    const auto now = WatchClock::now();
    if (now >= end || now - last >= kRecvWatchPreempted) return false;
    last = now;
  }
}

int RecvWait(int count, int ms) {
  RecvRingState& ring = RecvRing();
  if (count <= 0) {
    plat::Sleep(static_cast<uint32_t>(ms));
    return 0;
  }
  if (int unread = Unread(); unread >= count) return unread;
  const uint32_t limit = static_cast<uint32_t>(ms) + static_cast<uint32_t>(ByteTimeMs(count));
  const bool forReply = limit > 0 && std::exchange(ring.AwaitingReply, false);
  // The time limit counts from here: the watch is part of the wait.
  const uint32_t start = plat::GetTickCount();
  const auto watchStart = limit > 0 ? WatchClock::now() : WatchClock::time_point();
  if (limit > 0 && WatchForUnread(count, watchStart, forReply ? ReplyWatchLength() : kRecvWatchMin, limit)) {
    if (forReply) NoteReplyTime(watchStart);
    return Unread();
  }

  // Wanted is published before the unread count is read again, so either the
  // receive thread sees it or this thread sees the bytes pushed meanwhile.
  // Every wake-up is checked against the unread count: a signal left over
  // from an earlier wait must not end this one early.
  ring.Wanted = count;
  int result = Unread();
  while (result < count) {
    const uint32_t elapsed = plat::GetTickCount() - start;
    if (elapsed >= limit) {
      result = kRecvTimeout;
      break;
    }
    if (ring.DataReady.Wait(limit - elapsed) == plat::WaitResult::Failed) {
      result = kErrRecvWaitFailed;
      break;
    }
    result = Unread();
  }
  ring.Wanted = 0;
  if (forReply) NoteReplyTime(watchStart);
  return result;
}

int RecvTakeByte(int ms) {
  RecvRingState& ring = RecvRing();
  int read = ring.ReadIndex.load(std::memory_order_relaxed);
  // Acquire: the byte at `read` was stored before the receive thread moved
  // WriteIndex past it.
  if (read == ring.WriteIndex.load(std::memory_order_acquire)) {
    if (const int waited = RecvWait(1, ms); waited < 0) return waited;
  }
  const uint8_t byte = ring.Bytes[read];
  ring.ReadIndex.store((read + 1) % kRingSize, std::memory_order_release);
  return byte;
}

int RecvPop(uint8_t* buffer, int count) {
  RecvRingState& ring = RecvRing();
  const int read = ring.ReadIndex.load(std::memory_order_relaxed);
  const int n = std::min(Unread(), std::max(count, 0));
  if (n <= 0) return 0;
  const int first = std::min(n, kRingSize - read);
  std::memcpy(buffer, &ring.Bytes[read], first);
  std::memcpy(buffer + first, &ring.Bytes[0], n - first);
  // Release: the receive thread may reuse the slots only after they were read.
  ring.ReadIndex.store((read + n) % kRingSize, std::memory_order_release);
  return n;
}

void PurgeRx() {
  if (DownloadPort().Handle) DownloadPort().Handle->PurgeComm(plat::PURGE_RXABORT | plat::PURGE_RXCLEAR);
}

void PurgeAll() {
  DownloadPortState& state = DownloadPort();
  if (state.Handle) {
    state.Handle->PurgeComm(plat::PURGE_TXABORT | plat::PURGE_RXABORT | plat::PURGE_TXCLEAR | plat::PURGE_RXCLEAR);
  }
}

int LookupBaudRate(int key) {
  auto row = std::ranges::find(kBaudTable, key, &BaudRow::key);
  return row == kBaudTable.end() ? 0 : row->rate;
}

int SetBaudRate(int key) {
  DownloadPortState& state = DownloadPort();
  const int rate = LookupBaudRate(key);
  if (rate == 0 || !state.Handle) return kErrBaudRate;
  plat::Dcb dcb = state.Dcb;
  dcb.BaudRate = rate == 812500 ? kRate812500Programmed : rate;
  if (!state.Handle->SetCommState(dcb)) return kErrBaudRate;
  state.Dcb = dcb;
  return rate;
}

int GetBaudRate() { return static_cast<int>(DownloadPort().Dcb.BaudRate); }

int ByteTimeMs(int count) {
  const int rate = GetBaudRate();
  if (!DownloadPort().Handle || rate <= 0 || count <= 0) return 0;
  return static_cast<int>(int64_t{count} * 10000 / rate);
}

bool SetRts(bool on) {
  return DownloadPort().Handle && DownloadPort().Handle->EscapeCommFunction(on ? plat::SETRTS : plat::CLRRTS);
}

bool SetDtr(bool on) {
  return DownloadPort().Handle && DownloadPort().Handle->EscapeCommFunction(on ? plat::SETDTR : plat::CLRDTR);
}

bool SetBreak(bool on) {
  DownloadPortState& state = DownloadPort();
  if (!state.Handle) return false;
  return on ? state.Handle->SetCommBreak() : state.Handle->ClearCommBreak();
}

namespace transport_testing {

void Reset() {
  ShutdownPort();
  RecvRingReset();
  RecvRing().DataReady = plat::Event();
  DownloadPort().Dcb = plat::Dcb();
}

void Push(const uint8_t* data, int count) { RecvPush(data, count); }

void SignalDataReady() { RecvRing().DataReady.Set(); }

int FailedRecvRounds() { return DownloadPort().FailedRecvRounds; }

}  // namespace transport_testing

}  // namespace download
