// Backend-internal: lets another part of the backend hold on to an event and
// set it later, the way the platform's kernel keeps an event object alive
// for a pending notification even after its owner closed the handle.
#pragma once

#include <memory>

#include "plat/event.h"

namespace plat::posix {

using EventRef = std::shared_ptr<Event::Impl>;

// The event behind `event`; null for an invalid one.
EventRef RetainEvent(const Event& event);
// Sets the retained event unless it has been closed meanwhile.
void SetRetained(const EventRef& event);

}  // namespace plat::posix
