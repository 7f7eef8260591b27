// The handlers of the response table's rows: the final results "OK" and
// "ERROR", the version answer, the diagnostic-, factory- and test-mode
// answers, and two kinds of line the system swallows. Each follows the
// ResponseHandler contract (link/parser.h).
#pragma once

#include <cstdint>

// The payload of IdVersion: four NUL-terminated texts of at most 29
// characters; the second is the firmware version text.
struct VersionRecord {
  static constexpr int FieldSize = 30;
  char fields[4][FieldSize];
};
static_assert(sizeof(VersionRecord) == 120);

int32_t dll_OKHandler(int32_t id, const char* text, int32_t available);
int32_t dll_UgsmInd(int32_t id, const char* text, int32_t available);
int32_t dll_EchoInd(int32_t id, const char* text, int32_t available);
int32_t dll_ERrHandler(int32_t id, const char* text, int32_t available);
int32_t dll_DiagPortInd(int32_t id, const char* text, int32_t available);
int32_t dll_SwitchFtmInd(int32_t id, const char* text, int32_t available);
int32_t dll_SwitchTestInd(int32_t id, const char* text, int32_t available);
int32_t dll_VersionInd(int32_t id, const char* text, int32_t available);
