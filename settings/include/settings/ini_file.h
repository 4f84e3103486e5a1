#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varnok::settings {

// Raised when a value cannot be written to the settings file; the message names the file's full path.
class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& path);
};

// One key's value to be stored.
struct IniEntry {
  std::string_view section;
  std::string_view key;
  std::string_view value;
};

// A private-profile (INI) file of 8-bit text: "[section]" lines and "key=value" lines below them.
// Section and key names match without regard to ASCII case; blanks around names and values are ignored;
// lines starting with ";" or "#" are comments. Construction only keeps the path; every read opens the
// file anew and every write replaces it as a whole, changing only the lines of its keys (or adding the missing
// sections or keys) and leaving every other line as it was. Only a regular file of at most 1 MiB is settings,
// at the path or at the end of a symbolic link there (the file is then replaced in its own folder and the link
// stays); anything else at the path reads as a missing file and is never written: a larger file, a FIFO, a device,
// a folder, a dangling or looping link. A write holds an exclusive lock (flock) on the file while it reads and
// replaces it, so concurrent writes follow one another; no temporary file outlives a write, except one fixed
// name ("<file>.tmp") after a kill in the instant before the replacement, which the next write removes.
class TIniFile {
 public:
  static constexpr std::size_t kMaxValueLength = 2047;

  explicit TIniFile(std::string path);

  const std::string& FileName() const { return path_; }

  // The key's value (at most its first 2047 characters), or `fallback` when the file, section or key
  // is missing. A key with an empty value gives the empty text.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;

  // The key's value read as a 32-bit integer (ParseIniInteger), or `fallback` when it is missing or
  // does not convert.
  std::int32_t ReadInteger(std::string_view section, std::string_view key, std::int32_t fallback) const;

  // Stores the value text (up to its first line break), creating the file, section or key when needed.
  // Throws EIniFileException when the file cannot be written; the file then keeps its old contents.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);

  // Stores every entry, in order, as WriteString would, in one replacement of the file: a reader sees all of them
  // or none.
  void WriteStrings(std::span<const IniEntry> entries);

  // Stores the value as signed decimal text through WriteString.
  void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);

 private:
  std::string path_;
};

// Converts a stored integer text: optional leading blanks; decimal digits up to 2147483647; "-" or "+"
// directly followed by decimal digits (down to -2147483648 with "-"); or "$", "x", "X", "0x" or "0X"
// followed by at most 8 significant hex digits, whose 32 bits are the result. Anything else is refused.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

}  // namespace varnok::settings
