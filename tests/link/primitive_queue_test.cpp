#include "link/primitive_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/ids.h"

// Reads the queue's lists, which its interface does not show.
class PrimitiveQueuePeer {
 public:
  static unsigned Capacity(const PrimitiveQueue& q) { return q.capacity_; }
  static int32_t Tail(const PrimitiveQueue& q) { return q.tail_; }
  static const Primitive& Element(const PrimitiveQueue& q, int32_t index) { return q.elements_[index]; }
};

namespace {

struct Entry {
  int32_t id;
  std::string data;
  bool operator==(const Entry&) const = default;
  friend void PrintTo(const Entry& e, std::ostream* os) { *os << e.id << " \"" << e.data << '"'; }
};

bool Put(PrimitiveQueue& q, int32_t id, const std::string& data) {
  return q.Enqueue(id, data.data(), static_cast<int32_t>(data.size()), false);
}

// Takes the oldest entry into a buffer of exactly `capacity` bytes, so that a
// write past it is caught by the address sanitizer.
bool Take(PrimitiveQueue& q, Entry& entry, unsigned capacity = 4096) {
  std::vector<char> out(capacity);
  unsigned length = 0;
  if (!q.Dequeue(&entry.id, out.data(), capacity, &length)) return false;
  entry.data.assign(out.data(), length);
  return true;
}

// The payload of a dequeued entry: the data without the CR LF the queue adds.
std::string Payload(const Entry& entry) {
  EXPECT_GE(entry.data.size(), 2u);
  EXPECT_EQ(entry.data.substr(entry.data.size() - 2), "\r\n");
  return entry.data.substr(0, entry.data.size() - 2);
}

int Fill(PrimitiveQueue& q) {
  int queued = 0;
  while (Put(q, IdAtCommand, "AT" + std::to_string(queued))) ++queued;
  return queued;
}

struct ClampCase {
  unsigned requested, capacity;
};

class Capacity : public testing::TestWithParam<ClampCase> {};

TEST_P(Capacity, IsClampedAt512) {
  PrimitiveQueue q("<Unknown>");
  q.Init(GetParam().requested, "<Test>");
  EXPECT_EQ(PrimitiveQueuePeer::Capacity(q), GetParam().capacity);
  EXPECT_EQ(Fill(q), static_cast<int>(GetParam().capacity));
}

INSTANTIATE_TEST_SUITE_P(Lengths, Capacity,
                         testing::Values(ClampCase{1, 1}, ClampCase{40, 40}, ClampCase{511, 511},
                                         ClampCase{512, 512}, ClampCase{513, 512}, ClampCase{600, 512},
                                         ClampCase{0xFFFFFFFFu, 512}));

TEST(PrimitiveQueue, SecondInitIsIgnored) {
  PrimitiveQueue q("<Unknown>");
  q.Init(2, "<Test>");
  ASSERT_TRUE(Put(q, IdOk, "OK"));
  q.Init(10, "<Test>");
  EXPECT_EQ(PrimitiveQueuePeer::Capacity(q), 2u);
  Entry entry;
  ASSERT_TRUE(Take(q, entry));
  EXPECT_EQ(entry, (Entry{IdOk, "OK\r\n"}));
}

TEST(PrimitiveQueue, FullQueueRefusesOnlyTheNewEntry) {
  PrimitiveQueue q("<Unknown>");
  q.Init(40, "<ReadQ>");
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(Put(q, 100 + i, "entry " + std::to_string(i))) << i;
  EXPECT_FALSE(Put(q, 200, "one too many"));
  EXPECT_FALSE(q.IsEmpty());
  for (int i = 0; i < 40; ++i) {
    Entry entry;
    ASSERT_TRUE(Take(q, entry)) << i;
    EXPECT_EQ(entry.id, 100 + i);
    EXPECT_EQ(Payload(entry), "entry " + std::to_string(i));
  }
  Entry entry;
  EXPECT_FALSE(Take(q, entry));
  // Room again after the drain.
  EXPECT_EQ(Fill(q), 40);
}

struct FramingCase {
  int32_t id;
  std::string data;
  std::string queued;
};

class Framing : public testing::TestWithParam<FramingCase> {};

TEST_P(Framing, AppendsCrLfExceptForRawText) {
  const FramingCase& c = GetParam();
  PrimitiveQueue q("<Unknown>");
  q.Init(4, "<WriteQ>");
  ASSERT_TRUE(Put(q, c.id, c.data));

  // The buffer ends in a NUL that the length does not count.
  const Primitive& element = PrimitiveQueuePeer::Element(q, PrimitiveQueuePeer::Tail(q));
  ASSERT_EQ(element.length, static_cast<int32_t>(c.queued.size()));
  EXPECT_EQ(element.pBuff[element.length], '\0');

  Entry entry;
  ASSERT_TRUE(Take(q, entry));
  EXPECT_EQ(entry, (Entry{c.id, c.queued}));
}

using namespace std::string_literals;
INSTANTIATE_TEST_SUITE_P(
    Ids, Framing,
    testing::Values(FramingCase{IdAtCommand, "AT+CGMR", "AT+CGMR\r\n"}, FramingCase{IdRawText, "ab", "ab"},
                    FramingCase{IdRawText, "", ""}, FramingCase{IdOk, "", "\r\n"},
                    FramingCase{IdModemDetect, "\x01"s, "\x01\r\n"s},
                    FramingCase{IdPortScanRequest, "\0\0\0\0\0"s, "\0\0\0\0\0\r\n"s},
                    FramingCase{IdRawText, "line\r\n", "line\r\n"}, FramingCase{IdRawText - 1, "x", "x\r\n"},
                    FramingCase{IdRawText + 1, "x", "x\r\n"}));

TEST(PrimitiveQueue, RefusesBadArguments) {
  PrimitiveQueue q("<Unknown>");
  q.Init(4, "<Test>");
  EXPECT_FALSE(q.Enqueue(IdAtCommand, "AT", -1, false));
  EXPECT_FALSE(q.Enqueue(IdAtCommand, nullptr, 2, false));
  EXPECT_TRUE(q.IsEmpty());
  // No data at all is fine: the entry is just CR LF.
  ASSERT_TRUE(q.Enqueue(IdOk, nullptr, 0, false));
  Entry entry;
  ASSERT_TRUE(Take(q, entry));
  EXPECT_EQ(entry, (Entry{IdOk, "\r\n"}));
}

TEST(PrimitiveQueue, ReusesTheLastFreedElementFirst) {
  PrimitiveQueue q("<Unknown>");
  q.Init(4, "<Test>");
  Entry entry;

  ASSERT_TRUE(Put(q, 1, "A"));
  const int32_t a = PrimitiveQueuePeer::Tail(q);
  ASSERT_TRUE(Put(q, 2, "B"));
  const int32_t b = PrimitiveQueuePeer::Tail(q);
  ASSERT_TRUE(Take(q, entry));  // A
  ASSERT_TRUE(Put(q, 3, "C"));
  EXPECT_EQ(PrimitiveQueuePeer::Tail(q), a);

  ASSERT_TRUE(Take(q, entry));  // B
  ASSERT_TRUE(Take(q, entry));  // C, freed after B
  ASSERT_TRUE(Put(q, 4, "D"));
  EXPECT_EQ(PrimitiveQueuePeer::Tail(q), a);
  ASSERT_TRUE(Put(q, 5, "E"));
  EXPECT_EQ(PrimitiveQueuePeer::Tail(q), b);
}

TEST(PrimitiveQueue, KeepsFifoOrderThroughManyRecycles) {
  // A fixed random mix of enqueues and dequeues against a model queue; with
  // capacity 5 the lists are recycled thousands of times and run full often.
  PrimitiveQueue q("<Unknown>");
  q.Init(5, "<Test>");
  std::deque<Entry> model;
  std::mt19937 random(12345);
  for (int step = 0; step < 20000; ++step) {
    if (random() % 2 == 0) {
      const Entry entry{static_cast<int32_t>(step % 256), std::to_string(step)};
      ASSERT_EQ(Put(q, entry.id, entry.data), model.size() < 5) << step;
      if (model.size() < 5) model.push_back({entry.id, entry.id == IdRawText ? entry.data : entry.data + "\r\n"});
    } else {
      Entry entry;
      ASSERT_EQ(Take(q, entry), !model.empty()) << step;
      if (model.empty()) continue;
      EXPECT_EQ(entry, model.front()) << step;
      model.pop_front();
    }
  }
}

TEST(PrimitiveQueue, DequeueNeverWritesPastItsBuffer) {
  PrimitiveQueue q("<Unknown>");
  q.Init(4, "<Test>");
  ASSERT_TRUE(Put(q, IdAtCommand, "AT+CGMR"));
  ASSERT_TRUE(Put(q, IdOk, "OK"));

  // Too small: nothing taken, only the size needed reported.
  std::vector<char> small(8, 'x');
  int32_t id = -7;
  unsigned length = 0;
  EXPECT_FALSE(q.Dequeue(&id, small.data(), static_cast<unsigned>(small.size()), &length));
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(id, -7);
  EXPECT_EQ(small, std::vector<char>(8, 'x'));

  Entry entry;
  EXPECT_FALSE(Take(q, entry, 0));
  ASSERT_TRUE(Take(q, entry, 9));
  EXPECT_EQ(entry, (Entry{IdAtCommand, "AT+CGMR\r\n"}));
  ASSERT_TRUE(Take(q, entry, 4));
  EXPECT_EQ(entry, (Entry{IdOk, "OK\r\n"}));
}

TEST(PrimitiveQueue, EmptyQueueWritesNothing) {
  PrimitiveQueue q("<Unknown>");
  q.Init(2, "<Test>");
  ASSERT_TRUE(Put(q, IdOk, "OK"));
  Entry entry;
  ASSERT_TRUE(Take(q, entry));

  char out[8] = "unused";
  int32_t id = -7;
  unsigned length = 99;
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_FALSE(q.Dequeue(&id, out, sizeof out, &length));
  EXPECT_EQ(id, -7);
  EXPECT_EQ(length, 99u);
  EXPECT_STREQ(out, "unused");
}

enum class Setup { Uninitialised, ZeroLength };

class WithoutElements : public testing::TestWithParam<Setup> {};

TEST_P(WithoutElements, RefusesAndReportsEmpty) {
  PrimitiveQueue q("<Unknown>");
  if (GetParam() == Setup::ZeroLength) q.Init(0, "<Test>");
  EXPECT_FALSE(Put(q, IdOk, "OK"));
  EXPECT_TRUE(q.IsEmpty());
  int32_t id = -7;
  unsigned length = 99;
  char out[4];
  EXPECT_FALSE(q.Dequeue(&id, out, sizeof out, &length));
  EXPECT_EQ(id, -7);
  EXPECT_EQ(length, 99u);
}

INSTANTIATE_TEST_SUITE_P(Queues, WithoutElements, testing::Values(Setup::Uninitialised, Setup::ZeroLength));

std::atomic<int> wakes{0};

TEST(PrimitiveQueue, WakesOnlyWhenAskedAndQueued) {
  wakes = 0;
  PrimitiveQueue q("<Unknown>");
  q.Init(1, "<WriteQ>");
  ASSERT_TRUE(q.Enqueue(IdAtCommand, "AT", 2, true));  // no wake set yet
  Entry entry;
  ASSERT_TRUE(Take(q, entry));

  q.SetWake([](void*) { ++wakes; }, nullptr);
  ASSERT_TRUE(q.Enqueue(IdOk, "OK", 2, false));
  EXPECT_EQ(wakes, 0);
  ASSERT_TRUE(Take(q, entry));
  ASSERT_TRUE(q.Enqueue(IdAtCommand, "AT", 2, true));
  EXPECT_EQ(wakes, 1);
  EXPECT_FALSE(q.Enqueue(IdAtCommand, "AT", 2, true));  // full
  EXPECT_FALSE(q.Enqueue(IdAtCommand, "AT", -1, true));
  EXPECT_EQ(wakes, 1);
}

TEST(PrimitiveQueue, ConcurrentProducersAndConsumers) {
  constexpr int Producers = 4, Consumers = 3, PerProducer = 3000;
  PrimitiveQueue q("<Unknown>");
  q.Init(40, "<ReadQ>");
  q.SetWake([](void*) { ++wakes; }, nullptr);

  std::vector<std::thread> threads;
  for (int p = 0; p < Producers; ++p) {
    threads.emplace_back([&q, p] {
      for (int n = 0; n < PerProducer; ++n) {
        const std::string data = std::to_string(n);
        while (!q.Enqueue(p, data.data(), static_cast<int32_t>(data.size()), true)) std::this_thread::yield();
      }
    });
  }

  std::atomic<int> taken{0};
  std::vector<std::vector<int>> seen(Consumers, std::vector<int>(Producers, -1));
  std::vector<int> received(Producers * PerProducer, 0);
  std::vector<std::vector<int>> got(Consumers);
  for (int c = 0; c < Consumers; ++c) {
    threads.emplace_back([&, c] {
      while (taken < Producers * PerProducer) {
        Entry entry;
        if (!Take(q, entry, 16)) {
          std::this_thread::yield();
          continue;
        }
        ++taken;
        const int n = std::stoi(Payload(entry));
        // One consumer sees a subsequence of the queue's order, so each
        // producer's entries reach it in increasing order.
        EXPECT_GT(n, seen[c][entry.id]);
        seen[c][entry.id] = n;
        got[c].push_back(entry.id * PerProducer + n);
      }
    });
  }
  for (std::thread& t : threads) t.join();

  for (const std::vector<int>& list : got)
    for (int key : list) ++received[key];
  EXPECT_EQ(received, std::vector<int>(Producers * PerProducer, 1));
  EXPECT_TRUE(q.IsEmpty());
}

}  // namespace
