#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "analysis/address_range.h"
#include "image/crc.h"
#include "memmap/map_grid.h"

struct evp_md_ctx_st;

namespace varnok {

// The CRC (CRC-32 as zlib and crc32 compute it, unless another was asked for) and the SHA-256 of a sequence of
// bytes.
struct Digest {
  std::uint32_t crc = 0;
  std::array<std::uint8_t, 32> sha256{};

  bool operator==(const Digest&) const = default;
};

// Starts the digest library and finds its SHA-256 once for the whole program, so that no digest starts it midway
// through a run; throws std::bad_alloc when the library cannot start. Any later call does nothing.
void PrepareDigests();

// Digests a stream of bytes handed over in pieces, with the CPU's instructions where the libraries have them.
// Every member throws std::bad_alloc when the library finds no memory; the stream is then of no further use.
class DigestStream {
 public:
  // `pad` completes the last word of a CRC that reads words.
  explicit DigestStream(CrcKind crc = CrcKind::kCrc32, std::uint8_t pad = 0xFF);
  ~DigestStream();
  DigestStream(const DigestStream&) = delete;
  DigestStream& operator=(const DigestStream&) = delete;

  void Update(const std::uint8_t* data, std::size_t length);
  // Adds `count` copies of `byte` in constant-size blocks, so that any count costs the same small memory.
  void Fill(std::uint8_t byte, std::uint64_t count);
  // The digest of everything handed over since the start or the last Finish; starts anew.
  Digest Finish();

 private:
  evp_md_ctx_st* sha_;
  CrcStream crc_;
  std::vector<std::uint8_t> fill_block_;  // filled with fill_byte_, once a fill asks for it
  std::uint8_t fill_byte_ = 0;
};

// One maximal run of loaded addresses and the digest of its bytes.
struct RangeDigest {
  AddressRange range;
  Digest digest;
};

// The digest of a loaded image: its bytes from the lowest to the highest loaded address, gaps filled.
struct ImageDigest {
  AddressRange range;
  Digest image;
  // With per-range digests asked for, one for each maximal run of loaded addresses in address order, a run ending
  // at 0xFFFFFFFF at the latest: the data ranges.
  std::vector<RangeDigest> ranges;
};

// The digest of every byte the grid holds, in address order from 0x00000000 to 0xFFFFFFFF whatever its base
// address, read span by span from its store; nothing when it holds no byte.
std::optional<ImageDigest> DigestImage(const MapGrid& grid, std::uint8_t fill, bool per_range,
                                       CrcKind crc = CrcKind::kCrc32);

// The digest of the `length` addresses from `origin` on, as a bootloader checks a region: what the grid holds there,
// every other address filled; nothing when the grid holds no byte there.
std::optional<Digest> DigestRegion(const MapGrid& grid, std::uint32_t origin, std::uint64_t length, std::uint8_t fill,
                                   CrcKind crc = CrcKind::kCrc32);

}  // namespace varnok
