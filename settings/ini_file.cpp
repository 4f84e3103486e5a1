#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace varnok::settings {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// One line of the file: [begin, end) without its line break, which ends at `next`.
struct Line {
  std::size_t begin;
  std::size_t end;
  std::size_t next;
};

std::vector<Line> SplitLines(const std::string& text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back({pos, text.size(), text.size()});
      break;
    }
    std::size_t next = end + 1;
    if (text[end] == '\r' && next < text.size() && text[next] == '\n') ++next;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

// What a line holds, as the reader sees it.
struct ParsedLine {
  enum Kind { Other, Section, Key } kind = Other;
  std::string_view name;   // section or key name, trimmed
  std::size_t value_begin = 0;  // for keys: the value's trimmed range within the file text
  std::size_t value_end = 0;
};

ParsedLine Parse(const std::string& text, const Line& line) {
  ParsedLine parsed;
  std::string_view content(text.data() + line.begin, line.end - line.begin);
  std::string_view trimmed = Trim(content);
  if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return parsed;
  if (trimmed.front() == '[') {
    const std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos) return parsed;
    parsed.kind = ParsedLine::Section;
    parsed.name = Trim(trimmed.substr(1, close - 1));
    return parsed;
  }
  const std::size_t equals = content.find('=');
  if (equals == std::string_view::npos) return parsed;
  parsed.kind = ParsedLine::Key;
  parsed.name = Trim(content.substr(0, equals));
  std::size_t begin = line.begin + equals + 1;
  std::size_t end = line.end;
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  parsed.value_begin = begin;
  parsed.value_end = end;
  return parsed;
}

// Where a key stands in the file, or where it would be added.
struct Location {
  bool section_found = false;
  bool key_found = false;
  std::size_t value_begin = 0;  // key found: the value's range
  std::size_t value_end = 0;
  std::size_t insert_at = 0;  // section found, key missing: after the section's last non-empty line
};

// The first section of that name counts, and within it the first key of that name.
Location Find(const std::string& text, std::string_view section, std::string_view key) {
  Location location;
  bool inside = false;
  for (const Line& line : SplitLines(text)) {
    const ParsedLine parsed = Parse(text, line);
    if (parsed.kind == ParsedLine::Section) {
      if (inside) break;
      if (SameName(parsed.name, section)) {
        inside = true;
        location.section_found = true;
        location.insert_at = line.next;
      }
      continue;
    }
    if (!inside) continue;
    if (parsed.kind == ParsedLine::Key && SameName(parsed.name, key)) {
      location.key_found = true;
      location.value_begin = parsed.value_begin;
      location.value_end = parsed.value_end;
      return location;
    }
    if (!Trim(std::string_view(text.data() + line.begin, line.end - line.begin)).empty()) {
      location.insert_at = line.next;
    }
  }
  return location;
}

// TooLarge (a regular file over kMaxFileSize bytes) and NotRegular (a FIFO, a device, a folder) read as absent.
enum class ReadResult { Ok, Missing, TooLarge, NotRegular, Failed };

constexpr std::size_t kMaxFileSize = 1u << 20;

ReadResult ReadWholeFile(const std::string& path, std::string& text) {
  text.clear();
  // Without O_NONBLOCK, opening a FIFO that nobody writes would wait for ever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return ReadResult::Missing;
    // A folder opens for reading on some systems only; either way it is not a settings file.
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) ? ReadResult::NotRegular : ReadResult::Failed;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return ReadResult::NotRegular;
  }
  if (static_cast<std::uint64_t>(info.st_size) > kMaxFileSize) {
    ::close(fd);
    return ReadResult::TooLarge;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return ReadResult::Failed;
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    // The file may grow while it is read.
    if (text.size() > kMaxFileSize) {
      ::close(fd);
      text.clear();
      return ReadResult::TooLarge;
    }
  }
  ::close(fd);
  return ReadResult::Ok;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// A new file gets the mode that creating it directly would give.
mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The file is replaced as a whole: the new text goes to a temporary file in the same folder, which then
// takes the file's place, so a failure at any step leaves the old file untouched. A symbolic link is
// followed so that the link itself stays in place.
bool ReplaceFile(const std::string& path, const std::string& text, bool existed) {
  std::string target = path;
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  mode_t mode = CreationMode();
  if (existed) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    // Renaming over a file ignores its own write protection, so the protection is checked here.
    if (::access(target.c_str(), W_OK) != 0) return false;
    mode = info.st_mode & 07777;
  }
  std::string temp = target + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  bool ok = WriteAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

std::string_view LineBreakOf(const std::string& text) {
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') return "\r\n";
  return "\n";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

EIniFileException::EIniFileException(const std::string& path)
    : std::runtime_error("In " + path + " kann nicht geschrieben werden") {}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::string text;
  if (ReadWholeFile(path_, text) != ReadResult::Ok) return std::string(fallback);
  const Location location = Find(text, section, key);
  if (!location.key_found) return std::string(fallback);
  std::string value = text.substr(location.value_begin, location.value_end - location.value_begin);
  if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
  return value;
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const {
  return ParseIniInteger(ReadString(section, key, "")).value_or(fallback);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  // A line break in the value would end the key's line and start another one.
  value = value.substr(0, value.find_first_of("\r\n"));
  std::string text;
  const ReadResult read = ReadWholeFile(path_, text);
  // A file too large to be settings is replaced as if it were not there; what cannot be read is never replaced
  // (that would lose it), nor is a FIFO or a device written into.
  if (read == ReadResult::Failed || read == ReadResult::NotRegular) throw EIniFileException(path_);
  const std::string_view line_break = LineBreakOf(text);
  const Location location = Find(text, section, key);
  if (location.key_found) {
    text.replace(location.value_begin, location.value_end - location.value_begin, value);
  } else {
    std::string entry;
    entry.append(key).append("=").append(value).append(line_break);
    if (location.section_found) {
      std::size_t at = location.insert_at;
      // The section's last line may be the file's last line, without a line break of its own.
      if (at == text.size() && !text.empty() && text.back() != '\n' && text.back() != '\r') {
        text.append(line_break);
        at = text.size();
      }
      text.insert(at, entry);
    } else {
      if (!text.empty() && text.back() != '\n' && text.back() != '\r') text.append(line_break);
      text.append("[").append(section).append("]").append(line_break).append(entry);
    }
  }
  if (!ReplaceFile(path_, text, read == ReadResult::Ok || read == ReadResult::TooLarge)) throw EIniFileException(path_);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(1);
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos == text.size()) return std::nullopt;

  bool hex = false;
  bool negative = false;
  if (text[pos] == '-' || text[pos] == '+') {
    negative = text[pos] == '-';
    ++pos;
  } else if (text[pos] == '$' || text[pos] == 'x' || text[pos] == 'X') {
    hex = true;
    ++pos;
  } else if (text[pos] == '0' && pos + 1 < text.size() && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    hex = true;
    pos += 2;
  }
  if (pos == text.size()) return std::nullopt;

  if (hex) {
    std::uint32_t value = 0;
    int significant = 0;
    for (; pos < text.size(); ++pos) {
      const int digit = HexDigit(text[pos]);
      if (digit < 0) return std::nullopt;
      if (significant > 0 || digit != 0) ++significant;
      if (significant > 8) return std::nullopt;
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(value);
  }

  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  std::uint64_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (text[pos] < '0' || text[pos] > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(text[pos] - '0');
    if (value > limit) return std::nullopt;
  }
  if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(value));
  return static_cast<std::int32_t>(value);
}

}  // namespace varnok::settings
