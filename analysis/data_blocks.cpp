#include "analysis/data_blocks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace varnok {

void DataBlockStore::SetAllocator(BlockAllocator allocate, BlockDeallocator deallocate) {
  Clear();
  allocate_ = allocate;
  deallocate_ = deallocate;
}

DataBlockStore::~DataBlockStore() { Clear(); }

std::uint8_t* DataBlockStore::Append(std::uint32_t address, std::int32_t length) {
  if (length < 0) return nullptr;
  const std::size_t need = kHeaderSize + static_cast<std::size_t>(length);
  if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < need) {
    const std::size_t capacity = std::max(kChunkSize, need);
    void* memory = allocate_(capacity);
    if (memory == nullptr) return nullptr;
    try {
      chunks_.push_back(Chunk{static_cast<std::uint8_t*>(memory), capacity, 0});
    } catch (...) {
      deallocate_(memory);
      return nullptr;
    }
  }
  Chunk& chunk = chunks_.back();
  std::uint8_t* header = chunk.memory + chunk.used;
  std::memcpy(header, &address, 4);
  std::memcpy(header + 4, &length, 4);
  chunk.used += need;
  ++count_;
  return header + kHeaderSize;
}

void DataBlockStore::Clear() {
  for (const Chunk& chunk : chunks_) deallocate_(chunk.memory);
  chunks_.clear();
  chunks_.shrink_to_fit();
  count_ = 0;
}

DataBlock DataBlockStore::ReadBlock(const std::uint8_t* header) {
  DataBlock block;
  std::memcpy(&block.Address, header, 4);
  std::memcpy(&block.Length, header + 4, 4);
  block.Data = header + kHeaderSize;
  return block;
}

DataBlock DataBlockStore::const_iterator::operator*() const {
  return ReadBlock(store_->chunks_[chunk_].memory + offset_);
}

DataBlockStore::const_iterator& DataBlockStore::const_iterator::operator++() {
  const std::uint8_t* header = store_->chunks_[chunk_].memory + offset_;
  std::int32_t length = 0;
  std::memcpy(&length, header + 4, 4);
  offset_ += kHeaderSize + static_cast<std::size_t>(length);
  SkipEmptyChunks();
  return *this;
}

void DataBlockStore::const_iterator::SkipEmptyChunks() {
  while (chunk_ < store_->chunks_.size() && offset_ >= store_->chunks_[chunk_].used) {
    ++chunk_;
    offset_ = 0;
  }
}

DataBlockStore::const_iterator DataBlockStore::begin() const {
  const_iterator it(this, 0, 0);
  it.SkipEmptyChunks();
  return it;
}

DataBlockStore::const_iterator DataBlockStore::end() const { return const_iterator(this, chunks_.size(), 0); }

}  // namespace varnok
