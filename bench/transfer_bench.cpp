// The data phase of whole transfers against the simulated device: a 32 MiB
// download and the 32 MiB upload through the engine, each against a minimal
// stop-and-wait baseline that sends the same requests with plain reads and
// writes on the same kind of pty; and a 128 KiB download over the throttled
// line against the line-rate model.
//
// The data phase runs from the first stream write (or flash read) request to
// the reset request, timed by the simulated device's own transcript. CPU time
// is the process's (engine, its receive thread, the window thread and the
// device alike; the baseline pays the device's share too).
//
// The engine runs twice per direction: as the tool runs it, every block's
// status line and progress value sent to windows of a UI thread and waited
// for; and with no windows, where the lines are still formatted and dumped
// but nothing waits for another thread. The difference is the price of the
// two synchronous window messages per block.
//
//   build/release/bench/transfer_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data_phase.h"
#include "download/status.h"
#include "download/workers.h"
#include "plat/clock.h"
#include "sim/device.h"
#include "sim/hdlc.h"
#include "sim/package.h"
#include "support/port_kit.h"
#include "testkit/raw_line.h"
#include "ui/headless/ui_thread.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned kCom = 21;
constexpr uint32_t kFlashBytes = 33554432;
constexpr uint32_t kBlock = 1024;
constexpr double kMiB = 1024.0 * 1024.0;

// Throughputs of the baselines, for the engine's ratio (same run, run first).
double g_baselineDownload = 0;
double g_baselineUpload = 0;

using bench::CpuSeconds;
using bench::DataPhase;
using bench::Phase;

class Bench {
 public:
  Bench(sim::Config config, size_t imageSize, bool windows = true) {
    folder_ = fs::path(root_.Path()) / "package";
    fs::create_directories(folder_);
    config.com = kCom;
    config.flashPath = (fs::path(root_.Path()) / "flash.bin").string();
    device_ = std::make_unique<sim::Device>(config);
    ok_ = device_->Start();
    sim::PackageSpec spec;
    spec.imageSize = imageSize;
    ok_ = ok_ && sim::WritePackage(folder_.string(), spec, package_);
    job_.ComPort = kCom;
    job_.StatusWnd = windows ? ui_.NewWindow() : ui::NoWindow;
    job_.ProgressWnd = windows ? ui_.NewWindow() : ui::NoWindow;
    job_.DialogWnd = ui_.NewWindow();
    std::snprintf(job_.ImagePath, sizeof job_.ImagePath, "%s", folder_.string().c_str());
    // The starters publish the job for the status lines and the bar; the
    // workers run here without them, so the windows get every line the
    // tool's windows get.
    CurrentJob = &job_;
  }
  ~Bench() {
    device_->Stop();
    CurrentJob = nullptr;
  }

  bool Ok() const { return ok_; }
  sim::Device& Device() { return *device_; }
  const sim::Package& Package() const { return package_; }
  DownloadJob& Job() { return job_; }

 private:
  testkit::TempDeviceRoot root_;
  ui::headless::UiThread ui_;
  fs::path folder_;
  std::unique_ptr<sim::Device> device_;
  sim::Package package_;
  DownloadJob job_;
  bool ok_ = false;
};

// Sends one request and reads its reply frame whole: the stop-and-wait step
// without anything of the engine.
bool Exchange(plat::RawLine& line, std::vector<uint8_t>& frame, const std::vector<uint8_t>& payload,
              std::vector<uint8_t>& reply) {
  frame.clear();
  sim::AppendFrame(frame, payload);
  if (!line.Write(frame.data(), frame.size())) return false;
  reply.clear();
  uint8_t buffer[4096];
  bool inFrame = false;
  for (;;) {
    const int got = line.Read(buffer, sizeof buffer, 2000);
    if (got <= 0) return false;
    for (int i = 0; i < got; ++i) {
      if (buffer[i] != sim::kFlag) {
        inFrame = true;
        reply.push_back(buffer[i]);
      } else if (inFrame) {
        return true;
      }
    }
  }
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void Report(benchmark::State& state, const Phase& phase, double cpu, double baseline) {
  const double mib = kFlashBytes / kMiB;
  state.SetIterationTime(phase.seconds);
  state.counters["MiB_per_s"] = mib / phase.seconds;
  state.counters["cpu_ms_per_MiB"] = cpu * 1000.0 / mib;
  if (baseline > 0) state.counters["ratio_to_baseline"] = (mib / phase.seconds) / baseline;
}

// The baseline: the device waits in download mode; go, one hello, then the
// same data-phase requests as the engine's and the reset.
void BaselineTransfer(benchmark::State& state, bool upload) {
  for (auto _ : state) {
    sim::Config config;
    config.initialState = sim::State::Dmss;
    Bench bench(config, kFlashBytes);
    plat::RawLine line;
    if (!bench.Ok() || !line.Open(kCom)) {
      state.SkipWithError("no device");
      return;
    }
    std::vector<uint8_t> frame, reply, payload;
    bool ok = Exchange(line, frame, {0x05, 0x10, 0x00, 0x00, 0x00}, reply);
    payload = {0x01};
    for (const char* c = sim::kHelloMagic; *c != '\0'; ++c) payload.push_back(static_cast<uint8_t>(*c));
    payload.insert(payload.end(), {0x03, 0x03, 0x09});
    ok = ok && Exchange(line, frame, payload, reply);
    const double cpu0 = CpuSeconds();
    const uint8_t* image = bench.Package().image.data();
    for (uint32_t address = 0; ok && address < kFlashBytes; address += kBlock) {
      payload.clear();
      payload.push_back(upload ? 0x03 : 0x07);
      PutLe32(payload, address);
      if (upload) {
        payload.insert(payload.end(), {0x00, 0x04});
      } else {
        payload.insert(payload.end(), image + address, image + address + kBlock);
      }
      ok = Exchange(line, frame, payload, reply);
    }
    ok = ok && Exchange(line, frame, {0x0B}, reply);
    const double cpu = CpuSeconds() - cpu0;
    const Phase phase = DataPhase(bench.Device(), upload ? sim::Step::Read : sim::Step::StreamWrite);
    if (!ok || !phase.ok) {
      state.SkipWithError("baseline transfer failed");
      return;
    }
    (upload ? g_baselineUpload : g_baselineDownload) = kFlashBytes / kMiB / phase.seconds;
    Report(state, phase, cpu, 0);
  }
}

void EngineTransfer(benchmark::State& state, bool upload, bool windows) {
  // The fixed pauses around the data phase (5 s after go, the final wait)
  // are not what is measured: run them fast.
  plat::SetTimeScale(10);
  for (auto _ : state) {
    Bench bench({}, kFlashBytes, windows);
    if (!bench.Ok()) {
      state.SkipWithError("no device");
      break;
    }
    const double cpu0 = CpuSeconds();
    const int result = upload ? download::UploadWorker(&bench.Job()) : download::DownloadWorker(&bench.Job());
    const double cpu = CpuSeconds() - cpu0;
    const Phase phase = DataPhase(bench.Device(), upload ? sim::Step::Read : sim::Step::StreamWrite);
    if (result != 1 || !phase.ok) {
      state.SkipWithError("transfer failed");
      break;
    }
    Report(state, phase, cpu, upload ? g_baselineUpload : g_baselineDownload);
  }
  plat::SetTimeScale(1);
}

// 128 KiB over the throttled line; the model is every byte of the data
// phase's requests and replies, as the device counted them, at line rate.
void ThrottledDownload(benchmark::State& state) {
  constexpr size_t kImage = 128 * 1024;
  plat::SetTimeScale(10);
  for (auto _ : state) {
    sim::Config config;
    config.throttle = true;
    Bench bench(config, kImage);
    if (!bench.Ok() || download::DownloadWorker(&bench.Job()) != 1) {
      state.SkipWithError("transfer failed");
      break;
    }
    const Phase phase = DataPhase(bench.Device(), sim::Step::StreamWrite);
    // Stop-and-wait: each request and its reply cross the line one after
    // the other, flags, escapes and CRC included.
    double lineBytes = 0;
    std::vector<uint8_t> wire;
    const auto& image = bench.Package().image;
    for (size_t offset = 0; offset < kImage; offset += kBlock) {
      std::vector<uint8_t> payload = {0x07};
      PutLe32(payload, static_cast<uint32_t>(offset));
      payload.insert(payload.end(), image.begin() + offset, image.begin() + offset + kBlock);
      wire.clear();
      sim::AppendFrame(wire, payload);
      // The phase starts once the first request is in: its own bytes are
      // before it.
      if (offset == 0) wire.clear();
      std::vector<uint8_t> ack = {0x08};
      PutLe32(ack, static_cast<uint32_t>(offset));
      sim::AppendFrame(wire, ack);
      lineBytes += static_cast<double>(wire.size());
    }
    // The phase ends when the reset request has arrived: the last reply and
    // that request cross the line too.
    wire.clear();
    sim::AppendFrame(wire, std::vector<uint8_t>{0x0B});
    lineBytes += static_cast<double>(wire.size());
    const double model = lineBytes / sim::Device::kLineRate;
    state.SetIterationTime(phase.seconds);
    state.counters["model_s"] = model;
    state.counters["measured_s"] = phase.seconds;
    state.counters["off_model_pct"] = (phase.seconds - model) / model * 100.0;
  }
  plat::SetTimeScale(1);
}

}  // namespace

BENCHMARK_CAPTURE(BaselineTransfer, download, false)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineTransfer, download, false, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineTransfer, download_without_windows, false, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BaselineTransfer, upload, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineTransfer, upload, true, true)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(EngineTransfer, upload_without_windows, true, false)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ThrottledDownload)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
