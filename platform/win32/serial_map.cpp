#include "plat/serial_map.h"

#include <windows.h>
#include <process.h>

#include <memory>
#include <vector>

#include "serial_map_key.h"

namespace plat {

using win32_map::Key;
using win32_map::kMapKey;
using win32_map::kParentKey;

bool SerialMap::Exists() {
  Key key;
  return key.Open(kMapKey, KEY_READ);
}

EnumStatus SerialMap::EnumValue(uint32_t index, char* name, uint32_t nameSize, char* data, uint32_t dataSize) {
  Key key;
  if (!key.Open(kMapKey, KEY_QUERY_VALUE)) return EnumStatus::Failed;
  DWORD nameLength = nameSize;
  DWORD dataLength = dataSize;
  const LONG r = RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                               &dataLength);
  switch (r) {
    case ERROR_SUCCESS: return EnumStatus::Ok;
    case ERROR_NO_MORE_ITEMS: return EnumStatus::NoMoreItems;
    case ERROR_MORE_DATA: return EnumStatus::MoreData;
    default: return EnumStatus::Failed;
  }
}

namespace {

// A registry change notification belongs to the thread that asks for it (it
// ends with that thread), so each arming gets a small thread that asks,
// waits for the change or the watch's close, and passes a change on to the
// caller's event. The caller's event must outlive the arming or the watch.
struct Arming {
  HKEY key = nullptr;
  HANDLE closeEvent = nullptr;  // the watch's
  HANDLE registered = nullptr;  // set once the notification is asked for
  HANDLE change = nullptr;
  Event* target = nullptr;
  LONG armed = ERROR_SUCCESS;
  HANDLE thread = nullptr;

  ~Arming() {
    if (thread) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
    if (registered) CloseHandle(registered);
    if (change) CloseHandle(change);
  }
  bool Finished() const { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }
};

unsigned __stdcall ArmingMain(void* argument) {
  auto& a = *static_cast<Arming*>(argument);
  a.armed = RegNotifyChangeKeyValue(a.key, TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, a.change, TRUE);
  SetEvent(a.registered);
  if (a.armed == ERROR_SUCCESS) {
    HANDLE waits[] = {a.change, a.closeEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) a.target->Set();
  }
  return 0;
}

}  // namespace

struct SerialMapWatch::Impl {
  Key key;
  bool parent = false;
  HANDLE closeEvent = nullptr;  // manual-reset: ends every arming
  std::vector<std::unique_ptr<Arming>> armings;

  ~Impl() {
    if (closeEvent) SetEvent(closeEvent);
    armings.clear();  // joins
    if (closeEvent) CloseHandle(closeEvent);
  }
};

SerialMapWatch::SerialMapWatch() = default;
SerialMapWatch::~SerialMapWatch() { Close(); }

bool SerialMapWatch::Open() {
  Close();
  auto impl = std::make_unique<Impl>();
  impl->closeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!impl->closeEvent) return false;
  if (!impl->key.Open(kMapKey, KEY_NOTIFY | KEY_READ)) {
    if (!impl->key.Open(kParentKey, KEY_NOTIFY | KEY_READ)) return false;
    impl->parent = true;
  }
  impl_ = std::move(impl);
  return true;
}

bool SerialMapWatch::WatchingParent() const { return impl_ && impl_->parent; }

bool SerialMapWatch::Arm(Event& changed) {
  if (!impl_ || !changed.IsValid()) return false;
  std::erase_if(impl_->armings, [](const std::unique_ptr<Arming>& a) { return a->Finished(); });
  auto arming = std::make_unique<Arming>();
  arming->key = impl_->key.get();
  arming->closeEvent = impl_->closeEvent;
  arming->target = &changed;
  arming->registered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  arming->change = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!arming->registered || !arming->change) return false;
  arming->thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ArmingMain, arming.get(), 0, nullptr));
  if (!arming->thread) return false;
  WaitForSingleObject(arming->registered, INFINITE);
  if (arming->armed != ERROR_SUCCESS) return false;
  impl_->armings.push_back(std::move(arming));
  return true;
}

void SerialMapWatch::Close() { impl_.reset(); }

}  // namespace plat
