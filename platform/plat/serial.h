// Serial ports opened by COM number, with the semantics of the platform's
// communications API that the system relies on: exclusive open, a device
// control block, COMMTIMEOUTS read/write rules, an EV_RXCHAR event wait,
// purges, modem-control lines and break.
//
// A port is held through a shared pointer. Close() is idempotent and safe
// from any thread: it wakes every call blocked on the port, releases the
// device before it returns (so the next exclusive open succeeds), and every
// later call on the closed port fails at once. A closed port object is never
// reused for another device, so a reference taken before a close can only
// ever fail, never reach a different port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace plat {

// Field and constant names follow the platform's DCB record so that the
// system's configuration code reads one-to-one.
inline constexpr uint8_t NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4;
inline constexpr uint8_t ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2;
inline constexpr uint32_t DTR_CONTROL_DISABLE = 0, DTR_CONTROL_ENABLE = 1, DTR_CONTROL_HANDSHAKE = 2;
inline constexpr uint32_t RTS_CONTROL_DISABLE = 0, RTS_CONTROL_ENABLE = 1, RTS_CONTROL_HANDSHAKE = 2,
                          RTS_CONTROL_TOGGLE = 3;
inline constexpr uint32_t PURGE_TXABORT = 0x1, PURGE_RXABORT = 0x2, PURGE_TXCLEAR = 0x4, PURGE_RXCLEAR = 0x8;
inline constexpr uint32_t EV_RXCHAR = 0x1;
// EscapeCommFunction codes.
inline constexpr uint32_t SETXOFF = 1, SETXON = 2, SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6,
                          SETBREAK = 8, CLRBREAK = 9;
inline constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

struct Dcb {
  uint32_t BaudRate = 9600;
  uint32_t fBinary = 1;
  uint32_t fParity = 0;
  uint32_t fOutxCtsFlow = 0;
  uint32_t fOutxDsrFlow = 0;
  uint32_t fDtrControl = DTR_CONTROL_ENABLE;
  uint32_t fDsrSensitivity = 0;
  uint32_t fTXContinueOnXoff = 0;
  uint32_t fOutX = 0;
  uint32_t fInX = 0;
  uint32_t fErrorChar = 0;
  uint32_t fNull = 0;
  uint32_t fRtsControl = RTS_CONTROL_ENABLE;
  uint32_t fAbortOnError = 0;
  uint16_t XonLim = 2048;
  uint16_t XoffLim = 512;
  uint8_t ByteSize = 8;
  uint8_t Parity = NOPARITY;
  uint8_t StopBits = ONESTOPBIT;
  char XonChar = 0x11;
  char XoffChar = 0x13;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

// Milliseconds of system time (see plat/clock.h), with the platform's meaning:
// a read returns when its buffer is full, or ReadIntervalTimeout after a byte
// with no further byte, or after ReadTotalTimeoutConstant + multiplier x count;
// all zero waits for the full count; ReadIntervalTimeout MAXDWORD with both
// totals 0 returns at once with what is there. A write gives up after
// WriteTotalTimeoutConstant + multiplier x count (0 and 0: no limit).
struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

enum class OpenError { None, NotFound, Busy, Failed };

class SerialPort {
 public:
  // Opens COM<number> exclusively. Null on failure, with the reason in `error`.
  static std::shared_ptr<SerialPort> Open(unsigned number, OpenError* error = nullptr);
  // Opens a port by device name: "\\.\COM7" or "COM7".
  static std::shared_ptr<SerialPort> OpenByName(const std::string& name, OpenError* error = nullptr);

  ~SerialPort();  // closes
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  unsigned Number() const;
  bool IsOpen() const;
  void Close();

  bool GetCommState(Dcb& dcb);
  bool SetCommState(const Dcb& dcb);
  bool GetCommTimeouts(CommTimeouts& timeouts);
  bool SetCommTimeouts(const CommTimeouts& timeouts);
  bool SetupComm(uint32_t inQueue, uint32_t outQueue);  // advisory

  // The event mask; setting it ends a pending WaitCommEvent with failure.
  bool SetCommMask(uint32_t mask);
  // Blocks until an event of the mask occurs (EV_RXCHAR: at least one byte
  // is readable) and reports it in `events`. Fails when the mask is empty,
  // when the mask is set or PURGE_RXABORT is purged meanwhile, or when the
  // port is closed.
  bool WaitCommEvent(uint32_t* events);

  // Reads by the time-out rules above; true with the count (possibly 0) in
  // `got`, false on a port error or a close (then `got` holds what was read).
  bool Read(void* buffer, uint32_t count, uint32_t* got);
  // Writes by the write time-out; true with the count written (possibly less
  // than asked when the time-out ended it), false on a port error or close.
  bool Write(const void* data, uint32_t count, uint32_t* written);

  // PURGE_* flags: RXABORT and TXABORT end pending reads, writes and event
  // waits; RXCLEAR and TXCLEAR discard what the driver holds.
  bool PurgeComm(uint32_t flags);
  // Clears an error state; errors and the count of bytes waiting to be read
  // are reported where the platform knows them. May do nothing.
  bool ClearCommError(uint32_t* errors = nullptr, uint32_t* inQueue = nullptr);
  // SETRTS/CLRRTS/SETDTR/CLRDTR/SETBREAK/CLRBREAK. Lines the device does not
  // have are recorded, not failed.
  bool EscapeCommFunction(uint32_t function);
  bool SetCommBreak();
  bool ClearCommBreak();

  struct Impl;
  explicit SerialPort(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

using PortHandle = std::shared_ptr<SerialPort>;

}  // namespace plat
