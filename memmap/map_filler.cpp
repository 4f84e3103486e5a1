#include "memmap/map_filler.h"

#include <cstring>
#include <new>

#include "map_store.h"

namespace varnok {
namespace {

constexpr std::size_t kGatherBytes = std::size_t{64} << 10;
constexpr std::uint32_t kLeafBytes = std::uint32_t{1} << MapStore::kLeafShift;

}  // namespace

MapFiller::MapFiller(BlockAllocator allocate, BlockDeallocator deallocate)
    : allocate_(allocate), gathered_(nullptr, deallocate) {}

MapFiller::~MapFiller() = default;

bool MapFiller::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  if (length <= 0) return true;
  if (gathered_ == nullptr) {
    gathered_.reset(static_cast<std::uint8_t*>(allocate_(kGatherBytes)));
    if (gathered_ == nullptr) return false;
  }
  try {
    if (whole_ == nullptr) {
      auto whole = std::make_unique<MapGrid>();
      whole->Build(address, address - 1);
      whole_ = std::move(whole);
    }
    const auto n = static_cast<std::size_t>(length);
    const bool follows = address == gathered_address_ + static_cast<std::uint32_t>(gathered_length_);
    if (!follows || gathered_length_ + n > kGatherBytes) WriteGathered();
    if (n >= kGatherBytes) {
      whole_->FillBlock(address, length, data);
      return true;
    }
    if (gathered_length_ == 0) gathered_address_ = address;
    std::memcpy(gathered_.get() + gathered_length_, data, n);
    gathered_length_ += n;
    return true;
  } catch (const std::bad_alloc&) {
    gathered_length_ = 0;
    return false;
  }
}

void MapFiller::WriteGathered() {
  if (gathered_length_ == 0) return;
  const auto length = static_cast<std::int32_t>(gathered_length_);
  gathered_length_ = 0;
  whole_->FillBlock(gathered_address_, length, gathered_.get());
}

bool MapFiller::Finish(MapGrid& grid, std::uint32_t lowest, std::uint32_t highest,
                       std::optional<std::uint32_t> start_vector, const FillProgress& progress) {
  grid.Build(lowest, highest);
  if (whole_ != nullptr) WriteGathered();
  gathered_.reset();
  const std::unique_ptr<MapGrid> whole = std::move(whole_);
  const std::uint64_t leaves = whole != nullptr ? whole->store_->LeafCount() : 1;
  if (progress && !progress(0, leaves)) return false;
  if (whole != nullptr) {
    MapStore& store = *whole->store_;
    const std::uint32_t from = lowest - whole->base_;
    if (from % kLeafBytes == 0 && store.Rebase(from, grid.Span())) {
      grid.store_ = std::move(whole->store_);
    } else {
      // A leaf at a time, so that the bytes are held twice for one leaf only.
      for (std::size_t leaf = 0; leaf < leaves; ++leaf) {
        store.TakeLeaf(leaf, [&](std::uint64_t offset, const std::uint8_t* data, std::uint32_t length) {
          grid.FillBlock(whole->base_ + static_cast<std::uint32_t>(offset), static_cast<std::int32_t>(length), data);
        });
        if (progress && !progress(leaf + 1, leaves)) return false;
      }
    }
  }
  if (start_vector) grid.MarkStartVector(*start_vector);
  if (progress) progress(leaves, leaves);
  return true;
}

}  // namespace varnok
