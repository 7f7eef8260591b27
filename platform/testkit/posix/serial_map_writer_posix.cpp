// The serial-port map's writer on POSIX (posix/serial_map_file_posix.h):
// each change writes a finished copy and renames it over the map, so readers
// always see a whole file; writers in any process take an exclusive lock on
// .lock in the root first, so concurrent changes are applied one after the
// other and none is lost.
#include "testkit/serial_map_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

#include "plat/device_root.h"
#include "posix/serial_map_file_posix.h"

namespace plat {
namespace {

using namespace posix_map;  // the map's file

constexpr char kLockName[] = ".lock";
constexpr char kTempName[] = "SERIALCOMM.tmp";

// Names and data are stored as text lines split at a tab.
bool Storable(const std::string& text) { return text.find_first_of(std::string("\t\n\0", 3)) == std::string::npos; }

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
  if (root.empty() || !posix_map::EnsureFolder(root)) return false;
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

bool SerialMapWriter::Create() {
  return ChangeMap([](Values&, bool exists) { return exists ? Outcome::Keep : Outcome::Write; });
}

bool SerialMapWriter::Remove() {
  return ChangeMap([](Values&, bool exists) { return exists ? Outcome::Remove : Outcome::Fail; });
}

bool SerialMapWriter::AddValue(const std::string& name, const std::string& data) {
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

bool SerialMapWriter::RemoveValue(const std::string& name) {
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
}  // namespace plat
