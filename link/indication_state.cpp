#include "link/indication_state.h"

#include <cstring>
#include <mutex>

uint8_t PinRetryTimes = 99;

void ResetPinRetryTimes() { PinRetryTimes = 99; }

namespace {

// Another thread may set the text while the read thread sends it: the flag,
// the length and the text change together under this lock.
std::mutex smsPendingMutex;
int32_t bSmsPending = 0;
int32_t nSmsPendingLen = 0;
char szSmsPendingText[SmsPendingCapacity];

}  // namespace

bool SetSmsPendingText(const char* text, int32_t length) {
  if (length < 0 || length > SmsPendingCapacity - 1 || (text == nullptr && length > 0)) return false;
  std::lock_guard lock(smsPendingMutex);
  if (length > 0) std::memcpy(szSmsPendingText, text, static_cast<size_t>(length));
  szSmsPendingText[length] = '\0';
  nSmsPendingLen = length;
  bSmsPending = 1;
  return true;
}

bool IsSmsPending() {
  std::lock_guard lock(smsPendingMutex);
  return bSmsPending == 1;
}

void ClearSmsPending() {
  std::lock_guard lock(smsPendingMutex);
  bSmsPending = 0;
  nSmsPendingLen = 0;
}

bool TakeSmsPending(void (*send)(const char* data, int32_t length, void* context), void* context) {
  std::lock_guard lock(smsPendingMutex);
  if (bSmsPending != 1) return false;
  send(szSmsPendingText, nSmsPendingLen + 1, context);
  bSmsPending = 0;
  return true;
}
