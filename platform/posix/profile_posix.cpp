// Profile files read and edited as text. Only the line of the written key
// (or the lines added for a new key or section) change; every other byte of
// the file stays as it was.
#include "plat/profile.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace plat {
namespace {

struct Line {
  size_t begin;  // first character
  size_t end;    // end of the content: before the LF, or before the CR of a CR LF
  size_t next;   // start of the following line
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    const size_t lf = text.find('\n', begin);
    const size_t stop = lf == std::string_view::npos ? text.size() : lf;
    const size_t end = (stop > begin && text[stop - 1] == '\r' && lf != std::string_view::npos) ? stop - 1 : stop;
    const size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
    lines.push_back({begin, end, next});
    begin = next;
  }
  return lines;
}

std::string_view Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// The name of a "[section]" line.
std::optional<std::string_view> SectionName(std::string_view content) {
  const std::string_view text = Trim(content);
  if (text.empty() || text.front() != '[') return std::nullopt;
  const size_t close = text.find(']');
  return Trim(text.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
}

// A section's lines: from its header up to the next header.
struct SectionSpan {
  size_t header;  // index of the header line
  size_t end;     // index after its last line
};

std::optional<SectionSpan> FindSection(std::string_view text, const std::vector<Line>& lines,
                                       std::string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto name = SectionName(text.substr(lines[i].begin, lines[i].end - lines[i].begin));
    if (!name || !SameName(*name, section)) continue;
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(text.substr(lines[end].begin, lines[end].end - lines[end].begin))) {
      ++end;
    }
    return SectionSpan{i, end};
  }
  return std::nullopt;
}

// The position of the value (just after the "=") of `key` in the section.
std::optional<Line> FindValue(std::string_view text, const std::vector<Line>& lines, const SectionSpan& span,
                              std::string_view key) {
  const std::string_view wanted = Trim(key);
  for (size_t i = span.header + 1; i < span.end; ++i) {
    const std::string_view content = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos || !SameName(Trim(content.substr(0, equals)), wanted)) continue;
    return Line{lines[i].begin + equals + 1, lines[i].end, lines[i].next};
  }
  return std::nullopt;
}

enum class FileRead { Ok, Missing, Failed };

FileRead ReadFile(const std::string& path, std::string& text) {
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
  char buffer[4096];
  FileRead result = FileRead::Ok;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = FileRead::Failed;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return result;
}

// Replaces the file by a finished copy, so that a reader never sees half of it.
bool ReplaceFile(const std::string& path, const std::string& text) {
  std::error_code error;
  const std::filesystem::path target(path);
  if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), error);
  if (error) return false;
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) ok = false;
    else done += static_cast<size_t>(put);
  }
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return ".";
}

}  // namespace

std::string ProfilePath(const std::string& fileName) {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return std::string(config) + "/" + fileName;
  }
  return HomeFolder() + "/.config/" + fileName;
}

std::string GetProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
  std::string text;
  if (ReadFile(ProfilePath(fileName), text) != FileRead::Ok) return defaultValue;
  const std::vector<Line> lines = SplitLines(text);
  const auto span = FindSection(text, lines, section);
  if (!span) return defaultValue;
  const auto value = FindValue(text, lines, *span, key);
  if (!value) return defaultValue;
  return text.substr(value->begin, value->end - value->begin);
}

bool WriteProfileString(const std::string& fileName, const std::string& section, const std::string& key,
                        const std::string& value) {
  // Whatever would break the line structure, or could not be read back as
  // this section and key, is refused.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || section.find(']') != std::string::npos ||
      key.find('=') != std::string::npos || Trim(key).empty() || Trim(key).front() == '[') {
    return false;
  }
  const std::string path = ProfilePath(fileName);
  std::string text;
  if (ReadFile(path, text) == FileRead::Failed) return false;

  const size_t firstLf = text.find('\n');
  const std::string newline = (firstLf != std::string::npos && firstLf > 0 && text[firstLf - 1] == '\r') ? "\r\n" : "\n";
  const std::vector<Line> lines = SplitLines(text);
  const auto span = FindSection(text, lines, section);
  if (!span) {
    if (!text.empty() && text.back() != '\n') text += newline;
    text += "[" + section + "]" + newline + key + "=" + value + newline;
    return ReplaceFile(path, text);
  }
  if (const auto found = FindValue(text, lines, *span, key)) {
    text.replace(found->begin, found->end - found->begin, value);
    return ReplaceFile(path, text);
  }
  // A new key goes after the section's last line that is not blank.
  size_t last = span->header;
  for (size_t i = span->header + 1; i < span->end; ++i) {
    if (!Trim(std::string_view(text).substr(lines[i].begin, lines[i].end - lines[i].begin)).empty()) last = i;
  }
  const Line& after = lines[last];
  const bool terminated = after.next > after.end;
  std::string insert = key + "=" + value + newline;
  if (!terminated) insert = newline + insert;
  text.insert(after.next, insert);
  return ReplaceFile(path, text);
}

}  // namespace plat
