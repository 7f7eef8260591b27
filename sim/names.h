// Lookups both ways in the simulated device's tables of names (steps,
// faults, profiles), as the program's options and the logs spell them.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace sim {

template <typename Key, size_t N>
using NameTable = std::array<std::pair<Key, std::string_view>, N>;

template <typename Key, size_t N>
std::string_view NameOf(const NameTable<Key, N>& table, Key key) {
  for (const auto& [k, name] : table) {
    if (k == key) return name;
  }
  return "?";
}

template <typename Key, size_t N>
std::optional<Key> KeyOf(const NameTable<Key, N>& table, std::string_view name) {
  for (const auto& [k, n] : table) {
    if (n == name) return k;
  }
  return std::nullopt;
}

}  // namespace sim
