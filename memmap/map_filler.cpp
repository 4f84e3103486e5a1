#include "memmap/map_filler.h"

#include <new>
#include <utility>

#include "map_store.h"

namespace varnok {
namespace {

constexpr std::uint32_t kLeafBytes = std::uint32_t{1} << MapStore::kLeafShift;

}  // namespace

MapFiller::MapFiller(BlockAllocator allocate, BlockDeallocator deallocate)
    : gathered_(whole_sink_, GatheringSink::Order::kAny, allocate, deallocate) {}

MapFiller::~MapFiller() = default;

bool MapFiller::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  return gathered_.Take(address, length, data);
}

bool MapFiller::WholeSink::Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
  try {
    std::unique_ptr<MapGrid>& whole = filler_.whole_;
    if (whole == nullptr) {
      auto laid_out = std::make_unique<MapGrid>();
      laid_out->Build(address, address - 1);
      whole = std::move(laid_out);
    }
    whole->FillBlock(address, length, data);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void MapFiller::Flush() {
  if (!gathered_.Flush()) throw std::bad_alloc();
}

bool MapFiller::Finish(MapGrid& grid, std::uint32_t lowest, std::uint32_t highest,
                       std::optional<std::uint32_t> start_vector, const FillProgress& progress) {
  grid.Build(lowest, highest);
  if (!gathered_.Release()) throw std::bad_alloc();
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

const MapGrid* MapFiller::Taken() {
  Flush();
  return whole_.get();
}

void MapFiller::FinishWhole(MapGrid& grid) {
  if (!gathered_.Release()) throw std::bad_alloc();
  if (whole_ == nullptr) {
    grid.Build(0, 0xFFFFFFFFu);
  } else {
    grid = std::move(*whole_);
    whole_.reset();
  }
}

}  // namespace varnok
