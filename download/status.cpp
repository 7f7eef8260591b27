#include "download/status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "plat/debug.h"
#include "ui/window.h"

std::atomic<const DownloadJob*> CurrentJob{nullptr};
char StatusBuffer[StatusBufferSize];

void ShowStatus(const char* text) {
  const DownloadJob* job = CurrentJob.load();
  if (job == nullptr) return;
  // The dump comes first and does not depend on the window: it keeps every
  // line of a transfer even when the window has gone. A line as long as the
  // status buffer is put together on the stack: an upload shows one per block.
  const std::size_t length = std::strlen(text);
  if (length < StatusBufferSize) {
    char line[StatusBufferSize + 1];
    std::memcpy(line, text, length);
    line[length] = '\n';
    plat::DebugDump(std::string_view(line, length + 1));
  } else {
    plat::DebugDump(std::string(text) + '\n');
  }
  ui::SendText(job->StatusWnd, text);
}

void ShowProgress(int percent) {
  const DownloadJob* job = CurrentJob.load();
  if (job == nullptr) return;
  ui::SendProgress(job->ProgressWnd, percent);
}

void ShowStatusF(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  // A line with a whole path can be longer than the buffer: it is cut, never
  // written past the end.
  if (std::vsnprintf(StatusBuffer, sizeof StatusBuffer, format, args) < 0) StatusBuffer[0] = '\0';
  va_end(args);
  ShowStatus(StatusBuffer);
}
