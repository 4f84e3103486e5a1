#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// What a find text asks for: the bytes, or why the text was refused (a one-line reason; empty when accepted).
struct FindPattern {
  std::vector<std::uint8_t> bytes;
  std::string error;
};

// Reads a find text: hex byte pairs, in groups separated by blanks ("DE AD BE EF", "deadbeef", either case), or
// text in double quotes whose bytes are sought as they stand ("\"VERSION\""); blanks around either are ignored.
// An empty text, a group with an odd number of digits, any other character, a missing closing quote or empty
// quotes are refused.
FindPattern ParseFindText(std::string_view text);

}  // namespace varnok
