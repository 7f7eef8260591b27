// The serial-port map as the file SERIALCOMM in the device root
// (serial_map_file_posix.h), read and watched here. Readers see a whole file
// at every moment, because writers (the test kit's SerialMapWriter, or a
// device's own script) replace it by renaming a finished copy.
#include "plat/serial_map.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_internal.h"
#include "plat/device_root.h"
#include "serial_map_file_posix.h"

namespace plat {
namespace posix_map {

bool EnsureFolder(const std::string& root) {
  std::error_code error;
  std::filesystem::create_directories(root, error);
  return !error && std::filesystem::is_directory(root, error);
}

ReadResult ReadMap(const std::string& path, Values& values) {
  values.clear();
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return errno == ENOENT ? ReadResult::Missing : ReadResult::Failed;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadResult::Failed;
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    const size_t tab = line.find('\t');
    if (tab != std::string_view::npos) {  // anything else is not a value
      values.emplace_back(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
    }
    start = end + 1;
  }
  return ReadResult::Ok;
}

}  // namespace posix_map

using namespace posix_map;  // the map's file

bool SerialMap::Exists() {
  struct stat info;
  return ::stat(InRoot(DeviceRoot(), kMapName).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

EnumStatus SerialMap::EnumValue(uint32_t index, char* name, uint32_t nameSize, char* data, uint32_t dataSize) {
  if (name == nullptr || data == nullptr) return EnumStatus::Failed;
  Values values;
  if (ReadMap(InRoot(DeviceRoot(), kMapName), values) != ReadResult::Ok) return EnumStatus::Failed;
  if (index >= values.size()) return EnumStatus::NoMoreItems;
  const auto& [valueName, valueData] = values[index];
  // Both sizes count the terminating NUL.
  if (valueName.size() >= nameSize || valueData.size() >= dataSize) return EnumStatus::MoreData;
  std::memcpy(name, valueName.c_str(), valueName.size() + 1);
  std::memcpy(data, valueData.c_str(), valueData.size() + 1);
  return EnumStatus::Ok;
}

// The watch: inotify on the device root, read by one thread per watch. The
// kernel queues an event before the changing call returns, so Arm drops
// whatever is queued at that moment (changes before the arming) and every
// change after Arm returns reaches the armed event.
struct SerialMapWatch::Impl {
  Fd inotify;
  Fd wakeRead;
  Fd wakeWrite;
  bool parent = false;
  std::thread watcher;

  std::mutex mutex;
  posix::EventRef armed;  // guarded by mutex
  bool gone = false;      // the root folder went away; guarded by mutex

  // Reads and handles what the kernel has queued; caller holds the mutex.
  void Drain(bool deliver) {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(inotify.get(), buffer, sizeof buffer);
      if (got <= 0) return;  // EAGAIN: nothing more queued
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) gone = true;
        if (deliver && Relevant(*event) && armed) {
          posix::SetRetained(armed);
          armed.reset();
        }
      }
    }
  }

  bool Relevant(const inotify_event& event) const {
    if (parent || (event.mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) return true;
    return event.len > 0 && std::strcmp(event.name, kMapName) == 0;
  }

  void Run() {
    pollfd fds[2] = {{inotify.get(), POLLIN, 0}, {wakeRead.get(), POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;  // Close
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
      std::lock_guard lock(mutex);
      Drain(true);
    }
  }
};

SerialMapWatch::SerialMapWatch() = default;

SerialMapWatch::~SerialMapWatch() { Close(); }

bool SerialMapWatch::Open() {
  Close();
  const std::string root = DeviceRoot();
  // The parent always exists on the platform; here it is made on demand so
  // that a watch started before any device can still see the map appear.
  if (root.empty() || !posix_map::EnsureFolder(root)) return false;

  auto impl = std::make_unique<Impl>();
  impl->inotify = Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!impl->inotify.ok()) return false;
  constexpr uint32_t kMask =
      IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;
  if (::inotify_add_watch(impl->inotify.get(), root.c_str(), kMask) < 0) return false;
  // Decided after the watch is in place, so a map created in between is
  // either seen here or reported as a change.
  impl->parent = !SerialMap::Exists();

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  impl->wakeRead = Fd(pipeFds[0]);
  impl->wakeWrite = Fd(pipeFds[1]);
  try {
    impl->watcher = std::thread([raw = impl.get()] { raw->Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  impl_ = std::move(impl);
  return true;
}

bool SerialMapWatch::WatchingParent() const { return impl_ && impl_->parent; }

bool SerialMapWatch::Arm(Event& changed) {
  if (!impl_) return false;
  posix::EventRef event = posix::RetainEvent(changed);
  if (!event) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->Drain(false);  // changes before this arming are not its concern
  if (impl_->gone) return false;
  impl_->armed = std::move(event);
  return true;
}

void SerialMapWatch::Close() {
  if (!impl_) return;
  const char wake = 1;
  while (::write(impl_->wakeWrite.get(), &wake, 1) < 0 && errno == EINTR) {
  }
  if (impl_->watcher.joinable()) impl_->watcher.join();
  impl_.reset();
}

}  // namespace plat
