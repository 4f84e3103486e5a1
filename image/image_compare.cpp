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

// Calls run(i, j) for each maximal run i..j - 1 of the `length` bytes where a and b differ, in order; false when
// run does.
template <typename Run>
bool ForEachDifferentRun(const std::uint8_t* a, const std::uint8_t* b, std::size_t length, Run run) {
  if (std::memcmp(a, b, length) == 0) return true;
  for (std::size_t i = 0; i < length;) {
    if (a[i] == b[i]) {
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < length && a[j] != b[j]) ++j;
    if (!run(i, j)) return false;
    i = j;
  }
  return true;
}

}  // namespace

void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report,
                   std::uint32_t from) {
  AddressSpans cursor_a(a);
  AddressSpans cursor_b(b);
  DiffJoiner joiner(report);
  std::uint64_t at = from;
  for (;;) {
    const std::optional<FilledSpan> span_a = cursor_a.From(at);
    const std::optional<FilledSpan> span_b = cursor_b.From(at);
    if (!span_a && !span_b) break;
    const std::uint64_t start_a = span_a ? span_a->offset : UINT64_MAX;
    const std::uint64_t start_b = span_b ? span_b->offset : UINT64_MAX;
    const std::uint64_t end_a = span_a ? start_a + span_a->length : UINT64_MAX;
    const std::uint64_t end_b = span_b ? start_b + span_b->length : UINT64_MAX;
    if (start_a != start_b) {
      // Only one image holds the addresses up to where the other one's next span begins.
      const bool in_a = start_a < start_b;
      const std::uint64_t first = std::min(start_a, start_b);
      const std::uint64_t end = in_a ? std::min(end_a, start_b) : std::min(end_b, start_a);
      if (!joiner.Add(in_a ? DiffKind::OnlyInA : DiffKind::OnlyInB, first, end)) return;
      at = end;
      continue;
    }
    const std::size_t length = static_cast<std::size_t>(std::min(end_a, end_b) - start_a);
    if (!ForEachDifferentRun(span_a->data, span_b->data, length, [&](std::size_t i, std::size_t j) {
          return joiner.Add(DiffKind::Different, start_a + i, start_a + j);
        })) {
      return;
    }
    at = start_a + length;
  }
  joiner.Flush();
}

namespace {

constexpr std::uint64_t kAllAddresses = std::uint64_t{1} << 32;
// Records that follow one another are handed over together, in blocks of up to this many bytes.
constexpr std::size_t kGather = std::size_t{64} << 10;
// How far the run that gets ahead may hold bytes the other has not reached before it waits.
constexpr std::uint64_t kMaxHeld = std::uint64_t{16} << 20;
// The differing ranges kept before the comparison gives up and leaves the rest to the maps: 48 MiB of them.
constexpr std::size_t kMaxRanges = std::size_t{1} << 22;

// A block of one image's bytes handed over and not yet compared in full.
struct Held {
  std::uint64_t address = 0;
  std::vector<std::uint8_t> bytes;  // its first `size`
  std::size_t size = 0;
  std::size_t compared = 0;  // the bytes at its start compared already

  std::uint64_t Start() const { return address + compared; }
  std::uint64_t End() const { return address + size; }
};

}  // namespace

struct StreamCompare::State {
  class SideSink : public BlockSink {
   public:
    SideSink(State& state, int side) : state_(state), side_(side) {}
    bool Take(std::uint32_t address, std::int32_t length, const std::uint8_t* data) override {
      return state_.Take(side_, address, length, data);
    }
    bool GaveUp() const override { return state_.gave_up.load(std::memory_order_relaxed); }

   private:
    State& state_;
    const int side_;
  };

  struct Side {
    // The run's thread's own: the records gathered and not yet handed over, and where the last one ended.
    std::vector<std::uint8_t> gathered;  // its first gathered_size
    std::size_t gathered_size = 0;
    std::uint64_t gathered_at = 0;
    bool taken = false;
    std::uint64_t taken_end = 0;
    // Under the mutex.
    std::deque<Held> held;
    std::uint64_t held_bytes = 0;
    std::uint64_t reached = 0;  // every byte this image loads below it has been handed over
    bool ended = false;
    std::uint64_t loaded = 0;   // bytes compared
    MapFiller kept;             // the bytes of the first differing ranges
  };

  explicit State(std::uint64_t kept_bytes)
      : sinks{SideSink(*this, 0), SideSink(*this, 1)}, kept(kept_bytes), joiner(report) {}

  bool Take(int side, std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
    if (length <= 0 || gave_up.load(std::memory_order_relaxed) || moot.load(std::memory_order_relaxed)) return true;
    Side& s = sides[side];
    const auto size = static_cast<std::size_t>(length);
    const std::uint64_t end = std::uint64_t{address} + size;
    if ((s.taken && address < s.taken_end) || end > kAllAddresses) {
      std::lock_guard<std::mutex> lock(mutex);
      GiveUp();
      return true;
    }
    s.taken = true;
    s.taken_end = end;
    try {
      const bool follows = s.gathered_size > 0 && address == s.gathered_at + s.gathered_size;
      if (!follows || s.gathered_size + size > s.gathered.size()) {
        Flush(side);
        s.gathered_at = address;
        if (s.gathered.size() < std::max(size, kGather)) s.gathered.resize(std::max(size, kGather));
      }
      std::memcpy(s.gathered.data() + s.gathered_size, data, size);
      s.gathered_size += size;
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  // Hands the gathered bytes over, compares what both images have passed, and waits while this image is far ahead.
  void Flush(int side) {
    Side& s = sides[side];
    if (s.gathered_size == 0) return;
    std::unique_lock<std::mutex> lock(mutex);
    const std::size_t size = std::exchange(s.gathered_size, 0);
    if (gave_up.load(std::memory_order_relaxed) || moot.load(std::memory_order_relaxed)) return;
    Held& held = s.held.emplace_back();
    held.address = s.gathered_at;
    held.bytes.swap(s.gathered);
    held.size = size;
    s.held_bytes += size;
    s.reached = held.End();
    if (!spare.empty()) {
      s.gathered.swap(spare.back());
      spare.pop_back();
    }
    Compare();
    changed.notify_all();
    changed.wait(lock, [&] {
      return gave_up.load(std::memory_order_relaxed) || moot.load(std::memory_order_relaxed) ||
             s.held_bytes <= kMaxHeld || sides[1 - side].ended;
    });
  }

  void End(int side, bool parsed) {
    bool flushed = true;
    try {
      Flush(side);
    } catch (const std::bad_alloc&) {
      flushed = false;
    }
    std::lock_guard<std::mutex> lock(mutex);
    Side& s = sides[side];
    s.ended = true;
    s.reached = kAllAddresses;
    if (!parsed) moot.store(true, std::memory_order_relaxed);
    if (!flushed) GiveUp();
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
        Held* a = Head(0, limit);
        Held* b = Head(1, limit);
        if (a == nullptr && b == nullptr) return;
        const std::uint64_t start_a = a != nullptr ? a->Start() : UINT64_MAX;
        const std::uint64_t start_b = b != nullptr ? b->Start() : UINT64_MAX;
        if (start_a != start_b) {
          // Only one image holds the addresses up to where the other one's next block begins.
          const bool in_a = start_a < start_b;
          const std::uint64_t first = std::min(start_a, start_b);
          const std::uint64_t end = std::min({in_a ? a->End() : b->End(), in_a ? start_b : start_a, limit});
          if (!Report(in_a ? DiffKind::OnlyInA : DiffKind::OnlyInB, first, end)) return;
          Let(in_a ? 0 : 1, end - first);
          continue;
        }
        const auto length = static_cast<std::size_t>(std::min({a->End(), b->End(), limit}) - start_a);
        const std::uint8_t* bytes_a = a->bytes.data() + a->compared;
        const std::uint8_t* bytes_b = b->bytes.data() + b->compared;
        if (!ForEachDifferentRun(bytes_a, bytes_b, length, [&](std::size_t i, std::size_t j) {
              Keep(start_a + i, j - i, bytes_a + i, bytes_b + i);
              return Report(DiffKind::Different, start_a + i, start_a + j);
            })) {
          return;
        }
        Let(0, length);
        Let(1, length);
      }
    } catch (const std::bad_alloc&) {
      GiveUp();
    }
  }

  // The first held block of an image, when it begins below limit.
  Held* Head(int side, std::uint64_t limit) {
    std::deque<Held>& held = sides[side].held;
    return !held.empty() && held.front().Start() < limit ? &held.front() : nullptr;
  }

  // Lets go of the first `length` held bytes of an image, compared now.
  void Let(int side, std::uint64_t length) {
    Side& s = sides[side];
    Held& head = s.held.front();
    head.compared += static_cast<std::size_t>(length);
    s.held_bytes -= length;
    s.loaded += length;
    if (head.compared < head.size) return;
    spare.push_back(std::move(head.bytes));
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
  std::atomic<bool> gave_up = false;
  std::mutex mutex;
  std::condition_variable changed;  // bytes were compared, a run ended, or the comparison gave up
  Side sides[2];
  std::atomic<bool> moot = false;  // a run failed: there is nothing to compare
  std::vector<std::vector<std::uint8_t>> spare;  // blocks let go of, for the next ones gathered
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

BlockSink& StreamCompare::Side(int side) { return state_->sinks[side]; }

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

std::string ExecutionDiffLine(const std::optional<std::uint32_t>& exec_a, const std::optional<std::uint32_t>& exec_b) {
  std::string line = "Execution address: ";
  line += exec_a ? AddressText(*exec_a) : "none";
  line += " in A, ";
  line += exec_b ? AddressText(*exec_b) : "none";
  line += " in B";
  return line;
}

std::string MoreDifferencesLine(std::uint64_t bytes) {
  return "... and " + std::to_string(bytes) + " more differing bytes";
}

std::string DiffCountLine(std::uint64_t bytes, std::uint64_t ranges, std::uint64_t loaded_a, std::uint64_t loaded_b) {
  return "Differences: " + std::to_string(bytes) + " bytes in " + std::to_string(ranges) + " ranges (A: " +
         std::to_string(loaded_a) + " bytes, B: " + std::to_string(loaded_b) + " bytes)";
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
