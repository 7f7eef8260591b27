// nuvo-sim: the simulated Nuvo device as a program, for demos and end-to-end
// runs. It plugs in as COM<n> with its serial-port map entry in the device
// root, prints where it is, and serves until its input ends (or for a given
// number of seconds), then unplugs and prints what it saw.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "plat/clock.h"
#include "plat/device_root.h"
#include "sim/device.h"

namespace {

constexpr char kUsage[] =
    "usage: nuvo-sim [options]\n"
    "  --com N              COM port number (default 7)\n"
    "  --flash FILE         flash file, created anew (default nuvo-flash.bin)\n"
    "  --fill KIND          initial flash: erased, pattern or escapes (default erased)\n"
    "  --start STATE        diag (running firmware, default) or dmss (waiting in download mode)\n"
    "  --reset-silence MS   silence after a reset, system milliseconds (default 2000)\n"
    "  --no-reenumerate     keep the port listed while the device resets\n"
    "  --throttle           limit the line to 11520 bytes/s each way (115200 baud)\n"
    "  --fault SPEC         a fault knob, repeatable:\n"
    "                       FAULT[,step=STEP][,request=N][,skip=K][,times=T][,value=V]\n"
    "  --seconds S          serve S seconds (default: until standard input ends)\n"
    "faults: silence wrong-code delay gap short-read long-read bad-crc garbage\n"
    "        hello-long-name hello-name-beyond-frame hang-up silence-after-reset\n"
    "steps:  any version switch status nop param write-ram go hello stream-write read reset\n"
    "        security-mode partition-table open-image close-image unknown\n";

bool ParseUnsigned(const char* text, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 0);
  return end != text && *end == '\0';
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "nuvo-sim: %s\n%s", message.c_str(), kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sim::Config config;
  config.flashPath = "nuvo-flash.bin";
  std::vector<sim::Knob> knobs;
  unsigned long seconds = 0;

  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    const auto needValue = [&] {
      if (value == nullptr) return false;
      ++i;
      return true;
    };
    unsigned long number = 0;
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "--com") {
      if (!needValue() || !ParseUnsigned(value, number) || number == 0 || number > 255) return Fail("bad --com");
      config.com = static_cast<unsigned>(number);
    } else if (option == "--flash") {
      if (!needValue()) return Fail("--flash needs a file");
      config.flashPath = value;
    } else if (option == "--fill") {
      if (!needValue()) return Fail("--fill needs a kind");
      const std::string_view kind = value;
      if (kind == "erased") config.fill = sim::Fill::Erased;
      else if (kind == "pattern") config.fill = sim::Fill::Pattern;
      else if (kind == "escapes") config.fill = sim::Fill::Escapes;
      else return Fail("bad --fill");
    } else if (option == "--start") {
      if (!needValue()) return Fail("--start needs a state");
      const std::string_view state = value;
      if (state == "diag") config.initialState = sim::State::Diag;
      else if (state == "dmss") config.initialState = sim::State::Dmss;
      else return Fail("bad --start");
    } else if (option == "--reset-silence") {
      if (!needValue() || !ParseUnsigned(value, number)) return Fail("bad --reset-silence");
      config.resetSilenceMs = static_cast<uint32_t>(number);
    } else if (option == "--no-reenumerate") {
      config.reenumerate = false;
    } else if (option == "--throttle") {
      config.throttle = true;
    } else if (option == "--fault") {
      if (!needValue()) return Fail("--fault needs a knob");
      const auto knob = sim::ParseKnob(value);
      if (!knob) return Fail(std::string("bad --fault ") + value);
      knobs.push_back(*knob);
    } else if (option == "--seconds") {
      if (!needValue() || !ParseUnsigned(value, number) || number == 0) return Fail("bad --seconds");
      seconds = number;
    } else {
      return Fail("unknown option " + std::string(option));
    }
  }

  sim::Device device(config);
  for (const sim::Knob& knob : knobs) device.AddKnob(knob);
  std::string error;
  if (!device.Start(&error)) {
    std::fprintf(stderr, "nuvo-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("nuvo-sim: COM%u at %s/COM%u, map entry %s -> COM%u\n", device.Com(), plat::DeviceRoot().c_str(),
              device.Com(), device.MapName().c_str(), device.Com());
  std::printf("nuvo-sim: flash %s, state %s, time scale %d%s\n", device.FlashPath().c_str(),
              std::string(sim::StateName(device.GetState())).c_str(), plat::TimeScale(),
              config.throttle ? ", throttled to 11520 bytes/s" : "");
  if (seconds != 0) {
    std::printf("nuvo-sim: serving for %lu s\n", seconds);
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
  } else {
    std::printf("nuvo-sim: serving until the end of standard input\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
  }
  device.Stop();
  const sim::Status status = device.GetStatus();
  std::printf("nuvo-sim: %zu frames, %zu replies, %u with a bad CRC, %u resets, %zu writes, final state %s\n",
              status.frames, status.replies, status.badCrc, status.resets, device.WriteLog().size(),
              std::string(sim::StateName(status.state)).c_str());
  return device.FlashFileOk() ? 0 : 1;
}
