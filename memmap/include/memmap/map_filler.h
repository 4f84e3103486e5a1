#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "analysis/block_sink.h"
#include "analysis/gathering_sink.h"
#include "memmap/map_grid.h"

namespace varnok {

// Fills a memory map while the run still reads its input. A grid's rows start at the run's lowest address, which
// is known only at its end, so the records go into a map of the whole address space laid out from the first
// record's address on. Finish turns that into the grid of the run's range: it moves whole leaves of the map's store
// where the lowest address lies a whole number of leaves from the first record's, as it does when the first record
// is the lowest or both start a MiB, and copies the bytes over otherwise. Records that follow one another up the
// addresses are gathered and written together.
class MapFiller : public BlockSink {
 public:
  // The buffer that gathers the records comes from `allocate`: where it has no memory, Take refuses every record.
  explicit MapFiller(BlockAllocator allocate = &std::malloc, BlockDeallocator deallocate = &std::free);
  ~MapFiller() override;
  MapFiller(const MapFiller&) = delete;
  MapFiller& operator=(const MapFiller&) = delete;

  bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override;

  // Lays `grid` out over lowest..highest with every byte taken and marks the start vector: the grid that Build and a
  // FillBlock of every record in turn make (its regions are for the caller to find, as the map's text needs none). `progress` is told when the lay-out
  // begins and ends and, where the bytes are copied, after every leaf; when it returns false the lay-out stops
  // there, unmarked, and the result is false. The filler is empty afterwards. On std::bad_alloc the grid is consistent and holds part of the bytes.
  bool Finish(MapGrid& grid, std::uint32_t lowest, std::uint32_t highest, std::optional<std::uint32_t> start_vector,
              const FillProgress& progress = {});

  // The map of every byte taken so far, over the whole address space from the first record's address on; nothing
  // before the first record. It stays the filler's, valid until the next Take, Finish or FinishWhole.
  const MapGrid* Taken();
  // Hands the map of every byte taken over to `grid` without copying a byte: the whole address space from the first
  // record's address on, or from 0 when no record came. The filler is empty afterwards.
  void FinishWhole(MapGrid& grid);

 private:
  // Writes the gathered blocks into whole_, which it lays out at the first.
  class WholeSink : public BlockSink {
   public:
    explicit WholeSink(MapFiller& filler) : filler_(filler) {}
    bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override;

   private:
    MapFiller& filler_;
  };

  // Hands on what is gathered; throws std::bad_alloc when the map finds no memory for it.
  void Flush();

  std::unique_ptr<MapGrid> whole_;  // the whole address space from the first record's address on; null before it
  WholeSink whole_sink_{*this};
  GatheringSink gathered_;
};

}  // namespace varnok
