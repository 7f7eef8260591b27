#include "link_test_support.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "plat/clock.h"

namespace linktest {

namespace {

// The live scan peers, for the pauses of TestOptions.
std::mutex g_scanPeersMutex;
std::vector<const testkit::ScriptedPeer*> g_scanPeers;

// Generous: a peer that has not answered by then is not going to.
constexpr uint32_t kPeerAnswerLimitMs = 2000;

void WaitForScanPeers() {
  std::lock_guard lock(g_scanPeersMutex);
  for (const testkit::ScriptedPeer* peer : g_scanPeers) peer->WaitQuiet(kPeerAnswerLimitMs);
}

}  // namespace

std::vector<Indication> TakeAll(PrimitiveQueue& queue) {
  std::vector<Indication> taken;
  std::vector<char> buffer(4096);
  int32_t id = 0;
  unsigned length = 0;
  while (queue.Dequeue(&id, buffer.data(), static_cast<unsigned>(buffer.size()), &length)) {
    std::string data(buffer.data(), length);
    if (data.size() >= 2 && data.compare(data.size() - 2, 2, "\r\n") == 0) data.resize(data.size() - 2);
    taken.push_back({id, std::move(data)});
  }
  return taken;
}

LinkOptions TestOptions(bool threads) {
  LinkOptions options;
  options.StartThreads = threads;
  // Without a serial-port map watch the monitor thread gives up at once and
  // runs no modem detection, which would close the AT port under the tests
  // of the read and write paths. The detection tests bring their own watch.
  options.Platform.NewMapWatch = [] {
    return LinkMapWatch{[] { return false; }, [](plat::Event&) { return false; }, [] {}};
  };
  options.Timings.WatchAttempts = 1;
  options.Platform.Sleep = [sleep = options.Platform.Sleep](uint32_t ms) {
    sleep(ms);
    WaitForScanPeers();
  };
  return options;
}

IndicationWatch::IndicationWatch(linklayer& link) : link_(link) {
  notify_.Create(true, false);
  link_.SetNotifyEvent(notify_.NotifyHandle());
}

bool IndicationWatch::WaitFor(int32_t id, size_t count, uint32_t realMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  for (;;) {
    notify_.Reset();
    for (Indication& indication : TakeAll(*link_.pReadQ)) seen_.push_back(std::move(indication));
    size_t found = 0;
    for (const Indication& indication : seen_) found += indication.id == id ? 1 : 0;
    if (found >= count) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Not every indication comes with a notification: look again now and then.
    notify_.Wait(50 * static_cast<uint32_t>(plat::TimeScale()));
  }
}

std::vector<Indication> IndicationWatch::Seen() {
  for (Indication& indication : TakeAll(*link_.pReadQ)) seen_.push_back(std::move(indication));
  return seen_;
}

AtPeer::AtPeer(testkit::TestPort& port, Answer answer)
    : state_(std::make_shared<State>(std::move(answer))), peer_(port, [state = state_](const std::string& chunk) {
        std::lock_guard lock(state->mutex);
        state->pending += chunk;
        std::string reply;
        for (size_t end; (end = state->pending.find("\r\n")) != std::string::npos;) {
          std::string command = state->pending.substr(0, end + 2);
          state->pending.erase(0, end + 2);
          state->commands.push_back({command, plat::GetTickCount()});
          if (state->answer) reply += state->answer(command.substr(0, command.size() - 2));
        }
        return reply;
      }) {}

std::vector<AtPeer::Command> AtPeer::Commands() const {
  std::lock_guard lock(state_->mutex);
  return state_->commands;
}

bool AtPeer::WaitForCommands(size_t count, uint32_t realMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(realMs);
  while (Commands().size() < count) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

using namespace std::string_literals;

const std::string kProbe = "\x0C\x14\x3A\x7E";
const std::string kInquiry = "AT+CINQP?\r\n";
const std::string kDiagReply = "\x0C\xE1\x00\xE1\x01\x02\x7E"s;
const std::string kBootPrompt = "\x0D\x0DM6275A-OEMSBL>\x8E\x7E";

std::string QcusbName(unsigned com) { return "\\Device\\QCUSB_COM" + std::to_string(com) + "_0"; }

std::string Inq(const std::string& line) { return "\r\n" + line + "\r\n\r\nOK\r\n"; }

ScanPeer::ScanPeer(unsigned com, Answers answers)
    : port_(com, QcusbName(com)),
      state_(std::make_shared<State>(std::move(answers))),
      peer_(port_, [state = state_](const std::string& chunk) { return state->Take(chunk); }) {
  std::lock_guard lock(g_scanPeersMutex);
  g_scanPeers.push_back(&peer_);
}

ScanPeer::~ScanPeer() {
  std::lock_guard lock(g_scanPeersMutex);
  std::erase(g_scanPeers, &peer_);
}

int ScanPeer::Inquiries() const {
  std::lock_guard lock(state_->mutex);
  return state_->inquiries;
}

std::string ScanPeer::State::Take(const std::string& chunk) {
  std::lock_guard lock(mutex);
  pending += chunk;
  std::string reply;
  for (;;) {
    const size_t probe = pending.find(kProbe);
    const size_t inquiry = pending.find(kInquiry);
    if (probe == std::string::npos && inquiry == std::string::npos) break;
    if (probe < inquiry) {
      reply += answers.probe;
      pending.erase(0, probe + kProbe.size());
    } else {
      reply += answers.inquiry;
      ++inquiries;
      pending.erase(0, inquiry + kInquiry.size());
    }
  }
  // Bytes of no interest may not pile up; a pattern split over two chunks
  // is still found.
  if (pending.size() > 32) pending.erase(0, pending.size() - 32);
  return reply;
}

}  // namespace linktest
