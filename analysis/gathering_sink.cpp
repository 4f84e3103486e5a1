#include "analysis/gathering_sink.h"

#include <cstring>

namespace varnok {

GatheringSink::GatheringSink(BlockSink& next, Order order, BlockAllocator allocate, BlockDeallocator deallocate)
    : next_(next), order_(order), allocate_(allocate), buffer_(nullptr, deallocate) {}

bool GatheringSink::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  if (length <= 0 || gave_up_) return true;
  const auto size = static_cast<std::size_t>(length);
  if (order_ == Order::kUpOnly) {
    const std::uint64_t end = std::uint64_t{address} + size;
    if ((taken_ && address < taken_end_) || end > (std::uint64_t{1} << 32)) {
      gave_up_ = true;
      length_ = 0;
      return true;
    }
    taken_ = true;
    taken_end_ = end;
  }
  if (!HasBuffer()) return false;
  // In any order, a record at 0 follows one that ends at 0xFFFFFFFF, as the address space wraps.
  if (length_ > 0 && address == address_ + static_cast<std::uint32_t>(length_) && length_ + size <= kBytes) {
    std::memcpy(buffer_.get() + length_, data, size);
    length_ += size;
    return true;
  }
  if (!Flush()) return false;
  if (size >= kBytes) return next_.Take(address, length, data);
  // A sink that adopted the buffer took it with it.
  if (!HasBuffer()) return false;
  std::memcpy(buffer_.get(), data, size);
  address_ = address;
  length_ = size;
  return true;
}

bool GatheringSink::HasBuffer() {
  if (buffer_ == nullptr) buffer_.reset(static_cast<std::uint8_t*>(allocate_(kBytes)));
  return buffer_ != nullptr;
}

bool GatheringSink::Flush() {
  if (length_ == 0) return true;
  const auto length = static_cast<std::int32_t>(length_);
  length_ = 0;
  // A sink that keeps its blocks adopts a well-filled buffer, which saves it a copy; a sparse one it copies, so that
  // records far apart never each hold a whole buffer.
  if (next_.AdoptsBlocks() && static_cast<std::size_t>(length) > kBytes / 2) {
    const BlockDeallocator free = buffer_.get_deleter();
    return next_.AdoptBlock(address_, length, buffer_.release(), kBytes, free);
  }
  return next_.Take(address_, length, buffer_.get());
}

bool GatheringSink::Release() {
  const bool taken = Flush();
  buffer_.reset();
  return taken;
}

}  // namespace varnok
