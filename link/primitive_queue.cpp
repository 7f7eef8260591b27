#include "link/primitive_queue.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string_view>

#include "link/ids.h"
#include "link/trace.h"

PrimitiveQueue::PrimitiveQueue(const char* name) { SetName(name); }

void PrimitiveQueue::SetName(const char* name) {
  const size_t copied = std::string_view(name).copy(name_, sizeof name_ - 1);
  name_[copied] = '\0';
}

void PrimitiveQueue::Init(unsigned length, const char* name) {
  SetName(name);
  std::lock_guard lock(mutex_);
  if (initialised_) {
    DllTrace("Cannot initialize primitive queue; already initialized.\n");
    return;
  }
  if (length > MaxCapacity) {
    DllTrace("Specified primitive queue length too large.  Automatically correcting.\n");
    length = MaxCapacity;
  }
  elements_.reset(new (std::nothrow) Primitive[length]);
  if (!elements_) {
    DllTrace("Unable to dynamically allocate memory. \n");
    length = 0;
  }
  capacity_ = length;
  ResetLists();
  initialised_ = true;
}

void PrimitiveQueue::SetWake(WakeFn wake, void* context) {
  std::lock_guard lock(mutex_);
  wake_ = wake;
  wakeContext_ = context;
}

void PrimitiveQueue::ResetLists() {
  for (unsigned i = 0; i < capacity_; ++i) {
    Primitive& element = elements_[i];
    element.pBuff.reset();
    element.length = 0;
    element.free = true;
    element.next = i + 1 < capacity_ ? static_cast<int32_t>(i + 1) : -1;
  }
  freeHead_ = capacity_ > 0 ? 0 : -1;
  head_ = tail_ = -1;
}

bool PrimitiveQueue::Enqueue(int32_t id, const char* data, int32_t length, bool wake) {
  // Room for CR LF and a NUL, neither of which may overflow the length.
  if (length < 0 || length > std::numeric_limits<int32_t>::max() - 3 || (!data && length > 0)) return false;

  const bool terminated = id != IdRawText;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[length + 3]());
  if (!buffer) {
    DllTrace("Err: can not allocate buff for enqueue \n");
    return false;
  }
  if (length > 0) std::memcpy(buffer.get(), data, length);
  if (terminated) {
    buffer[length++] = '\r';
    buffer[length++] = '\n';
  }

  std::lock_guard lock(mutex_);
  if (freeHead_ == -1) {
    // Full (or without elements): only the new entry is refused.
    char text[64];
    std::snprintf(text, sizeof text, "Err: %s enquue full.\n", name_);
    DllTrace(text);
    return false;
  }
  const int32_t index = freeHead_;
  Primitive& element = elements_[index];
  freeHead_ = element.next;
  element.id = id;
  element.pBuff = std::move(buffer);
  element.length = length;
  element.free = false;
  element.next = -1;
  if (head_ == -1)
    head_ = index;
  else
    elements_[tail_].next = index;
  tail_ = index;

  if (wake && wake_) wake_(wakeContext_);
  return true;
}

bool PrimitiveQueue::Dequeue(int32_t* id, char* out, unsigned capacity, unsigned* length) {
  std::lock_guard lock(mutex_);
  if (head_ == -1) return false;
  Primitive& element = elements_[head_];
  const auto size = static_cast<unsigned>(element.length);
  *length = size;
  if (size > capacity) return false;

  const int32_t index = head_;
  head_ = element.next;
  element.next = freeHead_;
  freeHead_ = index;

  *id = element.id;
  if (size > 0) std::memcpy(out, element.pBuff.get(), size);
  element.free = true;
  element.pBuff.reset();
  return true;
}

bool PrimitiveQueue::IsEmpty() {
  std::lock_guard lock(mutex_);
  return head_ == -1;
}
