// The bare line on POSIX: one non-blocking descriptor; a write that cannot
// go on polls for room, a read that finds nothing polls for bytes.
#include "plat/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>

#include "plat/device_root.h"

namespace plat {

RawLine::~RawLine() { Close(); }

bool RawLine::Open(unsigned com) {
  Close();
  const std::string path = DeviceRoot() + "/COM" + std::to_string(com);
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  struct termios tio {};
  if (::tcgetattr(fd, &tio) != 0) {
    ::close(fd);
    return false;
  }
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void RawLine::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool RawLine::Write(const void* data, size_t count) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd_, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    struct pollfd fds = {fd_, POLLOUT, 0};
    if (::poll(&fds, 1, -1) < 0 && errno != EINTR) return false;
    if ((fds.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 && (fds.revents & POLLOUT) == 0) return false;
  }
  return true;
}

int RawLine::Read(void* buffer, size_t max, uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline{};
  bool waited = false;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, max);
    if (n > 0) return static_cast<int>(n > INT_MAX ? INT_MAX : n);
    if (n == 0) return max == 0 ? 0 : -1;  // hung up
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    // The clock is read only when there is a wait to measure.
    int wait;
    if (!waited) {
      waited = true;
      deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
      wait = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
    } else {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      wait = left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
    }
    if (wait == 0) return 0;
    struct pollfd fds = {fd_, POLLIN, 0};
    const int result = ::poll(&fds, 1, wait);
    if (result < 0 && errno != EINTR) return -1;
    if (result == 0) return 0;
    if (result > 0 && (fds.revents & POLLIN) == 0) return -1;  // hang-up or error without data
  }
}

}  // namespace plat
