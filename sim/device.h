// The simulated Nuvo device on a serial port: the protocol core (core.h)
// driven by a thread over the device's end of COM<n>, with the port listed
// in the serial-port map while the device is plugged in.
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
  bool listed = false;  // the map entry and the COM<n> link are there
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

  unsigned Com() const { return config_.com; }
  const std::string& MapName() const { return mapName_; }
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

 private:
  using Clock = std::chrono::steady_clock;

  void Run();
  Stamp Now() const;
  Status StatusLocked() const;
  bool Stopping() const;
  // Sleeps until `when` unless Stop() comes first; false when stopping.
  bool PauseUntil(Clock::time_point when);
  bool Deliver(const Response& response);
  bool WriteLine(const uint8_t* data, size_t count);
  // Makes the port's link and map entry follow the core's wish.
  void SyncListing();
  void Notify();

  Config config_;
  std::string mapName_;
  Clock::time_point origin_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Core core_;             // guarded by mutex_, except what only the driver thread touches (its deframer)
  bool stopping_ = false;
  bool listed_ = false;
  size_t replies_ = 0;

  std::unique_ptr<plat::DevicePort> port_;
  std::thread thread_;
  bool started_ = false;

  // Driver thread only.
  std::vector<uint8_t> rx_;
  Response response_;
  Clock::time_point rxFree_{};  // when the line from the host is next idle (throttle)
  Clock::time_point txFree_{};  // when the line to the host is next idle
  Clock::time_point resetEnds_ = Clock::time_point::max();
  bool unplugged_ = false;
};

}  // namespace sim
