// The serial-port map: the system-wide list of serial devices as (name, data)
// values, e.g. "\Device\QCUSB_COM7_0" -> "COM7", in the place of the registry
// key HKEY_LOCAL_MACHINE "HARDWARE\DEVICEMAP\SERIALCOMM"; and a one-shot change
// watch on it (or on its parent while the map does not exist). Only the
// reading side: the simulated device and tests write the map through
// testkit/serial_map_writer.h.
#pragma once

#include <cstdint>
#include <string>

#include "plat/event.h"

namespace plat {

enum class EnumStatus { Ok, NoMoreItems, MoreData, Failed };

class SerialMap {
 public:
  // Whether the map (the key) exists.
  static bool Exists();

  // Reads the value at `index` in enumeration order, as RegEnumValueA does:
  // the sizes are the buffers' capacities including the NUL. A name or data
  // that does not fit gives MoreData (the buffers' contents are then
  // unspecified). Past the last value: NoMoreItems. No map: Failed.
  static EnumStatus EnumValue(uint32_t index, char* name, uint32_t nameSize, char* data, uint32_t dataSize);
};

class SerialMapWatch {
 public:
  SerialMapWatch();  // defined with Impl: a constructor may destroy impl_, which needs the full type
  ~SerialMapWatch();
  SerialMapWatch(const SerialMapWatch&) = delete;
  SerialMapWatch& operator=(const SerialMapWatch&) = delete;

  // Opens the map's key, or its parent when the map does not exist (so that
  // the map's creation is seen). False when neither can be opened.
  bool Open();
  bool WatchingParent() const;
  // Arms a one-shot watch: `changed` is set at the first change of the map
  // (a value added, removed or changed, the map created or removed) after
  // this call. Each arming fires at most once.
  bool Arm(Event& changed);
  void Close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace plat
