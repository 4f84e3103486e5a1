#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

#include "settings/paths.h"
#include "text/descriptor.h"
#include "text/number_reader.h"
#include "text/small_file.h"

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

// A settings file larger than this reads as absent.
constexpr std::size_t kMaxFileSize = 1u << 20;

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

// Gives a file written through an O_TMPFILE descriptor the name temp. The /proc form needs no privilege;
// AT_EMPTY_PATH serves where /proc is not mounted.
bool NameAnonymousFile(int fd, const std::string& temp) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
  return ::linkat(fd, "", AT_FDCWD, temp.c_str(), AT_EMPTY_PATH) == 0;
}

// Replaces target by text, with the given mode, while the caller holds the lock on target. The new file is written
// in target's folder and renamed over it, so a failure at any step leaves the old file as it was. The temporary
// file stays nameless until its contents are complete (O_TMPFILE), and then takes one fixed name for the instant
// before the rename; where the file system has no O_TMPFILE it carries that name from the start. A kill at any
// point thus leaves at most that one name, which the next write removes first.
bool ReplaceLocked(const std::string& target, const std::string& text, mode_t mode) {
  const std::string temp = target + ".tmp";
  if (::unlink(temp.c_str()) != 0 && errno != ENOENT) return false;
  bool named = false;
  int raw = ::open(FolderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
  if (raw < 0) {
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (raw < 0) return false;
    named = true;
  }
  Descriptor fd(raw);
  bool ok = WriteAll(fd.get(), text) && ::fchmod(fd.get(), mode) == 0 && ::fsync(fd.get()) == 0;
  if (ok && !named) named = ok = NameAnonymousFile(fd.get(), temp);
  ok = fd.Close() && ok;
  if (ok) ok = ::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok && named) ::unlink(temp.c_str());
  return ok;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

enum class Step { Done, Failed, Again };

// One try of UpdateFile; Again when a concurrent update replaced or created the file meanwhile. created tells the
// file that this update made, once it has made one.
Step TryUpdate(const std::string& path, const std::function<void(std::string&)>& edit, std::optional<struct stat>& created) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0) {
    if (errno != ENOENT) return Step::Failed;
    // The new file starts empty and is then filled like an existing one, under its lock, so that a concurrent
    // first write waits for this one instead of replacing it.
    const Descriptor made(::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (made.get() < 0) return errno == EEXIST ? Step::Again : Step::Failed;
    struct stat info {};
    if (::fstat(made.get(), &info) == 0) created = info;
    return Step::Again;
  }
  std::string target = path;
  if (S_ISLNK(link.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return Step::Failed;
    target = resolved;
    std::free(resolved);
  }
  const Descriptor fd(::open(target.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return Step::Failed;
  struct stat locked {};
  if (::fstat(fd.get(), &locked) != 0 || !S_ISREG(locked.st_mode)) return Step::Failed;
  while (::flock(fd.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return Step::Failed;
  }
  // The file may have been replaced, or the link pointed elsewhere, while this waited for the lock.
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0 || !SameFile(now, locked)) return Step::Again;
  SmallFile read = ReadSmallFile(fd.get(), kMaxFileSize);
  if (read.status != SmallFileStatus::kOk) return Step::Failed;
  std::string& text = read.text;
  // Renaming over a file ignores its own write protection, so the protection is checked here.
  if (::access(target.c_str(), W_OK) != 0) return Step::Failed;
  edit(text);
  return ReplaceLocked(target, text, locked.st_mode & 07777) ? Step::Done : Step::Failed;
}

// Runs edit over the settings text at path and puts the result in the file's place, under an exclusive lock on the
// file, so that concurrent updates follow one another and each sees the other's result. Only a file that reads as
// settings is replaced: a regular file of at most kMaxFileSize bytes, or a symbolic link to one, which is followed
// so that the link stays. A missing file is created; anything else at the path is left as it is and fails.
bool UpdateFile(const std::string& path, const std::function<void(std::string&)>& edit) {
  std::optional<struct stat> created;
  // Each retry follows a replacement or a creation by a concurrent update; a bound keeps a pathological race finite.
  Step step = Step::Again;
  for (int attempt = 0; attempt < 1000 && step == Step::Again; ++attempt) step = TryUpdate(path, edit, created);
  if (step == Step::Done) return true;
  // A file this update created goes again when it could not be filled, unless somebody has written to it since.
  struct stat now {};
  if (created && ::lstat(path.c_str(), &now) == 0 && S_ISREG(now.st_mode) && SameFile(now, *created) &&
      now.st_size == 0) {
    ::unlink(path.c_str());
  }
  return false;
}

std::string_view LineBreakOf(const std::string& text) {
  const std::size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') return "\r\n";
  return "\n";
}

// Puts value (up to its first line break) as the key's value in the text: where the key stands, else as the last
// key of its section, else in a new section at the end.
void SetValue(std::string& text, std::string_view section, std::string_view key, std::string_view value) {
  // A line break in the value would end the key's line and start another one.
  value = value.substr(0, value.find_first_of("\r\n"));
  const std::string_view line_break = LineBreakOf(text);
  const Location location = Find(text, section, key);
  if (location.key_found) {
    text.replace(location.value_begin, location.value_end - location.value_begin, value);
    return;
  }
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

}  // namespace

EIniFileException::EIniFileException(const std::string& path)
    : std::runtime_error("In " + path + " kann nicht geschrieben werden") {}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  const SmallFile read = ReadSmallFile(path_, kMaxFileSize);
  if (read.status != SmallFileStatus::kOk) return std::string(fallback);
  const std::string& text = read.text;
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
  const IniEntry entry{section, key, value};
  WriteStrings({&entry, 1});
}

void TIniFile::WriteStrings(std::span<const IniEntry> entries) {
  if (!UpdateFile(path_, [entries](std::string& text) {
        for (const IniEntry& entry : entries) SetValue(text, entry.section, entry.key, entry.value);
      })) {
    throw EIniFileException(path_);
  }
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
  // Hex keeps the 32 bits of up to 8 significant digits, so that $FFFFFFFF reads as -1.
  NumberFormat format;
  if (hex) {
    format.base = 16;
    format.max = 0xFFFFFFFF;
    const std::optional<std::uint64_t> value = NumberValue(text.substr(pos), format);
    if (!value) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*value));
  }
  format.max = negative ? 2147483648u : 2147483647u;
  const std::optional<std::uint64_t> value = NumberValue(text.substr(pos), format);
  if (!value) return std::nullopt;
  if (negative) return static_cast<std::int32_t>(-static_cast<std::int64_t>(*value));
  return static_cast<std::int32_t>(*value);
}

}  // namespace varnok::settings
