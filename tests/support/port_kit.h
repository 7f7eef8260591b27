// Test ports: a serial port the system opens as COM<n>, whose far end the
// test plays (the "peer"), registered in a per-test device root with a map
// entry. The interface is the same on both backends: a port is a
// plat::DevicePort (see there for what it is on each backend), the peer its
// device end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace testkit {

// A fresh, empty device root for one test, set as the platform's root for
// its lifetime (and removed with everything in it afterwards).
class TempDeviceRoot {
 public:
  TempDeviceRoot();
  ~TempDeviceRoot();
  TempDeviceRoot(const TempDeviceRoot&) = delete;
  TempDeviceRoot& operator=(const TempDeviceRoot&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class TestPort {
 public:
  // Creates the port and links it as COM<com>. With a map name it also adds
  // the map value (mapName -> "COM<com>").
  explicit TestPort(unsigned com, const std::string& mapName = "");
  ~TestPort();  // unregisters and releases the port
  TestPort(const TestPort&) = delete;
  TestPort& operator=(const TestPort&) = delete;

  unsigned Com() const;
  bool Ok() const;  // created and registered

  // Removes the COM link and the map value (the port itself stays).
  void Unregister();

  // Peer side I/O.
  bool PeerWrite(const void* data, size_t count);
  bool PeerWrite(const std::string& bytes) { return PeerWrite(bytes.data(), bytes.size()); }
  // Whatever arrives within `ms` real milliseconds after the first byte's
  // arrival or the call, at most `max` bytes; returns after `ms` of silence.
  std::string PeerRead(size_t max, uint32_t ms);
  // Exactly `count` bytes, or fewer when `ms` real milliseconds pass first.
  std::string PeerReadExactly(size_t count, uint32_t ms);
  // Discards everything the peer has received so far.
  void PeerDrain();

  struct Impl;

 private:
  friend class ScriptedPeer;  // plays the peer side of the same port
  std::unique_ptr<Impl> impl_;
};

// A peer on its own thread: `onData` gets each chunk received on the port's
// peer side and returns the bytes to answer (possibly none). Stopped and
// joined by its destructor.
class ScriptedPeer {
 public:
  using Script = std::function<std::string(const std::string& received)>;
  ScriptedPeer(TestPort& port, Script onData);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;
  // Everything received so far.
  std::string Received() const;
  // Waits, at most `realMs`, until the peer has answered whatever reached it
  // before the call: until one of its waits for bytes, begun after the call,
  // has found none. True then, or when the port has failed; false on the
  // limit. For a test whose system gives the peer a fixed, short time to
  // answer: it can wait for the answer instead of hoping for it.
  bool WaitQuiet(uint32_t realMs) const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace testkit
