// The API user's side of the end-to-end link tests: a notification event
// and the indications taken with Dll_ReadDate as the program's driver
// thread takes them, through whichever set of Dll_ functions it is given.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "indication.h"
#include "plat/clock.h"
#include "plat/event.h"

namespace e2e {

using linktest::Indication;

inline Indication One(int id, uint8_t value) { return {id, std::string(1, static_cast<char>(value))}; }

// Waits for indications through `ReadDate` (the signature of Dll_ReadDate)
// on its own event, created set as the program's driver event is, whose
// handle it registers with Dll_SetNotify.
template <typename ReadDate>
class ApiUser {
 public:
  explicit ApiUser(ReadDate readDate) : readDate_(readDate) { notify_.Create(true, true); }
  void* Handle() const { return notify_.NotifyHandle(); }

  // The indications taken since the last call, through the first one with
  // `id`; empty when none came within `realMs`.
  std::vector<Indication> Until(int id, uint32_t realMs = 20000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
    for (;;) {
      for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].id != id) continue;
        std::vector<Indication> taken(pending_.begin(), pending_.begin() + static_cast<long>(i) + 1);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(i) + 1);
        return taken;
      }
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return {};
      // Only the event wakes this user, as it wakes the program's driver
      // thread: an indication queued without setting it is never seen.
      // Reset before the drain, so one set during the drain is kept.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
      notify_.Wait(static_cast<uint32_t>(left) * static_cast<uint32_t>(plat::TimeScale()));
      notify_.Reset();
      Drain();
    }
  }
  // What has come and was not taken yet.
  std::vector<Indication> Pending() {
    Drain();
    return {pending_.begin(), pending_.end()};
  }

 private:
  void Drain() {
    int id = 0;
    int length = 0;
    char data[1024];
    while (readDate_(&id, data, &length)) pending_.push_back({id, std::string(data, static_cast<size_t>(length))});
  }

  ReadDate readDate_;
  plat::Event notify_;
  std::deque<Indication> pending_;
};

}  // namespace e2e
