#pragma once

#include <cstddef>
#include <cstdint>

namespace varnok {

// Allocates raw memory for a sink's buffers; returns nullptr on failure. Tests inject failing ones.
using BlockAllocator = void* (*)(std::size_t size);
using BlockDeallocator = void (*)(void* pointer);

// Where a run with the map option hands the data records: each record's bytes once the record is read, in file
// order (records that follow one another up the addresses may come as one), so that a memory map fills while the
// input is still being read.
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // Takes a record's `length` (0 or more) bytes; false when memory for them cannot be had, which ends the run.
  virtual bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) = 0;
  // Whether the sink takes no more records: one that can place them only in address order gives up at the first that
  // goes back, and its run may as well stop there.
  virtual bool GaveUp() const { return false; }

  // Whether the sink keeps the blocks it takes, and so would rather adopt a gathered block's memory than copy it.
  virtual bool AdoptsBlocks() const { return false; }
  // Takes a block as Take does, with its memory: `capacity` bytes from the gathering sink's allocator, which this
  // sink lets go of through `free`, also when it refuses the block.
  virtual bool AdoptBlock(std::uint32_t address, std::int32_t length, std::uint8_t* data, std::size_t capacity,
                          BlockDeallocator free) {
    static_cast<void>(capacity);
    const bool taken = Take(address, length, data);
    free(data);
    return taken;
  }
};

}  // namespace varnok
