// The writer side of the serial-port map (plat/serial_map.h), for the
// simulated device and tests, as a device's driver adds and removes its
// entries. Each change is atomic for readers.
#pragma once

#include <string>

namespace plat {

class SerialMapWriter {
 public:
  // Creates the map (the key) when missing.
  static bool Create();
  // Removes the whole map.
  static bool Remove();
  // Adds a value, creating the map when missing; adding an existing name
  // replaces its data and keeps its place in the order.
  static bool AddValue(const std::string& name, const std::string& data);
  // Removes one value; false when it cannot (no such value, no map).
  static bool RemoveValue(const std::string& name);
};

}  // namespace plat
