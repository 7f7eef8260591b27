// The driver thread and the device state machine: the thread drains the link
// layer's indications; the machine answers a detection with a port search,
// connects to the AT port the search found, asks the firmware version and,
// by the version's class, sends the AT sequence that brings up the device's
// diagnostic port, until it takes the device as found.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "app/Tamri.h"
#include "app/TamriDlg.h"
#include "app/link_calls.h"
#include "app/version_table.h"
#include "download/workers.h"
#include "link/ids.h"
#include "plat/clock.h"
#include "plat/debug.h"
#include "plat/process.h"
#include "res/resource.h"
#include "ui/dialog.h"

std::atomic<int32_t> DeviceState{StateNoDevice};
std::atomic<int32_t> LastScanFound{0};
char DeviceVersion[DeviceVersionSize];
std::atomic<CTamriDlg*> DriverDialog{nullptr};

namespace {

// The most Dll_ReadDate hands out of one indication.
constexpr int kIndicationBufferSize = 1024;
// The version text is the second of the record's four 30-byte fields; it is
// shown cut to 29 characters.
constexpr std::size_t kVersionFieldSize = 30;
constexpr std::size_t kVersionTextOffset = kVersionFieldSize;
constexpr std::size_t kMaxVersionText = kVersionFieldSize - 1;

// PortScanResult's Found byte.
constexpr int kFoundAtPort = 1;
constexpr int kFoundDiagPort = 2;
constexpr int kFoundBoth = 3;

// The state machine's pauses.
constexpr uint32_t kBeforeConnectMs = 1000;
constexpr uint32_t kDualChannelSettleMs = 1000;
constexpr uint32_t kStatusShownMs = 2000;
constexpr uint32_t kResetStepMs = 3000;
constexpr uint32_t kBeforeDisconnectMs = 500;
constexpr uint32_t kModeOffSettleMs = 1000;
constexpr uint32_t kSearchDelayMs = 1000;

constexpr const char* kRefusedAccessCode = "Invalid access code (CR, LF or quote in it)!";

// The version text of DeviceVersion, never past its field.
std::string VersionText() {
  const char* field = DeviceVersion + kVersionTextOffset;
  return std::string(field, strnlen(field, kMaxVersionText));
}

// A programming error the window survives: named in the debug output with
// the source and line, as a debug assertion would.
void ReportAssertion(int line, const char* what) {
  char text[128];
  std::snprintf(text, sizeof text, "TamriDlg(%d): %s\n", line, what);
  plat::OutputDebugString(text);
}

// Makes one event of the window or ends the process with the message the
// user is shown.
void CreateOrExit(plat::Event& event, bool initiallySet, const char* failure, ui::WindowHandle owner) {
  if (event.IsValid()) event.Close();
  if (event.Create(true, initiallySet)) return;
  ExitOnStartFailure(owner, failure);
}

}  // namespace

void ExitOnStartFailure(ui::WindowHandle owner, const char* failure) {
  // The platform's box with exactly these flags: no icon beside the text.
  ui::PlatformMessageBox(owner, failure, ui::MbOk);
  plat::ExitProcess(0);
}

plat::Event& ThreadMutexEvent() {
  static plat::Event* event = new plat::Event;
  return *event;
}
plat::Event& DriverEvent() {
  static plat::Event* event = new plat::Event;
  return *event;
}
plat::Event& ThreadExitEvent() {
  static plat::Event* event = new plat::Event;
  return *event;
}

void LockThreadMutex() { ThreadMutexEvent().Wait(plat::INFINITE); }
void UnlockThreadMutex() { ThreadMutexEvent().Set(); }

uint32_t DriverThreadProc(void* /*parameter*/) {
  for (;;) {
    if (ThreadExitEvent().Wait(0) == plat::WaitResult::Signaled) {
      if (DriverEvent().IsValid()) DriverEvent().Set();
      return 0;
    }
    // Woken by the link layer or by the end: whichever comes first.
    const plat::Event* const waits[] = {&DriverEvent(), &ThreadExitEvent()};
    const plat::WaitAnyResult woken = plat::Event::WaitAny(waits, plat::INFINITE);
    if (woken.result != plat::WaitResult::Signaled || woken.index != 0) continue;
    DriverEvent().Reset();
    LockThreadMutex();
    int id = 0;
    int length = 0;
    char data[kIndicationBufferSize];
    while (ThreadExitEvent().Wait(0) != plat::WaitResult::Signaled && Link.Dll_ReadDate(&id, data, &length)) {
      CTamriDlg* dialog = DriverDialog.load();
      if (dialog == nullptr) continue;
      dialog->HandleIndication(static_cast<unsigned char>(id & 0xFF), data, length);
    }
    UnlockThreadMutex();
  }
}

void CTamriDlg::CreateDriverThread() {
  const ui::WindowHandle owner = Handle();
  CreateOrExit(ThreadMutexEvent(), true, "Create ThreadMutexEvent Failed,Now Exit...", owner);
  CreateOrExit(DriverEvent(), true, "Create DriverEvent Failed,Now Exit...", owner);
  CreateOrExit(ThreadExitEvent(), false, "Create ThreadExitEvent Failed,Now Exit...", owner);
  // Registered before the thread runs: a set between the thread's first
  // drain and a later registration would be lost. The event starts set, so
  // what was queued before the window existed is drained at once.
  Link.Dll_SetNotify(DriverEvent().NotifyHandle());
  DriverDialog = this;
  if (!driverThread_.Start([] { return DriverThreadProc(nullptr); }, plat::ThreadPriority::Normal)) {
    ExitOnStartFailure(owner, "Create Thread Failed,Now Exit...");
  }
  DeviceState = StateSearchingPorts;
}

void CTamriDlg::StopDriverThread() {
  LockThreadMutex();
  DriverEvent().Set();
  ThreadExitEvent().Set();
  UnlockThreadMutex();
  Link.Dll_Disconnect(0);
  DeviceState = StateStopped;
}

void CTamriDlg::ShutdownDriverThread() {
  if (!driverThread_.Joinable()) return;
  ThreadExitEvent().Set();
  driverThread_.Join();
  // Nothing that is drained from now on may reach this window.
  CTamriDlg* self = this;
  DriverDialog.compare_exchange_strong(self, nullptr);
}

bool CTamriDlg::DriverSleep(uint32_t ms) { return ThreadExitEvent().Wait(ms) != plat::WaitResult::Signaled; }

void CTamriDlg::FoundDevice(bool withVersion) {
  const int32_t port = Link.Dll_GetDiagportReq();
  const int32_t mode = Link.Dll_GetDiagModeReq();
  {
    std::lock_guard lock(foundMutex_);
    SinceTransferStart left = SinceTransferStart::Left;
    sinceTransferStart_.compare_exchange_strong(left, SinceTransferStart::FoundAgain);
    DeviceDiagPort = port;
    download::DeviceDiagMode = mode;
    DeviceState = StateFound;
  }
  EnableActionButtons(true);
  SetStatus(withVersion ? "Found Device. " + VersionText() : "Found Device.");
}

void CTamriDlg::DeviceLeft() { sinceTransferStart_ = SinceTransferStart::Left; }

void CTamriDlg::EndWithCancel() { EndDialog(ui::IdCancel); }

void CTamriDlg::EndWaitingClose(const char* how) {
  // The answer and the timer can both come; the first ends the dialog. The
  // debug output says which, for whoever looks at a close that took long.
  if (closeEnded_.exchange(true)) return;
  plat::OutputDebugString(std::string("TamriDlg: the close ends on ") + how + "\n");
  EndWithCancel();
}

void CTamriDlg::OnModemDetect() {
  if (ModemDetectResult != 0) {
    DeviceState = StatePortsPresent;
  } else {
    DeviceLeft();
    Link.Dll_Disconnect(0);
  }
  SetTimer(TIMER_SEARCH_PORT, kSearchDelayMs);
}

void CTamriDlg::HandleIndication(unsigned char id, const char* data, int32_t length) {
  // Every handler below but the error's reads the first byte: an indication
  // without it carries nothing to act on.
  const bool hasByte = length >= 1 && data != nullptr;
  const int first = hasByte ? static_cast<unsigned char>(data[0]) : -1;
  switch (id) {
    case IdError & 0xFF:
      if (DeviceState == StateFactoryModeAsked && (LastScanFound & kFoundDiagPort) != 0) FoundDevice(true);
      return;

    case IdVersion & 0xFF: {
      if (length != static_cast<int32_t>(DeviceVersionSize)) {
        ReportAssertion(__LINE__, "version record not of 120 bytes");
        if (length < static_cast<int32_t>(DeviceVersionSize) || data == nullptr) return;
      }
      std::memcpy(DeviceVersion, data, DeviceVersionSize);
      const VersionKind kind = ClassifyVersion(VersionText());
      VersionClass = VersionClassOf(kind);
      switch (kind) {
        case VersionKind::DiagSwitch:
          Link.Dll_TurnDiagnosticOnOffReq(3, "", "");
          DeviceState = StateDiagModeAsked;
          return;
        case VersionKind::DualChannel:
          Link.Dll_SetDualChannelReq();
          DeviceState = StateDualChannelSet;
          if (!DriverSleep(kDualChannelSettleMs)) return;
          if (DeviceState != StateNoDevice && Link.Dll_GetDiagportReq() != -1) FoundDevice(true);
          return;
        case VersionKind::FactoryMode:
          Link.Dll_GetFactoryModeReq();
          DeviceState = StateFactoryModeAsked;
          return;
        case VersionKind::TestMode:
          Link.Dll_GetFactoryModeReq2();
          DeviceState = StateFactoryModeAsked;
          return;
      }
      return;
    }

    case IdPortNotOpen & 0xFF:
      if (first == 2) ui::MessageBox(Handle(), "Port Occupied!", ui::MbOk | ui::MbIconStop);
      return;

    case IdModemDetect & 0xFF:
      if (!hasByte) return;
      ModemDetectResult = first;
      OnModemDetect();
      return;

    case IdDiagPortState & 0xFF:
      if (first == 0) {
        DiagModeState = 1;
        // A code the link layer refuses to send would leave the window
        // waiting for an answer that never comes.
        if (!Link.Dll_TurnDiagnosticOnOffReq(1, DmPassword.c_str(), "")) SetStatus(kRefusedAccessCode);
      } else if (first == 1) {
        DiagModeState = 2;
        if (DeviceState != StateNoDevice && Link.Dll_GetDiagportReq() != -1) FoundDevice(true);
      }
      return;

    case IdDiagPortSwitch & 0xFF:
      if (!hasByte) return;
      switch (first) {
        case 0:
          SetStatus("Failed!");
          DriverSleep(kStatusShownMs);
          break;
        case 1:
          Link.Dll_SetRFFuncReq(7);
          if (DriverSleep(kResetStepMs)) {
            Link.Dll_SetRFFuncReq(6);
            DriverSleep(kResetStepMs);
          }
          break;
        case 2:
          SetStatus("Incorrect password!");
          DriverSleep(kStatusShownMs);
          break;
        default: break;
      }
      if (DeviceState == StateClosing || closingWait_) EndWaitingClose("the device's answer");
      return;

    case IdFtmState & 0xFF:
    case IdTestModeState & 0xFF: {
      if (!hasByte) return;
      const bool factory = id == (IdFtmState & 0xFF);
      auto setMode = factory ? Link.Dll_SetFactoryModeReq : Link.Dll_SetFactoryModeReq2;
      if (first == 0) {
        setMode(1);
        SetStatus("Switch to download mode...");
        if (!DriverSleep(kBeforeDisconnectMs)) return;
        Link.Dll_Disconnect(0);
      } else if (first == 1) {
        setMode(0);
        if (!DriverSleep(kModeOffSettleMs)) return;
        FoundDevice(true);
      }
      return;
    }

    case IdPortScanResult & 0xFF:
      if (!hasByte) return;
      LastScanFound = first;
      if (first == kFoundDiagPort) {
        FoundDevice(false);
      } else if (first == kFoundAtPort || first == kFoundBoth) {
        if (!DriverSleep(kBeforeConnectMs)) return;
        const bool connected = Link.Dll_Connect(0, 0, DriverEvent().NotifyHandle());
        if (connected) {
          Link.Dll_VersionReq();
          DeviceState = StateVersionAsked;
        } else {
          ui::MessageBox(Handle(), "Failed to connect device!", ui::MbOk | ui::MbIconStop);
        }
      } else if (first == 0) {
        DeviceLeft();
        VersionClass = 0;
        DeviceState = StateNoDevice;
        EnableActionButtons(false);
        SetStatus("Searching Device...");
        Link.Dll_Disconnect(0);
      }
      return;

    default: return;
  }
}

void CTamriDlg::OnTimer(uintptr_t id) {
  if (id == TIMER_SEARCH_PORT) {
    Link.Dll_SearchPort();
    DeviceState = StateSearchingPorts;
    KillTimer(TIMER_SEARCH_PORT);
  } else if (id == TIMER_CLOSE_WAIT) {
    KillTimer(TIMER_CLOSE_WAIT);
    if (DeviceState == StateClosing || closingWait_) EndWaitingClose("the time limit");
  }
  ui::Dialog::OnTimer(id);
}
