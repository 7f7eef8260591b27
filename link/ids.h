// Request and indication ids carried by the link layer's queues. Requests go
// on the write queue to the write thread, indications on the read queue to
// the API caller. Every id is below 256: the API caller keeps the low byte.
// Payloads are given without the CR LF the queue appends.
#pragma once

#include <cstdint>

enum PrimitiveId : int32_t {
  // Requests (write queue).
  IdNoPortNotice = 10,     // text; written like 32 while the AT port is open
  IdSmsSend = 28,          // text; refused with 119 while a new-SMS text is pending
  IdRawText = 29,          // raw text written unchanged: the queue appends no CR LF
  IdAtCommand = 32,        // AT command text without terminator
  IdSmsNewSet = 33,        // text; marks a new-SMS text pending before it is written
  IdWaitNoTimeout = 34,    // text; its final result is awaited without time limit
  IdPortScanRequest = 40,  // 5 bytes 0; runs the port scan, never written to the port

  // Indications (read queue).
  IdOk = 100,                      // "OK"
  IdError = 101,                   // "ERROR"
  IdOperationNotAllowed = 119,     // "operation not allowed"
  IdPersoCode = 139,               // the code digits as characters
  IdPinResult = 145,               // 1 byte: 1 or 0
  IdVersion = 153,                 // VersionRecord (120 bytes)
  IdCurrentOperator = 155,         // CurrentOperatorRecord (76 bytes)
  IdPinRetryTimes = 158,           // 1 byte: remaining PIN attempts
  IdPortNotOpen = 161,             // 1 byte: 0
  IdModemDetect = 162,             // 1 byte: 0 no device port, 1 device ports but not the known modem ports
  IdServiceState = 168,            // 1 byte: 1 or 0
  IdPersoIncorrectPassword = 180,  // the rest of the answer line
  IdDiagPortState = 182,           // 1 byte: the digit's value, 0 to 9
  IdDiagPortSwitch = 183,          // 1 byte: 1 succeeded, 2 incorrect password, 0 otherwise
  IdPersoExists = 185,             // empty
  IdPersoNotExists = 186,          // empty
  IdFtmState = 187,                // 1 byte: the digit's value
  IdFtmSwitch = 188,               // 1 byte: 1 succeeded or repeated, 0 otherwise
  IdTestModeState = 189,           // 1 byte: the digit's value
  IdTestModeSwitch = 191,          // 1 byte: 1 succeeded or repeated, 0 otherwise
  IdPortScanResult = 195,          // PortScanResult (2 bytes)
};
