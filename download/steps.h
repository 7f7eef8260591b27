// The protocol steps of a transfer and the two tables that order them.
//
// A transfer talks to the device in two phases. First the device's own
// download support: a DIAG command switches it into its download mode, and
// the DMSS download commands check that mode, ask for its parameters, write
// the flash programmer into RAM at 0x10000000 and start it. Then the running
// programmer answers the streaming download protocol: hello, stream writes
// into flash, flash reads, reset, and the steps of a multi-image download.
//
// Every step is one exchange (or a run of them) over the framing, on the
// transfer's worker thread only. Results: 1 success, -1 the device answered
// but not as expected (or the request cannot be framed), 0 no reply within
// the step's limit or the request did not go out whole. The runner treats
// everything but 1 as the failure of the transfer.
#pragma once

#include <cstdint>

namespace download {

using StepFn = int (*)();

// How long a step waits for its reply frame before it gives up with 0 (the
// receive side purged). The hellos alone have no such limit: they end on a
// second of silence instead.
inline constexpr uint32_t kStepReplyLimitMs = 10000;

// Flash an upload reads, from address 0.
inline constexpr int32_t kUploadBytes = 33554432;
// Times ReadFlash asks for one block in a row before it gives up.
inline constexpr int kReadFlashAttempts = 10;

// --- Loading the programmer (DIAG and DMSS commands) -----------------------

int SwitchToDownloadMode();  // 3A, no leading flag -> 3A; then a second of progress
int SendNop();               // 06 -> 02
int ParamRequest();          // 07 -> 08
int WriteProgrammer();       // ProgrammerImage in blocks of 1017 bytes at 0x10000000
int go_cmd();                // 05 10 00 00 00 -> 02; then 5 s for the programmer to start
int read_version();          // 00, no leading flag -> 00 and the version text
int Delay15Seconds();        // sends nothing

// --- The streaming protocol of the running programmer ----------------------

int SendHello();  // "Flash_type:%s"; silence counts as success
int WriteAmss();  // DeviceImage into flash from address 0, with progress
int ReadFlash();  // kUploadBytes of flash into UploadBuffer, with progress
int ResetTarget();
int SetSecurityMode();
int SendPartitionTable();
int OpenPbl();
int OpenQcsblhdCfgdata();
int OpenQcsbl();
int OpenOemsbl();
int OpenAmss();
int WritePbl();
int WriteQcsblhdCfgdata();
int WriteQcsbl();
int WriteOemsbl();
int CloseImage();

// Ten steps and a null end each. A device found already in its download mode
// starts at row 2.
extern const StepFn DownloadSteps[11];
extern const StepFn UploadSteps[11];

// What ReadFlash read; written to the upload file after a completed run.
extern uint8_t UploadBuffer[kUploadBytes];

namespace steps_testing {
// ReadFlash starts at this flash address (a multiple of 1024; 0 is the real
// start), so a test can read the last blocks without the whole 32 MiB. The
// blocks before it are left as UploadBuffer holds them.
void SetReadFlashStart(int32_t address);
}  // namespace steps_testing

}  // namespace download
