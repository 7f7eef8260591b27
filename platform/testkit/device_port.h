// The device's end of a serial port: what a simulated device (or a test's
// peer) holds while the system opens the other end as COM<n> with
// plat::SerialPort.
//
// Created linked as COM<n> in the device root; the serial-port map is left
// to the caller (plat::SerialMapWriter), since a real device's map entries come
// and go on their own. The device end always keeps the line up on its side:
// the system may open and close COM<n> as often as it likes without the
// device seeing a hang-up.
//
// Times here are real milliseconds: the device does not run under the
// system's time scale; a caller that wants scaled pauses uses plat::RealMs.
//
// Read, Write and Drain may run on different threads at once (a reader
// thread and a writer thread, say); HangUp, Link and Unlink may be called
// from any thread, and HangUp ends a Read or Write blocked on another one.
// The destructor must not race with any other call.
//
// On POSIX the port is a pseudo-terminal: the COM<n> link names its slave,
// this object holds the master and a slave descriptor of its own, so the
// master never sees the system's close as a hang-up. Under wine the port is
// one of the test runner's socat pairs (COM<n> for the system, COM<n+100>
// for the device end); HangUp is not available, and Unlink takes the port
// away where the runner's links allow it (where not, the port stays linked,
// which Linked() reports).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace plat {

class DevicePort {
 public:
  // A new port, linked as COM<com> (a stale link of that name is replaced).
  // Null when the port cannot be made or linked.
  static std::unique_ptr<DevicePort> Create(unsigned com);

  ~DevicePort();  // unlinks and releases the port
  DevicePort(const DevicePort&) = delete;
  DevicePort& operator=(const DevicePort&) = delete;

  unsigned Com() const;

  // Removes the COM<com> link: the port can no longer be opened by number,
  // while a handle the system already holds keeps working. Link() puts it
  // back (replacing whatever took the name meanwhile); Unlink only ever
  // removes this port's own link. Both are idempotent.
  bool Link();
  void Unlink();
  bool Linked() const;

  // Writes all `count` bytes within `timeoutMs`; false on a time-out, a
  // hang-up or a port error (part of the bytes may then have gone).
  bool Write(const void* data, size_t count, uint32_t timeoutMs);

  // Waits up to `timeoutMs` for received bytes and takes what is there, at
  // most `max`: the count, 0 when nothing came, -1 when the port has failed
  // or was hung up.
  int Read(void* buffer, size_t max, uint32_t timeoutMs);

  // Discards everything received and not yet read, including bytes the
  // system wrote just before the call that are still on their way.
  void Drain();

  // Ends the line as an unplugged device does: the system's open handle
  // fails from now on (its reads and writes return failure at once, they
  // neither block nor report success), and this object's Read and Write
  // fail too. The COM<n> link goes with the line and Link() fails from then
  // on; a new device is a new DevicePort. Idempotent. False on a backend
  // that cannot do it (then nothing changes).
  bool HangUp();

  struct Impl;
  explicit DevicePort(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
