#include "image/image_compare.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "address_spans.h"
#include "analysis/gathering_sink.h"
#include "memmap/row_marks.h"
#include "text/line_text.h"
#include "memmap/map_filler.h"

namespace varnok {
namespace {

// Joins ranges of one kind that touch, since spans end at page borders.
class DiffJoiner {
 public:
  explicit DiffJoiner(const std::function<bool(const DiffRange&)>& report) : report_(report) {}

  bool Add(DiffKind kind, std::uint64_t first, std::uint64_t end) {
    if (open_ && open_->kind == kind && std::uint64_t{open_->range.last} + 1 == first) {
      open_->range.last = static_cast<std::uint32_t>(end - 1);
      return true;
    }
    const bool go_on = Flush();
    open_ = DiffRange{kind, {static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - 1)}};
    return go_on;
  }

  bool Flush() {
    if (!open_) return true;
    const DiffRange range = *open_;
    open_.reset();
    return report_(range);
  }

 private:
  const std::function<bool(const DiffRange&)>& report_;
  std::optional<DiffRange> open_;
};

// The bytes of one image at the head of a merge: those from `start` up to `end`, exclusive.
struct MergePiece {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  const std::uint8_t* data = nullptr;
};

// One step of the merge of two images' bytes in address order, either piece absent where its image has no more
// below `limit`, not both: deals with the bytes from the lower start on, up to where a piece begins or ends or to
// `limit`, and calls report(kind, first, end, bytes_a, bytes_b) for each range of them that only one image holds or
// that both hold with other bytes (the bytes of both from `first` on for these). Returns the address after the bytes
// dealt with, or nothing when report returned false.
template <typename Report>
std::optional<std::uint64_t> MergeStep(const MergePiece* a, const MergePiece* b, std::uint64_t limit, Report report) {
  const std::uint64_t start_a = a != nullptr ? a->start : UINT64_MAX;
  const std::uint64_t start_b = b != nullptr ? b->start : UINT64_MAX;
  if (start_a != start_b) {
    // Only one image holds the addresses up to where the other one's next piece begins.
    const bool in_a = start_a < start_b;
    const std::uint64_t first = std::min(start_a, start_b);
    const std::uint64_t end = std::min({in_a ? a->end : b->end, in_a ? start_b : start_a, limit});
    if (!report(in_a ? DiffKind::OnlyInA : DiffKind::OnlyInB, first, end, nullptr, nullptr)) return std::nullopt;
    return end;
  }
  const auto length = static_cast<std::size_t>(std::min({a->end, b->end, limit}) - start_a);
  const std::uint8_t* bytes_a = a->data;
  const std::uint8_t* bytes_b = b->data;
  if (std::memcmp(bytes_a, bytes_b, length) == 0) return start_a + length;
  for (std::size_t i = 0; i < length;) {
    if (bytes_a[i] == bytes_b[i]) {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < length && bytes_a[j] != bytes_b[j]) ++j;
    if (!report(DiffKind::Different, start_a + i, start_a + j, bytes_a + i, bytes_b + i)) return std::nullopt;
    i = j;
  }
  return start_a + length;
}

}  // namespace

void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report,
                   std::uint32_t from) {
  AddressSpans cursor_a(a);
  AddressSpans cursor_b(b);
  DiffJoiner joiner(report);
  const auto piece = [](const std::optional<FilledSpan>& span) {
    return span ? std::optional<MergePiece>({span->offset, span->offset + span->length, span->data}) : std::nullopt;
  };
  for (std::uint64_t at = from;;) {
    const std::optional<MergePiece> piece_a = piece(cursor_a.From(at));
    const std::optional<MergePiece> piece_b = piece(cursor_b.From(at));
    if (!piece_a && !piece_b) break;
    const std::optional<std::uint64_t> end =
        MergeStep(piece_a ? &*piece_a : nullptr, piece_b ? &*piece_b : nullptr, UINT64_MAX,
                  [&](DiffKind kind, std::uint64_t first, std::uint64_t last, const std::uint8_t*,
                      const std::uint8_t*) { return joiner.Add(kind, first, last); });
    if (!end) return;
    at = *end;
  }
  joiner.Flush();
}

namespace {

constexpr std::uint64_t kAllAddresses = std::uint64_t{1} << 32;
// How far the run that gets ahead may hold bytes the other has not reached before it waits.
constexpr std::uint64_t kMaxHeld = std::uint64_t{16} << 20;
// The differing ranges kept before the comparison gives up and leaves the rest to the maps: 48 MiB of them.
constexpr std::size_t kMaxRanges = std::size_t{1} << 22;

// A held block's memory, let go of as the sink that handed it over says.
using HeldBytes = std::unique_ptr<std::uint8_t, BlockDeallocator>;

// A block of one image's bytes handed over and not yet compared in full.
struct Held {
  std::uint64_t address = 0;
  HeldBytes bytes{nullptr, &std::free};  // `size` of them
  std::size_t size = 0;
  std::size_t compared = 0;  // the bytes at its start compared already
  std::uint64_t cost = 0;    // what holding it costs besides its bytes

  std::uint64_t Start() const { return address + compared; }
  std::uint64_t End() const { return address + size; }
};

// What a held block costs besides its bytes, its entry and its allocation's own: an image of many small records
// with gaps between them is held as many small blocks, and the bound on what is held must count these too.
constexpr std::uint64_t kHeldCost = sizeof(Held) + 32;

}  // namespace

struct StreamCompare::State {
  // Holds the blocks gathered from one run's records.
  class SideSink : public BlockSink {
   public:
    SideSink(State& state, int side) : state_(state), side_(side) {}
    bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override {
      if (state_.Stopped()) return true;
      auto* copy = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(length)));
      if (copy == nullptr) return false;
      std::memcpy(copy, data, static_cast<std::size_t>(length));
      return AdoptBlock(address, length, copy, static_cast<std::size_t>(length), &std::free);
    }
    bool AdoptsBlocks() const override { return true; }
    bool AdoptBlock(std::uint32_t address, std::int32_t length, std::uint8_t* data, std::size_t capacity,
                    BlockDeallocator free) override {
      return state_.Hold(side_, address, static_cast<std::size_t>(length), HeldBytes(data, free), capacity);
    }
    bool GaveUp() const override { return state_.gave_up.load(std::memory_order_relaxed); }

   private:
    State& state_;
    const int side_;
  };

  struct Side {
    // Under the mutex.
    std::deque<Held> held;
    std::uint64_t held_bytes = 0;  // with each block's cost
    std::uint64_t reached = 0;  // every byte this image loads below it has been handed over
    bool ended = false;
    std::uint64_t loaded = 0;   // bytes compared
    MapFiller kept;             // the bytes of the first differing ranges
  };

  explicit State(std::uint64_t kept_bytes)
      : sinks{SideSink(*this, 0), SideSink(*this, 1)},
        gathered{GatheringSink(sinks[0], GatheringSink::Order::kUpOnly),
                 GatheringSink(sinks[1], GatheringSink::Order::kUpOnly)},
        kept(kept_bytes),
        joiner(report) {}

  bool Stopped() const {
    return gave_up.load(std::memory_order_relaxed) || moot.load(std::memory_order_relaxed);
  }

  // Holds a block of an image, compares what both images have passed, and waits while this image is far ahead.
  bool Hold(int side, std::uint32_t address, std::size_t size, HeldBytes bytes, std::size_t capacity) {
    if (Stopped()) return true;
    Side& s = sides[side];
    try {
      Held block;
      block.address = address;
      block.bytes = std::move(bytes);
      block.size = size;
      block.cost = kHeldCost + (capacity - size);
      std::unique_lock<std::mutex> lock(mutex);
      if (Stopped()) return true;
      s.held.push_back(std::move(block));
      s.held_bytes += size + s.held.back().cost;
      s.reached = s.held.back().End();
      Compare();
      changed.notify_all();
      changed.wait(lock, [&] { return Stopped() || s.held_bytes <= kMaxHeld || sides[1 - side].ended; });
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void End(int side, bool parsed) {
    // The run may have handed records over that its sink gave up on: records that go back.
    const bool flushed = gathered[side].Release();
    std::lock_guard<std::mutex> lock(mutex);
    Side& s = sides[side];
    s.ended = true;
    s.reached = kAllAddresses;
    if (!parsed) moot.store(true, std::memory_order_relaxed);
    if (!flushed || gathered[side].GaveUp()) GiveUp();
    if (parsed && !gave_up.load(std::memory_order_relaxed)) Compare();
    changed.notify_all();
  }

  void GiveUp() {
    gave_up.store(true, std::memory_order_relaxed);
    changed.notify_all();
  }

  // Compares the held bytes below the address both images have reached; under the mutex.
  void Compare() {
    const std::uint64_t limit = std::min(sides[0].reached, sides[1].reached);
    try {
      for (;;) {
        const std::optional<MergePiece> a = Head(0, limit);
        const std::optional<MergePiece> b = Head(1, limit);
        if (!a && !b) return;
        const std::optional<std::uint64_t> end =
            MergeStep(a ? &*a : nullptr, b ? &*b : nullptr, limit,
                      [&](DiffKind kind, std::uint64_t first, std::uint64_t last, const std::uint8_t* bytes_a,
                          const std::uint8_t* bytes_b) {
                        if (kind == DiffKind::Different) Keep(first, last - first, bytes_a, bytes_b);
                        return Report(kind, first, last);
                      });
        if (!end) return;
        if (a && a->start < *end) Let(0, *end - a->start);
        if (b && b->start < *end) Let(1, *end - b->start);
      }
    } catch (const std::bad_alloc&) {
      GiveUp();
    }
  }

  // The bytes of the first held block of an image, when it begins below limit.
  std::optional<MergePiece> Head(int side, std::uint64_t limit) const {
    const std::deque<Held>& held = sides[side].held;
    if (held.empty() || held.front().Start() >= limit) return std::nullopt;
    const Held& head = held.front();
    return MergePiece{head.Start(), head.End(), head.bytes.get() + head.compared};
  }

  // Lets go of the first `length` held bytes of an image, compared now.
  void Let(int side, std::uint64_t length) {
    if (length == 0) return;
    Side& s = sides[side];
    Held& head = s.held.front();
    head.compared += static_cast<std::size_t>(length);
    s.held_bytes -= length;
    s.loaded += length;
    if (head.compared < head.size) return;
    s.held_bytes -= head.cost;
    s.held.pop_front();
  }

  bool Report(DiffKind kind, std::uint64_t first, std::uint64_t end) {
    if (joiner.Add(kind, first, end)) return true;
    GiveUp();
    return false;
  }

  void Keep(std::uint64_t address, std::size_t length, const std::uint8_t* a, const std::uint8_t* b) {
    const auto taken = static_cast<std::int32_t>(std::min<std::uint64_t>(length, kept));
    if (taken == 0) return;
    if (!sides[0].kept.Take(static_cast<std::uint32_t>(address), taken, a) ||
        !sides[1].kept.Take(static_cast<std::uint32_t>(address), taken, b)) {
      throw std::bad_alloc();
    }
    kept -= static_cast<std::uint64_t>(taken);
  }

  SideSink sinks[2];
  GatheringSink gathered[2];  // what the runs hand their records to, each on its own thread
  std::atomic<bool> gave_up = false;
  std::mutex mutex;
  std::condition_variable changed;  // bytes were compared, a run ended, or the comparison gave up
  Side sides[2];
  std::atomic<bool> moot = false;  // a run failed: there is nothing to compare
  std::uint64_t kept;  // the differing bytes still to keep
  std::vector<DiffRange> ranges;
  const std::function<bool(const DiffRange&)> report = [this](const DiffRange& range) {
    if (ranges.size() >= kMaxRanges) return false;
    ranges.push_back(range);
    return true;
  };
  DiffJoiner joiner;
};

StreamCompare::StreamCompare(std::uint64_t kept) : state_(std::make_unique<State>(kept)) {}

StreamCompare::~StreamCompare() = default;

BlockSink& StreamCompare::Side(int side) { return state_->gathered[side]; }

void StreamCompare::End(int side, bool parsed) { state_->End(side, parsed); }

bool StreamCompare::GaveUp() const { return state_->gave_up.load(std::memory_order_relaxed); }

std::optional<StreamedDiff> StreamCompare::Finish() {
  State& state = *state_;
  if (!state.joiner.Flush()) state.GiveUp();
  if (GaveUp()) return std::nullopt;
  StreamedDiff diff;
  diff.ranges = std::move(state.ranges);
  diff.loaded_a = state.sides[0].loaded;
  diff.loaded_b = state.sides[1].loaded;
  state.sides[0].kept.FinishWhole(diff.a);
  state.sides[1].kept.FinishWhole(diff.b);
  return diff;
}

std::uint64_t LoadedBytes(const MapGrid& grid) {
  AddressSpans spans(grid);
  std::uint64_t bytes = 0;
  for (std::optional<FilledSpan> span = spans.From(0); span; span = spans.From(span->offset + span->length)) {
    bytes += span->length;
  }
  return bytes;
}

RowDiff CompareRow(const RowCells& a, const RowCells& b) {
  RowDiff diff;
  diff.only_in_a = a.filled & ~b.filled;
  diff.only_in_b = b.filled & ~a.filled;
  const std::uint32_t both = a.filled & b.filled;
  for (std::uint32_t c = 0; c < MapGrid::kBytesPerRow; ++c) {
    if ((both & (1u << c)) && a.bytes[c] != b.bytes[c]) diff.different |= 1u << c;
  }
  return diff;
}

DiffList ListDifferences(const MapGrid& a, const MapGrid& b, std::size_t most) {
  DiffList list;
  CompareImages(a, b, [&](const DiffRange& diff) {
    list.bytes += diff.range.Size();
    ++list.count;
    if (list.ranges.size() < most) {
      list.ranges.push_back(diff);
    } else {
      list.more_bytes += diff.range.Size();
    }
    return true;
  });
  return list;
}

std::vector<std::uint8_t> DifferenceMarks(const MapGrid& a, const MapGrid& b, int pixels, std::uint8_t mark) {
  if (pixels <= 0) return {};
  RowMarks marks(a, pixels, mark);
  CompareImages(a, b, [&](const DiffRange& diff) {
    marks.Add(diff.range);
    return true;
  });
  return marks.Take();
}

std::string DiffLine(const DiffRange& diff) {
  std::string line = diff.kind == DiffKind::OnlyInA   ? "Only in A: "
                     : diff.kind == DiffKind::OnlyInB ? "Only in B: "
                                                      : "Different: ";
  line += AddressText(diff.range.first);
  line += " - ";
  line += AddressText(diff.range.last);
  return line;
}

std::vector<std::string> DiffEndLines(const DiffSummary& summary) {
  std::vector<std::string> lines;
  if (summary.unshown_bytes > 0) {
    lines.push_back("... and " + std::to_string(summary.unshown_bytes) + " more differing bytes");
  }
  if (summary.Same()) lines.emplace_back(kSameImageLine);
  if (summary.exec_a != summary.exec_b) {
    std::string line = "Execution address: ";
    line += summary.exec_a ? AddressText(*summary.exec_a) : "none";
    line += " in A, ";
    line += summary.exec_b ? AddressText(*summary.exec_b) : "none";
    line += " in B";
    lines.push_back(std::move(line));
  }
  lines.push_back("Differences: " + std::to_string(summary.bytes) + " bytes in " + std::to_string(summary.ranges) +
                  " ranges (A: " + std::to_string(summary.loaded_a) + " bytes, B: " + std::to_string(summary.loaded_b) +
                  " bytes)");
  return lines;
}

std::string CompareReadout(std::uint32_t address, const ByteCell& a, const ByteCell& b) {
  std::string text = AddressText(address);
  text += ": ";
  text += a.filled ? HexText(a.value, 2) : "none";
  text += " in A, ";
  text += b.filled ? HexText(b.value, 2) : "none";
  text += " in B";
  return text;
}

}  // namespace varnok
