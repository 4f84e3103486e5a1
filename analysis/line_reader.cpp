#include "analysis/line_reader.h"

#include "byte_scan.h"

#include <string.h>

#include <cstring>
#include <string_view>

namespace varnok {
namespace {

// The first line end in s (a chunk of a TextModeInput), or s.size(). A carriage return ends a line
// like a line feed, though text mode has removed every one of them before a line is looked for.
std::size_t FindLineEnd(std::string_view s) { return FindEitherByte(s.data(), s.size(), '\n', '\r'); }

}  // namespace

int NextLine(TextModeInput& stream, LineBuffer& buffer, const char*& line, int min_in_place) {
  const std::string_view chunk = stream.Peek();
  const std::size_t end = FindLineEnd(chunk);
  if (end < chunk.size() && end <= static_cast<std::size_t>(kLineLimit) && end >= static_cast<std::size_t>(min_in_place) &&
      end > 0) {
    line = chunk.data();
    stream.Skip(end + 1);
    return static_cast<int>(end);
  }
  line = buffer.text;
  return ReadLine(stream, buffer.text, kLineLimit);
}

std::size_t LastLineStart(const char* text, std::size_t size) {
  const void* feed = ::memrchr(text, '\n', size);
  const std::size_t base = feed == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(feed) - text) + 1;
  // A line longer than the limit keeps kLineLimit characters and drops the one after them.
  constexpr std::size_t kStride = kLineLimit + 1;
  return base + (size - base) / kStride * kStride;
}

int ReadLine(TextModeInput& stream, char* buffer, int limit) {
  std::size_t stored = 0;
  const std::size_t cap = static_cast<std::size_t>(limit);
  for (;;) {
    const std::string_view chunk = stream.Peek();
    if (chunk.empty()) {
      // A line cut short by a read error is not delivered: the error ends the input.
      if (stored == 0 || stream.Failed()) return -1;
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
