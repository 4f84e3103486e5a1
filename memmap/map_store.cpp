#include "map_store.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

namespace varnok {

using map_store::kLeafHeader;
using map_store::kRecordHeader;

namespace {

enum Kind : std::uint8_t { kSmall = 0, kBig = 1, kDense = 2 };

constexpr std::uint32_t kPagesPerLeaf = 1u << (MapStore::kLeafShift - MapStore::kPageShift);
constexpr std::size_t kRunSize = 4;  // start and length, 16 bits each
// A small page keeps its runs and bytes in its record up to this size; beyond it they get a buffer of their own.
constexpr std::size_t kSmallPayload = 120;
// A big page's buffer starts with its usable size and its data byte count.
constexpr std::size_t kBigHeader = 4;
constexpr std::size_t kPointerPayload = sizeof(void*);

// What the allocator takes for `size` bytes: an 8-byte header, rounded up to 16 bytes, at least 32.
std::size_t AllocationCost(std::size_t size) { return std::max<std::size_t>(32, (size + 8 + 15) & ~std::size_t{15}); }
// The bytes that an allocation for `need` bytes can hold anyway.
std::size_t UsableFor(std::size_t need) { return AllocationCost(need) - 8; }

// The fields of leaf, record and buffer headers stand at any byte position, so they are copied in and out.
template <typename T>
T Load(const std::uint8_t* at) {
  T value{};
  std::memcpy(&value, at, sizeof value);
  return value;
}
template <typename T>
void Store(std::uint8_t* at, std::size_t value) {
  const auto narrow = static_cast<T>(value);
  std::memcpy(at, &narrow, sizeof narrow);
}
std::uint32_t Load16(const std::uint8_t* at) { return Load<std::uint16_t>(at); }
template <typename T>
T* LoadPointer(const std::uint8_t* at) {
  return Load<T*>(at);
}
void StorePointer(std::uint8_t* at, const void* pointer) { std::memcpy(at, &pointer, sizeof pointer); }

// Bits first..first + count - 1 of a word; count is 1 to 32.
std::uint32_t BitMask(std::uint32_t first, std::uint32_t count) {
  return (count >= 32 ? 0xFFFFFFFFu : ((1u << count) - 1u)) << first;
}

template <typename Words>
void SetBits(Words& filled, std::uint32_t start, std::uint32_t end) {
  while (start < end) {
    const std::uint32_t bit = start & 31;
    const std::uint32_t count = std::min(32 - bit, end - start);
    filled[start >> 5] |= BitMask(bit, count);
    start += count;
  }
}

// The runs of a small or big page: run i is (start, length); the bytes of all runs follow one another in run order.
struct SparseView {
  const std::uint8_t* runs = nullptr;
  std::uint32_t count = 0;
  const std::uint8_t* data = nullptr;

  std::uint32_t Start(std::uint32_t i) const { return Load16(runs + kRunSize * i); }
  std::uint32_t Length(std::uint32_t i) const { return Load16(runs + kRunSize * i + 2); }
};

SparseView ViewOf(const std::uint8_t* record) {
  SparseView view;
  view.count = record[3];
  view.runs =
      record[1] == kBig ? LoadPointer<std::uint8_t>(record + kRecordHeader) + kBigHeader : record + kRecordHeader;
  view.data = view.runs + kRunSize * view.count;
  return view;
}

std::uint32_t LeafCapacity(const std::uint8_t* leaf) { return Load<std::uint32_t>(leaf + 4); }

}  // namespace

struct MapStore::DensePage {
  std::array<std::uint32_t, kRowsPerPage> filled;  // bit i of word w: offset 32 w + i was written
  std::array<std::uint8_t, kPageBytes> bytes;      // valid where the filled bit is set
};

// A page's runs and bytes while a write is merged into them.
struct MapStore::Content {
  std::uint32_t count = 0;
  std::uint32_t data_bytes = 0;
  std::array<std::uint8_t, kRunSize * 256> runs;
  std::array<std::uint8_t, kPageBytes> data;

  void AddRun(std::uint32_t start, std::uint32_t length) {
    Store<std::uint16_t>(runs.data() + kRunSize * count, start);
    Store<std::uint16_t>(runs.data() + kRunSize * count + 2, length);
    ++count;
  }
  void Add(std::uint32_t start, std::uint32_t length, const std::uint8_t* bytes) {
    AddRun(start, length);
    std::memcpy(data.data() + data_bytes, bytes, length);
    data_bytes += length;
  }
  std::size_t Size() const { return kRunSize * count + data_bytes; }
  void CopyTo(std::uint8_t* out) const {
    std::memcpy(out, runs.data(), kRunSize * count);
    std::memcpy(out + kRunSize * count, data.data(), data_bytes);
  }
};

namespace {

// The page's runs with the bytes start..end - 1 written over them: overlapping and touching runs become one.
template <typename Content>
void Merge(const SparseView& old, std::uint32_t start, std::uint32_t end, const std::uint8_t* bytes, Content& out) {
  out.count = 0;
  out.data_bytes = 0;
  std::uint32_t i = 0;
  const std::uint8_t* old_data = old.data;
  for (; i < old.count && old.Start(i) + old.Length(i) < start; ++i) {
    out.Add(old.Start(i), old.Length(i), old_data);
    old_data += old.Length(i);
  }
  std::uint32_t first = start;
  std::uint32_t last = end;
  std::uint32_t j = i;
  for (; j < old.count && old.Start(j) <= end; ++j) {
    first = std::min(first, old.Start(j));
    last = std::max(last, old.Start(j) + old.Length(j));
  }
  std::uint8_t* merged = out.data.data() + out.data_bytes;
  for (std::uint32_t k = i; k < j; ++k) {
    std::memcpy(merged + (old.Start(k) - first), old_data, old.Length(k));
    old_data += old.Length(k);
  }
  std::memcpy(merged + (start - first), bytes, end - start);
  out.AddRun(first, last - first);
  out.data_bytes += last - first;
  for (std::uint32_t k = j; k < old.count; ++k) {
    out.Add(old.Start(k), old.Length(k), old_data);
    old_data += old.Length(k);
  }
}

}  // namespace

MapStore::MapStore(std::uint64_t span)
    : leaves_(static_cast<std::size_t>((span + (std::uint64_t{1} << kLeafShift) - 1) >> kLeafShift), nullptr) {}

MapStore::~MapStore() {
  for (std::size_t index = 0; index < leaves_.size(); ++index) FreeLeaf(index);
  for (std::uint8_t* slab : slabs_) ::operator delete(slab, std::align_val_t{kSlabBytes});
}

void MapStore::FreeLeaf(std::size_t index) {
  std::uint8_t* leaf = leaves_[index];
  if (leaf == nullptr) return;
  const std::uint8_t* end = leaf + map_store::LeafUsed(leaf);
  for (const std::uint8_t* record = leaf + kLeafHeader; record < end; record += map_store::RecordSize(record)) {
    if (record[1] == kDense) FreeDensePage(LoadPointer<DensePage>(record + kRecordHeader));
    if (record[1] == kBig) {
      std::uint8_t* buffer = LoadPointer<std::uint8_t>(record + kRecordHeader);
      Free(buffer, Load16(buffer));
    }
  }
  Free(leaf, LeafCapacity(leaf));
  leaves_[index] = nullptr;
  cached_page_ = 0xFFFFFFFFu;
}

bool MapStore::Rebase(std::uint64_t from, std::uint64_t span) {
  const std::size_t count = leaves_.size();
  const std::size_t first = static_cast<std::size_t>(from >> kLeafShift) % count;
  const std::size_t keep = static_cast<std::size_t>((span + (std::uint64_t{1} << kLeafShift) - 1) >> kLeafShift);
  // The last kept leaf may reach past the span.
  const std::uint64_t tail = span - ((std::uint64_t{keep} - 1) << kLeafShift);
  if (tail < (std::uint64_t{1} << kLeafShift)) {
    const std::uint64_t last = std::uint64_t{(first + keep - 1) % count} << kLeafShift;
    if (NextFilled(last + tail) < last + (std::uint64_t{1} << kLeafShift)) return false;
  }
  std::vector<std::uint8_t*> moved(keep);
  // What lies in the other leaves is outside the span.
  for (std::size_t i = keep; i < count; ++i) FreeLeaf((first + i) % count);
  for (std::size_t i = 0; i < keep; ++i) moved[i] = leaves_[(first + i) % count];
  leaves_.swap(moved);
  cached_page_ = 0xFFFFFFFFu;
  return true;
}

void* MapStore::Allocate(std::size_t size) {
  void* memory = ::operator new(size);
  allocated_ += AllocationCost(size);
  return memory;
}

void MapStore::Free(void* memory, std::size_t size) {
  ::operator delete(memory);
  allocated_ -= AllocationCost(size);
}

MapStore::DensePage* MapStore::NewDensePage() {
  if (own_dense_pages_ < kPagesBeforeSlabs) {
    auto* page = static_cast<DensePage*>(Allocate(sizeof(DensePage)));
    ++own_dense_pages_;
    return page;
  }
  if (static_cast<std::size_t>(slab_end_ - slab_next_) < sizeof(DensePage)) AddSlab();
  auto* page = reinterpret_cast<DensePage*>(slab_next_);
  slab_next_ += sizeof(DensePage);
  return page;
}

// A page cut from a slab goes with its slab, when the store goes.
void MapStore::FreeDensePage(DensePage* page) {
  auto* at = reinterpret_cast<std::uint8_t*>(page);
  const auto slab = std::upper_bound(slabs_.begin(), slabs_.end(), at);
  if (slab != slabs_.begin() && at < slab[-1] + kSlabBytes) return;
  Free(page, sizeof(DensePage));
  --own_dense_pages_;
}

// A slab on a 2 MiB border, as a huge page needs, for which huge pages are asked; where the system gives none, it is
// made of small pages like any other memory. It comes from operator new, so that a program that keeps address space
// for others sees it like any other large allocation.
void MapStore::AddSlab() {
  auto* slab = static_cast<std::uint8_t*>(::operator new(kSlabBytes, std::align_val_t{kSlabBytes}));
#ifdef MADV_HUGEPAGE
  ::madvise(slab, kSlabBytes, MADV_HUGEPAGE);
#endif
  try {
    slabs_.insert(std::upper_bound(slabs_.begin(), slabs_.end(), slab), slab);
  } catch (...) {
    ::operator delete(slab, std::align_val_t{kSlabBytes});
    throw;
  }
  allocated_ += kSlabBytes;
  slab_next_ = slab;
  slab_end_ = slab + kSlabBytes;
}

std::size_t MapStore::MemoryBytes() const {
  return sizeof(*this) + leaves_.capacity() * sizeof(std::uint8_t*) + allocated_;
}

const std::uint8_t* MapStore::Seek(PageCursor& cursor, std::size_t leaf_index, std::uint32_t low) const {
  const std::uint8_t* leaf = leaves_[leaf_index];
  const std::uint8_t* end = leaf + map_store::LeafUsed(leaf);
  const std::uint8_t* record = leaf + kLeafHeader;
  if (cursor.leaf == leaf && leaf[cursor.position] <= low) record = leaf + cursor.position;
  while (record < end && record[0] < low) record += map_store::RecordSize(record);
  if (record < end) {
    cursor.leaf = leaf;
    cursor.position = static_cast<std::size_t>(record - leaf);
  }
  return record;
}

void MapStore::Write(std::uint32_t offset, std::uint32_t length, const std::uint8_t* data) {
  // Each page gets its part; the write's first and last byte are the ends that pay for a page turning dense.
  std::uint64_t done = 0;
  while (done < length) {
    const std::uint64_t at = std::uint64_t{offset} + done;
    const auto start = static_cast<std::uint32_t>(at & (kPageBytes - 1));
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(length - done, kPageBytes - start));
    const std::uint32_t ends = (done == 0 ? 1u : 0u) + (done + count == length ? 1u : 0u);
    WritePage(static_cast<std::uint32_t>(at >> kPageShift), start, start + count, data + done, ends);
    done += count;
  }
}

void MapStore::WritePage(std::uint32_t page, std::uint32_t start, std::uint32_t end, const std::uint8_t* data,
                         std::uint32_t ends) {
  const std::uint32_t leaf_index = page >> (kLeafShift - kPageShift);
  const std::uint32_t low = page & (kPagesPerLeaf - 1);
  const std::uint8_t* leaf = leaves_[leaf_index];
  std::size_t position = kLeafHeader;
  const std::uint8_t* record = nullptr;
  if (leaf != nullptr && cached_page_ == page) {
    position = cached_position_;
    record = leaf + position;
  } else if (leaf != nullptr) {
    const std::uint8_t* end_of_leaf = leaf + map_store::LeafUsed(leaf);
    const std::uint8_t* at = leaf + kLeafHeader;
    while (at < end_of_leaf && at[0] < low) at += map_store::RecordSize(at);
    position = static_cast<std::size_t>(at - leaf);
    if (at < end_of_leaf && at[0] == low) record = at;
  }

  if (record != nullptr && record[1] == kDense) {
    auto* dense = LoadPointer<DensePage>(record + kRecordHeader);
    std::memcpy(dense->bytes.data() + start, data, end - start);
    SetBits(dense->filled, start, end);
    cached_page_ = page;
    cached_position_ = position;
    return;
  }

  Content content;
  Merge(record != nullptr ? ViewOf(record) : SparseView{}, start, end, data, content);
  const std::uint32_t all_ends = std::min<std::uint32_t>(255, (record != nullptr ? record[2] : 0u) + ends);
  const std::size_t old_size = record != nullptr ? map_store::RecordSize(record) : 0;
  std::uint8_t* old_big =
      record != nullptr && record[1] == kBig ? LoadPointer<std::uint8_t>(record + kRecordHeader) : nullptr;
  std::array<std::uint8_t, kRecordHeader + kSmallPayload> fresh;
  fresh[0] = static_cast<std::uint8_t>(low);
  fresh[2] = static_cast<std::uint8_t>(all_ends);
  fresh[3] = static_cast<std::uint8_t>(content.count);
  // A dense page costs its allocation and its record; the filled bytes (1.25 each) and the write ends (40 each)
  // pay for it.
  constexpr std::size_t kDenseCost = 4656;
  if (content.data_bytes == kPageBytes || 5 * content.data_bytes + 160 * all_ends >= 4 * kDenseCost) {
    DensePage* dense = NewDensePage();
    dense->filled.fill(0);
    const SparseView view{content.runs.data(), content.count, content.data.data()};
    const std::uint8_t* bytes = view.data;
    for (std::uint32_t i = 0; i < view.count; ++i) {
      std::memcpy(dense->bytes.data() + view.Start(i), bytes, view.Length(i));
      SetBits(dense->filled, view.Start(i), view.Start(i) + view.Length(i));
      bytes += view.Length(i);
    }
    fresh[1] = kDense;
    fresh[3] = 0;
    Store<std::uint16_t>(fresh.data() + 4, kPointerPayload);
    StorePointer(fresh.data() + kRecordHeader, dense);
    try {
      PutRecord(leaf_index, position, old_size, fresh.data(), kRecordHeader + kPointerPayload);
    } catch (...) {
      FreeDensePage(dense);
      throw;
    }
  } else if (content.Size() <= kSmallPayload) {
    fresh[1] = kSmall;
    Store<std::uint16_t>(fresh.data() + 4, content.Size());
    content.CopyTo(fresh.data() + kRecordHeader);
    PutRecord(leaf_index, position, old_size, fresh.data(), kRecordHeader + content.Size());
  } else {
    const std::size_t need = kBigHeader + content.Size();
    std::uint8_t* buffer = old_big;
    if (buffer == nullptr || Load16(buffer) < need) {
      // A page written again grows by a quarter, so that a run of small writes copies it only a few times.
      const std::size_t size = UsableFor(record != nullptr ? need + need / 4 : need);
      buffer = static_cast<std::uint8_t*>(Allocate(size));
      Store<std::uint16_t>(buffer, size);
    }
    // A reused buffer is only overwritten once its old content has been merged; the record keeps its size then.
    Store<std::uint16_t>(buffer + 2, content.data_bytes);
    content.CopyTo(buffer + kBigHeader);
    fresh[1] = kBig;
    Store<std::uint16_t>(fresh.data() + 4, kPointerPayload);
    StorePointer(fresh.data() + kRecordHeader, buffer);
    try {
      PutRecord(leaf_index, position, old_size, fresh.data(), kRecordHeader + kPointerPayload);
    } catch (...) {
      if (buffer != old_big) Free(buffer, Load16(buffer));
      throw;
    }
  }
  const std::uint8_t* kept_big = fresh[1] == kBig ? LoadPointer<std::uint8_t>(fresh.data() + kRecordHeader) : nullptr;
  if (old_big != nullptr && old_big != kept_big) Free(old_big, Load16(old_big));
  cached_page_ = page;
  cached_position_ = position;
}

void MapStore::PutRecord(std::uint32_t leaf_index, std::size_t position, std::size_t old_size,
                         const std::uint8_t* record, std::size_t size) {
  std::uint8_t* leaf = leaves_[leaf_index];
  const std::size_t used = leaf != nullptr ? map_store::LeafUsed(leaf) : kLeafHeader;
  const std::size_t capacity = leaf != nullptr ? LeafCapacity(leaf) : 0;
  const std::size_t new_used = used - old_size + size;
  const std::size_t tail = used - position - old_size;
  if (new_used > capacity) {
    // The first record gets a leaf of its size; a growing leaf grows by a quarter.
    const std::size_t new_capacity = UsableFor(leaf != nullptr ? new_used + new_used / 4 : new_used);
    auto* grown = static_cast<std::uint8_t*>(Allocate(new_capacity));
    if (leaf != nullptr) {
      std::memcpy(grown, leaf, position);
      std::memcpy(grown + position + size, leaf + position + old_size, tail);
      Free(leaf, capacity);
    }
    std::memcpy(grown + position, record, size);
    Store<std::uint32_t>(grown, new_used);
    Store<std::uint32_t>(grown + 4, new_capacity);
    leaves_[leaf_index] = grown;
    return;
  }
  std::memmove(leaf + position + size, leaf + position + old_size, tail);
  std::memcpy(leaf + position, record, size);
  Store<std::uint32_t>(leaf, new_used);
}

std::uint32_t MapStore::ReadRow(PageCursor& cursor, std::uint32_t row_offset, std::uint8_t* bytes) const {
  const std::uint32_t leaf_index = row_offset >> kLeafShift;
  if (leaf_index >= leaves_.size() || leaves_[leaf_index] == nullptr) return 0;
  const std::uint32_t low = (row_offset >> kPageShift) & (kPagesPerLeaf - 1);
  const std::uint8_t* record = Seek(cursor, leaf_index, low);
  if (record == leaves_[leaf_index] + map_store::LeafUsed(leaves_[leaf_index]) || record[0] != low) return 0;
  const std::uint32_t in_page = row_offset & (kPageBytes - 1);
  if (record[1] == kDense) {
    const auto* dense = LoadPointer<const DensePage>(record + kRecordHeader);
    const std::uint32_t mask = dense->filled[in_page >> 5];
    if (mask != 0) std::memcpy(bytes, dense->bytes.data() + in_page, 32);
    return mask;
  }
  const SparseView view = ViewOf(record);
  std::uint32_t mask = 0;
  const std::uint8_t* data = view.data;
  for (std::uint32_t i = 0; i < view.count; ++i) {
    const std::uint32_t start = view.Start(i);
    const std::uint32_t end = start + view.Length(i);
    if (start >= in_page + 32) break;
    if (end > in_page) {
      const std::uint32_t first = std::max(start, in_page);
      const std::uint32_t last = std::min(end, in_page + 32);
      std::memcpy(bytes + (first - in_page), data + (first - start), last - first);
      mask |= BitMask(first - in_page, last - first);
    }
    data += view.Length(i);
  }
  return mask;
}

std::uint64_t MapStore::NextFilled(std::uint64_t from) const {
  std::uint64_t next = std::uint64_t{leaves_.size()} << kLeafShift;
  PageCursor cursor;
  ForEachPage(cursor, from, kEnd, [&](std::uint64_t page_offset, const std::uint8_t* page) {
    const std::uint32_t position = from > page_offset ? static_cast<std::uint32_t>(from - page_offset) : 0;
    if (page[1] == kDense) {
      const auto* dense = LoadPointer<const DensePage>(page + kRecordHeader);
      std::uint32_t word = dense->filled[position >> 5] & (0xFFFFFFFFu << (position & 31));
      for (std::uint32_t index = position >> 5;;) {
        if (word != 0) {
          next = page_offset + index * 32 + static_cast<std::uint32_t>(std::countr_zero(word));
          return false;
        }
        if (++index == kRowsPerPage) return true;
        word = dense->filled[index];
      }
    }
    const SparseView view = ViewOf(page);
    for (std::uint32_t i = 0; i < view.count; ++i) {
      if (view.Start(i) + view.Length(i) > position) {
        next = page_offset + std::max(view.Start(i), position);
        return false;
      }
    }
    return true;
  });
  return next;
}

const std::uint8_t* MapStore::RowsOf(const std::uint8_t* page, RowMasks& masks, std::uint8_t* scratch) const {
  if (page[1] == kDense) {
    const auto* dense = LoadPointer<const DensePage>(page + kRecordHeader);
    masks = dense->filled;
    return dense->bytes.data();
  }
  masks.fill(0);
  const SparseView view = ViewOf(page);
  const std::uint8_t* data = view.data;
  for (std::uint32_t i = 0; i < view.count; ++i) {
    const std::uint32_t start = view.Start(i);
    const std::uint32_t length = view.Length(i);
    if (scratch != nullptr) std::memcpy(scratch + start, data, length);
    data += length;
    SetBits(masks, start, start + length);
  }
  return scratch;
}

std::size_t MapStore::SpansOf(const std::uint8_t* page, PageSpans& spans) const {
  std::size_t count = 0;
  if (page[1] == kDense) {
    const auto* dense = LoadPointer<const DensePage>(page + kRecordHeader);
    std::uint32_t position = 0;
    while (position < kPageBytes) {
      const std::uint32_t word = dense->filled[position >> 5] >> (position & 31);
      if (word == 0) {
        position = (position | 31) + 1;
        continue;
      }
      position += static_cast<std::uint32_t>(std::countr_zero(word));
      const std::uint32_t start = position;
      for (;;) {
        // The bits shifted in at the top are zeros, so the count stops at the end of the word.
        const std::uint32_t bit = position & 31;
        const auto ones = static_cast<std::uint32_t>(std::countr_one(dense->filled[position >> 5] >> bit));
        position += ones;
        if (bit + ones < 32 || position >= kPageBytes) break;
      }
      spans[count++] = Span{start, position - start, dense->bytes.data() + start};
    }
    return count;
  }
  const SparseView view = ViewOf(page);
  const std::uint8_t* data = view.data;
  for (std::uint32_t i = 0; i < view.count; ++i) {
    spans[count++] = Span{view.Start(i), view.Length(i), data};
    data += view.Length(i);
  }
  return count;
}

}  // namespace varnok
