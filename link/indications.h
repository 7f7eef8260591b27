// The response handlers for the rest of the device's AT dialect: call and
// time events, network, signal, audio and keys, SMS, call progress and
// errors, SIM, PIN and personalisation, numbers, phonebook and
// supplementary services, network selection and phone information.
// Each follows the ResponseHandler contract (link/parser.h) and skips a
// fixed count of characters at the line start without comparing them: the
// length of the prefix it is registered under. The response table
// registers none of them; each is ready for a row.
#pragma once

#include <cstdint>

#include "link/fields.h"

// Payload records, little-endian as queued.
struct SmsStorageEntry {
  int32_t storage;  // 1 when the storage name begins with "ME" or "MT"
  int32_t used;
  int32_t total;
};
struct SmsStorageRecord {
  SmsStorageEntry groups[3];
};
static_assert(sizeof(SmsStorageRecord) == 36);

struct SmsMtNewRecord {
  int32_t storage;  // 0 "SM", 1 "ME"
  int32_t index;
  int32_t reserved[2];
};
static_assert(sizeof(SmsMtNewRecord) == 16);

struct PersoEntryRecord {
  int32_t index;
  char code[16];  // at most 15 digits, NUL-terminated
};
static_assert(sizeof(PersoEntryRecord) == 20);

struct PbStorageRecord {
  int32_t storage;  // index into PbStorageNames
  int32_t used;
  int32_t total;
};
static_assert(sizeof(PbStorageRecord) == 12);

struct CallForwardRecord {
  int32_t status;
  char number[32];  // at most 31 characters, the NULs of each close included
  int32_t type;
  int32_t time;
};
static_assert(sizeof(CallForwardRecord) == 44);

struct OperatorEntry {
  int32_t stat;
  char longName[64];
  char shortName[20];
  char numeric[12];
  int32_t accessTechnology;
};
static_assert(sizeof(OperatorEntry) == 104);
constexpr int MaxOperatorEntries = 10;

struct CurrentOperatorRecord {
  int32_t mode;
  int32_t format;
  char name[64];
  int32_t accessTechnology;
};
static_assert(sizeof(CurrentOperatorRecord) == 76);

struct PhoneDiagInfoRecord {
  char slots[8][16];
};
static_assert(sizeof(PhoneDiagInfoRecord) == 128);

// The names of the personalisation locks' states: row i for lock i, the
// column is the state value; an all-empty row ends the table.
extern const char* const PersoLockStateTable[8][3];
// The phonebook storages, in index order.
extern const char* const PbStorageNames[6];

// The state byte of a personalisation lock whose item names none of its
// states ("READY" is 0).
constexpr uint8_t PersoStateUnknown = 0xFF;

#define TAMRI_HANDLER(name) int32_t name(int32_t id, const char* text, int32_t available)

// Call events and the network time.
TAMRI_HANDLER(dll_CallrelInd);
TAMRI_HANDLER(dll_CallAAStateInd);
TAMRI_HANDLER(dll_IncomingcallInd);
TAMRI_HANDLER(dll_CallingNumInd);
TAMRI_HANDLER(dll_CallstateInd);
TAMRI_HANDLER(dll_timeInd);

// Network, signal, audio and keys.
TAMRI_HANDLER(dll_NetworkServiceInd);
TAMRI_HANDLER(dll_PsNetworkServiceInd);
TAMRI_HANDLER(dll_NetworkModeInd);
TAMRI_HANDLER(dll_SignalInd);
TAMRI_HANDLER(EarKeyInd);
TAMRI_HANDLER(HookKeyInd);
TAMRI_HANDLER(VpSwitchInd);
TAMRI_HANDLER(dll_MicVolInd);
TAMRI_HANDLER(SpeakerVolInd);

// SMS.
TAMRI_HANDLER(dll_SmsMorspInd);
TAMRI_HANDLER(dll_SmsMtCntInd);
TAMRI_HANDLER(SmsFormatInd);
TAMRI_HANDLER(SmsCenterInd);
TAMRI_HANDLER(SmsStroageInd);
TAMRI_HANDLER(SmsNewLineInd);
TAMRI_HANDLER(SmsSaveInd);
TAMRI_HANDLER(SmsMtNewInd);
TAMRI_HANDLER(SmsChannelInd);
TAMRI_HANDLER(SmsValidatePeriodInd);

// Call progress and errors.
TAMRI_HANDLER(dll_ParenListInd);
TAMRI_HANDLER(dll_MissedcallInd);
TAMRI_HANDLER(dll_NoCarrierInd);
TAMRI_HANDLER(dll_VpRingBackInd);
TAMRI_HANDLER(dll_VpConnectedInd);
TAMRI_HANDLER(dll_VpIncomingInd);
TAMRI_HANDLER(dll_VpCallEndInd);
TAMRI_HANDLER(dll_PhoneErrorInd);

// SIM, PIN and personalisation.
TAMRI_HANDLER(SimStatusInd);
TAMRI_HANDLER(PinStatusInd);
TAMRI_HANDLER(Pin2StatusInd);
TAMRI_HANDLER(PinVerifyInd);
TAMRI_HANDLER(PinTimesInd);
TAMRI_HANDLER(PersoStatusInd);
TAMRI_HANDLER(PersoPwdInd);
TAMRI_HANDLER(AddPersoInd);
TAMRI_HANDLER(DelPersoInd);

// Numbers, phonebook and supplementary services.
TAMRI_HANDLER(dll_OwnNumberInd);
TAMRI_HANDLER(dll_PbStorageInd);
TAMRI_HANDLER(dll_CallForwardStateInd);
TAMRI_HANDLER(dll_CallWaitStateInd);

// Network selection and phone information.
TAMRI_HANDLER(dll_PLMNListInd);
TAMRI_HANDLER(dll_NetModePrefInd);
TAMRI_HANDLER(dll_NetAcqSeqPrefInd);
TAMRI_HANDLER(dll_NetTrafficDomainPrefInd);
TAMRI_HANDLER(dll_PhoneFuncInd);
TAMRI_HANDLER(dll_PhoneDiagInfoInd);
TAMRI_HANDLER(dll_PhoneTemperatureHighInd);
TAMRI_HANDLER(dll_PhoneTemperatureLowInd);
TAMRI_HANDLER(dll_AutoAnswerInd);
TAMRI_HANDLER(dll_SimImsiInd);
TAMRI_HANDLER(dll_MeImeiInd);
TAMRI_HANDLER(dll_AmssVerInd);
TAMRI_HANDLER(dll_HsdapCateInd);

#undef TAMRI_HANDLER
