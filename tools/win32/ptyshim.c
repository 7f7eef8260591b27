/* Preloaded into wine for the test runs: answers the modem-control ioctls
 * that a pseudo-terminal refuses, as a port with every line up would.
 * Without it wine ends every WaitCommEvent at once (it reads the modem
 * status at the start of each wait) and fails DTR, RTS and break changes.
 * Built with gcc -m32 -shared, for wine's 32-bit Unix side, which calls
 * __ioctl_time64 where a 64-bit time build is in use. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*ioctl_fn)(int, unsigned long, ...);

/* Unix98 pseudo-terminal slaves: majors 136 to 143. */
static int is_pty(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

static int answer(int fd, unsigned long request, void* arg, int result) {
  if (result == 0 || (errno != ENOTTY && errno != EINVAL) || !is_pty(fd)) return result;
  switch (request) {
    case TIOCMGET:
      *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
      return 0;
    case TIOCGICOUNT:
      memset(arg, 0, sizeof(struct serial_icounter_struct));
      return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
    case TIOCSBRK:
    case TIOCCBRK:
      return 0;
    default:
      return result;
  }
}

static int forward(const char* name, int fd, unsigned long request, void* arg) {
  ioctl_fn next = (ioctl_fn)dlsym(RTLD_NEXT, name);
  if (!next) {
    errno = ENOSYS;
    return -1;
  }
  return answer(fd, request, arg, next(fd, request, arg));
}

int ioctl(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  return forward("ioctl", fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...) {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  return forward("__ioctl_time64", fd, request, arg);
}
