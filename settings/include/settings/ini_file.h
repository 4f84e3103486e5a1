#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace varnok::settings {

// Raised when a value cannot be written to the settings file; the message names the file's full path.
class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& path);
};

// A private-profile (INI) file of 8-bit text: "[section]" lines and "key=value" lines below them.
// Section and key names match without regard to ASCII case; blanks around names and values are ignored;
// lines starting with ";" or "#" are comments. Construction only keeps the path; every read opens the
// file anew and every write rewrites it, changing only the line of that key (or adding the missing
// section or key) and leaving every other line as it was. Only a regular file of at most 1 MiB is read; anything
// else at the path reads as a missing file: a larger file is replaced by the first write, a FIFO, a device or a
// folder is never written over.
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
