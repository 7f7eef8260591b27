// A program that ends in the middle of a download: it plugs a simulated
// device in under the device root it is given, starts the download as the
// window does, and once the image is streaming returns through std::exit,
// with the worker and the receive thread still running. What it prints, and
// whether it ends at all, is what the test looks at.
//
//   exit_during_transfer_child ROOT
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "download/status.h"
#include "download/workers.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/device_root.h"
#include "sim/device.h"
#include "sim/package.h"
#include "testkit/device_root.h"
#include "ui/headless/ui_thread.h"

namespace {

namespace fs = std::filesystem;

constexpr unsigned kCom = 12;

// Whether the image is streaming. Never destroyed: the worker goes on
// showing its lines while the process ends.
struct Streaming {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
};
Streaming& TheStreaming() {
  static auto* streaming = new Streaming;
  return *streaming;
}

void WatchStatus(plat::DebugChannel channel, std::string_view text) {
  if (channel != plat::DebugChannel::Dump || text.rfind("download Nuvo", 0) != 0) return;
  Streaming& streaming = TheStreaming();
  {
    std::lock_guard lock(streaming.mutex);
    streaming.started = true;
  }
  streaming.changed.notify_all();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: exit_during_transfer_child ROOT\n", stderr);
    return 2;
  }
  const fs::path root = argv[1];
  std::error_code error;
  fs::create_directories(root / "devices", error);
  fs::create_directories(root / "package", error);
  plat::SetDeviceRoot((root / "devices").string());
  plat::SetTimeScale(10);

  sim::Config config;
  config.com = kCom;
  config.flashPath = (root / "flash.bin").string();
  // Neither is destroyed: std::exit leaves main's objects as they are, so
  // the device goes on answering while the process ends.
  sim::Device device(config);
  std::string reason;
  if (!device.Start(&reason)) {
    std::fprintf(stderr, "the simulated device does not start: %s\n", reason.c_str());
    return 1;
  }
  sim::PackageSpec spec;
  spec.imageSize = 4 << 20;  // far more than streams before the exit
  sim::Package package;
  if (!sim::WritePackage((root / "package").string(), spec, package)) {
    std::fputs("cannot write the package\n", stderr);
    return 1;
  }

  ui::headless::UiThread ui;
  static DownloadJob job;
  job.ComPort = kCom;
  job.StatusWnd = ui.NewWindow();
  job.ProgressWnd = ui.NewWindow();
  job.DialogWnd = ui.NewWindow();
  std::snprintf(job.ImagePath, sizeof job.ImagePath, "%s", (root / "package").string().c_str());
  (void)TheStreaming();
  plat::SetDebugSink(WatchStatus);
  if (download::StartDownloadThread(&job) != 0) {
    std::fputs("the download does not start\n", stderr);
    return 1;
  }

  Streaming& streaming = TheStreaming();
  std::unique_lock lock(streaming.mutex);
  if (!streaming.changed.wait_for(lock, std::chrono::seconds(60), [&streaming] { return streaming.started; })) {
    std::fputs("the image never started streaming\n", stderr);
    return 1;
  }
  lock.unlock();
  std::puts("exiting in the middle of the transfer");
  std::exit(0);
}
