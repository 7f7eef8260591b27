// What the window costs a transfer: the data phase of a 32 MiB upload and a
// 32 MiB download through the application, against the same engine with no
// windows, in one run.
//
// With windows, the main window (CTamriDlg) runs on the headless backend
// over a scripted link layer that reports the simulated device found; the
// folder is typed into its folder box and its Upload Image or Download
// button is pressed through the dialog driver (the download's confirmation
// answered Yes), so the window fills its job with its own status line and
// progress bar and starts the worker itself, and the worker's finish command
// goes back to it. Without windows, a job with the same folder and port but
// no windows is handed to the same starter; the dialog runs meanwhile.
//
// The Windows build runs the same window on the Win32 backend, where no
// dialog driver exists: the folder is set into the folder box with
// SetWindowText and the button's command is posted to the dialog once the
// button is enabled, as a click posts it; a round trip to the UI thread
// (reading the dialog's caption) stands for the driver's sync. Only the
// upload runs there, since nothing would answer the download's
// confirmation.
//
// The runs are interleaved (upload with, upload without, download with,
// download without; in every other round each pair the other way round),
// each against a fresh simulated device, and the medians of each kind are
// compared.
//
// Last, the price of one status line and one progress value that do go out
// to those windows (--sends, 0 for none).
//
//   build/release/bench/app_transfer_bench [--runs N] [--only upload|download]
//                                          [--windows both|with|without] [--sends N]
//                                          [--scale N (default 10)]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/TamriDlg.h"
#include "data_phase.h"
#include "download/status.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "plat/environment.h"
#include "res/resource.h"
#include "scripted_link.h"
#include "sim/device.h"
#include "sim/package.h"
#include "support/port_kit.h"
#include "ui/dialog.h"
#include "ui/window.h"
#if TAMRI_BENCH_HEADLESS
#include "ui/headless/dialog_driver.h"
#endif

namespace {

namespace fs = std::filesystem;

constexpr unsigned kCom = 21;
constexpr uint32_t kFlashBytes = 33554432;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr uint32_t kWaitMs = 20000;
// The window's scan result for "diagnostic port found" (no AT port).
constexpr uint8_t kFoundDiagPort = 2;

struct Sample {
  double seconds = 0;  // the data phase
  double cpu = 0;      // the process's processor time over the whole transfer
};

struct Kind {
  const char* name;
  bool upload;
  bool windows;
  std::vector<Sample> samples;
};

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "app_transfer_bench: %s\n", why.c_str());
  std::exit(1);
}

// The application as a person has it: the main window up, the device found,
// the package's folder typed in.
class Application {
 public:
  Application() {
    std::random_device random;
    settings_ = fs::temp_directory_path() / ("tamri-app-bench-" + std::to_string(random()));
    folder_ = settings_ / "package";
    fs::create_directories(folder_);
    plat::SetEnvironment("XDG_CONFIG_HOME", settings_.string());
    sim::PackageSpec spec;
    spec.imageSize = kFlashBytes;
    if (!sim::WritePackage(folder_.string(), spec, package_)) Fail("cannot write the package");
    link_.SetDiagPort(static_cast<int>(kCom));
    link_.SetDiagMode(0);
#if TAMRI_BENCH_HEADLESS
    ui::headless::SetBoxResponder([](const ui::headless::BoxRequest& box) {
      return box.text == ui::LoadString(IDS_CONFIRM_UPGRADE) ? ui::IdYes : ui::IdOk;
    });
#endif
    dialog_ = std::make_unique<CTamriDlg>();
    ui_ = std::thread([this] {
      dialog_->DoModal();
      dialog_->ShutdownDriverThread();
    });
#if TAMRI_BENCH_HEADLESS
    window_ = ui::headless::WaitForDialog(IDD_MAIN_DIALOG, kWaitMs);
    if (window_ == ui::NoWindow) Fail("the main window did not come up");
    ui::headless::Type(window_, IDC_IMAGE_FOLDER, folder_.string());
#else
    if (!WaitFor([&] { return dialog_->Handle() != ui::NoWindow; })) Fail("the main window did not come up");
    window_ = dialog_->Handle();
    Settle();
    ui::SetWindowText(dialog_->Item(IDC_IMAGE_FOLDER), folder_.string());
#endif
    Settle();
  }

  ~Application() {
    download::workers_testing::JoinWorkers();
    dialog_->EndDialog(ui::IdCancel);
    ui_.join();
#if TAMRI_BENCH_HEADLESS
    ui::headless::SetBoxResponder(nullptr);
#endif
    std::error_code error;
    fs::remove_all(settings_, error);
  }

  // One transfer with a fresh device; with windows by the window's own
  // button, without by the engine's starter with a job of no windows.
  Sample Run(bool upload, bool windows) {
    sim::Config config;
    config.com = kCom;
    config.flashPath = (fs::path(root_.Path()) / "flash.bin").string();
    sim::Device device(config);
    if (!device.Start()) Fail("the simulated device did not start");
    const double cpu0 = bench::CpuSeconds();
    if (windows) {
      RunThroughTheWindow(upload);
    } else {
      RunWithoutWindows(upload);
    }
    const double cpu = bench::CpuSeconds() - cpu0;
    device.Stop();
    const bench::Phase phase = bench::DataPhase(device, upload ? sim::Step::Read : sim::Step::StreamWrite);
    if (!phase.ok) Fail("no data phase in the device's transcript");
    return {phase.seconds, cpu};
  }

  // What one status line or progress value costs when it does go out: `count`
  // sends to the window's status line (two texts in turn, so none repeats
  // what is shown) and as many to its bar, from this thread, in microseconds
  // per send.
  std::pair<double, double> SendCost(int count) {
    const ui::WindowHandle status = dialog_->Item(IDC_STATUS_TEXT);
    const ui::WindowHandle bar = dialog_->Item(IDC_PROGRESS);
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) ui::SendText(status, i % 2 == 0 ? "upload Nuvo 41%\r" : "upload Nuvo 42%\r");
    const auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) ui::SendProgress(bar, i % 2 == 0 ? 41 : 42);
    const auto t2 = std::chrono::steady_clock::now();
    const auto us = [count](auto d) { return std::chrono::duration<double, std::micro>(d).count() / count; };
    return {us(t1 - t0), us(t2 - t1)};
  }

 private:
  // Polls `done` until it holds or the wait's deadline passes.
  template <typename Done>
  static bool WaitFor(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // Returns once the UI thread has handled what was queued before.
  void Settle() {
#if TAMRI_BENCH_HEADLESS
    ui::headless::Sync(window_);
#else
    ui::GetWindowText(window_);
#endif
  }

  // A click on an enabled button.
  bool Press(int id) {
#if TAMRI_BENCH_HEADLESS
    return ui::headless::Click(window_, id);
#else
    if (!ui::IsWindowEnabled(dialog_->Item(id))) return false;
    ui::PostCommand(window_, static_cast<uint32_t>(id));
    return true;
#endif
  }

  void RunThroughTheWindow(bool upload) {
    // A transfer's finish leaves the window searching again: the scan finds
    // the device's diagnostic port, which enables the buttons.
    link_.Indicate(IdPortScanResult, std::string(1, static_cast<char>(kFoundDiagPort)));
    if (!link_.WaitDrained(kWaitMs)) Fail("the window did not take the scan result");
    Settle();
    if (!Press(upload ? IDC_UPLOAD_IMAGE : IDOK_BUTTON)) Fail("the button is not enabled");
    // A click is a posted command, and a Win32 thread handles sent messages
    // before posted ones: the settle alone does not wait for it there.
    Settle();
    if (!WaitFor([&] { return dialog_->TransferBusy != 0; })) Fail("the window started no transfer");
    if (dialog_->TransferBusy != (upload ? 2 : 1)) Fail("the window started the other transfer");
    download::workers_testing::JoinWorkers();
    // The worker's finish command was posted before its final wait.
    if (!WaitFor([&] { return dialog_->TransferBusy == 0; })) Fail("the window did not finish");
    Settle();
    const std::string shown = ui::GetWindowText(dialog_->Item(IDC_STATUS_TEXT));
    if (shown != (upload ? "upload complete!" : "download complete!")) Fail("the window shows \"" + shown + "\"");
#if TAMRI_BENCH_HEADLESS
    if (ui::headless::Control(window_, IDC_PROGRESS).value_or(ui::headless::ControlView{}).progress != 0) {
      Fail("the finish did not clear the progress bar");
    }
#endif
  }

  void RunWithoutWindows(bool upload) {
    bare_ = DownloadJob{};
    std::snprintf(bare_.ImagePath, sizeof bare_.ImagePath, "%s", folder_.string().c_str());
    bare_.ComPort = static_cast<int32_t>(kCom);
    download::DeviceDiagMode = 0;
    const int started = upload ? download::StartUploadThread(&bare_) : download::StartDownloadThread(&bare_);
    if (started != 0) Fail("the worker did not start");
    download::workers_testing::JoinWorkers();
    if (std::strcmp(StatusBuffer, upload ? "upload complete!" : "download complete!") != 0) {
      Fail(std::string("the transfer ended with \"") + StatusBuffer + "\"");
    }
  }

  testkit::TempDeviceRoot root_;
  fs::path settings_;
  fs::path folder_;
  sim::Package package_;
  ScriptedLink link_;
  std::unique_ptr<CTamriDlg> dialog_;
  std::thread ui_;
  ui::WindowHandle window_ = ui::NoWindow;
  DownloadJob bare_;
};

// The Windows runtime's clock() counts the time since the start, not the
// processor's: there is no processor time to show there.
#ifdef _WIN32
constexpr bool kProcessorTime = false;
#else
constexpr bool kProcessorTime = true;
#endif

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::vector<double> Seconds(const Kind& kind) {
  std::vector<double> out;
  for (const Sample& s : kind.samples) out.push_back(s.seconds);
  return out;
}

std::vector<double> CpuPerMiB(const Kind& kind) {
  std::vector<double> out;
  for (const Sample& s : kind.samples) out.push_back(s.cpu * 1000.0 / (kFlashBytes / kMiB));
  return out;
}

void PrintKind(const Kind& kind) {
  const std::vector<double> seconds = Seconds(kind);
  const auto [low, high] = std::minmax_element(seconds.begin(), seconds.end());
  const double mib = kFlashBytes / kMiB;
  std::printf("%-28s median %6.3f s (%5.2f MiB/s), range %6.3f-%6.3f s", kind.name, Median(seconds),
              mib / Median(seconds), *low, *high);
  if (kProcessorTime) {
    std::printf(", CPU %5.1f ms/MiB (median)\n", Median(CpuPerMiB(kind)));
  } else {
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int sends = 20000;
  int scale = 10;
  std::string only;
  std::string windows = "both";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--runs") {
      runs = std::max(0, std::atoi(argv[i + 1]));
    } else if (option == "--scale") {
      scale = std::max(1, std::atoi(argv[i + 1]));
    } else if (option == "--sends") {
      sends = std::max(0, std::atoi(argv[i + 1]));
    } else if (option == "--only") {
      only = argv[i + 1];
    } else if (option == "--windows") {
      windows = argv[i + 1];
    } else {
      Fail("unknown option " + option);
    }
  }
  if (argc % 2 == 0) Fail("an option without its value");

  // The fixed pauses around the data phase (the go's 5 s, the final waits)
  // are not what is measured: run them fast, as transfer_bench does. The
  // scale shortens the engine's reply time-outs too, which a slow line
  // (under wine) can outlast: --scale 1 keeps them whole.
  plat::SetTimeScale(scale);
  std::vector<Kind> kinds;
  for (const bool upload : {true, false}) {
    if (!only.empty() && only != (upload ? "upload" : "download")) continue;
    if (!upload && !TAMRI_BENCH_HEADLESS) continue;
    for (const bool with : {true, false}) {
      if (windows != "both" && windows != (with ? "with" : "without")) continue;
      kinds.push_back({upload ? (with ? "upload, with windows" : "upload, without windows")
                              : (with ? "download, with windows" : "download, without windows"),
                       upload, with, {}});
    }
  }
  if (runs == 0) kinds.clear();
  if (kinds.empty() && sends == 0) Fail("nothing to run");

  std::pair<double, double> sendCost;
  {
    Application app;
    for (int run = 0; run < runs; ++run) {
      // Every other round runs each pair the other way round, so that what
      // a transfer leaves behind (its 32 MiB file still being written out,
      // say) falls on both kinds alike.
      std::vector<Kind*> order;
      for (Kind& kind : kinds) order.push_back(&kind);
      if (run % 2 == 1) {
        for (size_t i = 0; i + 1 < order.size(); i += 2) {
          if (order[i]->upload == order[i + 1]->upload) std::swap(order[i], order[i + 1]);
        }
      }
      for (Kind* next : order) {
        Kind& kind = *next;
        kind.samples.push_back(app.Run(kind.upload, kind.windows));
        std::printf("run %d %-26s %6.3f s\n", run + 1, kind.name, kind.samples.back().seconds);
        std::fflush(stdout);
      }
    }
    if (sends > 0) sendCost = app.SendCost(sends);
  }
  plat::SetTimeScale(1);

  if (sends > 0) {
    std::printf("\none send that goes out, to the window's controls from another thread (%d each):\n", sends);
    std::printf("status line %.2f us, progress value %.2f us\n", sendCost.first, sendCost.second);
  }
  if (kinds.empty()) return 0;
  std::printf("\n%d runs of each, 32 MiB, data phase on the device's clock:\n", runs);
  for (const Kind& kind : kinds) PrintKind(kind);
  for (size_t i = 0; i + 1 < kinds.size(); ++i) {
    if (!kinds[i].windows || kinds[i + 1].windows || kinds[i].upload != kinds[i + 1].upload) continue;
    // Throughput with windows over throughput without: the inverse of the
    // times' ratio.
    const double ratio = Median(Seconds(kinds[i + 1])) / Median(Seconds(kinds[i]));
    // Each round's own ratio shows how far the machine moved the runs.
    std::vector<double> rounds;
    for (size_t r = 0; r < kinds[i].samples.size(); ++r) {
      rounds.push_back(kinds[i + 1].samples[r].seconds / kinds[i].samples[r].seconds);
    }
    const auto [low, high] = std::minmax_element(rounds.begin(), rounds.end());
    std::printf("%s: with windows / without = %.3f (one round's: %.2f-%.2f)\n", kinds[i].upload ? "upload" : "download",
                ratio, *low, *high);
  }
  return 0;
}
