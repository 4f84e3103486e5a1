#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "memmap/map_grid.h"

namespace varnok {

// The written bytes of one map by map offset (0 up to the span), in memory that follows the data.
//
// The offsets fall into leaves of 1 MiB and those into pages of 4 KiB. A leaf that holds data is one buffer of page
// records in page order; a page record holds the page's maximal runs of filled offsets with their bytes in the
// record itself while they are few (small), in a buffer of their own when they outgrow that (big), or points to a
// dense page: all 4,096 bytes and a filled bit for each. A page turns dense when its filled bytes and the writes
// that ended in it pay for that, so memory stays within 1.25 bytes per filled offset plus 40 bytes per write end,
// and a leaf costs one allocation however its records straddle pages.
class MapStore {
 public:
  static constexpr std::uint32_t kPageShift = 12;
  static constexpr std::uint32_t kPageBytes = 1u << kPageShift;
  static constexpr std::uint32_t kLeafShift = 20;
  static constexpr std::uint32_t kRowsPerPage = kPageBytes / 32;
  static constexpr std::size_t kSlabBytes = std::size_t{2} << 20;
  // 16 MiB of dense pages: a slab's 2 MiB are then within the eighth that the memory bound leaves them.
  static constexpr std::size_t kPagesBeforeSlabs = 4096;
  // The filled offsets of a page's rows: bit i of entry r stands for offset 32 r + i.
  using RowMasks = std::array<std::uint32_t, kRowsPerPage>;

  // A run of filled offsets within one page and its bytes.
  struct Span {
    std::uint32_t start;  // within the page
    std::uint32_t length;
    const std::uint8_t* data;
  };
  // Room for the spans of any page.
  using PageSpans = std::array<Span, kPageBytes / 2>;
  // An end past every offset, for walks to the last page.
  static constexpr std::uint64_t kEnd = std::uint64_t{1} << 33;

  explicit MapStore(std::uint64_t span);
  ~MapStore();
  MapStore(const MapStore&) = delete;
  MapStore& operator=(const MapStore&) = delete;

  // Writes length bytes from offset on (offset + length is at most the span); later bytes replace earlier ones.
  // On std::bad_alloc the pages written before stay written and the failing page keeps its former content.
  void Write(std::uint32_t offset, std::uint32_t length, const std::uint8_t* data);
  // The filled offsets among the 32 from row_offset (a multiple of 32) as bits, and their bytes.
  std::uint32_t ReadRow(PageCursor& cursor, std::uint32_t row_offset, std::uint8_t* bytes) const;

  // Calls visit(page_offset, page) for every page that holds data from the one that holds `from` up to the ones that
  // begin before `to`, in offset order, until it returns false; the walk starts its search where `cursor` stands.
  template <typename Visit>
  void ForEachPage(PageCursor& cursor, std::uint64_t from, std::uint64_t to, Visit&& visit) const;
  // Calls visit(page_offset, page) for the pages before `before`, last first, until it returns false.
  template <typename Visit>
  void ForEachPageBackward(std::uint64_t before, Visit&& visit) const;
  // The runs of a page that a walk handed over, in offset order; the bytes stay valid until the next Write.
  std::size_t SpansOf(const std::uint8_t* page, PageSpans& spans) const;
  // The rows of a page that a walk handed over: their masks, and the page's bytes by offset within the page
  // (valid where a mask bit is set), either the page's own or copied into scratch (kPageBytes); with a null scratch
  // the masks alone.
  const std::uint8_t* RowsOf(const std::uint8_t* page, RowMasks& masks, std::uint8_t* scratch) const;
  // The first filled offset at or after `from`; one past every leaf when there is none.
  std::uint64_t NextFilled(std::uint64_t from) const;

  // Bytes taken from the allocator, with what it keeps for itself on each allocation.
  std::size_t MemoryBytes() const;

  // Turns a store of the whole span of 2^32 offsets into the store of `span` offsets from `from` on (a multiple of
  // the leaf size; the offsets wrap past 2^32) by moving its leaves, without copying a byte, and drops the leaves
  // outside it. False, with nothing changed, when data lies past the span in the last leaf it keeps.
  bool Rebase(std::uint64_t from, std::uint64_t span);
  // Calls visit(offset, data, length) for the filled runs of leaf `index` in offset order, then frees the leaf.
  template <typename Visit>
  void TakeLeaf(std::size_t index, Visit&& visit);
  std::size_t LeafCount() const { return leaves_.size(); }
  // Makes room for offsets up to `span`, which is at least the span it has.
  void Grow(std::uint64_t span) {
    leaves_.resize(static_cast<std::size_t>((span + (std::uint64_t{1} << kLeafShift) - 1) >> kLeafShift), nullptr);
  }

 private:
  struct Content;
  struct DensePage;

  // The first record of the leaf whose page is `low` or later, or the end of the leaf's records; the search starts
  // where the cursor stands when it stands in that leaf before that page, and the cursor moves to the record found.
  const std::uint8_t* Seek(PageCursor& cursor, std::size_t leaf_index, std::uint32_t low) const;
  void FreeLeaf(std::size_t index);
  void WritePage(std::uint32_t page, std::uint32_t start, std::uint32_t end, const std::uint8_t* data,
                 std::uint32_t ends);
  void PutRecord(std::uint32_t leaf_index, std::size_t position, std::size_t old_size, const std::uint8_t* record,
                 std::size_t size);
  void* Allocate(std::size_t size);
  void Free(void* memory, std::size_t size);
  DensePage* NewDensePage();
  void FreeDensePage(DensePage* page);
  void AddSlab();

  std::vector<std::uint8_t*> leaves_;  // one per 1 MiB of the span; null until written
  std::size_t allocated_ = 0;
  // Dense pages have allocations of their own until there are kPagesBeforeSlabs of them; from then on they are
  // cut from slabs of 2 MiB, which the system can give as huge pages: a map of tens of MiB then costs a few dozen
  // page faults instead of thousands. A slab's unused rest stays below an eighth of the dense pages' bytes.
  std::size_t own_dense_pages_ = 0;
  std::vector<std::uint8_t*> slabs_;  // ascending
  std::uint8_t* slab_next_ = nullptr;
  std::uint8_t* slab_end_ = nullptr;
  // Where the last written page's record stands, so that writes in order skip the search.
  std::uint32_t cached_page_ = 0xFFFFFFFFu;
  std::size_t cached_position_ = 0;
};

namespace map_store {

// A leaf buffer: its used and allocated sizes, then the page records.
inline constexpr std::size_t kLeafHeader = 8;
// A page record: page number within the leaf, kind, write ends counted, run count, payload size; then the payload.
inline constexpr std::size_t kRecordHeader = 6;

inline std::uint32_t LeafUsed(const std::uint8_t* leaf) {
  std::uint32_t used = 0;
  std::memcpy(&used, leaf, 4);
  return used;
}

inline std::size_t RecordSize(const std::uint8_t* record) {
  std::uint16_t payload = 0;
  std::memcpy(&payload, record + 4, 2);
  return kRecordHeader + payload;
}

}  // namespace map_store

template <typename Visit>
void MapStore::ForEachPage(PageCursor& cursor, std::uint64_t from, std::uint64_t to, Visit&& visit) const {
  for (std::uint64_t index = from >> kLeafShift; index < leaves_.size() && (index << kLeafShift) < to; ++index) {
    const std::uint8_t* leaf = leaves_[index];
    if (leaf == nullptr) continue;
    const std::uint8_t* end = leaf + map_store::LeafUsed(leaf);
    const std::uint8_t* first = index == (from >> kLeafShift)
                                    ? Seek(cursor, index, static_cast<std::uint32_t>(from >> kPageShift) & 0xFF)
                                    : leaf + map_store::kLeafHeader;
    for (const std::uint8_t* record = first; record < end; record += map_store::RecordSize(record)) {
      const std::uint64_t page_offset = (index << kLeafShift) | (std::uint64_t{record[0]} << kPageShift);
      if (page_offset >= to) return;
      if (!visit(page_offset, record)) return;
    }
  }
}

template <typename Visit>
void MapStore::ForEachPageBackward(std::uint64_t before, Visit&& visit) const {
  if (before == 0 || leaves_.empty()) return;
  std::array<const std::uint8_t*, 256> records;
  for (std::uint64_t index = std::min<std::uint64_t>((before - 1) >> kLeafShift, leaves_.size() - 1) + 1;
       index-- > 0;) {
    const std::uint8_t* leaf = leaves_[index];
    if (leaf == nullptr) continue;
    std::size_t count = 0;
    const std::uint8_t* end = leaf + map_store::LeafUsed(leaf);
    for (const std::uint8_t* record = leaf + map_store::kLeafHeader; record < end;
         record += map_store::RecordSize(record)) {
      records[count++] = record;
    }
    while (count-- > 0) {
      const std::uint64_t page_offset = (index << kLeafShift) | (std::uint64_t{records[count][0]} << kPageShift);
      if (page_offset >= before) continue;
      if (!visit(page_offset, records[count])) return;
    }
  }
}

template <typename Visit>
void MapStore::TakeLeaf(std::size_t index, Visit&& visit) {
  if (leaves_[index] == nullptr) return;
  PageSpans spans;
  PageCursor cursor;
  const std::uint64_t from = std::uint64_t{index} << kLeafShift;
  const std::uint64_t to = from + (std::uint64_t{1} << kLeafShift);
  ForEachPage(cursor, from, to, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    const std::size_t count = SpansOf(page, spans);
    for (std::size_t i = 0; i < count; ++i) visit(page_offset + spans[i].start, spans[i].data, spans[i].length);
    return true;
  });
  FreeLeaf(index);
}

// Calls visit(offset, data, length) for the filled spans that end after `from`, in offset order, until it returns
// false; spans that touch across a page border come one after the other. The walk starts where `cursor` stands.
template <typename Visit>
void ForEachSpan(const MapStore& store, PageCursor& cursor, std::uint64_t from, Visit&& visit) {
  MapStore::PageSpans spans;
  store.ForEachPage(cursor, from, MapStore::kEnd, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    const std::size_t count = store.SpansOf(page, spans);
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint64_t offset = page_offset + spans[i].start;
      if (offset + spans[i].length <= from) continue;
      if (!visit(offset, spans[i].data, std::uint64_t{spans[i].length})) return false;
    }
    return true;
  });
}

// Calls visit(offset, data, length) for the filled spans that begin before `before`, last first, until it returns
// false.
template <typename Visit>
void ForEachSpanBackward(const MapStore& store, std::uint64_t before, Visit&& visit) {
  MapStore::PageSpans spans;
  store.ForEachPageBackward(before, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    for (std::size_t i = store.SpansOf(page, spans); i-- > 0;) {
      const std::uint64_t offset = page_offset + spans[i].start;
      if (offset >= before) continue;
      if (!visit(offset, spans[i].data, std::uint64_t{spans[i].length})) return false;
    }
    return true;
  });
}

}  // namespace varnok
