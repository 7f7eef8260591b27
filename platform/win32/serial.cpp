#include "plat/serial.h"

// Our headers first: the platform's defines the same constant names as macros.
#include "common/test_seams.h"
#include "plat/clock.h"
#include "plat/com_name.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace plat {
namespace {

enum class Kind { Read, Write, Wait };
constexpr int kKinds = 3;

Dcb FromRaw(const DCB& raw) {
  Dcb d;
  d.BaudRate = raw.BaudRate;
  d.fBinary = raw.fBinary;
  d.fParity = raw.fParity;
  d.fOutxCtsFlow = raw.fOutxCtsFlow;
  d.fOutxDsrFlow = raw.fOutxDsrFlow;
  d.fDtrControl = raw.fDtrControl;
  d.fDsrSensitivity = raw.fDsrSensitivity;
  d.fTXContinueOnXoff = raw.fTXContinueOnXoff;
  d.fOutX = raw.fOutX;
  d.fInX = raw.fInX;
  d.fErrorChar = raw.fErrorChar;
  d.fNull = raw.fNull;
  d.fRtsControl = raw.fRtsControl;
  d.fAbortOnError = raw.fAbortOnError;
  d.XonLim = raw.XonLim;
  d.XoffLim = raw.XoffLim;
  d.ByteSize = raw.ByteSize;
  d.Parity = raw.Parity;
  d.StopBits = raw.StopBits;
  d.XonChar = raw.XonChar;
  d.XoffChar = raw.XoffChar;
  d.ErrorChar = raw.ErrorChar;
  d.EofChar = raw.EofChar;
  d.EvtChar = raw.EvtChar;
  return d;
}

void ToRaw(const Dcb& d, DCB& raw) {
  raw.BaudRate = d.BaudRate;
  raw.fBinary = d.fBinary;
  raw.fParity = d.fParity;
  raw.fOutxCtsFlow = d.fOutxCtsFlow;
  raw.fOutxDsrFlow = d.fOutxDsrFlow;
  raw.fDtrControl = d.fDtrControl;
  raw.fDsrSensitivity = d.fDsrSensitivity;
  raw.fTXContinueOnXoff = d.fTXContinueOnXoff;
  raw.fOutX = d.fOutX;
  raw.fInX = d.fInX;
  raw.fErrorChar = d.fErrorChar;
  raw.fNull = d.fNull;
  raw.fRtsControl = d.fRtsControl;
  raw.fAbortOnError = d.fAbortOnError;
  raw.XonLim = d.XonLim;
  raw.XoffLim = d.XoffLim;
  raw.ByteSize = d.ByteSize;
  raw.Parity = d.Parity;
  raw.StopBits = d.StopBits;
  raw.XonChar = d.XonChar;
  raw.XoffChar = d.XoffChar;
  raw.ErrorChar = d.ErrorChar;
  raw.EofChar = d.EofChar;
  raw.EvtChar = d.EvtChar;
}

OpenError OpenErrorOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return OpenError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenError::Busy;
    default:
      return OpenError::Failed;
  }
}

// A time-out that ends a read or write with fewer bytes is a success on
// Windows; wine reports it as ERROR_TIMEOUT, which means the same here.
bool EndedByTimeout(bool ok) { return !ok && GetLastError() == ERROR_TIMEOUT; }

// A line the device does not have (a pseudo-terminal has no modem lines).
bool LineMissing() { return GetLastError() == ERROR_NOT_SUPPORTED; }

}  // namespace

struct SerialPort::Impl {
  enum class State { Open, Closing, Closed };

  unsigned number = 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE closeEvent = nullptr;  // manual-reset: wakes every wait when the port closes

  std::mutex mutex;
  std::condition_variable changed;
  State state = State::Open;
  int inFlight = 0;
  std::optional<Dcb> lastDcb;  // what was set: the driver may not apply every rate
  std::optional<CommTimeouts> timeouts;
  uint32_t mask = 0;
  // Overlapped operations in progress, so that purges and Close can end them.
  struct Pending {
    OVERLAPPED* overlapped;
    Kind kind;
  };
  std::vector<Pending> pending;
  unsigned aborts[kKinds] = {};  // per kind: how many aborts so far
  // Per kind: an event of a finished operation kept for the next one, which
  // saves creating and closing one for every read and write (each a round
  // trip to the server under wine). An operation starting resets its event.
  HANDLE spareEvents[kKinds] = {};

  HANDLE TakeEvent(Kind kind) {
    {
      std::lock_guard lock(mutex);
      if (HANDLE spare = std::exchange(spareEvents[static_cast<int>(kind)], nullptr)) return spare;
    }
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  void GiveBackEvent(Kind kind, HANDLE event) {
    {
      std::lock_guard lock(mutex);
      HANDLE& spare = spareEvents[static_cast<int>(kind)];
      if (state == State::Open && spare == nullptr) {
        spare = event;
        return;
      }
    }
    CloseHandle(event);
  }

  // ReadIntervalTimeout MAXDWORD with both totals 0: a read takes what is
  // there and returns at once.
  bool ReturnsAtOnce() {
    std::lock_guard lock(mutex);
    return timeouts && timeouts->ReadIntervalTimeout == MAXDWORD && timeouts->ReadTotalTimeoutMultiplier == 0 &&
           timeouts->ReadTotalTimeoutConstant == 0;
  }

  // MAXDWORD interval and multiplier with a constant: what is there at once,
  // else the first bytes to arrive within the constant. Not every driver
  // keeps that rule (wine waits for the full count), so the driver is given
  // the constant alone and Read keeps the rule itself.
  static bool FirstBytes(const CommTimeouts& t) {
    return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
           t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  }
  bool ReadsFirstBytes() {
    std::lock_guard lock(mutex);
    return timeouts && FirstBytes(*timeouts);
  }

  Impl(unsigned n, HANDLE h, HANDLE e) : number(n), handle(h), closeEvent(e) {}
  ~Impl() { Close(); }

  void Close() {
    std::unique_lock lock(mutex);
    if (state != State::Open) {
      changed.wait(lock, [&] { return state == State::Closed; });
      return;
    }
    state = State::Closing;
    SetEvent(closeEvent);
    for (const Pending& p : pending) Cancel(p);
    changed.wait(lock, [&] { return inFlight == 0; });
    ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    CloseHandle(handle);
    CloseHandle(closeEvent);
    for (HANDLE& spare : spareEvents) {
      if (spare) CloseHandle(spare);
      spare = nullptr;
    }
    handle = INVALID_HANDLE_VALUE;
    closeEvent = nullptr;
    state = State::Closed;
    changed.notify_all();
  }

  // Ends one pending operation. An event wait ends when the mask is set
  // again (wine can neither cancel nor purge one); the rest are cancelled.
  void Cancel(const Pending& p) {
    if (p.kind == Kind::Wait)
      ::SetCommMask(handle, mask);
    else
      CancelIoEx(handle, p.overlapped);
  }

  // Ends the pending operations of `kind`, and any that is just starting.
  void Abort(Kind kind) {
    std::lock_guard lock(mutex);
    ++aborts[static_cast<int>(kind)];
    for (const Pending& p : pending)
      if (p.kind == kind) Cancel(p);
  }

  // Runs one overlapped operation (`start` issues it) to its end, which
  // comes early on an abort of its kind or on Close. The platform's last
  // error tells why it failed.
  template <typename Start>
  bool Overlapped(Kind kind, Start start, DWORD* transferred) {
    *transferred = 0;
    OVERLAPPED overlapped{};
    overlapped.hEvent = TakeEvent(kind);
    if (!overlapped.hEvent) return false;
    unsigned abortsBefore;
    {
      std::lock_guard lock(mutex);
      // Checked with the abort count under one lock: a mask emptied between
      // a separate check and the count would leave a wait that nothing ends.
      if (kind == Kind::Wait && mask == 0) {
        HANDLE& spare = spareEvents[static_cast<int>(kind)];
        if (spare == nullptr)
          spare = overlapped.hEvent;
        else
          CloseHandle(overlapped.hEvent);
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
      }
      pending.push_back({&overlapped, kind});
      abortsBefore = aborts[static_cast<int>(kind)];
    }
    BOOL ok = start(&overlapped);
    DWORD error = ok ? 0 : GetLastError();
    if (ok || error == ERROR_IO_PENDING) {
      if (!ok) {
        const Pending self{&overlapped, kind};
        {
          std::lock_guard lock(mutex);
          if (aborts[static_cast<int>(kind)] != abortsBefore) Cancel(self);
        }
        HANDLE waits[] = {overlapped.hEvent, closeEvent};
        if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
          std::lock_guard lock(mutex);
          Cancel(self);
        }
      }
      ok = GetOverlappedResult(handle, &overlapped, transferred, TRUE);
      error = ok ? 0 : GetLastError();
    }
    {
      std::lock_guard lock(mutex);
      pending.erase(std::find_if(pending.begin(), pending.end(),
                                 [&](const Pending& p) { return p.overlapped == &overlapped; }));
    }
    GiveBackEvent(kind, overlapped.hEvent);
    SetLastError(error);
    return ok;
  }
};

namespace {

// Holds the port open for the length of one call: Close waits until every
// call has left before it releases the device.
class Call {
 public:
  explicit Call(SerialPort::Impl& port) : port_(port) {
    std::lock_guard lock(port_.mutex);
    entered_ = port_.state == SerialPort::Impl::State::Open;
    if (entered_) ++port_.inFlight;
  }
  ~Call() {
    if (!entered_) return;
    std::lock_guard lock(port_.mutex);
    if (--port_.inFlight == 0) port_.changed.notify_all();
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  explicit operator bool() const { return entered_; }

 private:
  SerialPort::Impl& port_;
  bool entered_ = false;
};

}  // namespace

std::shared_ptr<SerialPort> SerialPort::Open(unsigned number, OpenError* error) {
  auto fail = [&](OpenError reason) -> std::shared_ptr<SerialPort> {
    if (error) *error = reason;
    return nullptr;
  };
  if (detail::SerialCallFails(detail::SerialCall::Open)) return fail(OpenError::Failed);
  if (number == 0) return fail(OpenError::NotFound);
  const std::string name = "\\\\.\\COM" + std::to_string(number);
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return fail(OpenErrorOf(GetLastError()));
  HANDLE closeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!closeEvent) {
    CloseHandle(handle);
    return fail(OpenError::Failed);
  }
  if (error) *error = OpenError::None;
  return std::make_shared<SerialPort>(std::make_unique<Impl>(number, handle, closeEvent));
}

std::shared_ptr<SerialPort> SerialPort::OpenByName(const std::string& name, OpenError* error) {
  const unsigned number = ComNameNumber(name);
  if (number == 0) {
    if (error) *error = OpenError::NotFound;
    return nullptr;
  }
  return Open(number, error);
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
SerialPort::~SerialPort() = default;

unsigned SerialPort::Number() const { return impl_->number; }

bool SerialPort::IsOpen() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->state == Impl::State::Open;
}

void SerialPort::Close() { impl_->Close(); }

bool SerialPort::GetCommState(Dcb& dcb) {
  Call call(*impl_);
  if (!call || detail::SerialCallFails(detail::SerialCall::GetCommState)) return false;
  DCB raw{};
  raw.DCBlength = sizeof raw;
  if (!::GetCommState(impl_->handle, &raw)) return false;
  std::lock_guard lock(impl_->mutex);
  dcb = impl_->lastDcb ? *impl_->lastDcb : FromRaw(raw);
  return true;
}

bool SerialPort::SetCommState(const Dcb& dcb) {
  Call call(*impl_);
  if (!call || detail::SerialCallFails(detail::SerialCall::SetCommState)) return false;
  DCB raw{};
  raw.DCBlength = sizeof raw;
  if (!::GetCommState(impl_->handle, &raw)) return false;
  ToRaw(dcb, raw);
  if (!::SetCommState(impl_->handle, &raw)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->lastDcb = dcb;
  return true;
}

bool SerialPort::GetCommTimeouts(CommTimeouts& timeouts) {
  Call call(*impl_);
  if (!call) return false;
  {
    std::lock_guard lock(impl_->mutex);
    if (impl_->timeouts) {
      timeouts = *impl_->timeouts;
      return true;
    }
  }
  COMMTIMEOUTS raw{};
  if (!::GetCommTimeouts(impl_->handle, &raw)) return false;
  timeouts = {raw.ReadIntervalTimeout, raw.ReadTotalTimeoutMultiplier, raw.ReadTotalTimeoutConstant,
              raw.WriteTotalTimeoutMultiplier, raw.WriteTotalTimeoutConstant};
  return true;
}

bool SerialPort::SetCommTimeouts(const CommTimeouts& timeouts) {
  Call call(*impl_);
  if (!call) return false;
  // The driver counts real time; RealMs keeps 0 and MAXDWORD, which carry
  // meaning of their own.
  COMMTIMEOUTS raw{RealMs(timeouts.ReadIntervalTimeout), RealMs(timeouts.ReadTotalTimeoutMultiplier),
                   RealMs(timeouts.ReadTotalTimeoutConstant), RealMs(timeouts.WriteTotalTimeoutMultiplier),
                   RealMs(timeouts.WriteTotalTimeoutConstant)};
  if (Impl::FirstBytes(timeouts)) {
    raw.ReadIntervalTimeout = 0;
    raw.ReadTotalTimeoutMultiplier = 0;
  }
  if (!::SetCommTimeouts(impl_->handle, &raw)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->timeouts = timeouts;
  return true;
}

bool SerialPort::SetupComm(uint32_t inQueue, uint32_t outQueue) {
  Call call(*impl_);
  return call && ::SetupComm(impl_->handle, inQueue, outQueue);
}

bool SerialPort::SetCommMask(uint32_t mask) {
  Call call(*impl_);
  // Setting the mask ends a pending wait (with no event, which WaitCommEvent
  // reports as a failure).
  std::lock_guard lock(impl_->mutex);
  ++impl_->aborts[static_cast<int>(Kind::Wait)];
  if (!::SetCommMask(impl_->handle, mask)) return false;
  impl_->mask = mask;
  return true;
}

bool SerialPort::WaitCommEvent(uint32_t* events) {
  if (events) *events = 0;
  Call call(*impl_);
  if (!call) return false;
  DWORD occurred = 0;
  DWORD unused = 0;
  const bool ok = impl_->Overlapped(
      Kind::Wait, [&](OVERLAPPED* o) { return ::WaitCommEvent(impl_->handle, &occurred, o); }, &unused);
  if (events) *events = occurred;
  return ok && occurred != 0;
}

bool SerialPort::Read(void* buffer, uint32_t count, uint32_t* got) {
  if (got) *got = 0;
  Call call(*impl_);
  if (!call) return false;
  if (impl_->ReturnsAtOnce()) {
    // Asks for no more than is waiting: not every driver returns at once
    // from an overlapped read that finds nothing (wine does not).
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(impl_->handle, &errors, &status)) return false;
    count = std::min<uint32_t>(count, status.cbInQue);
    if (count == 0) return true;
  }
  auto read = [&](void* into, uint32_t size, DWORD* n) {
    const bool ok = impl_->Overlapped(
        Kind::Read, [&](OVERLAPPED* o) { return ReadFile(impl_->handle, into, size, nullptr, o); }, n);
    return ok || EndedByTimeout(ok);
  };
  if (count == 0 || !impl_->ReadsFirstBytes()) {
    DWORD n = 0;
    const bool ok = read(buffer, count, &n);
    if (got) *got = n;
    return ok;
  }
  // First bytes: one byte, there at once or the first to arrive within the
  // driver's total time-out, then whatever came with it. The first read
  // needs no look at the queue before it: it finds a waiting byte at once.
  auto* bytes = static_cast<uint8_t*>(buffer);
  DWORD first = 0;
  const bool ok = read(bytes, 1, &first);
  if (got) *got = first;
  if (!ok || first == 0 || count == 1) return ok;
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(impl_->handle, &errors, &status)) return true;
  const uint32_t more = std::min<uint32_t>(count - first, status.cbInQue);
  DWORD n = 0;
  if (more > 0) read(bytes + first, more, &n);  // the first byte is delivered either way
  if (got) *got = first + n;
  return true;
}

bool SerialPort::Write(const void* data, uint32_t count, uint32_t* written) {
  if (written) *written = 0;
  Call call(*impl_);
  if (!call) return false;
  DWORD n = 0;
  bool ok = impl_->Overlapped(
      Kind::Write, [&](OVERLAPPED* o) { return WriteFile(impl_->handle, data, count, nullptr, o); }, &n);
  ok = ok || EndedByTimeout(ok);
  if (written) *written = n;
  return ok;
}

bool SerialPort::PurgeComm(uint32_t flags) {
  Call call(*impl_);
  if (!call) return false;
  const bool ok = ::PurgeComm(impl_->handle, flags);
  // Not every driver ends pending operations on an abort purge; end them here.
  if (flags & PURGE_RXABORT) {
    impl_->Abort(Kind::Read);
    impl_->Abort(Kind::Wait);
  }
  if (flags & PURGE_TXABORT) impl_->Abort(Kind::Write);
  return ok;
}

bool SerialPort::ClearCommError(uint32_t* errors, uint32_t* inQueue) {
  Call call(*impl_);
  if (!call) return false;
  DWORD raw = 0;
  COMSTAT status{};
  if (!::ClearCommError(impl_->handle, &raw, &status)) return false;
  if (errors) *errors = raw;
  if (inQueue) *inQueue = status.cbInQue;
  return true;
}

bool SerialPort::EscapeCommFunction(uint32_t function) {
  switch (function) {
    case SETXOFF: case SETXON: case SETRTS: case CLRRTS: case SETDTR: case CLRDTR: case SETBREAK: case CLRBREAK:
      break;
    default:
      return false;
  }
  Call call(*impl_);
  return call && (::EscapeCommFunction(impl_->handle, function) || LineMissing());
}

bool SerialPort::SetCommBreak() {
  Call call(*impl_);
  return call && (::SetCommBreak(impl_->handle) || LineMissing());
}

bool SerialPort::ClearCommBreak() {
  Call call(*impl_);
  return call && (::ClearCommBreak(impl_->handle) || LineMissing());
}

}  // namespace plat
