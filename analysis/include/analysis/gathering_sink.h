#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "analysis/block_sink.h"

namespace varnok {

// Gathers the records that follow one another up the addresses into blocks of up to kBytes and hands the blocks,
// in the records' order, to the sink it wraps, which then pays its per-call costs once a block rather than once a
// record; a record of kBytes or more goes on as it is. In the up-only order it takes records only while each lies
// above the ones before it and ends by 0xFFFFFFFF: at the first that does not, it gives up and hands nothing more on.
class GatheringSink : public BlockSink {
 public:
  static constexpr std::size_t kBytes = std::size_t{64} << 10;
  enum class Order : std::uint8_t { kAny, kUpOnly };

  // The buffer of kBytes comes from `allocate` at the first record: where it has no memory, Take refuses every record.
  explicit GatheringSink(BlockSink& next, Order order = Order::kAny, BlockAllocator allocate = &std::malloc,
                         BlockDeallocator deallocate = &std::free);

  bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override;
  bool GaveUp() const override { return gave_up_ || next_.GaveUp(); }

  // Hands on what is gathered; false when the wrapped sink refuses it. Nothing stays gathered either way.
  bool Flush();
  // Hands on what is gathered and lets the buffer go until the next record; false as Flush.
  bool Release();

 private:
  // Allocates the buffer where there is none (at the first record, and after the wrapped sink adopted it); false
  // where memory for it cannot be had.
  bool HasBuffer();

  BlockSink& next_;
  const Order order_;
  const BlockAllocator allocate_;
  std::unique_ptr<std::uint8_t, BlockDeallocator> buffer_;
  std::uint32_t address_ = 0;  // of the first byte gathered
  std::size_t length_ = 0;     // bytes gathered
  bool taken_ = false;
  std::uint64_t taken_end_ = 0;  // the address after the last byte taken, in the up-only order
  bool gave_up_ = false;
};

}  // namespace varnok
