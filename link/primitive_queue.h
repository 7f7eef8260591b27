// The bounded first-in-first-out queue through which everything crosses the
// link layer's threads: requests to the write thread, indications to the API
// caller. Each entry is a heap copy of its data; the queue locks itself.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

// One element of a queue. Every element is either queued (on the list from
// head to tail, oldest first) or free (on the free list, a stack).
struct Primitive {
  int32_t id = 0;
  std::unique_ptr<char[]> pBuff;  // the data while queued, null while free
  int32_t length = 0;             // bytes of pBuff that count, CR LF included
  int32_t next = -1;              // the next element on the same list; -1 ends it
  bool free = true;
};

class PrimitiveQueue {
 public:
  static constexpr unsigned MaxCapacity = 512;

  // Called by Enqueue with wake set, under the queue's lock, with the context
  // given to SetWake; it must not call back into the queue. The link layer
  // points it at its write-request signal.
  using WakeFn = void (*)(void* context);

  explicit PrimitiveQueue(const char* name);
  PrimitiveQueue(const PrimitiveQueue&) = delete;
  PrimitiveQueue& operator=(const PrimitiveQueue&) = delete;

  // Allocates `length` elements (at most MaxCapacity; more is corrected) once;
  // a second call is ignored. The queue is unusable until then. A queue with
  // no elements (length 0, or the allocation failed) refuses every entry.
  void Init(unsigned length, const char* name);

  // The wake that Enqueue runs when asked to; none until set.
  void SetWake(WakeFn wake, void* context);

  // Queues a copy of `length` bytes of `data` under `id`, followed by CR LF
  // unless id is IdRawText. False, queuing nothing, for a negative length,
  // null data with a length, no memory, or a full queue (whose entries stay).
  bool Enqueue(int32_t id, const char* data, int32_t length, bool wake);

  // Takes the oldest entry: its id, its length and its bytes into `out`, which
  // holds `capacity` bytes. False when the queue is empty (nothing written),
  // or when the entry needs more than `capacity` bytes: it then stays queued
  // and only `*length` is written, with the size it needs.
  bool Dequeue(int32_t* id, char* out, unsigned capacity, unsigned* length);

  bool IsEmpty();

 private:
  friend class PrimitiveQueuePeer;  // tests look at the lists

  void SetName(const char* name);
  // Frees every element and chains them in index order; the caller holds the lock.
  void ResetLists();

  std::mutex mutex_;
  int32_t head_ = -1;
  int32_t tail_ = -1;  // meaningful only while head_ is not -1
  int32_t freeHead_ = -1;
  unsigned capacity_ = 0;
  std::unique_ptr<Primitive[]> elements_;
  bool initialised_ = false;
  WakeFn wake_ = nullptr;
  void* wakeContext_ = nullptr;
  char name_[32] = {};
};
