#include "memmap/find_text.h"

#include <string>

#include "analysis/hex_fields.h"

namespace varnok {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

FindPattern Refused(std::string reason) {
  FindPattern pattern;
  pattern.error = std::move(reason);
  return pattern;
}

}  // namespace

FindPattern ParseFindText(std::string_view text) {
  std::size_t lead = 0;  // blanks cut from the front, so that a refused character is counted as the user sees it
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
    ++lead;
  }
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return Refused("Enter hex bytes such as DE AD BE EF, or text in double quotes.");

  FindPattern pattern;
  if (text.front() == '"') {
    if (text.size() < 2 || text.back() != '"') return Refused("The closing double quote is missing.");
    if (text.size() == 2) return Refused("There is no text between the double quotes.");
    pattern.bytes.assign(text.begin() + 1, text.end() - 1);
    return pattern;
  }

  std::size_t group = 0;  // digits in the current group
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || IsBlank(text[i])) {
      if (group % 2 != 0) return Refused("Odd number of hex digits: every byte takes two.");
      group = 0;
      continue;
    }
    const int digit = HexDigitValue(text[i]);
    if (digit < 0) {
      return Refused("Character " + std::to_string(lead + i + 1) +
                     " is not a hex digit: use hex bytes such as DE AD BE EF, or text in double quotes.");
    }
    if (group % 2 == 0) {
      pattern.bytes.push_back(static_cast<std::uint8_t>(digit << 4));
    } else {
      pattern.bytes.back() = static_cast<std::uint8_t>(pattern.bytes.back() | digit);
    }
    ++group;
  }
  return pattern;
}

}  // namespace varnok
