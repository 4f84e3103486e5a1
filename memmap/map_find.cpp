// Find over the filled bytes: memmem over each contiguous span, and a small stitched buffer for the matches that
// cross from one span into the next adjacent one (page borders, and runs that touch).
#include <algorithm>
#include <cstring>

#include "map_store.h"
#include "memmap/map_grid.h"

namespace varnok {

namespace {

const std::uint8_t* Search(const std::uint8_t* haystack, std::size_t length, std::span<const std::uint8_t> pattern) {
  return static_cast<const std::uint8_t*>(memmem(haystack, length, pattern.data(), pattern.size()));
}

// The start of the last match in haystack, which is at most a page long.
std::optional<std::size_t> SearchLast(const std::uint8_t* haystack, std::size_t length,
                                      std::span<const std::uint8_t> pattern) {
  std::optional<std::size_t> last;
  for (const std::uint8_t* at = Search(haystack, length, pattern); at != nullptr;
       at = Search(at + 1, length - static_cast<std::size_t>(at + 1 - haystack), pattern)) {
    last = static_cast<std::size_t>(at - haystack);
  }
  return last;
}

// Up to size - 1 bytes next to the span being searched, from spans that touch it: the part a crossing match needs.
class Carry {
 public:
  explicit Carry(std::size_t keep) : keep_(keep) {}
  bool empty() const { return bytes_.empty(); }
  std::uint64_t first() const { return first_; }
  std::uint64_t end() const { return first_ + bytes_.size(); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  void clear() { bytes_.clear(); }

  // Keeps the last bytes of (carry, then data at offset).
  void Append(std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
    if (length >= keep_) {
      bytes_.assign(data + length - keep_, data + length);
      first_ = offset + length - keep_;
      return;
    }
    if (bytes_.empty()) first_ = offset;
    bytes_.insert(bytes_.end(), data, data + length);
    if (bytes_.size() > keep_) {
      const std::size_t drop = bytes_.size() - keep_;
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
      first_ += drop;
    }
  }
  // Keeps the first bytes of (data at offset, then carry).
  void Prepend(std::uint64_t offset, const std::uint8_t* data, std::size_t length) {
    if (length >= keep_) {
      bytes_.assign(data, data + keep_);
    } else {
      bytes_.insert(bytes_.begin(), data, data + length);
      if (bytes_.size() > keep_) bytes_.resize(keep_);
    }
    first_ = offset;
  }

 private:
  std::size_t keep_;
  std::uint64_t first_ = 0;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::optional<std::uint64_t> MapGrid::FirstMatch(std::span<const std::uint8_t> pattern, std::uint64_t lo,
                                                 std::uint64_t hi) const {
  const std::size_t size = pattern.size();
  if (size == 0 || lo >= hi) return std::nullopt;
  std::optional<std::uint64_t> found;
  Carry carry(size - 1);
  std::vector<std::uint8_t> stitched;
  PageCursor cursor;
  ForEachSpan(*store_, cursor, lo, [&](std::uint64_t offset, const std::uint8_t* data, std::uint64_t length) {
    // A match that starts before hi ends before hi + size - 1.
    if (offset >= hi + size - 1 || (offset >= hi && carry.empty())) return false;
    if (offset < lo) {
      data += lo - offset;
      length -= lo - offset;
      offset = lo;
    }
    if (!carry.empty() && carry.end() != offset) carry.clear();
    if (!carry.empty()) {
      // Matches that start in the carry and end in this span; one that needs more than this span stays in the carry.
      stitched = carry.bytes();
      stitched.insert(stitched.end(), data, data + std::min<std::uint64_t>(length, size - 1));
      const std::uint8_t* at = Search(stitched.data(), stitched.size(), pattern);
      if (at != nullptr) {
        const auto position = static_cast<std::size_t>(at - stitched.data());
        if (position < carry.bytes().size() && carry.first() + position < hi) {
          found = carry.first() + position;
          return false;
        }
      }
    }
    const std::uint64_t starts = std::min(length, hi > offset ? hi - offset : 0);
    if (starts > 0) {
      const std::size_t window = static_cast<std::size_t>(std::min(length, starts + size - 1));
      if (const std::uint8_t* at = Search(data, window, pattern)) {
        found = offset + static_cast<std::uint64_t>(at - data);
        return false;
      }
    }
    carry.Append(offset, data, static_cast<std::size_t>(length));
    return true;
  });
  return found;
}

std::optional<std::uint64_t> MapGrid::LastMatch(std::span<const std::uint8_t> pattern, std::uint64_t lo,
                                                std::uint64_t hi) const {
  const std::size_t size = pattern.size();
  if (size == 0 || lo >= hi) return std::nullopt;
  const std::uint64_t limit = hi + size - 1;  // bytes at or after it belong to no match that starts before hi
  std::optional<std::uint64_t> found;
  Carry carry(size - 1);
  std::vector<std::uint8_t> stitched;
  ForEachSpanBackward(*store_, limit, [&](std::uint64_t offset, const std::uint8_t* data, std::uint64_t length) {
    if (offset + length <= lo) return false;
    length = std::min(length, limit - offset);
    if (!carry.empty() && offset + length != carry.first()) carry.clear();
    const std::uint64_t first_start = lo > offset ? lo - offset : 0;  // starts from here on count
    const std::uint64_t starts_end = std::min(length, hi > offset ? hi - offset : 0);
    if (!carry.empty()) {
      // Matches that start in this span's tail and end in the carry; the last one wins.
      const std::size_t tail = static_cast<std::size_t>(std::min<std::uint64_t>(length, size - 1));
      stitched.assign(data + length - tail, data + length);
      stitched.insert(stitched.end(), carry.bytes().begin(), carry.bytes().end());
      std::optional<std::uint64_t> last;
      for (const std::uint8_t* at = Search(stitched.data(), stitched.size(), pattern);
           at != nullptr && static_cast<std::size_t>(at - stitched.data()) < tail;
           at = Search(at + 1, stitched.size() - static_cast<std::size_t>(at + 1 - stitched.data()), pattern)) {
        const std::uint64_t start = length - tail + static_cast<std::uint64_t>(at - stitched.data());
        if (start >= first_start && start < starts_end) last = offset + start;
      }
      if (last) {
        found = last;
        return false;
      }
    }
    if (starts_end > first_start) {
      const std::uint64_t window_end = std::min(length, starts_end + size - 1);
      if (const std::optional<std::size_t> at =
              SearchLast(data + first_start, static_cast<std::size_t>(window_end - first_start), pattern)) {
        found = offset + first_start + *at;
        return false;
      }
    }
    carry.Prepend(offset, data, static_cast<std::size_t>(length));
    return true;
  });
  return found;
}

std::optional<std::uint32_t> MapGrid::FindForward(std::span<const std::uint8_t> pattern,
                                                  std::uint32_t from_offset) const {
  std::optional<std::uint64_t> found = FirstMatch(pattern, from_offset, Span());
  if (!found) found = FirstMatch(pattern, 0, std::min<std::uint64_t>(from_offset, Span()));
  if (!found) return std::nullopt;
  return static_cast<std::uint32_t>(*found);
}

std::optional<std::uint32_t> MapGrid::FindBackward(std::span<const std::uint8_t> pattern,
                                                   std::uint32_t before_offset) const {
  std::optional<std::uint64_t> found = LastMatch(pattern, 0, std::min<std::uint64_t>(before_offset, Span()));
  if (!found) found = LastMatch(pattern, before_offset, Span());
  if (!found) return std::nullopt;
  return static_cast<std::uint32_t>(*found);
}

}  // namespace varnok
