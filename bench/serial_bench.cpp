// Throughput of plat::SerialPort over a pseudo-terminal against a plain
// read/write loop on the same kind of pseudo-terminal, in one run.
//
// Each iteration sends one block to an echo peer on the device end
// (plat::DevicePort) and reads the echoed block back: through
// plat::SerialPort::Write/Read (time-outs all zero, so a read waits for its
// full count) in BM_PlatSerial, through plat::RawLine (write, poll and read
// on a raw non-blocking descriptor) in BM_PlainPty. Both open COM<n> by the
// device root's link, and the echo peer is the same code in both. After the
// benchmarks the program prints, per block size, the ratio of the two rates
// (1.0: no overhead).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plat/serial.h"
#include "support/port_kit.h"
#include "testkit/device_port.h"
#include "testkit/raw_line.h"

namespace {

constexpr unsigned kCom = 5;

// A device end that echoes everything back on its own thread, in a device
// root of its own.
class EchoPort {
 public:
  EchoPort() : port_(plat::DevicePort::Create(kCom)) {
    if (port_) echo_ = std::thread([this] { Echo(); });
  }
  ~EchoPort() {
    stop_ = true;
    if (echo_.joinable()) echo_.join();
  }
  EchoPort(const EchoPort&) = delete;
  EchoPort& operator=(const EchoPort&) = delete;

  bool ok() const { return port_ != nullptr; }

 private:
  // Each wait for bytes is short, so that a stop is seen soon.
  static constexpr uint32_t kLookMs = 20;
  static constexpr uint32_t kWriteMs = 10000;

  void Echo() {
    std::vector<char> buffer(65536);
    while (!stop_) {
      const int n = port_->Read(buffer.data(), buffer.size(), kLookMs);
      if (n < 0) return;
      if (n > 0 && !port_->Write(buffer.data(), static_cast<size_t>(n), kWriteMs)) return;
    }
  }

  testkit::TempDeviceRoot root_;
  std::unique_ptr<plat::DevicePort> port_;
  std::atomic<bool> stop_{false};
  std::thread echo_;
};

bool ReadAll(plat::RawLine& line, char* data, size_t count) {
  constexpr uint32_t kWaitMs = 10000;
  size_t done = 0;
  while (done < count) {
    const int n = line.Read(data + done, count - done, kWaitMs);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::vector<char> Pattern(size_t size) {
  std::vector<char> block(size);
  for (size_t i = 0; i < size; ++i) block[i] = static_cast<char>(i * 7 + 3);
  return block;
}

void BM_PlatSerial(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  EchoPort echo;
  if (!echo.ok()) {
    state.SkipWithError("cannot make the pseudo-terminal");
    return;
  }
  plat::PortHandle port = plat::SerialPort::Open(kCom);
  plat::Dcb dcb;
  if (!port || !port->GetCommState(dcb)) {
    state.SkipWithError("cannot open the port");
    return;
  }
  dcb.BaudRate = 921600;
  port->SetCommState(dcb);
  port->SetCommTimeouts(plat::CommTimeouts{});
  const std::vector<char> out = Pattern(size);
  std::vector<char> in(size);
  for (auto _ : state) {
    uint32_t written = 0, got = 0;
    if (!port->Write(out.data(), static_cast<uint32_t>(size), &written) || written != size ||
        !port->Read(in.data(), static_cast<uint32_t>(size), &got) || got != size) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  if (in != out && state.iterations() > 0) state.SkipWithError("echo differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_PlainPty(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  EchoPort echo;
  plat::RawLine line;
  if (!echo.ok() || !line.Open(kCom)) {
    state.SkipWithError("cannot make the pseudo-terminal");
    return;
  }
  const std::vector<char> out = Pattern(size);
  std::vector<char> in(size);
  for (auto _ : state) {
    if (!line.Write(out.data(), size) || !ReadAll(line, in.data(), size)) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  if (in != out && state.iterations() > 0) state.SkipWithError("echo differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

BENCHMARK(BM_PlatSerial)->Arg(64)->Arg(1024)->Arg(4096)->UseRealTime();
BENCHMARK(BM_PlainPty)->Arg(64)->Arg(1024)->Arg(4096)->UseRealTime();

// Prints as the console reporter does and keeps each run's byte rate.
class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      const auto rate = run.counters.find("bytes_per_second");
      if (rate == run.counters.end()) continue;
      const std::string name = run.benchmark_name();
      const size_t slash = name.find('/');
      if (slash == std::string::npos) continue;
      const std::string family = name.substr(0, slash);
      const std::string rest = name.substr(slash + 1);
      const long size = std::strtol(rest.c_str(), nullptr, 10);
      (family == "BM_PlatSerial" ? plat_ : plain_)[size] = rate->second.value;
    }
  }
  void PrintRatios() const {
    for (const auto& [size, platRate] : plat_) {
      const auto plain = plain_.find(size);
      if (plain == plain_.end() || plain->second <= 0) continue;
      std::printf("ratio plat/plain, %ld-byte blocks: %.3f  (plat %.2f MB/s, plain %.2f MB/s)\n", size,
                  platRate / plain->second, platRate / 1e6, plain->second / 1e6);
    }
  }

 private:
  std::map<long, double> plat_, plain_;  // bytes per second by block size
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
