// The bare line on POSIX: one non-blocking descriptor; a write that cannot
// go on polls for room, a read that finds nothing polls for bytes.
#include "testkit/raw_line.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>

#include "plat/device_root.h"
#include "testkit/posix/tty_posix.h"

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
  if (!posix_tty::MakeRaw(fd)) {
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

bool RawLine::Write(const void* data, size_t count) { return posix_tty::WriteAll(fd_, data, count, -1); }

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
