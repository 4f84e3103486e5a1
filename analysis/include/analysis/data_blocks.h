#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace varnok {

// Where a run with the map option can send the kept data records instead of its store: each record's bytes as soon
// as the record is read, in file order, so that a memory map fills while the input is still being read.
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // Takes a record's `length` (0 or more) bytes; false when memory for them cannot be had, which ends the run.
  virtual bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) = 0;
};

// One kept data record: its load address and its data bytes, read back from the store.
struct DataBlock {
  std::uint32_t Address = 0;
  std::int32_t Length = 0;
  const std::uint8_t* Data = nullptr;  // Length bytes, owned by the store
};

// Allocates raw memory for the store; returns nullptr on failure. Tests inject failing ones.
using BlockAllocator = void* (*)(std::size_t size);
using BlockDeallocator = void (*)(void* pointer);

// The ordered list of kept data records (DataBlocks). Records are packed one after the other into
// large chunks: an 8-byte header (address, length) and the data bytes, so keeping N records costs
// their data plus 8 bytes each plus at most one partly used chunk. Appending and clearing are linear.
class DataBlockStore {
 public:
  static constexpr std::size_t kChunkSize = 1u << 20;
  static constexpr std::size_t kHeaderSize = 8;

  DataBlockStore() = default;
  ~DataBlockStore();
  DataBlockStore(const DataBlockStore&) = delete;
  DataBlockStore& operator=(const DataBlockStore&) = delete;

  // Reserves room for a block of `length` bytes at `address` and returns where its bytes go,
  // or nullptr when the memory cannot be had (nothing is kept then). A negative length keeps nothing.
  std::uint8_t* Append(std::uint32_t address, std::int32_t length);
  // Frees every block (ClearDataBlocks).
  void Clear();
  // Takes memory from allocate and gives it back to deallocate from now on; only while empty.
  void SetAllocator(BlockAllocator allocate, BlockDeallocator deallocate);
  BlockAllocator Allocator() const { return allocate_; }
  BlockDeallocator Deallocator() const { return deallocate_; }

  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = DataBlock;
    using difference_type = std::ptrdiff_t;
    using pointer = const DataBlock*;
    using reference = DataBlock;

    DataBlock operator*() const;
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator old = *this;
      ++*this;
      return old;
    }
    bool operator==(const const_iterator& other) const {
      return chunk_ == other.chunk_ && offset_ == other.offset_;
    }

   private:
    friend class DataBlockStore;
    const_iterator(const DataBlockStore* store, std::size_t chunk, std::size_t offset)
        : store_(store), chunk_(chunk), offset_(offset) {}
    void SkipEmptyChunks();
    const DataBlockStore* store_ = nullptr;
    std::size_t chunk_ = 0;
    std::size_t offset_ = 0;
  };

  const_iterator begin() const;
  const_iterator end() const;

 private:
  struct Chunk {
    std::uint8_t* memory;
    std::size_t capacity;
    std::size_t used;
  };
  static DataBlock ReadBlock(const std::uint8_t* header);

  BlockAllocator allocate_ = &std::malloc;
  BlockDeallocator deallocate_ = &std::free;
  std::vector<Chunk> chunks_;
  std::size_t count_ = 0;
};

}  // namespace varnok
