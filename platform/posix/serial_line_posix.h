// Backend-internal: the tty line settings of a serial port, applied and read
// through the kernel's termios2 interface (TCSETS2/TCGETS2, BOTHER for rates
// outside the standard speed table). Kept apart from serial_posix.cpp because
// <asm/termbits.h> and <termios.h> cannot be included together.
#pragma once

#include <cstdint>

namespace plat::posix_serial {

// What a device control block asks of the line. The line is always raw:
// no echo, no line editing, no signals, no CR/LF translation, no output
// processing, receiver on, modem status lines ignored (CLOCAL).
struct LineSettings {
  uint32_t baud = 9600;
  uint8_t byteSize = 8;   // 5..8
  uint8_t parity = 0;     // NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY
  uint8_t stopBits = 0;   // ONESTOPBIT; ONE5STOPBITS and TWOSTOPBITS both give two stop bits
  bool parityCheck = false;  // INPCK
  bool outX = false;         // IXON: obey XON/XOFF from the far end
  bool inX = false;          // IXOFF: send XON/XOFF to the far end
  bool ctsRts = false;       // CRTSCTS
  char xonChar = 0x11;       // VSTART
  char xoffChar = 0x13;      // VSTOP
};

// The line as the kernel holds it, to tell whether a device still has the
// settings this process gave it.
struct LineSnapshot {
  uint32_t iflag = 0, oflag = 0, cflag = 0, lflag = 0;
  uint8_t vmin = 0, vtime = 0, vstart = 0, vstop = 0;
  uint32_t ispeed = 0, ospeed = 0;
  bool operator==(const LineSnapshot&) const = default;
};

// Applies `settings` (and raw mode) in one TCSETS2; false with errno set.
bool ApplyLine(int fd, const LineSettings& settings);
bool ReadSnapshot(int fd, LineSnapshot* snapshot);
// The output speed in bits per second; false with errno set.
bool ReadBaud(int fd, uint32_t* baud);
// Whether `baud` is one of the kernel's standard speeds (a Bnnn constant).
bool IsStandardBaud(uint32_t baud);

bool FlushInput(int fd);   // tcflush(TCIFLUSH)
bool FlushOutput(int fd);  // tcflush(TCOFLUSH)
// tcflow(TCOOFF) / tcflow(TCOON): act as if XOFF / XON had been received.
bool SuspendOutput(int fd, bool suspend);

}  // namespace plat::posix_serial
