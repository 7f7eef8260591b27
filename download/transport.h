// Serial transport of the download engine: one COM port per transfer, a
// receive thread that moves every received byte into a 64 KiB ring, and the
// calls the protocol code uses to write, wait, take and purge.
//
// Plain functions over process-wide state. The transfer's worker thread makes
// every call; the receive thread only feeds the ring.
//
// Results: 0 or a count on success, else one of the codes below.
#pragma once

#include <cstdint>

namespace download {

inline constexpr int kRecvTimeout = -10;          // RecvWait: the time limit passed
inline constexpr int kErrDataReadyEvent = -103;   // OpenDownloadPort: no DataReady event
inline constexpr int kErrRecvWaitFailed = -104;   // RecvWait: the wait itself failed
inline constexpr int kErrPortOpen = -105;         // port cannot be opened or configured
inline constexpr int kErrBaudRate = -106;         // unknown rate key, or the port refused it
inline constexpr int kErrWrite = -107;            // SendBytes: not all bytes written

// Opens COM<port> (or adopts the port the scan left in ScanDiagPortHandle
// when it is that number), configures the line at the rate of the baud
// table key `rate` with the mode letters `mode` ("pn": DTR on, RTS off) and
// starts the receive thread. 0, or -103, -105, -106; a failed open leaves
// nothing open.
int OpenDownloadPort(int port, int rate, const char* mode);
// Stops the receive thread, closes the port and clears ScanDiagPortHandle.
// Always 1; does nothing when no port is open.
int CloseDownloadPort();

// Writes all `count` bytes; the count, or -107.
int SendBytes(const uint8_t* data, int count);
// count 0: a plain pause of `ms`, returns 0. Otherwise waits until at least
// `count` bytes are unread, for `ms` plus the line time of `count` bytes:
// returns the unread count (>= count), -10 when the time ran out (what did
// arrive stays in the ring) or -104.
int RecvWait(int count, int ms);
// Takes up to `count` unread bytes, oldest first; returns how many.
int RecvPop(uint8_t* buffer, int count);
// RecvWait for one byte and RecvPop of it in one call, for the framing's
// byte-by-byte reading: the byte (0 to 255), or RecvWait's negative result
// when none came.
int RecvTakeByte(int ms);
// Aborts pending reads and discards what the driver holds; the ring keeps
// what it already has.
void PurgeRx();
// Aborts and discards both directions in the driver.
void PurgeAll();

// The rate of a baud table key (full rate or its thousands), 0 for none.
int LookupBaudRate(int key);
// Programs the rate of `key`; returns the table rate (812500 although
// 827586 is programmed for it), or -106.
int SetBaudRate(int key);
// The programmed rate, as last read or set (827586 after 812500).
int GetBaudRate();
// Line time of `count` bytes (ten bit times each) in whole ms; 0 when no port
// is open.
int ByteTimeMs(int count);

// Modem-control lines and break on the open port; false without one.
bool SetRts(bool on);
bool SetDtr(bool on);
bool SetBreak(bool on);

// Test hooks.
namespace transport_testing {
// Closes any open port and returns the transport to its start state.
void Reset();
// Hands bytes to the ring exactly as the receive thread does.
void Push(const uint8_t* data, int count);
// A signal of DataReady that no wait asked for.
void SignalDataReady();
// How many rounds of the receive thread (an event wait and the reads after
// it) have failed since the port was opened.
int FailedRecvRounds();
}  // namespace transport_testing

}  // namespace download
