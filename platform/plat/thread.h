// Threads: start a function with a priority hint, join it. No thread is ever
// killed from outside; every loop of the system is stopped cooperatively.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace plat {

enum class ThreadPriority { Normal, AboveNormal, Highest };

class Thread {
 public:
  Thread();  // defined with Impl: a constructor may destroy impl_, which needs the full type
  ~Thread();  // joins a thread still running
  Thread(Thread&&) noexcept;
  Thread& operator=(Thread&&) noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body`; its result becomes the exit code. The priority is a hint,
  // silently ignored where the platform does not permit it. False when the
  // thread cannot be started or this object already holds one.
  bool Start(std::function<uint32_t()> body, ThreadPriority priority = ThreadPriority::Normal);
  bool Joinable() const;
  // Waits for the thread to end; returns its exit code (0 when none ran).
  uint32_t Join();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
