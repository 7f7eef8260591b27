#include "plat/debug.h"

#include <windows.h>
#undef OutputDebugString  // the platform's name for OutputDebugStringA

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

namespace plat {
namespace {

std::mutex g_mutex;
std::shared_ptr<DebugSink> g_sink;

void Emit(DebugChannel channel, std::string_view text) {
  std::shared_ptr<DebugSink> sink;
  {
    std::lock_guard lock(g_mutex);
    sink = g_sink;
  }
  if (sink) {
    (*sink)(channel, text);
    return;
  }
  const std::string line(text);
  ::OutputDebugStringA(line.c_str());
  if (std::getenv("TAMRI_DEBUG")) {
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }
}

}  // namespace

void OutputDebugString(std::string_view text) { Emit(DebugChannel::DebugString, text); }
void DebugDump(std::string_view text) { Emit(DebugChannel::Dump, text); }

void SetDebugSink(DebugSink sink) {
  std::lock_guard lock(g_mutex);
  g_sink = sink ? std::make_shared<DebugSink>(std::move(sink)) : nullptr;
}

}  // namespace plat
