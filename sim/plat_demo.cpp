// A first look at the system's platform layer against a simulated device:
// the device plugs in (a COM port appears with its serial-port map entry),
// the host lists the map, opens the port the way the link layer does,
// asks "AT+CGMR" and prints the answer, and the device unplugs again.
#include <cstdio>
#include <string>

#include "plat/event.h"
#include "plat/serial.h"
#include "plat/serial_map.h"
#include "support/port_kit.h"

namespace {

constexpr unsigned kCom = 7;
constexpr char kMapName[] = "\\Device\\QCUSB_COM7_0";

void PrintMap() {
  char name[60];
  char data[60];
  for (uint32_t i = 0;; ++i) {
    const plat::EnumStatus status = plat::SerialMap::EnumValue(i, name, sizeof name, data, sizeof data);
    if (status == plat::EnumStatus::MoreData) continue;
    if (status != plat::EnumStatus::Ok) break;
    std::printf("  map: %s -> %s\n", name, data);
  }
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c >= 0x20 && c < 0x7F) out += static_cast<char>(c);
    else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace

int main() {
  testkit::TempDeviceRoot root;
  std::printf("device root: %s\n", root.Path().c_str());

  plat::SerialMapWatch watch;
  plat::Event changed;
  if (!changed.Create(false, false) || !watch.Open() || !watch.Arm(changed)) {
    std::fprintf(stderr, "cannot watch the serial-port map\n");
    return 1;
  }

  std::printf("plugging in the simulated device on COM%u\n", kCom);
  testkit::TestPort device(kCom, kMapName);
  testkit::ScriptedPeer peer(device, [](const std::string& received) -> std::string {
    if (received.find("AT+CGMR\r") != std::string::npos)
      return "\r\n+CGMR: M6275A NUVO_V1.02 2026-12-01 [simulated]\r\n\r\nOK\r\n";
    return {};
  });
  if (!device.Ok()) {
    std::fprintf(stderr, "cannot create the simulated port\n");
    return 1;
  }
  std::printf("map change seen: %s\n", changed.Wait(2000) == plat::WaitResult::Signaled ? "yes" : "no");
  PrintMap();

  plat::OpenError error = plat::OpenError::None;
  plat::PortHandle port = plat::SerialPort::OpenByName("\\\\.\\COM7", &error);
  if (!port) {
    std::fprintf(stderr, "cannot open COM%u\n", kCom);
    return 1;
  }
  plat::CommTimeouts timeouts{10, 0, 100, 0, 100};
  plat::Dcb dcb;
  port->SetCommTimeouts(timeouts);
  port->GetCommState(dcb);
  dcb.BaudRate = 115200;
  port->SetCommState(dcb);

  const std::string request = "AT+CGMR\r";
  uint32_t written = 0;
  port->Write(request.data(), static_cast<uint32_t>(request.size()), &written);
  std::printf("host -> device: %s\n", Printable(request).c_str());

  std::string answer;
  char buffer[256];
  for (int turn = 0; turn < 20 && answer.find("OK\r\n") == std::string::npos; ++turn) {
    uint32_t got = 0;
    if (!port->Read(buffer, sizeof buffer, &got)) break;
    answer.append(buffer, got);
  }
  std::printf("device -> host: %s\n", Printable(answer).c_str());
  port->Close();

  std::printf("unplugging the simulated device\n");
  watch.Arm(changed);
  device.Unregister();
  std::printf("map change seen: %s\n", changed.Wait(2000) == plat::WaitResult::Signaled ? "yes" : "no");
  PrintMap();
  return answer.find("OK\r\n") != std::string::npos ? 0 : 1;
}
