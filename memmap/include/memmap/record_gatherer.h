#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "memmap/map_grid.h"

namespace varnok {

// The records of an image mostly follow one another up the addresses, a few dozen bytes each. Gathered into one
// block, they are written into a map a page at a time rather than a record at a time; the order of the writes stays
// the same.
class RecordGatherer {
 public:
  static constexpr std::size_t kBytes = std::size_t{64} << 10;

  // Gathers into buffer, which has room for kBytes.
  explicit RecordGatherer(std::uint8_t* buffer) : buffer_(buffer) {}

  // Adds a record of length (1 or more) bytes, writing first what it cannot follow; one of kBytes or more goes
  // straight into the grid.
  void Add(MapGrid& grid, std::uint32_t address, std::size_t length, const std::uint8_t* data) {
    const bool follows = address == address_ + static_cast<std::uint32_t>(length_);
    if (!follows || length_ + length > kBytes) Flush(grid);
    if (length >= kBytes) {
      grid.FillBlock(address, static_cast<std::int32_t>(length), data);
      return;
    }
    if (length_ == 0) address_ = address;
    std::memcpy(buffer_ + length_, data, length);
    length_ += length;
  }

  // Writes what is gathered; nothing stays gathered, also when the grid throws.
  void Flush(MapGrid& grid) {
    if (length_ == 0) return;
    const auto length = static_cast<std::int32_t>(length_);
    length_ = 0;
    grid.FillBlock(address_, length, buffer_);
  }

 private:
  std::uint8_t* buffer_;
  std::uint32_t address_ = 0;
  std::size_t length_ = 0;
};

}  // namespace varnok
