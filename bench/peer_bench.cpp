// The data phase of the 32 MiB download and upload against a peer that does
// nothing but answer: every reply frame is built before the clock starts,
// and the peer only looks for the flag that closes each request and writes
// the next reply. Against it run a bare stop-and-wait host (plat::RawLine:
// write the request, read until the reply's closing flag; the requests are
// built beforehand too) and the engine's own steps (WriteAmss and ReadFlash
// over the transport, without windows), so the ratio of the two is the
// engine's own cost and nothing of a simulated device's.
//
//   peer_bench                      both hosts against an in-process peer, a
//                                   few rounds, each pair the other way round
//                                   every other round; prints the ratios
//   peer_bench serve COM            only the peer, in a device root of its own
//                                   (prints "root DIR" and "tty PATH"; ends at
//                                   the end of its input)
//   peer_bench HOST DIR COM [ROOT]  one transfer of host bare|engine in
//                                   direction upload|download against a peer
//                                   served elsewhere (ROOT: its device root);
//                                   natively also what the host's threads did
//                                   per block: sleeps (each ended by a wake),
//                                   preemptions and processor time
//
// The Windows build has the engine host only, to run under wine against a
// native peer whose tty is linked as the prefix's COM port.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/images.h"
#include "download/steps.h"
#include "download/transport.h"
#include "testkit/device_port.h"
#include "testkit/process_usage.h"
#include "sim/hdlc.h"
#if !defined(_WIN32)
#include <filesystem>

#include "plat/device_root.h"
#include "testkit/device_root.h"
#include "testkit/raw_line.h"
#include "support/port_kit.h"
#endif

namespace {

constexpr uint32_t kBlock = 1024;
constexpr uint32_t kBlocks = download::kUploadBytes / kBlock;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr uint8_t kRead = 0x03, kReadResponse = 0x04, kStreamWrite = 0x07, kStreamWriteResponse = 0x08;
constexpr int kRateKey = 921600;

using Clock = std::chrono::steady_clock;

// One transfer's data phase: its time (negative: the transfer failed) and
// what the process used meanwhile, where the platform counts it.
struct Span {
  double seconds = -1;
  bool counted = false;
  plat::ProcessUsage used;
};

class Stopwatch {
 public:
  Stopwatch() : counted_(plat::ReadProcessUsage(&start_)), begin_(Clock::now()) {}
  Span Stop() const {
    Span span;
    span.seconds = std::chrono::duration<double>(Clock::now() - begin_).count();
    plat::ProcessUsage end;
    span.counted = counted_ && plat::ReadProcessUsage(&end);
    span.used = {end.cpuSeconds - start_.cpuSeconds, end.sleeps - start_.sleeps,
                 end.preemptions - start_.preemptions};
    return span;
  }

 private:
  plat::ProcessUsage start_;
  bool counted_;
  Clock::time_point begin_;
};

Span Failed(double code) {
  Span span;
  span.seconds = code;
  return span;
}

uint8_t FlashByte(uint32_t at) { return static_cast<uint8_t>((at * 2654435761u) >> 24); }

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Frames, one per block, laid end to end.
struct Frames {
  std::vector<uint8_t> bytes;
  std::vector<size_t> start;  // kBlocks + 1 offsets
  const uint8_t* At(uint32_t i) const { return bytes.data() + start[i]; }
  size_t Size(uint32_t i) const { return start[i + 1] - start[i]; }
};

template <typename Payload>
Frames Build(Payload payload) {
  Frames frames;
  std::vector<uint8_t> one;
  for (uint32_t i = 0; i < kBlocks; ++i) {
    frames.start.push_back(frames.bytes.size());
    one.clear();
    payload(i, one);
    sim::AppendFrame(frames.bytes, one);
  }
  frames.start.push_back(frames.bytes.size());
  return frames;
}

Frames ReadReplies() {
  return Build([](uint32_t i, std::vector<uint8_t>& p) {
    p.push_back(kReadResponse);
    PutLe32(p, i * kBlock);
    for (uint32_t k = 0; k < kBlock; ++k) p.push_back(FlashByte(i * kBlock + k));
  });
}

Frames WriteAcks() {
  return Build([](uint32_t i, std::vector<uint8_t>& p) {
    p.push_back(kStreamWriteResponse);
    PutLe32(p, i * kBlock);
  });
}

// Answers every read request with the next read reply and every stream
// write with the next acknowledgement, on its own thread.
class Peer {
 public:
  explicit Peer(unsigned com) : port_(plat::DevicePort::Create(com)), reads_(ReadReplies()), acks_(WriteAcks()) {
    if (port_) thread_ = std::thread([this] { Serve(); });
  }
  ~Peer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  bool Ok() const { return port_ != nullptr; }

 private:
  void Serve() {
    std::vector<uint8_t> buffer(65536);
    bool inFrame = false;
    uint8_t code = 0;
    uint32_t nextRead = 0, nextAck = 0;
    while (!stop_) {
      const int n = port_->Read(buffer.data(), buffer.size(), 20);
      if (n < 0) return;
      for (int i = 0; i < n; ++i) {
        const uint8_t byte = buffer[i];
        if (byte != sim::kFlag) {
          if (!inFrame) code = byte;
          inFrame = true;
          continue;
        }
        if (!inFrame) continue;
        inFrame = false;
        const Frames* frames = code == kRead ? &reads_ : code == kStreamWrite ? &acks_ : nullptr;
        if (frames == nullptr) continue;
        uint32_t& next = code == kRead ? nextRead : nextAck;
        if (!port_->Write(frames->At(next), frames->Size(next), 10000)) return;
        next = (next + 1) % kBlocks;
      }
    }
  }

  std::unique_ptr<plat::DevicePort> port_;
  Frames reads_, acks_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::vector<uint8_t> Image() {
  std::vector<uint8_t> image(download::kUploadBytes);
  for (uint32_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  return image;
}

// One transfer through the engine's steps; a negative time when it failed or
// the upload differs from the peer's flash.
Span EngineTransfer(unsigned com, bool upload, const std::vector<uint8_t>& image) {
  if (download::OpenDownloadPort(static_cast<int>(com), kRateKey, "pn") != 0) return Failed(-1);
  download::ImageSlot& slot = download::ImageTable[download::DeviceImage];
  slot.Data = std::make_unique<uint8_t[]>(image.size());
  std::memcpy(slot.Data.get(), image.data(), image.size());
  slot.Length = static_cast<int32_t>(image.size());
  const Stopwatch watch;
  const int result = upload ? download::ReadFlash() : download::WriteAmss();
  const Span span = watch.Stop();
  download::CloseDownloadPort();
  if (result != 1) return Failed(-2);
  if (upload) {
    for (uint32_t at = 0; at < download::kUploadBytes; ++at)
      if (download::UploadBuffer[at] != FlashByte(at)) return Failed(-3);
  }
  return span;
}

#if !defined(_WIN32)
Span BareTransfer(unsigned com, bool upload, const std::vector<uint8_t>& image) {
  plat::RawLine line;
  if (!line.Open(com)) return Failed(-1);
  const Frames requests = Build([&](uint32_t i, std::vector<uint8_t>& p) {
    p.push_back(upload ? kRead : kStreamWrite);
    PutLe32(p, i * kBlock);
    if (upload) {
      p.insert(p.end(), {0x00, 0x04});
    } else {
      p.insert(p.end(), image.begin() + i * kBlock, image.begin() + (i + 1) * kBlock);
    }
  });
  uint8_t buffer[4096];
  const Stopwatch watch;
  for (uint32_t i = 0; i < kBlocks; ++i) {
    if (!line.Write(requests.At(i), requests.Size(i))) return Failed(-2);
    bool inFrame = false, closed = false;
    while (!closed) {
      const int got = line.Read(buffer, sizeof buffer, 2000);
      if (got <= 0) return Failed(-2);
      for (int k = 0; k < got; ++k) {
        if (buffer[k] != sim::kFlag) {
          inFrame = true;
        } else if (inFrame) {
          closed = true;
        }
      }
    }
  }
  return watch.Stop();
}
#endif

Span Transfer(const std::string& host, unsigned com, bool upload, const std::vector<uint8_t>& image) {
#if !defined(_WIN32)
  if (host == "bare") return BareTransfer(com, upload, image);
#endif
  if (host == "engine") return EngineTransfer(com, upload, image);
  return Failed(-1);
}

// `withUsage`: the process is the host alone, so what it used is the host's.
void Print(const char* host, bool upload, const Span& span, bool withUsage) {
  const double seconds = span.seconds;
  std::printf("%-6s %-8s %7.3f s  %6.2f MiB/s  %6.1f us per block", host, upload ? "upload" : "download", seconds,
              download::kUploadBytes / kMiB / seconds, seconds * 1e6 / kBlocks);
  if (withUsage && span.counted) {
    std::printf("  (per block: %.2f sleeps, %.2f preemptions, %.1f us processor)",
                static_cast<double>(span.used.sleeps) / kBlocks, static_cast<double>(span.used.preemptions) / kBlocks,
                span.used.cpuSeconds * 1e6 / kBlocks);
  }
  std::printf("\n");
  std::fflush(stdout);
}

int Usage() {
  std::fprintf(stderr, "usage: peer_bench [serve COM | bare|engine upload|download COM [ROOT]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<uint8_t> image = Image();
  if (argc >= 4) {
    const std::string host = argv[1], direction = argv[2];
    if (direction != "upload" && direction != "download") return Usage();
#if !defined(_WIN32)
    if (argc >= 5) plat::SetDeviceRoot(argv[4]);
#endif
    const Span span = Transfer(host, static_cast<unsigned>(std::atoi(argv[3])), direction == "upload", image);
    if (span.seconds < 0) {
      std::fprintf(stderr, "peer_bench: %s %s failed (%g)\n", host.c_str(), direction.c_str(), span.seconds);
      return 1;
    }
    Print(host.c_str(), direction == "upload", span, true);
    return 0;
  }
#if defined(_WIN32)
  return Usage();
#else
  constexpr unsigned kCom = 31;
  if (argc == 3 && std::string(argv[1]) == "serve") {
    testkit::TempDeviceRoot root;
    const unsigned com = static_cast<unsigned>(std::atoi(argv[2]));
    Peer peer(com);
    if (!peer.Ok()) return 1;
    std::printf("root %s\ntty %s\n", root.Path().c_str(),
                std::filesystem::read_symlink(root.Path() + "/COM" + std::to_string(com)).c_str());
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
  }
  if (argc != 1) return Usage();
  testkit::TempDeviceRoot root;
  Peer peer(kCom);
  if (!peer.Ok()) return 1;
  constexpr int kRounds = 3;
  double best[2][2] = {};  // [upload][engine]: the fastest round
  for (int round = 0; round < kRounds; ++round) {
    for (const bool upload : {true, false}) {
      for (int k = 0; k < 2; ++k) {
        const bool engine = (k == 1) != (round % 2 == 1);
        const Span span = Transfer(engine ? "engine" : "bare", kCom, upload, image);
        if (span.seconds < 0) {
          std::fprintf(stderr, "peer_bench: transfer failed (%g)\n", span.seconds);
          return 1;
        }
        Print(engine ? "engine" : "bare", upload, span, false);
        double& slot = best[upload][engine];
        if (slot == 0 || span.seconds < slot) slot = span.seconds;
      }
    }
  }
  for (const bool upload : {true, false}) {
    std::printf("ratio engine/bare, %s (fastest of %d rounds): %.3f\n", upload ? "upload" : "download", kRounds,
                best[upload][0] / best[upload][1]);
  }
  return 0;
#endif
}
