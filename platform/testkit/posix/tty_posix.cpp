#include "testkit/posix/tty_posix.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>

namespace plat::posix_tty {

bool MakeRaw(int fd) {
  struct termios tio {};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool WriteAll(int fd, const void* data, size_t count, int timeoutMs, int wakeFd) {
  using Clock = std::chrono::steady_clock;
  const auto* bytes = static_cast<const unsigned char*>(data);
  Clock::time_point deadline{};
  bool waited = false;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    int wait = -1;
    if (timeoutMs >= 0) {
      if (!waited) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      wait = left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    waited = true;
    struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(fds, wakeFd >= 0 ? 2 : 1, wait) < 0 && errno != EINTR) return false;
    if (wakeFd >= 0 && (fds[1].revents & POLLIN) != 0) return false;
    if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds[0].revents & POLLOUT) == 0) return false;
  }
  return true;
}

}  // namespace plat::posix_tty
