// A scripted phone behind the stand-in library, for tests: while one exists
// it is the stand-in's backend. It logs every QLIB_ call with its arguments
// and the presets it found in the caller's buffers, answers with the results
// a test sets, keeps the callbacks registered last so that a test can fire
// them, and holds an in-memory EFS: QLIB_EfsWrite reads the local file in
// the write packet size that was set (bounded by the serial write limit)
// and calls the EFS transfer callback with the bytes so far after each
// packet (once with 0 for an empty file).
//
// A scripted sequence gives one value per call and repeats its last value.
// All members may be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "vendor/qlib.h"
#include "vendor/qlib_backend.h"

namespace qlib_testing {

// One call as the phone saw it: "Name(arg,...)" and the scaled tick at entry.
struct Call {
  std::string text;
  uint32_t tick;
};

// A QLIB_GetQpstPhoneStatus answer: the result byte and the mode written
// (nothing when unset).
struct QpstAnswer {
  unsigned char result;
  std::optional<uint32_t> mode;
};

// The raw bytes QLIB_DIAG_VERNO_F writes into the five 12-byte texts (each
// written as given, cut to 12 bytes, without a NUL of ours) and its numbers.
struct VernoAnswer {
  std::string compileDate, compileTime, releaseDate, releaseTime, versionDir;
  unsigned char stationClassMark = 0, caiRevision = 0, mobileModel = 0;
  unsigned short firmwareRevision = 0;
  unsigned char slotCycleIndex = 0, vocoderMajor = 0, vocoderMinor = 0;
};

// QLIB_DIAG_EXT_BUILD_ID_F's numbers and the raw bytes of its two 512-byte
// texts (cut to 512 bytes, no NUL of ours).
struct ExtBuildAnswer {
  uint32_t msmHardwareVersion = 0, mobileModel = 0;
  std::string softwareRevision, modelId;
};

// One call of the EFS transfer callback during a write, and its answer.
struct TransferReport {
  std::string src, dst;
  uint32_t bytesTransferred;
  uint32_t fileSize;
  unsigned char returned;
};

class ScriptedPhone {
 public:
  // A phone that is there: ConnectServer gives handle 1, the phone is
  // connected on COM5 in no QPST mode, and every query succeeds with
  // zeroed answers.
  ScriptedPhone();
  ~ScriptedPhone();
  ScriptedPhone(const ScriptedPhone&) = delete;
  ScriptedPhone& operator=(const ScriptedPhone&) = delete;

  // Written as given, at most 52 bytes; NUL-terminated only when shorter.
  void SetLibraryVersion(const std::string& bytes);
  void SetCapabilities(std::array<unsigned char, 4> flags);
  // Handles as numbers; 0 is a failed connect.
  void SetConnectHandles(std::vector<uintptr_t> handles);
  void SetPhoneConnected(std::vector<bool> connected);
  // The port written, or -1 to leave the caller's preset; the result is 1
  // when a port is written.
  void SetComPorts(std::vector<int> ports);
  void SetQpstStatus(std::vector<QpstAnswer> answers);
  // The result byte and the status byte written (nothing when unset).
  void SetDiagStatus(unsigned char result, std::optional<unsigned char> status);
  void SetNvRead(unsigned char result, std::optional<unsigned char> value);
  void SetVersion(unsigned char result, const VernoAnswer& answer);
  void SetExtBuildId(unsigned char result, const ExtBuildAnswer& answer);
  void SetEfsWriteResults(std::vector<bool> results);
  // Runs inside each QLIB_EfsWrite before the local file is read, with the
  // write's index (from 0) and its two paths; it may block.
  void OnEfsWrite(std::function<void(int index, const std::string& local, const std::string& efs)> hook);
  // Runs after each call of the EFS transfer callback, with its report.
  void OnTransfer(std::function<void(const TransferReport&)> hook);

  std::vector<Call> Calls() const;
  std::vector<std::string> CallTexts() const;
  // The calls whose text starts with `name` followed by "(" or the end.
  std::vector<Call> CallsOf(const std::string& name) const;
  void ClearCalls();

  // The callbacks registered last; null for none.
  QlibSoftwareDownloadCallback SoftwareDownloadCallback() const;
  QlibAsyncMessageCallback AsyncMessageCallback() const;
  QlibEfsTransferCallback EfsTransferCallback() const;
  QlibEfsDirectoryCallback EfsDirectoryCallback() const;
  QlibTextLogCallback TextLogCallback() const;

  // The in-memory EFS: a file's bytes by EFS path.
  std::optional<std::string> EfsFile(const std::string& efsPath) const;
  std::vector<TransferReport> Transfers() const;

  struct State;

 private:
  const QlibBackend* previous_;
};

}  // namespace qlib_testing
