#include "plat/debug.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace plat {
namespace {

struct DebugState {
  // Recursive: a sink that itself writes debug output must not deadlock.
  std::recursive_mutex mutex;
  std::shared_ptr<const DebugSink> sink;
};

DebugState& State() {
  // Never destroyed: threads may still write while static objects are torn down.
  static DebugState* state = new DebugState;
  return *state;
}

bool ToStandardError() {
  static const bool enabled = [] {
    const char* value = std::getenv("TAMRI_DEBUG");
    return value != nullptr && *value != '\0';
  }();
  return enabled;
}

void Emit(DebugChannel channel, std::string_view text) {
  DebugState& state = State();
  // Held while the sink runs, so that once SetDebugSink returns the old sink
  // is no longer called.
  std::lock_guard lock(state.mutex);
  if (state.sink) {
    const std::shared_ptr<const DebugSink> sink = state.sink;  // survives a reset from inside
    (*sink)(channel, text);
    return;
  }
  if (!ToStandardError()) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

void OutputDebugString(std::string_view text) { Emit(DebugChannel::DebugString, text); }

void DebugDump(std::string_view text) { Emit(DebugChannel::Dump, text); }

void SetDebugSink(DebugSink sink) {
  auto shared = sink ? std::make_shared<const DebugSink>(std::move(sink)) : nullptr;
  DebugState& state = State();
  std::lock_guard lock(state.mutex);
  state.sink = std::move(shared);
}

}  // namespace plat
