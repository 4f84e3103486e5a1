#pragma once

#include <cstddef>
#include <cstdint>

namespace varnok {

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
};

// Allocates raw memory for a sink's buffers; returns nullptr on failure. Tests inject failing ones.
using BlockAllocator = void* (*)(std::size_t size);
using BlockDeallocator = void (*)(void* pointer);

}  // namespace varnok
