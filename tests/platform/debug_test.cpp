#include "plat/debug.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using plat::DebugChannel;

class Capture {
 public:
  Capture() {
    plat::SetDebugSink([this](DebugChannel channel, std::string_view text) {
      std::lock_guard lock(mutex_);
      got_.emplace_back(channel, std::string(text));
    });
  }
  ~Capture() { plat::SetDebugSink(nullptr); }
  std::vector<std::pair<DebugChannel, std::string>> Got() {
    std::lock_guard lock(mutex_);
    return got_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<DebugChannel, std::string>> got_;
};

TEST(Debug, SinkGetsEachTextOnItsChannel) {
  Capture capture;
  plat::OutputDebugString("the port is 7\r\n");
  plat::DebugDump("dump text");
  plat::OutputDebugString(std::string_view("with\0nul", 8));
  plat::OutputDebugString("");
  const std::vector<std::pair<DebugChannel, std::string>> expected = {
      {DebugChannel::DebugString, "the port is 7\r\n"},
      {DebugChannel::Dump, "dump text"},
      {DebugChannel::DebugString, std::string("with\0nul", 8)},
      {DebugChannel::DebugString, ""},
  };
  EXPECT_EQ(capture.Got(), expected);
}

TEST(Debug, AResetSinkIsNoLongerCalled) {
  std::vector<std::string> got;
  plat::SetDebugSink([&](DebugChannel, std::string_view text) { got.emplace_back(text); });
  plat::OutputDebugString("one");
  plat::SetDebugSink(nullptr);
  plat::OutputDebugString("two");  // default output: silent, or standard error
  EXPECT_EQ(got, std::vector<std::string>{"one"});
}

TEST(Debug, ASinkMayWriteDebugOutputItself) {
  std::vector<std::string> got;
  plat::SetDebugSink([&](DebugChannel channel, std::string_view text) {
    got.emplace_back(text);
    if (channel == DebugChannel::DebugString) plat::DebugDump("echo");
  });
  plat::OutputDebugString("first");
  plat::SetDebugSink(nullptr);
  EXPECT_EQ(got, (std::vector<std::string>{"first", "echo"}));
}

TEST(Debug, ConcurrentWritersAllReachTheSink) {
  Capture capture;
  std::vector<std::thread> writers;
  for (int w = 0; w < 4; ++w) {
    writers.emplace_back([] {
      for (int i = 0; i < 200; ++i) plat::OutputDebugString("x");
    });
  }
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(capture.Got().size(), 800u);
}

}  // namespace
