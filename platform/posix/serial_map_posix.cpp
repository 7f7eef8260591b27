// The serial-port map as the file SERIALCOMM in the device root: one value a
// line, "name TAB data LF", in enumeration order. Readers see a whole file
// at every moment, because writers replace it by renaming a finished copy;
// writers in any process take an exclusive lock on .lock in the root first,
// so concurrent changes are applied one after the other and none is lost.
#include "plat/serial_map.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_internal.h"
#include "plat/device_root.h"

namespace plat {
namespace {

constexpr char kMapName[] = "SERIALCOMM";
constexpr char kLockName[] = ".lock";
constexpr char kTempName[] = "SERIALCOMM.tmp";

using Values = std::vector<std::pair<std::string, std::string>>;

std::string InRoot(const std::string& root, const char* name) { return root + "/" + name; }

// Names and data are stored as text lines split at a tab.
bool Storable(const std::string& text) { return text.find_first_of(std::string("\t\n\0", 3)) == std::string::npos; }

bool EnsureFolder(const std::string& root) {
  std::error_code error;
  std::filesystem::create_directories(root, error);
  return !error && std::filesystem::is_directory(root, error);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = other.release();
    }
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

enum class ReadResult { Ok, Missing, Failed };

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

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<size_t>(put);
  }
  return true;
}

bool ReplaceMap(const std::string& root, const Values& values) {
  std::string text;
  for (const auto& [name, data] : values) text += name + '\t' + data + '\n';
  const std::string temp = InRoot(root, kTempName);
  Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.ok()) return false;
  const bool written = WriteAll(fd.get(), text);
  const bool closed = ::close(fd.release()) == 0;
  if (!written || !closed || ::rename(temp.c_str(), InRoot(root, kMapName).c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

// Runs `change` under the writers' lock. It gets the current values and
// whether the map exists, and decides whether the map is written (Write),
// removed (Remove), left alone (Keep) or the call fails (Fail).
enum class Outcome { Write, Remove, Keep, Fail };
using Change = std::function<Outcome(Values&, bool exists)>;

bool ChangeMap(const Change& change) {
  const std::string root = DeviceRoot();
  if (root.empty() || !EnsureFolder(root)) return false;
  Fd lock(::open(InRoot(root, kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!lock.ok()) return false;
  int locked;
  do {
    locked = ::flock(lock.get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return false;

  const std::string path = InRoot(root, kMapName);
  Values values;
  const ReadResult read = ReadMap(path, values);
  if (read == ReadResult::Failed) return false;
  const bool exists = read == ReadResult::Ok;
  switch (change(values, exists)) {
    case Outcome::Write: return ReplaceMap(root, values);
    case Outcome::Remove: return ::unlink(path.c_str()) == 0;
    case Outcome::Keep: return true;
    case Outcome::Fail: return false;
  }
  return false;
}  // the lock ends with its descriptor

}  // namespace

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

bool SerialMap::Create() {
  return ChangeMap([](Values&, bool exists) { return exists ? Outcome::Keep : Outcome::Write; });
}

bool SerialMap::Remove() {
  return ChangeMap([](Values&, bool exists) { return exists ? Outcome::Remove : Outcome::Fail; });
}

bool SerialMap::AddValue(const std::string& name, const std::string& data) {
  if (!Storable(name) || !Storable(data)) return false;
  return ChangeMap([&](Values& values, bool) {
    for (auto& value : values) {
      if (value.first == name) {
        value.second = data;  // keeps its place in the order
        return Outcome::Write;
      }
    }
    values.emplace_back(name, data);
    return Outcome::Write;
  });
}

bool SerialMap::RemoveValue(const std::string& name) {
  return ChangeMap([&](Values& values, bool exists) {
    if (!exists) return Outcome::Fail;
    for (auto it = values.begin(); it != values.end(); ++it) {
      if (it->first == name) {
        values.erase(it);
        return Outcome::Write;
      }
    }
    return Outcome::Fail;
  });
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
  if (root.empty() || !EnsureFolder(root)) return false;

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
