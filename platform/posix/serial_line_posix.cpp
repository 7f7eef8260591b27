// Line settings through termios2. This file includes <asm/termbits.h> (the
// kernel's termios, with termios2 and BOTHER) and must therefore not include
// <termios.h>; the rest of the serial backend does not include either.
#include "serial_line_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace plat::posix_serial {
namespace {

struct SpeedCode {
  uint32_t baud;
  unsigned code;
};

constexpr SpeedCode kStandardSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

unsigned StandardCode(uint32_t baud) {
  for (const SpeedCode& speed : kStandardSpeeds)
    if (speed.baud == baud) return speed.code;
  return 0;
}

bool Get(int fd, struct termios2* tio) {
  int result;
  do {
    result = ::ioctl(fd, TCGETS2, tio);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool Control(int fd, unsigned long request, long argument) {
  int result;
  do {
    result = ::ioctl(fd, request, argument);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

}  // namespace

bool IsStandardBaud(uint32_t baud) { return StandardCode(baud) != 0; }

bool ApplyLine(int fd, const LineSettings& settings) {
  struct termios2 tio {};
  if (!Get(fd, &tio)) return false;

  tio.c_iflag = 0;
  if (settings.outX) tio.c_iflag |= IXON;
  if (settings.inX) tio.c_iflag |= IXOFF;
  if (settings.parityCheck && settings.parity != 0) tio.c_iflag |= INPCK;
  tio.c_oflag = 0;
  tio.c_lflag = 0;

  // Only the hang-up-on-close choice of the device is kept.
  tcflag_t cflag = (tio.c_cflag & HUPCL) | CREAD | CLOCAL;
  switch (settings.byteSize) {
    case 5: cflag |= CS5; break;
    case 6: cflag |= CS6; break;
    case 7: cflag |= CS7; break;
    default: cflag |= CS8; break;
  }
  if (settings.stopBits != 0) cflag |= CSTOPB;
  switch (settings.parity) {
    case 1: cflag |= PARENB | PARODD; break;            // odd
    case 2: cflag |= PARENB; break;                     // even
    case 3: cflag |= PARENB | PARODD | CMSPAR; break;   // mark
    case 4: cflag |= PARENB | CMSPAR; break;            // space
    default: break;
  }
  if (settings.ctsRts) cflag |= CRTSCTS;
  // The input speed follows the output speed (CIBAUD 0).
  const unsigned code = StandardCode(settings.baud);
  cflag |= code != 0 ? code : BOTHER;
  tio.c_cflag = cflag;
  tio.c_ispeed = settings.baud;
  tio.c_ospeed = settings.baud;

  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  tio.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);

  int result;
  do {
    result = ::ioctl(fd, TCSETS2, &tio);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool ReadSnapshot(int fd, LineSnapshot* snapshot) {
  struct termios2 tio {};
  if (!Get(fd, &tio)) return false;
  snapshot->iflag = tio.c_iflag;
  snapshot->oflag = tio.c_oflag;
  snapshot->cflag = tio.c_cflag;
  snapshot->lflag = tio.c_lflag;
  snapshot->vmin = tio.c_cc[VMIN];
  snapshot->vtime = tio.c_cc[VTIME];
  snapshot->vstart = tio.c_cc[VSTART];
  snapshot->vstop = tio.c_cc[VSTOP];
  snapshot->ispeed = tio.c_ispeed;
  snapshot->ospeed = tio.c_ospeed;
  return true;
}

bool ReadBaud(int fd, uint32_t* baud) {
  struct termios2 tio {};
  if (!Get(fd, &tio)) return false;
  *baud = tio.c_ospeed;
  if (*baud == 0) {
    // Some drivers leave the speed fields alone; decode the speed code.
    const unsigned code = tio.c_cflag & CBAUD;
    for (const SpeedCode& speed : kStandardSpeeds)
      if (speed.code == code) *baud = speed.baud;
  }
  return true;
}

bool FlushInput(int fd) { return Control(fd, TCFLSH, TCIFLUSH); }
bool FlushOutput(int fd) { return Control(fd, TCFLSH, TCOFLUSH); }
bool SuspendOutput(int fd, bool suspend) { return Control(fd, TCXONC, suspend ? TCOOFF : TCOON); }

}  // namespace plat::posix_serial
