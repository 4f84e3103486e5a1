#include "analysis/line_reader.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace varnok {
namespace {

#if defined(__x86_64__)
// Lines are short, so an inline scan beats a call to memchr. It reads whole 32-byte loads, which the
// input's read padding keeps inside its buffer; a match past the end is stale and ignored.
__attribute__((target("avx2"))) std::size_t FindLineFeedAvx2(const char* p, std::size_t n) {
  const __m256i lf = _mm256_set1_epi8('\n');
  for (std::size_t i = 0; i < n; i += 32) {
    const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const auto mask = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(chars, lf)));
    if (mask != 0) return std::min(n, i + static_cast<std::size_t>(__builtin_ctz(mask)));
  }
  return n;
}

const bool kHasAvx2 = __builtin_cpu_supports("avx2");
#endif

// The first line feed in s (a chunk of a TextModeInput), or s.size(). A carriage return would end a
// line too, but text mode has removed every one of them before a line is looked for.
std::size_t FindLineEnd(std::string_view s) {
#if defined(__x86_64__)
  if (kHasAvx2) return FindLineFeedAvx2(s.data(), s.size());
#endif
  const void* lf = std::memchr(s.data(), '\n', s.size());
  return lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - s.data()) : s.size();
}

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
