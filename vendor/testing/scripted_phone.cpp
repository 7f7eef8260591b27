#include "vendor/testing/scripted_phone.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <utility>

#include "plat/clock.h"
#include "vendor/qlib_backend.h"

namespace qlib_testing {

namespace {

// One value per call; the last one repeats.
template <typename T>
class Sequence {
 public:
  explicit Sequence(std::vector<T> values) : values_(std::move(values)) {}
  void Set(std::vector<T> values) {
    values_ = std::move(values);
    next_ = 0;
  }
  T Next() {
    if (values_.empty()) return T{};
    const T value = values_[std::min(next_, values_.size() - 1)];
    ++next_;
    return value;
  }

 private:
  std::vector<T> values_;
  std::size_t next_ = 0;
};

// Writes `bytes` into a buffer of `size` as a library would: the bytes as
// given, NUL-terminated only when they leave room for it.
void WriteText(char* buffer, std::size_t size, const std::string& bytes) {
  if (buffer == nullptr) return;
  const std::size_t count = std::min(size, bytes.size());
  std::memcpy(buffer, bytes.data(), count);
  if (count < size) buffer[count] = '\0';
}

std::string Handle(QlibHandle handle) { return std::to_string(reinterpret_cast<uintptr_t>(handle)); }
std::string Set(const void* pointer) { return pointer != nullptr ? "set" : "null"; }
std::string Text(const char* text) { return text != nullptr ? text : "null"; }
template <typename T>
std::string Preset(const T* value) {
  return value != nullptr ? std::to_string(*value) : "null";
}

// The packet size an EFS write uses when none was set.
constexpr std::size_t kDefaultWritePacket = 512;

}  // namespace

struct ScriptedPhone::State {
  mutable std::mutex mutex;
  std::vector<Call> calls;

  std::string libraryVersion = "Scripted phone library";
  std::array<unsigned char, 4> capabilities{};
  Sequence<uintptr_t> connectHandles{{1}};
  Sequence<bool> connected{{true}};
  Sequence<int> comPorts{{5}};
  Sequence<QpstAnswer> qpst{{QpstAnswer{1, 0u}}};
  unsigned char diagResult = 1;
  std::optional<unsigned char> diagStatus = 0;
  unsigned char nvResult = 1;
  std::optional<unsigned char> nvValue = 0;
  unsigned char vernoResult = 1;
  VernoAnswer verno;
  unsigned char extResult = 1;
  ExtBuildAnswer ext;
  Sequence<bool> efsResults{{true}};
  std::function<void(int, const std::string&, const std::string&)> efsHook;
  std::function<void(const TransferReport&)> transferHook;
  int efsWrites = 0;

  QlibSoftwareDownloadCallback softwareDownload = nullptr;
  QlibAsyncMessageCallback asyncMessage = nullptr;
  QlibEfsTransferCallback efsTransfer = nullptr;
  QlibEfsDirectoryCallback efsDirectory = nullptr;
  QlibTextLogCallback textLog = nullptr;

  unsigned short readPacket = 0;
  unsigned short writePacket = 0;
  int serialLimit = 0;
  std::map<std::string, std::string> efs;
  std::vector<TransferReport> transfers;

  void Log(std::string text) { calls.push_back(Call{std::move(text), plat::GetTickCount()}); }
};

namespace {

// The one phone the backend's functions reach.
ScriptedPhone::State* g_phone = nullptr;

using Lock = std::unique_lock<std::mutex>;
Lock Locked() { return Lock(g_phone->mutex); }

void QLIB_CALL SetLibraryMode(unsigned char mode) {
  Lock lock = Locked();
  g_phone->Log("SetLibraryMode(" + std::to_string(mode) + ")");
}

void QLIB_CALL GetLibraryVersion(char* version) {
  Lock lock = Locked();
  g_phone->Log("GetLibraryVersion(" + Set(version) + ")");
  WriteText(version, kQlibVersionSize, g_phone->libraryVersion);
}

void QLIB_CALL GetLibraryCapabilities(unsigned char* first, unsigned char* second, unsigned char* third,
                                      unsigned char* softwareDownload) {
  Lock lock = Locked();
  g_phone->Log("GetLibraryCapabilities(" + Preset(first) + "," + Preset(second) + "," + Preset(third) + "," +
               Preset(softwareDownload) + ")");
  unsigned char* const flags[] = {first, second, third, softwareDownload};
  for (std::size_t i = 0; i < 4; ++i) {
    if (flags[i] != nullptr) *flags[i] = g_phone->capabilities[i];
  }
}

QlibHandle QLIB_CALL ConnectServer(unsigned short comPort) {
  Lock lock = Locked();
  g_phone->Log("ConnectServer(" + std::to_string(comPort) + ")");
  return reinterpret_cast<QlibHandle>(g_phone->connectHandles.Next());
}

unsigned char QLIB_CALL ConfigureCallBacks(QlibHandle handle, void* general, QlibSoftwareDownloadCallback download,
                                           QlibAsyncMessageCallback async) {
  Lock lock = Locked();
  g_phone->Log("ConfigureCallBacks(" + Handle(handle) + "," + Set(general) + "," +
               Set(reinterpret_cast<const void*>(download)) + "," + Set(reinterpret_cast<const void*>(async)) + ")");
  g_phone->softwareDownload = download;
  g_phone->asyncMessage = async;
  return 1;
}

unsigned char QLIB_CALL ConfigureEfs2CallBacks(QlibHandle handle, QlibEfsTransferCallback transfer,
                                               QlibEfsDirectoryCallback directory) {
  Lock lock = Locked();
  g_phone->Log("ConfigureEfs2CallBacks(" + Handle(handle) + "," + Set(reinterpret_cast<const void*>(transfer)) + "," +
               Set(reinterpret_cast<const void*>(directory)) + ")");
  g_phone->efsTransfer = transfer;
  g_phone->efsDirectory = directory;
  return 1;
}

unsigned char QLIB_CALL ConfigureLibraryTextLogCallBack(QlibHandle handle, QlibTextLogCallback textLog) {
  Lock lock = Locked();
  g_phone->Log("ConfigureLibraryTextLogCallBack(" + Handle(handle) + "," +
               Set(reinterpret_cast<const void*>(textLog)) + ")");
  g_phone->textLog = textLog;
  return 1;
}

unsigned char QLIB_CALL SetDtrState(QlibHandle handle, unsigned char state) {
  Lock lock = Locked();
  g_phone->Log("SetDTR_State(" + Handle(handle) + "," + std::to_string(state) + ")");
  return 1;
}

unsigned char QLIB_CALL FlushRxBuffer(QlibHandle handle) {
  Lock lock = Locked();
  g_phone->Log("FlushRxBuffer(" + Handle(handle) + ")");
  return 1;
}

unsigned char QLIB_CALL IsPhoneConnected(QlibHandle handle) {
  Lock lock = Locked();
  g_phone->Log("IsPhoneConnected(" + Handle(handle) + ")");
  return g_phone->connected.Next() ? 1 : 0;
}

unsigned char QLIB_CALL GetComPortNumber(QlibHandle handle, unsigned short* port) {
  Lock lock = Locked();
  g_phone->Log("GetComPortNumber(" + Handle(handle) + "," + Preset(port) + ")");
  const int next = g_phone->comPorts.Next();
  if (next < 0 || port == nullptr) return 0;
  *port = static_cast<unsigned short>(next);
  return 1;
}

unsigned char QLIB_CALL GetQpstPhoneStatus(QlibHandle handle, uint32_t* mode) {
  Lock lock = Locked();
  g_phone->Log("GetQpstPhoneStatus(" + Handle(handle) + ")");
  const QpstAnswer answer = g_phone->qpst.Next();
  if (answer.mode && mode != nullptr) *mode = *answer.mode;
  return answer.result;
}

unsigned char QLIB_CALL DiagStatus(QlibHandle handle, unsigned char* status) {
  Lock lock = Locked();
  g_phone->Log("DIAG_STATUS_F(" + Handle(handle) + "," + Preset(status) + ")");
  if (g_phone->diagStatus && status != nullptr) *status = *g_phone->diagStatus;
  return g_phone->diagResult;
}

unsigned char QLIB_CALL DiagNvRead(QlibHandle handle, unsigned short item, unsigned char* data, int length,
                                   unsigned short* status) {
  Lock lock = Locked();
  g_phone->Log("DIAG_NV_READ_F(" + Handle(handle) + "," + std::to_string(item) + "," + Preset(data) + "," +
               std::to_string(length) + "," + Preset(status) + ")");
  if (g_phone->nvValue && data != nullptr && length >= 1) *data = *g_phone->nvValue;
  return g_phone->nvResult;
}

unsigned char QLIB_CALL DiagVerno(QlibHandle handle, char* compileDate, char* compileTime, char* releaseDate,
                                  char* releaseTime, char* versionDir, unsigned char* stationClassMark,
                                  unsigned char* caiRevision, unsigned char* mobileModel,
                                  unsigned short* firmwareRevision, unsigned char* slotCycleIndex,
                                  unsigned char* vocoderMajor, unsigned char* vocoderMinor) {
  Lock lock = Locked();
  g_phone->Log("DIAG_VERNO_F(" + Handle(handle) + ")");
  const VernoAnswer& answer = g_phone->verno;
  WriteText(compileDate, kQlibVernoTextSize, answer.compileDate);
  WriteText(compileTime, kQlibVernoTextSize, answer.compileTime);
  WriteText(releaseDate, kQlibVernoTextSize, answer.releaseDate);
  WriteText(releaseTime, kQlibVernoTextSize, answer.releaseTime);
  WriteText(versionDir, kQlibVernoTextSize, answer.versionDir);
  auto put = [](auto* target, auto value) {
    if (target != nullptr) *target = value;
  };
  put(stationClassMark, answer.stationClassMark);
  put(caiRevision, answer.caiRevision);
  put(mobileModel, answer.mobileModel);
  put(firmwareRevision, answer.firmwareRevision);
  put(slotCycleIndex, answer.slotCycleIndex);
  put(vocoderMajor, answer.vocoderMajor);
  put(vocoderMinor, answer.vocoderMinor);
  return g_phone->vernoResult;
}

unsigned char QLIB_CALL DiagExtBuildId(QlibHandle handle, uint32_t* msmHardwareVersion, uint32_t* mobileModel,
                                       char* softwareRevision, char* modelId) {
  Lock lock = Locked();
  g_phone->Log("DIAG_EXT_BUILD_ID_F(" + Handle(handle) + "," + Preset(msmHardwareVersion) + "," +
               Preset(mobileModel) + ")");
  const ExtBuildAnswer& answer = g_phone->ext;
  if (msmHardwareVersion != nullptr) *msmHardwareVersion = answer.msmHardwareVersion;
  if (mobileModel != nullptr) *mobileModel = answer.mobileModel;
  WriteText(softwareRevision, kQlibBuildIdTextSize, answer.softwareRevision);
  WriteText(modelId, kQlibBuildIdTextSize, answer.modelId);
  return g_phone->extResult;
}

void QLIB_CALL DisconnectServer(QlibHandle handle) {
  Lock lock = Locked();
  g_phone->Log("DisconnectServer(" + Handle(handle) + ")");
}

void QLIB_CALL DisconnectAllServers() {
  Lock lock = Locked();
  g_phone->Log("DisconnectAllServers");
}

unsigned char QLIB_CALL SetEfsPacketSize(QlibHandle handle, unsigned short readSize, unsigned short writeSize) {
  Lock lock = Locked();
  g_phone->Log("SetEfsReadAndWritePacketSize(" + Handle(handle) + "," + std::to_string(readSize) + "," +
               std::to_string(writeSize) + ")");
  g_phone->readPacket = readSize;
  g_phone->writePacket = writeSize;
  return 1;
}

unsigned char QLIB_CALL SetSerialWriteLimit(QlibHandle handle, int limit) {
  Lock lock = Locked();
  g_phone->Log("SetSendDataSerialWriteSizeLimit(" + Handle(handle) + "," + std::to_string(limit) + ")");
  g_phone->serialLimit = limit;
  return 1;
}

// Reports one packet to the transfer callback, outside the phone's lock: the
// callback may wait for a window.
void ReportTransfer(QlibEfsTransferCallback callback, const char* local, const char* efs, uint32_t done,
                    uint32_t size) {
  if (callback == nullptr) return;
  const unsigned char returned = callback(local, efs, 0, 0, done, size, nullptr);
  const TransferReport report{local, efs, done, size, returned};
  Lock lock = Locked();
  g_phone->transfers.push_back(report);
  const auto hook = g_phone->transferHook;
  lock.unlock();
  if (hook) hook(report);
}

unsigned char QLIB_CALL EfsWrite(QlibHandle handle, const char* local, const char* efs) {
  Lock lock = Locked();
  g_phone->Log("EfsWrite(" + Handle(handle) + "," + Text(local) + "," + Text(efs) + ")");
  const int index = g_phone->efsWrites++;
  const bool result = g_phone->efsResults.Next();
  const auto hook = g_phone->efsHook;
  const QlibEfsTransferCallback callback = g_phone->efsTransfer;
  std::size_t packet = g_phone->writePacket != 0 ? g_phone->writePacket : kDefaultWritePacket;
  if (g_phone->serialLimit > 0) packet = std::min(packet, static_cast<std::size_t>(g_phone->serialLimit));
  lock.unlock();

  if (local == nullptr || efs == nullptr) return 0;
  if (hook) hook(index, local, efs);
  if (!result) return 0;
  std::ifstream file(local, std::ios::binary | std::ios::ate);
  if (!file) return 0;
  const auto size = static_cast<uint32_t>(file.tellg());
  file.seekg(0);

  std::string written;
  if (size == 0) ReportTransfer(callback, local, efs, 0, 0);
  std::string chunk(packet, '\0');
  while (file.read(chunk.data(), static_cast<std::streamsize>(packet)) || file.gcount() > 0) {
    written.append(chunk, 0, static_cast<std::size_t>(file.gcount()));
    ReportTransfer(callback, local, efs, static_cast<uint32_t>(written.size()), size);
  }
  lock.lock();
  g_phone->efs[efs] = std::move(written);
  return 1;
}

constexpr QlibBackend kScriptedBackend = {
    SetLibraryMode,   GetLibraryVersion,  GetLibraryCapabilities, ConnectServer,
    ConfigureCallBacks, ConfigureEfs2CallBacks, ConfigureLibraryTextLogCallBack,
    SetDtrState,      FlushRxBuffer,      IsPhoneConnected,       GetComPortNumber,
    GetQpstPhoneStatus, DiagStatus,       DiagNvRead,             DiagVerno,
    DiagExtBuildId,   DisconnectServer,   DisconnectAllServers,   SetEfsPacketSize,
    SetSerialWriteLimit, EfsWrite,
};

}  // namespace

ScriptedPhone::ScriptedPhone() {
  g_phone = new State;
  previous_ = QlibStandIn_SetBackend(&kScriptedBackend);
}

ScriptedPhone::~ScriptedPhone() {
  QlibStandIn_SetBackend(previous_);
  delete g_phone;
  g_phone = nullptr;
}

void ScriptedPhone::SetLibraryVersion(const std::string& bytes) {
  Lock lock = Locked();
  g_phone->libraryVersion = bytes;
}
void ScriptedPhone::SetCapabilities(std::array<unsigned char, 4> flags) {
  Lock lock = Locked();
  g_phone->capabilities = flags;
}
void ScriptedPhone::SetConnectHandles(std::vector<uintptr_t> handles) {
  Lock lock = Locked();
  g_phone->connectHandles.Set(std::move(handles));
}
void ScriptedPhone::SetPhoneConnected(std::vector<bool> connected) {
  Lock lock = Locked();
  g_phone->connected.Set(std::move(connected));
}
void ScriptedPhone::SetComPorts(std::vector<int> ports) {
  Lock lock = Locked();
  g_phone->comPorts.Set(std::move(ports));
}
void ScriptedPhone::SetQpstStatus(std::vector<QpstAnswer> answers) {
  Lock lock = Locked();
  g_phone->qpst.Set(std::move(answers));
}
void ScriptedPhone::SetDiagStatus(unsigned char result, std::optional<unsigned char> status) {
  Lock lock = Locked();
  g_phone->diagResult = result;
  g_phone->diagStatus = status;
}
void ScriptedPhone::SetNvRead(unsigned char result, std::optional<unsigned char> value) {
  Lock lock = Locked();
  g_phone->nvResult = result;
  g_phone->nvValue = value;
}
void ScriptedPhone::SetVersion(unsigned char result, const VernoAnswer& answer) {
  Lock lock = Locked();
  g_phone->vernoResult = result;
  g_phone->verno = answer;
}
void ScriptedPhone::SetExtBuildId(unsigned char result, const ExtBuildAnswer& answer) {
  Lock lock = Locked();
  g_phone->extResult = result;
  g_phone->ext = answer;
}
void ScriptedPhone::SetEfsWriteResults(std::vector<bool> results) {
  Lock lock = Locked();
  g_phone->efsResults.Set(std::move(results));
}
void ScriptedPhone::OnEfsWrite(std::function<void(int, const std::string&, const std::string&)> hook) {
  Lock lock = Locked();
  g_phone->efsHook = std::move(hook);
}

void ScriptedPhone::OnTransfer(std::function<void(const TransferReport&)> hook) {
  Lock lock = Locked();
  g_phone->transferHook = std::move(hook);
}

std::vector<Call> ScriptedPhone::Calls() const {
  Lock lock = Locked();
  return g_phone->calls;
}

std::vector<std::string> ScriptedPhone::CallTexts() const {
  std::vector<std::string> texts;
  for (const Call& call : Calls()) texts.push_back(call.text);
  return texts;
}

std::vector<Call> ScriptedPhone::CallsOf(const std::string& name) const {
  std::vector<Call> found;
  for (const Call& call : Calls()) {
    if (call.text == name || call.text.rfind(name + "(", 0) == 0) found.push_back(call);
  }
  return found;
}

void ScriptedPhone::ClearCalls() {
  Lock lock = Locked();
  g_phone->calls.clear();
}

QlibSoftwareDownloadCallback ScriptedPhone::SoftwareDownloadCallback() const {
  Lock lock = Locked();
  return g_phone->softwareDownload;
}
QlibAsyncMessageCallback ScriptedPhone::AsyncMessageCallback() const {
  Lock lock = Locked();
  return g_phone->asyncMessage;
}
QlibEfsTransferCallback ScriptedPhone::EfsTransferCallback() const {
  Lock lock = Locked();
  return g_phone->efsTransfer;
}
QlibEfsDirectoryCallback ScriptedPhone::EfsDirectoryCallback() const {
  Lock lock = Locked();
  return g_phone->efsDirectory;
}
QlibTextLogCallback ScriptedPhone::TextLogCallback() const {
  Lock lock = Locked();
  return g_phone->textLog;
}

std::optional<std::string> ScriptedPhone::EfsFile(const std::string& efsPath) const {
  Lock lock = Locked();
  const auto found = g_phone->efs.find(efsPath);
  if (found == g_phone->efs.end()) return std::nullopt;
  return found->second;
}

std::vector<TransferReport> ScriptedPhone::Transfers() const {
  Lock lock = Locked();
  return g_phone->transfers;
}

}  // namespace qlib_testing
