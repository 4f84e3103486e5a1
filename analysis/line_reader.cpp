#include "analysis/line_reader.h"

#include <cstring>
#include <string_view>

namespace varnok {
namespace {

// The first line feed or carriage return in s, or s.size().
std::size_t FindLineEnd(std::string_view s) {
  const void* lf = std::memchr(s.data(), '\n', s.size());
  const std::size_t limit = lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) : s.size();
  // Text mode never delivers a carriage return; the scan keeps ReadLine right over any stream.
  const void* cr = std::memchr(s.data(), '\r', limit);
  return cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - s.data()) : limit;
}

}  // namespace

int ReadLine(TextModeInput& stream, char* buffer, int limit) {
  std::size_t stored = 0;
  const std::size_t cap = static_cast<std::size_t>(limit);
  for (;;) {
    const std::string_view chunk = stream.Peek();
    if (chunk.empty()) {
      if (stored == 0) return -1;
      buffer[stored] = '\0';
      return static_cast<int>(stored);
    }
    const std::size_t end = FindLineEnd(chunk);
    const std::size_t room = cap - stored;
    if (end <= room) {
      std::memcpy(buffer + stored, chunk.data(), end);
      stored += end;
      if (end < chunk.size()) {
        stream.Skip(end + 1);  // the line end is consumed
        if (stored > 0) buffer[stored] = '\0';
        return static_cast<int>(stored);
      }
      stream.Skip(end);  // the line goes on in the next block
      continue;
    }
    // The line is longer than the limit: keep `room` characters and drop the one after them,
    // unless that one ends the line.
    std::memcpy(buffer + stored, chunk.data(), room);
    stored += room;
    stream.Skip(room);
    stream.Get();
    buffer[stored] = '\0';
    return static_cast<int>(stored);
  }
}

}  // namespace varnok
