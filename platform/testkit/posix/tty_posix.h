// Backend-internal: what the device end of a port and the bare host line
// both do to a tty descriptor.
#pragma once

#include <cstddef>

namespace plat::posix_tty {

// Raw mode, no flow control, one byte satisfies a read; false with errno set.
bool MakeRaw(int fd);

// Writes all `count` bytes to the non-blocking `fd`, waiting for room up to
// `timeoutMs` in all (-1: as long as it takes). False on a time-out, an
// error, or when `wakeFd` (if not -1) becomes readable; part of the bytes
// may then have gone. The clock is read only when the line is full.
bool WriteAll(int fd, const void* data, size_t count, int timeoutMs, int wakeFd = -1);

}  // namespace plat::posix_tty
