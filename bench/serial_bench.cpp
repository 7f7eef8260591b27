// Throughput of plat::SerialPort over a pseudo-terminal against a plain
// read/write loop on the same kind of pseudo-terminal, in one run.
//
// Each iteration sends one block to an echo peer on the master side and reads
// the echoed block back: through plat::SerialPort::Write/Read (time-outs all
// zero, so a read waits for its full count) in BM_PlatSerial, through write,
// poll and read on a raw non-blocking slave descriptor in BM_PlainPty. The
// echo peer is the same code in both. After the benchmarks the program
// prints, per block size, the ratio of the two rates (1.0: no overhead).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "plat/serial.h"
#include "support/port_kit.h"

namespace {

bool MakeRaw(int fd) {
  struct termios tio {};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool WriteAll(int fd, const char* data, size_t count, int stopFd) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::write(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return false;
    struct pollfd fds[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    if (::poll(fds, stopFd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) return false;
    if (stopFd >= 0 && (fds[1].revents & POLLIN) != 0) return false;
  }
  return true;
}

bool ReadAll(int fd, char* data, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = ::read(fd, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return false;
    struct pollfd fds = {fd, POLLIN, 0};
    if (::poll(&fds, 1, -1) < 0 && errno != EINTR) return false;
  }
  return true;
}

// A pseudo-terminal whose master echoes everything back on its own thread.
class EchoPty {
 public:
  EchoPty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    slavePath_ = name;
    keepSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (keepSlave_ < 0 || !MakeRaw(keepSlave_) || !MakeRaw(master_)) return;
    if (::pipe2(stop_, O_CLOEXEC) != 0) return;
    echo_ = std::thread([this] { Echo(); });
    ok_ = true;
  }
  ~EchoPty() {
    if (echo_.joinable()) {
      const char byte = 1;
      while (::write(stop_[1], &byte, 1) < 0 && errno == EINTR) {
      }
      echo_.join();
    }
    for (int fd : {stop_[0], stop_[1], keepSlave_, master_})
      if (fd >= 0) ::close(fd);
  }
  EchoPty(const EchoPty&) = delete;
  EchoPty& operator=(const EchoPty&) = delete;

  bool ok() const { return ok_; }
  const std::string& slavePath() const { return slavePath_; }

 private:
  void Echo() {
    std::vector<char> buffer(65536);
    for (;;) {
      struct pollfd fds[2] = {{master_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if ((fds[1].revents & POLLIN) != 0) return;
      const ssize_t n = ::read(master_, buffer.data(), buffer.size());
      if (n > 0) {
        if (!WriteAll(master_, buffer.data(), static_cast<size_t>(n), stop_[0])) return;
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        return;
      }
    }
  }

  int master_ = -1;
  int keepSlave_ = -1;
  int stop_[2] = {-1, -1};
  std::string slavePath_;
  std::thread echo_;
  bool ok_ = false;
};

std::vector<char> Pattern(size_t size) {
  std::vector<char> block(size);
  for (size_t i = 0; i < size; ++i) block[i] = static_cast<char>(i * 7 + 3);
  return block;
}

constexpr unsigned kCom = 5;

void BM_PlatSerial(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  testkit::TempDeviceRoot root;
  EchoPty pty;
  const std::string link = root.Path() + "/COM" + std::to_string(kCom);
  if (!pty.ok() || ::symlink(pty.slavePath().c_str(), link.c_str()) != 0) {
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
  EchoPty pty;
  const int fd = pty.ok() ? ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
  if (fd < 0 || !MakeRaw(fd)) {
    if (fd >= 0) ::close(fd);
    state.SkipWithError("cannot make the pseudo-terminal");
    return;
  }
  const std::vector<char> out = Pattern(size);
  std::vector<char> in(size);
  for (auto _ : state) {
    if (!WriteAll(fd, out.data(), size, -1) || !ReadAll(fd, in.data(), size)) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  if (in != out && state.iterations() > 0) state.SkipWithError("echo differs");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  ::close(fd);
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
