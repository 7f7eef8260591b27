// Storage for the engine's process-wide objects that must outlive the
// destruction of static objects at exit: a transfer's worker and receive
// threads may still use them then, while the process ends around them.
// Constant-initialised where the object allows it (declare it constinit
// where every platform allows it), so it is ready before any code runs; its
// destructor never runs.
#pragma once

namespace handoff {

template <typename T>
union NeverDestroyed {
  constexpr NeverDestroyed() : value() {}
  ~NeverDestroyed() {}
  T value;
};

}  // namespace handoff
