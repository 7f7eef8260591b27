// The simulated Nuvo device on its serial ports: the protocol core (core.h)
// driven by a thread over the device's end of its diagnostic port COM<n>,
// and by its profile AT ports (at.h), each with a thread of its own, every
// port listed in the serial-port map while the device is plugged in.
//
// The device's ports come and go together: when it is plugged in or out,
// and when it restarts after a mode switch or AT+CFUN=6 (re-enumeration:
// they are away for the configured pause). While they are away the device
// answers nothing; a handle the host still holds stays open but silent.
//
// Every query is safe from any thread while the device runs, and after
// Stop() the device's records stay readable.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/core.h"

namespace plat {
class DevicePort;
}

namespace sim {

// What the device shows at a glance, for waits.
struct Status {
  State state = State::Diag;
  size_t frames = 0;    // transcript entries
  size_t replies = 0;   // replies written whole
  uint32_t badCrc = 0;  // frames with a wrong CRC (or too short or damaged)
  uint32_t resets = 0;
  bool listed = false;  // the diagnostic port's map entry and COM<n> link are there
  bool plugged = true;
  bool atListed = false;         // the AT ports' map entries and links are there
  uint32_t reenumerations = 0;   // restarts through the AT side
  size_t atCommands = 0;         // AT transcript entries
};

// One command line an AT port took, and what it answered.
struct AtEntry {
  unsigned com = 0;
  Stamp arrived;
  std::string command;
  std::string answer;
};

class Device {
 public:
  static constexpr uint32_t kLineRate = 11520;  // bytes per second when throttled

  explicit Device(Config config);
  ~Device();  // stops
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  // Creates the flash file, the port (linked as COM<n>) and its map entry,
  // and starts serving. False with a reason in `error`.
  bool Start(std::string* error = nullptr);
  // Stops serving, removes the map entry and the port, closes the flash
  // file. Idempotent.
  void Stop();

  // The diagnostic port's number and map name; the AT ports' numbers in
  // their map order (behind the diagnostic port's entry).
  unsigned Com() const { return config_.com; }
  const std::string& MapName() const { return mapName_; }
  std::vector<unsigned> AtComs() const;

  // Plugs the device out (its ports and map entries go) and in again (they
  // come back, unless a restart still keeps them away). Plugged in again,
  // the device starts anew, as at power-on: a transfer it was in is lost,
  // its flash and its modes are kept. Idempotent; before Start(), Unplug()
  // makes the device start unplugged.
  void Unplug();
  void Plug();

  AtModes Modes() const;
  std::vector<AtEntry> AtTranscript(size_t from = 0) const;
  const std::string& FlashPath() const { return config_.flashPath; }

  Status GetStatus() const;
  State GetState() const;
  std::vector<TranscriptEntry> Transcript(size_t from = 0) const;
  std::vector<WriteRecord> WriteLog() const;
  // Copies of the flash (addresses from 0) and of the RAM window (addresses
  // from kRamBase); cut at the end of the memory.
  std::vector<uint8_t> FlashBytes(uint32_t address, uint32_t length) const;
  std::vector<uint8_t> RamBytes(uint32_t address, uint32_t length) const;
  // False once a write through to the flash file has failed.
  bool FlashFileOk() const;

  // Knobs take effect from the next request on.
  void AddKnob(const Knob& knob);
  void ClearKnobs();

  // Waits up to `realMs` real milliseconds until `done` holds; true if it did.
  bool WaitFor(const std::function<bool(const Status&)>& done, uint32_t realMs) const;
  bool WaitForState(State state, uint32_t realMs) const;
  bool WaitForFrames(size_t count, uint32_t realMs) const;
  bool WaitForReplies(size_t count, uint32_t realMs) const;
  bool WaitForResets(uint32_t count, uint32_t realMs) const;
  // Until the device's ports are all listed, or all gone.
  bool WaitForListed(bool listed, uint32_t realMs) const;

 private:
  using Clock = std::chrono::steady_clock;

  struct AtPort {
    unsigned com = 0;
    AtRole role = AtRole::Modem;
    std::string mapName;
    std::unique_ptr<plat::DevicePort> port;
    std::thread thread;
    AtLine line;  // its driver thread only
  };

  void Run();
  void RunAt(AtPort& at);
  bool Present() const;  // plugged, not restarting, not hung up
  // Ends a restart whose pause is over.
  void CheckReturn();
  // Starts the core anew after a plugging in. Driver thread.
  void CheckPowerOn();
  void BeginReenumeration();
  Stamp Now() const;
  Status StatusLocked() const;
  bool Stopping() const;
  // Sleeps until `when` unless Stop() comes first; false when stopping.
  bool PauseUntil(Clock::time_point when);
  bool Deliver(const Response& response);
  bool WriteLine(const uint8_t* data, size_t count);
  // Makes the ports' links and map entries follow the core's wish and the
  // device's presence. Any thread.
  void SyncListing();
  void ReleasePorts();
  void Notify();

  Config config_;
  std::string mapName_;
  Clock::time_point origin_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Core core_;             // guarded by mutex_, except what only the driver thread touches (its deframer)
  AtCore at_;             // guarded by mutex_
  std::vector<AtEntry> atTranscript_;
  bool stopping_ = false;
  bool listed_ = false;
  bool atListed_ = false;
  bool plugged_ = true;
  bool powerOn_ = false;  // plugged in again: away until the driver thread has started the core anew
  bool reenumerating_ = false;
  Clock::time_point returnAt_{};
  uint32_t reenumerations_ = 0;
  size_t replies_ = 0;
  bool hungUp_ = false;   // written by the driver thread under mutex_

  std::mutex listing_;    // one SyncListing at a time
  std::unique_ptr<plat::DevicePort> port_;
  std::vector<std::unique_ptr<AtPort>> atPorts_;
  std::thread thread_;
  bool started_ = false;

  // Driver thread only.
  std::vector<uint8_t> rx_;
  Response response_;
  Clock::time_point rxFree_{};  // when the line from the host is next idle (throttle)
  Clock::time_point txFree_{};  // when the line to the host is next idle
  Clock::time_point resetEnds_ = Clock::time_point::max();
};

}  // namespace sim
