// The process-wide state of the response handlers: the remaining PIN
// attempts as last reported, and the outgoing SMS text that waits for the
// device's prompt. Both live as long as the process; the reset hooks put
// them back to their start values for tests.
#pragma once

#include <cstdint>

// 99: no count has been reported. Read and written on the read thread only.
extern uint8_t PinRetryTimes;
void ResetPinRetryTimes();

// The pending text's capacity, its one extra byte included.
constexpr int32_t SmsPendingCapacity = 4096;

// Makes `text` the pending text. Refused (false, nothing changes) when the
// text with its extra byte does not fit, or for a negative length.
bool SetSmsPendingText(const char* text, int32_t length);
bool IsSmsPending();
// Drops a pending text.
void ClearSmsPending();
// Hands a pending text, with its extra byte (a NUL), to `send` and clears
// it, all under the lock the setter takes. False when none waits.
bool TakeSmsPending(void (*send)(const char* data, int32_t length, void* context), void* context);
