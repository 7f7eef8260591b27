// A bare host-side serial line, for benchmark baselines: the COM<n> of the
// device root opened raw (no echo, no translation, no flow control), plain
// writes and reads on it and nothing else. It is what plat::SerialPort is
// measured against, so it adds no cost beyond the system calls themselves:
// no locks, no wake descriptors, no time-out rules.
//
// Native only: this is a POSIX facility (the COM<n> link of the device root
// names a tty), and the win32 build does not provide it, since the
// benchmarks that use it are not cross-built.
#pragma once

#if defined(_WIN32)
#error "plat::RawLine is a POSIX-only baseline: the win32 build does not provide it"
#endif

#include <cstddef>
#include <cstdint>

namespace plat {

class RawLine {
 public:
  RawLine() = default;
  ~RawLine();  // closes
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  // Opens the tty that <device root>/COM<com> links to and makes it raw;
  // false when it cannot (a line already open is closed first).
  bool Open(unsigned com);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Writes all `count` bytes, waiting as long as the line needs; false on
  // an error or a hang-up (part of the bytes may then have gone).
  bool Write(const void* data, size_t count);

  // Takes what is there, at most `max` bytes, waiting up to `timeoutMs` for
  // the first byte when nothing is: the count, 0 when nothing came, -1 on an
  // error or a hang-up. One read when bytes are waiting; else read, poll and
  // read again.
  int Read(void* buffer, size_t max, uint32_t timeoutMs);

 private:
  int fd_ = -1;
};

}  // namespace plat
