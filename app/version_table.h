// The firmware versions the window knows, each with the class that says
// which AT sequence brings up that firmware's diagnostic port. A version
// text is compared whole and case-sensitive; any text not listed is class 3
// with the test mode.
#pragma once

#include <array>
#include <string_view>

enum class VersionKind {
  DiagSwitch,   // class 1: the diagnostic-mode switch with the access code
  DualChannel,  // class 2: the dual channel
  FactoryMode,  // class 3: the factory mode
  TestMode,     // class 3: the test mode (every text not listed)
};

struct KnownVersion {
  std::string_view text;
  VersionKind kind;
};

inline constexpr std::array<KnownVersion, 7> VersionTable{{
    {"NV6246-DM-0310", VersionKind::DiagSwitch},
    {"NV6246-DM-0415", VersionKind::DiagSwitch},
    {"NV6246-DC-0520", VersionKind::DualChannel},
    {"NV6246-DC-0602", VersionKind::DualChannel},
    {"NV6250-DC-0107", VersionKind::DualChannel},
    {"NV6250-DC-0211", VersionKind::DualChannel},
    {"NV6246-FTM-0901", VersionKind::FactoryMode},
}};

// The kind of `text`: its entry's, else TestMode.
constexpr VersionKind ClassifyVersion(std::string_view text) {
  for (const KnownVersion& known : VersionTable) {
    if (known.text == text) return known.kind;
  }
  return VersionKind::TestMode;
}

// The class number the window keeps in VersionClass.
constexpr int VersionClassOf(VersionKind kind) {
  switch (kind) {
    case VersionKind::DiagSwitch: return 1;
    case VersionKind::DualChannel: return 2;
    case VersionKind::FactoryMode:
    case VersionKind::TestMode: return 3;
  }
  return 0;
}
