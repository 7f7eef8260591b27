// nuvo-sim: the simulated Nuvo device as a program, for demos and end-to-end
// runs. It plugs in as COM<n> (and its profile's AT ports) with their
// serial-port map entries in the device root, prints where it is, and serves
// until its input ends (or for a given number of seconds), then unplugs and
// prints what it saw. While it reads its input, the lines "unplug" and
// "plug" pull it out and put it back. With --write-package it only writes a
// firmware package for the device into a folder, for runs of the tool that
// need one, and ends.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "plat/clock.h"
#include "plat/device_root.h"
#include "sim/device.h"
#include "sim/package.h"

namespace {

constexpr char kUsage[] =
    "usage: nuvo-sim [options]\n"
    "  --com N              diagnostic port's COM number (default 7)\n"
    "  --profile NAME       single (default), dual, line-feed, boot-loader or diag-only\n"
    "  --at-com N           first AT port's COM number (default: the diagnostic port's + 1)\n"
    "  --version TEXT       firmware version text, one word (default NUVO-SIM-1.0)\n"
    "  --access-code CODE   access code of the diagnostic-mode switch (default 70419352)\n"
    "  --reenumerate-pause MS  time the ports stay away after a mode switch or AT+CFUN=6,\n"
    "                       system milliseconds (default 2000)\n"
    "  --unplugged          start unplugged\n"
    "  --flash FILE         flash file, created anew (default nuvo-flash.bin)\n"
    "  --fill KIND          initial flash: erased, pattern or escapes (default erased)\n"
    "  --start STATE        diag (running firmware, default) or dmss (waiting in download mode)\n"
    "  --reset-silence MS   silence after a reset, system milliseconds (default 2000)\n"
    "  --no-reenumerate     keep the port listed while the device resets\n"
    "  --throttle           limit the line to 11520 bytes/s each way (115200 baud)\n"
    "  --fault SPEC         a fault knob, repeatable:\n"
    "                       FAULT[,step=STEP][,request=N][,skip=K][,times=T][,value=V]\n"
    "  --seconds S          serve S seconds (default: until standard input ends; the\n"
    "                       input lines \"unplug\" and \"plug\" pull the device out and back)\n"
    "  --write-package DIR  write a firmware package (a random programmer as armprg.hex, a\n"
    "                       random image as NuvoDownload.bin) into the folder DIR, which\n"
    "                       must exist, and end without serving\n"
    "  --image-size BYTES   the package's image size (default 1048576, at most 33554432)\n"
    "  --seed N             the package's random seed (default 1)\n"
    "faults: silence wrong-code delay gap short-read long-read bad-crc garbage\n"
    "        hello-long-name hello-name-beyond-frame hang-up silence-after-reset\n"
    "steps:  any version switch status nop param write-ram go hello stream-write read reset\n"
    "        security-mode partition-table open-image close-image unknown\n";

bool ParseUnsigned(const char* text, unsigned long long& out) {
  char* end = nullptr;
  out = std::strtoull(text, &end, 0);
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
  config.profile = sim::Profile::SingleModem;
  std::vector<sim::Knob> knobs;
  bool unplugged = false;
  unsigned long seconds = 0;
  const char* packageFolder = nullptr;
  sim::PackageSpec package;
  package.imageSize = 1 << 20;

  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    const auto needValue = [&] {
      if (value == nullptr) return false;
      ++i;
      return true;
    };
    unsigned long long number = 0;
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "--com") {
      if (!needValue() || !ParseUnsigned(value, number) || number == 0 || number > 255) return Fail("bad --com");
      config.com = static_cast<unsigned>(number);
    } else if (option == "--profile") {
      const auto profile = value != nullptr ? sim::ProfileByName(value) : std::nullopt;
      if (!needValue() || !profile) return Fail("bad --profile");
      config.profile = *profile;
    } else if (option == "--at-com") {
      if (!needValue() || !ParseUnsigned(value, number) || number == 0 || number > 254) return Fail("bad --at-com");
      config.atCom = static_cast<unsigned>(number);
    } else if (option == "--version") {
      if (!needValue() || std::string_view(value).empty() || std::string_view(value).find(' ') != std::string_view::npos) {
        return Fail("bad --version");
      }
      config.versionText = value;
    } else if (option == "--access-code") {
      if (!needValue()) return Fail("--access-code needs a code");
      config.accessCode = value;
    } else if (option == "--reenumerate-pause") {
      if (!needValue() || !ParseUnsigned(value, number) || number > 0xFFFFFFFFu) return Fail("bad --reenumerate-pause");
      config.reenumeratePauseMs = static_cast<uint32_t>(number);
    } else if (option == "--unplugged") {
      unplugged = true;
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
      if (!needValue() || !ParseUnsigned(value, number) || number > 0xFFFFFFFFu) return Fail("bad --reset-silence");
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
      if (!needValue() || !ParseUnsigned(value, number) || number == 0 || number > 0xFFFFFFFFu) {
        return Fail("bad --seconds");
      }
      seconds = static_cast<unsigned long>(number);
    } else if (option == "--write-package") {
      if (!needValue()) return Fail("--write-package needs a folder");
      packageFolder = value;
    } else if (option == "--image-size") {
      if (!needValue() || !ParseUnsigned(value, number) || number == 0 || number > sim::kFlashSize) {
        return Fail("bad --image-size");
      }
      package.imageSize = static_cast<size_t>(number);
    } else if (option == "--seed") {
      if (!needValue() || !ParseUnsigned(value, number) || number > 0xFFFFFFFFu) {
        return Fail("bad --seed");
      }
      package.seed = static_cast<uint32_t>(number);
    } else {
      return Fail("unknown option " + std::string(option));
    }
  }

  if (packageFolder != nullptr) {
    sim::Package written;
    if (!sim::WritePackage(packageFolder, package, written)) {
      std::fprintf(stderr, "nuvo-sim: cannot write the package into %s\n", packageFolder);
      return 1;
    }
    std::printf("nuvo-sim: package in %s: %s (programmer %zu bytes), %s (%zu bytes)\n", packageFolder,
                sim::kProgrammerFile, written.programmer.size(), sim::kImageFile, written.image.size());
    return 0;
  }

  sim::Device device(config);
  for (const sim::Knob& knob : knobs) device.AddKnob(knob);
  if (unplugged) device.Unplug();
  std::string error;
  if (!device.Start(&error)) {
    std::fprintf(stderr, "nuvo-sim: %s\n", error.c_str());
    return 1;
  }
  std::printf("nuvo-sim: profile %s%s\n", std::string(sim::ProfileName(config.profile)).c_str(),
              unplugged ? ", unplugged" : "");
  // Windows names its ports itself; elsewhere the port is a link in the device root.
  const std::string root = plat::DeviceRoot();
  const std::string where = root.empty() ? "" : " at " + root + "/COM" + std::to_string(device.Com());
  std::printf("nuvo-sim: diagnostic port COM%u%s, map entry %s -> COM%u\n", device.Com(), where.c_str(),
              device.MapName().c_str(), device.Com());
  for (const unsigned com : device.AtComs()) {
    std::printf("nuvo-sim: AT port COM%u, map entry %s -> COM%u\n", com, sim::DefaultMapName(com).c_str(), com);
  }
  std::printf("nuvo-sim: version %s, access code %s, ports away %u ms after a restart\n", config.versionText.c_str(),
              config.accessCode.c_str(), config.reenumeratePauseMs);
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
    for (std::string line; std::getline(std::cin, line);) {
      if (line == "unplug") {
        device.Unplug();
        std::printf("nuvo-sim: unplugged\n");
      } else if (line == "plug") {
        device.Plug();
        std::printf("nuvo-sim: plugged in\n");
      } else if (!line.empty()) {
        std::printf("nuvo-sim: \"plug\" or \"unplug\"\n");
      }
      std::fflush(stdout);
    }
  }
  device.Stop();
  const sim::Status status = device.GetStatus();
  std::printf("nuvo-sim: %zu frames, %zu replies, %u with a bad CRC, %u resets, %zu writes, final state %s\n",
              status.frames, status.replies, status.badCrc, status.resets, device.WriteLog().size(),
              std::string(sim::StateName(status.state)).c_str());
  std::printf("nuvo-sim: %zu AT commands, %u restarts\n", status.atCommands, status.reenumerations);
  return device.FlashFileOk() ? 0 : 1;
}
