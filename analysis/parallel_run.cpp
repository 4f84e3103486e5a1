#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "run_steps.h"

namespace varnok {
namespace {

// Bytes appended at the end without being cleared first, as a vector's resize would.
class KeptBytes {
 public:
  // Room for n more bytes at the end, whose address it returns.
  std::uint8_t* Grow(std::size_t n) {
    if (capacity_ - size_ < n) {
      const std::size_t capacity = std::max(2 * capacity_, size_ + n);
      auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
      if (size_ > 0) std::memcpy(bytes.get(), bytes_.get(), size_);
      bytes_ = std::move(bytes);
      capacity_ = capacity;
    }
    std::uint8_t* at = bytes_.get() + size_;
    size_ += n;
    return at;
  }
  void clear() { size_ = 0; }
  std::uint8_t* data() { return bytes_.get(); }
  const std::uint8_t* data() const { return bytes_.get(); }
  std::size_t size() const { return size_; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// What a chunk's records yield beyond the totals, kept until the chunk's turn to be joined: the progress reports
// and headers in line order, the kept blocks with their lines, the ranges, the record facts for the warnings.
class ChunkOutput {
 public:
  struct Event {
    bool progress = false;  // else a header
    std::int64_t line = 0;
    std::uint64_t bytes_read = 0;
    RunHeader header;
  };
  // What precedes each kept block's bytes in `kept`.
  struct KeptHeader {
    std::uint32_t address;
    std::int32_t length;
    std::int64_t line;
  };

  void Clear() {
    events.clear();
    kept.clear();
    kept_count_ = 0;
    has_last_ = false;
    ranges.Clear();
    facts.clear();
  }

  bool Progress(std::uint64_t bytes_read, std::int64_t line) {
    events.push_back({true, line, bytes_read, {}});
    return true;
  }

  // Headers with no kept block or progress report between them show as the last of them would after all of them:
  // a file of nothing but S0 records must not keep one event a record.
  void Header(RunHeader&& header, std::int64_t line) {
    if (!events.empty() && !events.back().progress && kept_at_header_ == kept_count_) {
      events.back().line = line;
      events.back().header.Merge(std::move(header));
      return;
    }
    events.push_back({false, line, 0, std::move(header)});
    kept_at_header_ = kept_count_;
  }

  // Records that follow one another up the addresses are kept as one block with the first one's line: the sink takes
  // them at once.
  std::uint8_t* Keep(std::uint32_t address, std::int32_t length, std::int64_t line) {
    ++kept_count_;
    const auto n = static_cast<std::size_t>(length);
    // The last block's end is held here: its header may stand a whole run of records back.
    if (has_last_ && last_address_ + static_cast<std::uint32_t>(last_length_) == address &&
        last_length_ <= kMaxRun - length) {
      std::uint8_t* bytes = kept.Grow(n);
      last_length_ += length;
      return bytes;
    }
    SealLastBlock();
    std::uint8_t* at = kept.Grow(sizeof(KeptHeader) + n);
    const KeptHeader header{address, length, line};
    std::memcpy(at, &header, sizeof header);
    has_last_ = true;
    last_at_ = static_cast<std::size_t>(at - kept.data());
    last_address_ = address;
    last_length_ = length;
    return at + sizeof header;
  }

  // Writes the length of the last block into its header; called once the chunk's records are all kept.
  void SealLastBlock() {
    if (!has_last_) return;
    std::memcpy(kept.data() + last_at_ + offsetof(KeptHeader, length), &last_length_, sizeof last_length_);
  }

  bool Kept(std::uint32_t, std::int32_t, const std::uint8_t*) { return true; }
  void Range(std::uint32_t address, std::uint32_t length) { ranges.Add(address, length); }
  void Fact(const RecordFact& fact) { facts.push_back(fact); }

  std::vector<Event> events;
  KeptBytes kept;
  DataRanges ranges;
  std::vector<RecordFact> facts;  // lines counted from the chunk's first

 private:
  static constexpr std::int32_t kMaxRun = 1 << 20;
  bool has_last_ = false;
  std::size_t last_at_ = 0;  // where the last kept block's header stands
  std::uint32_t last_address_ = 0;
  std::int32_t last_length_ = 0;
  std::size_t kept_count_ = 0;
  std::size_t kept_at_header_ = 0;
};

// A stretch of the input's text that begins at a line start and ends at one (or at the input's end), with the
// read blocks it holds. Each thread reads its own chunk and parses it while it is still in that core's cache.
struct TextChunk {
  explicit TextChunk(std::size_t capacity) : text(capacity + TextModeInput::kReadPadding) {}

  std::vector<char> text;
  std::size_t size = 0;
  std::vector<ReadMark> marks;
  bool last = false;    // the input ends after it
  bool failed = false;  // and its reading failed
};

// What one chunk's lines yielded, kept until its turn to be shown.
struct ChunkResult {
  std::uint64_t index = 0;
  bool parsed = false;
  LineOutcome outcome;
  RunTotals totals;
  ChunkOutput output;
};

class ParallelRun {
 public:
  ParallelRun(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display, RunHeader& header)
      : request_(request), state_(state), display_(display), header_(header), input_(*state.InFile),
        chunk_size_(std::max<std::size_t>(request.parallel.chunk_size, 1)),
        // A chunk is cut only once it holds chunk_size_ characters and a line start past its first; one begins
        // within every kLineLimit + 1 characters, and a block may come on top.
        capacity_(std::max<std::size_t>(chunk_size_, kLineLimit + 1) + input_.BlockSize()),
        // Results wait for their turn while an earlier chunk is still parsed by a thread that the machine holds
        // back; they are small beside the text, but with the map option they hold the chunk's kept bytes.
        max_pending_((request.sink != nullptr ? 4 : 16) * static_cast<std::size_t>(request.parallel.threads)) {}

  ~ParallelRun() { StopWorkers(); }
  ParallelRun(const ParallelRun&) = delete;
  ParallelRun& operator=(const ParallelRun&) = delete;

  RunResult Run() {
    for (unsigned t = 1; t < request_.parallel.threads; ++t) {
      try {
        workers_.emplace_back([this] {
          try {
            Work(false);
          } catch (const std::bad_alloc&) {
            std::unique_lock<std::mutex> lock(mutex_);
            worker_out_of_memory_ = true;
            stop_ = true;
            changed_.notify_all();
          }
        });
      } catch (const std::system_error&) {
        break;  // fewer threads still do the work
      }
    }
    if (workers_.empty()) return AnalyseOnOneThread(request_, state_, display_);
    try {
      Work(true);
    } catch (const std::bad_alloc&) {
      end_ = LineOutcome{RunKind::OutOfMemory, totals_.records};
    }
    // Only now that no thread reads any more may the run's end close the input.
    StopWorkers();
    if (worker_out_of_memory_ && !end_) end_ = LineOutcome{RunKind::OutOfMemory, totals_.records};
    if (end_) return FailRun(*end_, std::move(header_), state_);
    return FinishRun(totals_, std::move(header_), state_);
  }

 private:
  // Reads the next chunk and parses it, again and again; the calling thread (`joins`) also shows the parsed chunks
  // in file order and stays until the last one is shown or one ends the run.
  void Work(bool joins) {
    TextChunk text(capacity_);
    bool spun = false;  // this thread already waited awake for the current reading
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (stop_) return;
      if (joins && !pending_.empty() && pending_.front()->parsed) {
        std::unique_ptr<ChunkResult> result = std::move(pending_.front());
        pending_.pop_front();
        lock.unlock();
        end_ = Join(*result);
        lock.lock();
        spare_.push_back(std::move(result));
        if (end_) {
          stop_ = true;
          changed_.notify_all();
          return;
        }
        changed_.notify_all();
        continue;
      }
      const bool more = !input_ended_ && failed_index_ == kNone;
      if (!more && (!joins || pending_.empty())) return;
      if (more && reading_ && pending_.size() < max_pending_ && !spun) {
        // The reading takes a fraction of a chunk's parse: waiting for it awake beats a sleep and a wake-up,
        // which on a busy machine may cost a whole time slice.
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
        while (reading_.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < until) {
#if defined(__x86_64__)
          __builtin_ia32_pause();
#endif
        }
        lock.lock();
        spun = true;
        continue;
      }
      if (!more || reading_ || pending_.size() >= max_pending_) {
        changed_.wait(lock);
        spun = false;
        continue;
      }
      spun = false;
      reading_ = true;
      std::unique_ptr<ChunkResult> fresh;
      if (!spare_.empty()) {
        fresh = std::move(spare_.back());
        spare_.pop_back();
      } else {
        lock.unlock();
        fresh = std::make_unique<ChunkResult>();
        lock.lock();
      }
      fresh->index = next_index_++;
      fresh->parsed = false;
      ChunkResult& result = *fresh;
      pending_.push_back(std::move(fresh));
      lock.unlock();
      ReadChunk(text);
      lock.lock();
      reading_ = false;
      if (text.last) input_ended_ = true;
      changed_.notify_all();
      lock.unlock();
      Parse(text, result);
      lock.lock();
      result.parsed = true;
      if (result.outcome.kind != RunKind::Parsed) failed_index_ = std::min(failed_index_, result.index);
      changed_.notify_all();
    }
  }

  // Reads blocks after the text left over from the previous chunk until the chunk can be cut at a line start or
  // the input ends; what follows the cut is left over for the next chunk.
  void ReadChunk(TextChunk& chunk) {
    chunk.size = carry_.size();
    if (!carry_.empty()) std::memcpy(chunk.text.data(), carry_.data(), carry_.size());
    chunk.marks.assign(carry_marks_.begin(), carry_marks_.end());
    for (;;) {
      if (chunk.size >= chunk_size_) {
        const std::size_t cut = LastLineStart(chunk.text.data(), chunk.size);
        if (cut > 0) {
          carry_.assign(chunk.text.data() + cut, chunk.text.data() + chunk.size);
          // A block whose first character begins the next chunk is read by that chunk's first line.
          const auto moved = std::find_if(chunk.marks.begin(), chunk.marks.end(),
                                          [cut](const ReadMark& mark) { return mark.offset >= cut; });
          carry_marks_.clear();
          for (auto mark = moved; mark != chunk.marks.end(); ++mark) {
            carry_marks_.push_back({mark->offset - cut, mark->blocks, mark->bytes_read});
          }
          chunk.marks.erase(moved, chunk.marks.end());
          chunk.size = cut;
          chunk.last = false;
          chunk.failed = false;
          return;
        }
      }
      const std::ptrdiff_t got = input_.ReadBlock(chunk.text.data() + chunk.size);
      if (got < 0) {
        chunk.last = true;
        chunk.failed = input_.Failed();
        return;
      }
      chunk.marks.push_back({chunk.size, input_.Blocks(), input_.BytesRead()});
      chunk.size += static_cast<std::size_t>(got);
    }
  }

  void Parse(TextChunk& chunk, ChunkResult& result) const {
    result.output.Clear();
    result.totals = {};
    try {
      const std::unique_ptr<TextModeInput> text =
          TextModeInput::OverText(chunk.text.data(), chunk.size, std::move(chunk.marks), chunk.failed);
      LineParser<ChunkOutput> parser(result.output, request_.sink != nullptr, request_.ranges,
                                     request_.warnings != nullptr);
      result.outcome = parser.Parse(*text);
      result.totals = parser.totals();
    } catch (const std::bad_alloc&) {
      result.outcome = {RunKind::OutOfMemory, 0};
    }
    result.output.SealLastBlock();
  }

  // Shows what the chunk's lines yielded, in their order, as the one-thread run would have; how the run ends
  // when they end it.
  std::optional<LineOutcome> Join(ChunkResult& chunk) {
    const std::int64_t first = totals_.records;
    const KeptBytes& kept = chunk.output.kept;
    std::size_t at = 0;
    std::int64_t failed_line = 0;
    // Hands the sink the blocks of the lines before `line`; false when memory for one cannot be had.
    auto keep_before = [&](std::int64_t line) {
      while (at < kept.size()) {
        ChunkOutput::KeptHeader header;
        std::memcpy(&header, kept.data() + at, sizeof header);
        if (header.line >= line) break;
        if (!request_.sink->Take(header.address, header.length, kept.data() + at + sizeof header)) {
          failed_line = header.line;
          return false;
        }
        at += sizeof header + static_cast<std::size_t>(header.length);
      }
      return true;
    };
    for (ChunkOutput::Event& event : chunk.output.events) {
      if (!keep_before(event.line)) return LineOutcome{RunKind::OutOfMemory, first + failed_line};
      if (!event.progress) {
        header_.Merge(std::move(event.header));
      } else if (!display_.ShowProgress(event.bytes_read, input_.Size())) {
        return LineOutcome{RunKind::Cancelled, first + event.line};
      }
    }
    if (!keep_before(std::numeric_limits<std::int64_t>::max())) {
      return LineOutcome{RunKind::OutOfMemory, first + failed_line};
    }
    if (chunk.outcome.kind != RunKind::Parsed) {
      return LineOutcome{chunk.outcome.kind, first + chunk.outcome.line, chunk.outcome.checksum};
    }
    chunk.output.ranges.ForEach([this](AddressRange range) { state_.Ranges.AddRange(range.first, range.last); });
    // Only a valid file's warnings are told, so the facts of a chunk that ends the run are never needed.
    if (request_.warnings != nullptr) {
      for (RecordFact fact : chunk.output.facts) {
        fact.line += first;
        request_.warnings->Add(fact);
      }
    }
    totals_.Append(chunk.totals);
    return std::nullopt;
  }

  void StopWorkers() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

  const RunRequest& request_;
  AnalysisState& state_;
  AnalysisDisplay& display_;
  RunHeader& header_;
  TextModeInput& input_;
  const std::size_t chunk_size_;
  const std::size_t capacity_;
  const std::size_t max_pending_;

  // The reading thread's own: the text after the last cut and the marks of the blocks that begin in it.
  std::vector<char> carry_;
  std::vector<ReadMark> carry_marks_;

  // The calling thread's own.
  RunTotals totals_;  // of the chunks shown
  std::optional<LineOutcome> end_;

  std::mutex mutex_;
  std::condition_variable changed_;  // a chunk was read, parsed or shown, or the run stops
  std::deque<std::unique_ptr<ChunkResult>> pending_;  // read and not yet shown, in file order
  std::vector<std::unique_ptr<ChunkResult>> spare_;
  std::uint64_t next_index_ = 0;
  std::atomic<bool> reading_ = false;  // a thread reads; set and cleared under mutex_
  bool input_ended_ = false;
  std::uint64_t failed_index_ = kNone;  // the first chunk found to fail
  bool stop_ = false;
  bool worker_out_of_memory_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

unsigned UsableCores() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
  return std::max(1u, std::thread::hardware_concurrency());
}

RunResult AnalyseInParallel(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  RunHeader header;
  try {
    ParallelRun run(request, state, display, header);
    return run.Run();
  } catch (const std::bad_alloc&) {
    return FailRun(RunKind::OutOfMemory, 0, std::move(header), state);
  }
}

}  // namespace varnok
