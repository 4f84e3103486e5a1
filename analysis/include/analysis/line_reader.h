#pragma once

#include <cstddef>

#include "analysis/text_input.h"

namespace varnok {

// The longest line the analysis looks at, and the buffer that holds it with its terminating zero.
inline constexpr int kLineLimit = 1024;
// Room after the line: the analysis zeroes the characters from the line's end up to the end of the
// widest address field, so a short line reads as ending in characters of code 0 there.
inline constexpr int kLinePadding = 16;

struct LineBuffer {
  char text[kLineLimit + 1 + kLinePadding] = {};
};

// Reads one line into buffer: returns the number of characters stored (0 to limit) or -1 at the end
// of the input. A line feed or carriage return ends a line and is consumed; past `limit` characters
// the next one is read and dropped. A last line without a line feed is delivered like any other,
// and the call after it returns -1. With no character stored the buffer is left untouched.
int ReadLine(TextModeInput& stream, char* buffer, int limit);

// The last place in text[0, size) where ReadLine with limit kLineLimit starts a line, text itself starting one; 0
// when none follows: after every line feed, and every kLineLimit + 1 characters of a line without one.
std::size_t LastLineStart(const char* text, std::size_t size);

// ReadLine with limit kLineLimit that leaves the line where it stands in the input when it lies
// within one buffered block and has at least min_in_place characters; otherwise it is read into
// buffer. `line` points at the line's first character and stays valid until the next read.
int NextLine(TextModeInput& stream, LineBuffer& buffer, const char*& line, int min_in_place);

}  // namespace varnok
