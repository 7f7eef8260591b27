// Debug output: the platform's debug-output string and the dialog library's
// debug dump. Silent by default, written to standard error when TAMRI_DEBUG is
// set, and capturable by tests.
#pragma once

#include <functional>
#include <string_view>

namespace plat {

enum class DebugChannel { DebugString, Dump };

void OutputDebugString(std::string_view text);
void DebugDump(std::string_view text);

// Test hook: every text goes to `sink` instead (null restores the default).
using DebugSink = std::function<void(DebugChannel, std::string_view)>;
void SetDebugSink(DebugSink sink);

}  // namespace plat
