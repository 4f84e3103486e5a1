#pragma once

#include <array>
#include <cstdint>

namespace varnok {

// The value of every byte read as a hex digit: 0-9 for "0"-"9", 10-15 for "a"-"f" and "A"-"F", -1 for any other.
inline constexpr std::array<std::int8_t, 256> kHexDigitValues = [] {
  std::array<std::int8_t, 256> table{};
  for (auto& value : table) value = -1;
  for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::int8_t>(c - 'A' + 10);
  return table;
}();

}  // namespace varnok
