// How a transfer tells the window what it is doing: a status line and a
// progress percent, sent to the windows of the running job. The sends wait for
// the window's UI thread, so that thread must never wait for a transfer.
#pragma once

#include <atomic>
#include <cstddef>

#include "download/job.h"

// The job of the running transfer, or of the last one; null until the first
// transfer starts.
extern std::atomic<const DownloadJob*> CurrentJob;

// The status line being built; used by the one running transfer only.
inline constexpr std::size_t StatusBufferSize = 260;
extern char StatusBuffer[StatusBufferSize];

// Writes `text` and "\n" to the debug dump, then sends `text` unchanged to the
// job's status window and returns once the window has taken it. Nothing at
// all while CurrentJob is null; a missing window is skipped.
void ShowStatus(const char* text);

// Sends `percent` unchanged to the job's progress bar. Nothing while
// CurrentJob is null or the bar is missing.
void ShowProgress(int percent);

// Formats a status line (printf-style) into StatusBuffer, cut to the 259
// characters it holds, and shows it with ShowStatus.
[[gnu::format(printf, 1, 2)]] void ShowStatusF(const char* format, ...);
