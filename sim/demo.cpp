// nuvo-demo: the tool's main job against the simulated device, without the
// window. It plugs a simulated Nuvo device in, writes a firmware package into
// a fresh folder, runs the download as the window starts it (the status lines
// print as the window would show them), checks that the device's flash now
// holds the image, and then reads the whole flash back with an upload.
//
//   nuvo-demo [--image-size BYTES] [--no-upload] [--scale N]
//
// --scale runs the transfer's fixed pauses (five seconds after the programmer
// starts, the fifteen-second wait at the end) N times faster; 1 is real time.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

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

constexpr unsigned kCom = 7;
constexpr uint32_t kFlashBytes = 33554432;

// The status window's lines as they come; progress lines end in a carriage
// return and overwrite each other, as on the window. The engine shows its
// progress line for every block, mostly the same percentage again: a
// progress line is printed only when it differs from the one before.
void PrintStatus(plat::DebugChannel channel, std::string_view text) {
  static std::string lastProgress;  // the debug sink runs on the worker thread only
  if (channel != plat::DebugChannel::Dump) return;
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  const bool progress = !text.empty() && text.back() == '\r';
  if (progress) {
    if (text == lastProgress) return;
    lastProgress = text;
  } else {
    lastProgress.clear();
  }
  std::printf(progress ? "  %.*s" : "  %.*s\n", static_cast<int>(text.size()), text.data());
  std::fflush(stdout);
}

int Usage() {
  std::fputs("usage: nuvo-demo [--image-size BYTES] [--no-upload] [--scale N]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  size_t imageSize = 1 << 20;
  bool upload = true;
  int scale = 4;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--no-upload") {
      upload = false;
    } else if (option == "--image-size" && i + 1 < argc) {
      imageSize = std::strtoul(argv[++i], nullptr, 0);
      if (imageSize == 0 || imageSize > kFlashBytes) return Usage();
    } else if (option == "--scale" && i + 1 < argc) {
      scale = std::atoi(argv[++i]);
      if (scale < 1) return Usage();
    } else {
      return Usage();
    }
  }

  // A private device root and package folder for this run.
  std::error_code error;
  const fs::path work = fs::temp_directory_path() / ("nuvo-demo-" + std::to_string(std::random_device{}()));
  fs::create_directories(work / "package", error);
  if (error) {
    std::fprintf(stderr, "nuvo-demo: cannot create %s\n", work.string().c_str());
    return 1;
  }
  plat::SetDeviceRoot((work / "devices").string());
  fs::create_directories(work / "devices", error);
  plat::SetTimeScale(scale);

  sim::Config config;
  config.com = kCom;
  config.flashPath = (work / "flash.bin").string();
  sim::Device device(config);
  std::string reason;
  if (!device.Start(&reason)) {
    std::fprintf(stderr, "nuvo-demo: the simulated device does not start: %s\n", reason.c_str());
    return 1;
  }
  sim::PackageSpec spec;
  spec.imageSize = imageSize;
  sim::Package package;
  if (!sim::WritePackage((work / "package").string(), spec, package)) {
    std::fprintf(stderr, "nuvo-demo: cannot write the package\n");
    return 1;
  }
  std::printf("Simulated Nuvo device on COM%u; package in %s (programmer %zu bytes, image %zu bytes)\n", kCom,
              (work / "package").string().c_str(), package.programmer.size(), package.image.size());

  ui::headless::UiThread ui;
  DownloadJob job;
  job.ComPort = kCom;
  job.StatusWnd = ui.NewWindow();
  job.ProgressWnd = ui.NewWindow();
  job.DialogWnd = ui.NewWindow();
  std::snprintf(job.ImagePath, sizeof job.ImagePath, "%s", (work / "package").string().c_str());
  // What the window's transfer start does before the worker runs.
  CurrentJob = &job;
  plat::SetDebugSink(PrintStatus);

  int failures = 0;
  std::printf("Download:\n");
  if (download::DownloadWorker(&job) == 1 && device.FlashBytes(0, static_cast<uint32_t>(imageSize)) == package.image) {
    std::printf("The device's flash holds the image, byte for byte.\n");
  } else {
    std::printf("The download failed.\n");
    ++failures;
  }

  if (upload && failures == 0) {
    // The device reset at the end of the download; it runs again shortly.
    device.WaitForState(sim::State::Diag, 30000);
    std::printf("Upload:\n");
    std::ifstream in;
    if (download::UploadWorker(&job) == 1) {
      in.open(work / "package" / "NuvoUpload.bin", std::ios::binary);
      const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (file == device.FlashBytes(0, kFlashBytes)) {
        std::printf("NuvoUpload.bin holds the device's %u bytes of flash.\n", kFlashBytes);
      } else {
        std::printf("NuvoUpload.bin differs from the device's flash.\n");
        ++failures;
      }
    } else {
      std::printf("The upload failed.\n");
      ++failures;
    }
  }

  plat::SetDebugSink(nullptr);
  CurrentJob = nullptr;
  device.Stop();
  fs::remove_all(work, error);
  return failures == 0 ? 0 : 1;
}
