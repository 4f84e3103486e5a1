#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/address_range.h"
#include "analysis/block_sink.h"
#include "analysis/gathering_sink.h"
#include "image/crc.h"
#include "regions/memory_regions.h"
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
  // A stream that has taken what this one has and goes on apart from it.
  std::unique_ptr<DigestStream> Fork() const;

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

// The digests of an image (with `per_range`, also of its runs of loaded addresses) and of the regions wanted, taken
// from records handed over as long as each lies above the ones before it, which is how linkers and converters write
// images; a region's digest covers its `length` addresses from its origin on, as a bootloader checks it, with every
// address the image does not load filled. A record that goes back or overlaps one before it, or runs past
// 0xFFFFFFFF, can be placed only by a map: from then on the sink takes nothing more and GaveUp is true, so that the
// caller digests a map of the input instead (DigestMap).
class DigestSink : public BlockSink {
 public:
  // The regions `wanted` are digested (every one when it is empty).
  DigestSink(std::uint8_t fill, bool per_range, CrcKind crc, std::vector<MemoryRegion> regions,
             std::vector<bool> wanted);
  ~DigestSink() override;
  DigestSink(const DigestSink&) = delete;
  DigestSink& operator=(const DigestSink&) = delete;

  // False only when memory for a digest cannot be had.
  bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override;
  bool GaveUp() const override { return gathered_.GaveUp(); }

  struct Result {
    std::optional<ImageDigest> image;  // nothing when no byte was taken
    std::vector<std::optional<Digest>> regions;  // one for each region; none for one not wanted or without a byte
  };
  // Unless it gave up, and once; throws std::bad_alloc when memory for a digest cannot be had.
  Result Finish();

 private:
  struct RegionStream {
    std::uint32_t origin = 0;
    std::uint64_t end = 0;
    std::unique_ptr<DigestStream> stream;  // from the region's first loaded byte on, once apart from the image's
    std::uint64_t at = 0;  // the address after the last byte digested; with `stream` only
  };
  // Digests the gathered blocks.
  class Blocks : public BlockSink {
   public:
    explicit Blocks(DigestSink& sink) : sink_(sink) {}
    bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override;

   private:
    DigestSink& sink_;
  };
  // Digests a block that lies above the ones before it.
  void DigestBlock(std::uint32_t address, std::size_t size, const std::uint8_t* data);
  // Gives region i its digest, the image having left it.
  void EndRegion(std::size_t i);
  void EndRun();

  const std::uint8_t fill_;
  const CrcKind crc_;
  bool started_ = false;
  std::uint64_t first_ = 0;  // the lowest address taken
  std::uint64_t run_ = 0;    // the first address of the run of loaded addresses being digested
  std::uint64_t end_ = 0;    // the address after the last byte digested
  DigestStream image_;
  std::optional<DigestStream> range_;  // with per-range digests
  std::vector<RangeDigest> ranges_;  // with per-range digests, of the runs ended
  std::vector<RegionStream> regions_;
  std::vector<std::optional<Digest>> region_digests_;
  std::vector<std::size_t> waiting_;  // the wanted regions the image has not reached, by origin from the last down
  std::vector<std::size_t> open_;     // the regions the image has reached and not left
  // The regions that begin with the image's first byte read as the image does until the image leaves them, and share
  // its stream until then; by end from the last down.
  std::vector<std::size_t> sharing_;
  Blocks blocks_{*this};
  GatheringSink gathered_{blocks_, GatheringSink::Order::kUpOnly};
};

// The digests the sink gives for every byte the grid holds, handed over span by span in address order from
// 0x00000000 to 0xFFFFFFFF whatever the grid's base address; throws std::bad_alloc when memory for a digest cannot be
// had.
DigestSink::Result DigestMap(const MapGrid& grid, DigestSink& sink);

// The lines of an image's digests as varnok-scan --digest prints them: "Image: FIRST - LAST, gaps filled with 0xFF",
// the CRC's and the SHA-256's, then "Region NAME CRC-32: ..." and "Region NAME SHA-256: ..." for each region that
// has a digest (region_digests runs beside regions).
std::vector<std::string> DigestReportLines(const std::optional<ImageDigest>& image,
                                           const std::vector<std::optional<Digest>>& region_digests,
                                           const std::vector<MemoryRegion>& regions, std::uint8_t fill,
                                           CrcKind crc);

}  // namespace varnok
