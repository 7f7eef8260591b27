// Backend-internal: the serial-port map's file in the device root, as its
// reader (serial_map_posix.cpp) and its writer in the test kit
// (testkit/posix/serial_map_writer_posix.cpp) both see it: one value a line,
// "name TAB data LF", in enumeration order.
#pragma once

#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace plat::posix_map {

inline constexpr char kMapName[] = "SERIALCOMM";

using Values = std::vector<std::pair<std::string, std::string>>;

inline std::string InRoot(const std::string& root, const char* name) { return root + "/" + name; }

// Makes the folder and its parents when missing; true when it is there.
bool EnsureFolder(const std::string& root);

// An owned descriptor.
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

ReadResult ReadMap(const std::string& path, Values& values);

}  // namespace plat::posix_map
