// Backend-internal: lets another part of the backend hold on to an event and
// set it later, the way the platform's kernel keeps an event object alive
// for a pending notification even after its owner closed the handle; and
// reads memory that may not be readable, for the check of a notify handle.
#pragma once

#include <cstddef>
#include <memory>

#include "plat/event.h"

namespace plat::posix {

using EventRef = std::shared_ptr<Event::Impl>;

// The event behind `event`; null for an invalid one.
EventRef RetainEvent(const Event& event);
// Sets the retained event unless it has been closed meanwhile.
void SetRetained(const EventRef& event);

// How CopyIfReadable reads: Any takes process_vm_readv on our own process
// and, where the system refuses that call, a pipe; tests take each alone.
enum class Probe { Any, VmRead, Pipe };
// Copies the `size` bytes at `address` to `out` when this process can read
// them all; false, without a fault, when it cannot (or when the probe asked
// for is refused here). For a few bytes: the pipe takes at most PIPE_BUF.
// What a notify handle points to is read this way.
bool CopyIfReadable(const void* address, void* out, size_t size, Probe probe = Probe::Any);

}  // namespace plat::posix
