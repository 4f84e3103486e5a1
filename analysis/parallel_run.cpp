#include <string.h>

#include <algorithm>
#include <condition_variable>
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

// What a chunk's records yield beyond the totals, kept until the chunk's turn to be joined: the progress reports
// and headers in line order, the kept blocks with their lines, the ranges.
class ChunkOutput {
 public:
  struct Event {
    bool progress = false;  // else a header
    std::int64_t line = 0;
    std::uint64_t bytes_read = 0;
    S0Header header;
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
    ranges.Clear();
  }

  bool Progress(std::uint64_t bytes_read, std::int64_t line) {
    events.push_back({true, line, bytes_read, {}});
    return true;
  }

  // Headers with no kept block or progress report between them show as the last of them would after all of them:
  // a file of nothing but S0 records must not keep one event a record.
  void Header(S0Header&& header, std::int64_t line) {
    if (!events.empty() && !events.back().progress && kept_at_header_ == kept_count_) {
      Event& last = events.back();
      last.line = line;
      last.header.module = std::move(header.module);
      last.header.description = std::move(header.description);
      if (header.has_version) {
        last.header.has_version = true;
        last.header.version = std::move(header.version);
      }
      return;
    }
    events.push_back({false, line, 0, std::move(header)});
    kept_at_header_ = kept_count_;
  }

  std::uint8_t* Keep(std::uint32_t address, std::int32_t length, std::int64_t line) {
    const std::size_t at = kept.size();
    kept.resize(at + sizeof(KeptHeader) + static_cast<std::size_t>(length));
    const KeptHeader header{address, length, line};
    std::memcpy(kept.data() + at, &header, sizeof header);
    ++kept_count_;
    return kept.data() + at + sizeof header;
  }

  void Range(std::uint32_t address, std::uint32_t length) { ranges.Add(address, length); }

  std::vector<Event> events;
  std::vector<std::uint8_t> kept;
  DataRanges ranges;

 private:
  std::size_t kept_count_ = 0;
  std::size_t kept_at_header_ = 0;
};

// A stretch of the input's text that begins at a line start and ends at one (or at the input's end), with the
// read blocks it holds and, once parsed, what its lines yielded.
struct Chunk {
  explicit Chunk(std::size_t capacity) : text(capacity + TextModeInput::kReadPadding) {}

  std::vector<char> text;
  std::size_t size = 0;
  std::vector<ReadMark> marks;
  bool last = false;    // the input ends after it
  bool failed = false;  // and its reading failed
  std::uint64_t index = 0;

  bool parsed = false;
  LineOutcome outcome;
  std::int64_t lines = 0;
  RecordTotals totals;
  ChunkOutput output;
};

// The last place in text[0, size) where the line reader starts a line, text itself starting one; 0 when none
// follows. A line starts after every line feed, and a line without one is read 1024 characters at a time with the
// character after them dropped, so that another starts every 1025 characters.
std::size_t LastLineStart(const char* text, std::size_t size) {
  const void* feed = ::memrchr(text, '\n', size);
  const std::size_t base = feed == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(feed) - text) + 1;
  constexpr std::size_t kStride = kLineLimit + 1;
  return base + (size - base) / kStride * kStride;
}

class ParallelRun {
 public:
  ParallelRun(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display)
      : request_(request), state_(state), display_(display), input_(*state.InFile),
        chunk_size_(std::max<std::size_t>(request.parallel.chunk_size, 1)),
        // A chunk is cut only once it holds chunk_size_ characters and a line start past its first; one begins
        // within every kLineLimit + 1 characters, and a block may come on top.
        capacity_(std::max<std::size_t>(chunk_size_, kLineLimit + 1) + input_.BlockSize()),
        max_in_flight_(request.parallel.threads + 2) {}

  ~ParallelRun() { StopWorkers(); }
  ParallelRun(const ParallelRun&) = delete;
  ParallelRun& operator=(const ParallelRun&) = delete;

  RunResult Run() {
    for (unsigned t = 0; t < request_.parallel.threads; ++t) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        break;  // fewer threads still do the work
      }
    }
    if (workers_.empty()) return AnalyseOnOneThread(request_, state_, display_);
    try {
      return JoinChunks();
    } catch (const std::bad_alloc&) {
      StopWorkers();
      return FailRun(RunKind::OutOfMemory, lines_, state_, display_);
    }
  }

 private:
  // Reads chunks ahead of the parsers and joins the parsed ones in file order.
  RunResult JoinChunks() {
    filling_ = TakeChunk();
    for (;;) {
      while (Chunk* front = ParsedFront()) {
        if (std::optional<RunResult> end = Join(*front)) {
          StopWorkers();
          return *end;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        spare_.push_back(std::move(in_flight_.front()));
        in_flight_.pop_front();
      }
      bool empty = false;
      bool failure_ahead = false;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        empty = in_flight_.empty();
        failure_ahead = failed_index_ != kNone;
      }
      if (empty && input_ended_) break;
      if (!input_ended_ && !failure_ahead && in_flight_size() < max_in_flight_) {
        ReadChunk();
        continue;
      }
      std::unique_lock<std::mutex> lock(mutex_);
      parsed_.wait(lock, [this] { return in_flight_.empty() || in_flight_.front()->parsed; });
    }
    StopWorkers();
    return FinishRun(lines_, totals_, state_, display_);
  }

  std::size_t in_flight_size() {
    std::unique_lock<std::mutex> lock(mutex_);
    return in_flight_.size();
  }

  Chunk* ParsedFront() {
    std::unique_lock<std::mutex> lock(mutex_);
    return !in_flight_.empty() && in_flight_.front()->parsed ? in_flight_.front().get() : nullptr;
  }

  std::unique_ptr<Chunk> TakeChunk() {
    std::unique_ptr<Chunk> chunk;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!spare_.empty()) {
        chunk = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (chunk == nullptr) chunk = std::make_unique<Chunk>(capacity_);
    chunk->size = 0;
    chunk->marks.clear();
    chunk->parsed = false;
    return chunk;
  }

  // Reads blocks into the chunk being filled until it can be cut at a line start or the input ends, and hands it
  // to the parsers; the text after the cut begins the next chunk.
  void ReadChunk() {
    Chunk& chunk = *filling_;
    for (;;) {
      if (chunk.size >= chunk_size_) {
        const std::size_t cut = LastLineStart(chunk.text.data(), chunk.size);
        if (cut > 0) {
          std::unique_ptr<Chunk> next = TakeChunk();
          next->size = chunk.size - cut;
          std::memcpy(next->text.data(), chunk.text.data() + cut, next->size);
          // A block whose first character begins the next chunk is read by that chunk's first line.
          const auto moved = std::find_if(chunk.marks.begin(), chunk.marks.end(),
                                          [cut](const ReadMark& mark) { return mark.offset >= cut; });
          for (auto mark = moved; mark != chunk.marks.end(); ++mark) {
            next->marks.push_back({mark->offset - cut, mark->blocks, mark->bytes_read});
          }
          chunk.marks.erase(moved, chunk.marks.end());
          chunk.size = cut;
          Hand(std::exchange(filling_, std::move(next)), false);
          return;
        }
      }
      const std::ptrdiff_t got = input_.ReadBlock(chunk.text.data() + chunk.size);
      if (got < 0) {
        input_ended_ = true;
        chunk.failed = input_.Failed();
        Hand(std::move(filling_), true);
        return;
      }
      chunk.marks.push_back({chunk.size, input_.Blocks(), input_.BytesRead()});
      chunk.size += static_cast<std::size_t>(got);
    }
  }

  void Hand(std::unique_ptr<Chunk> chunk, bool last) {
    chunk->last = last;
    if (!last) chunk->failed = false;
    chunk->index = next_index_++;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      to_parse_.push_back(chunk.get());
      in_flight_.push_back(std::move(chunk));
    }
    work_ready_.notify_one();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_ready_.wait(lock, [this] { return stop_ || !to_parse_.empty(); });
      if (stop_) return;
      Chunk* chunk = to_parse_.front();
      to_parse_.pop_front();
      // Nothing after a chunk that fails is shown.
      const bool skip = chunk->index > failed_index_;
      lock.unlock();
      if (!skip) Parse(*chunk);
      lock.lock();
      chunk->parsed = true;
      if (!skip && chunk->outcome.kind != RunKind::Parsed) failed_index_ = std::min(failed_index_, chunk->index);
      parsed_.notify_one();
    }
  }

  void Parse(Chunk& chunk) const {
    chunk.output.Clear();
    chunk.lines = 0;
    chunk.totals = {};
    try {
      const std::unique_ptr<TextModeInput> text =
          TextModeInput::OverText(chunk.text.data(), chunk.size, std::move(chunk.marks), chunk.failed);
      LineParser<ChunkOutput> parser(chunk.output, request_.map_option, request_.ranges);
      chunk.outcome = parser.Parse(*text);
      chunk.lines = parser.lines();
      chunk.totals = parser.totals();
    } catch (const std::bad_alloc&) {
      chunk.outcome = {RunKind::OutOfMemory, 0};
    }
  }

  // Shows what the chunk's lines yielded, in their order, as the one-thread run would have; the run's result
  // when they end it.
  std::optional<RunResult> Join(Chunk& chunk) {
    const std::int64_t first = lines_;
    const std::vector<std::uint8_t>& kept = chunk.output.kept;
    std::size_t at = 0;
    // Keeps the blocks of the lines before `line`; false when memory for one cannot be had.
    std::int64_t failed_line = 0;
    auto keep_before = [&](std::int64_t line) {
      while (at < kept.size()) {
        ChunkOutput::KeptHeader header;
        std::memcpy(&header, kept.data() + at, sizeof header);
        if (header.line >= line) break;
        std::uint8_t* data = state_.DataBlocks.Append(header.address, header.length);
        if (data == nullptr) {
          failed_line = header.line;
          return false;
        }
        std::memcpy(data, kept.data() + at + sizeof header, static_cast<std::size_t>(header.length));
        at += sizeof header + static_cast<std::size_t>(header.length);
      }
      return true;
    };
    for (const ChunkOutput::Event& event : chunk.output.events) {
      if (!keep_before(event.line)) return FailRun(RunKind::OutOfMemory, first + failed_line, state_, display_);
      if (!event.progress) {
        ShowHeader(event.header, display_);
      } else if (!display_.ShowProgress(event.bytes_read, input_.Size())) {
        return FailRun(RunKind::Cancelled, first + event.line, state_, display_);
      }
    }
    if (!keep_before(std::numeric_limits<std::int64_t>::max())) {
      return FailRun(RunKind::OutOfMemory, first + failed_line, state_, display_);
    }
    if (chunk.outcome.kind != RunKind::Parsed) {
      return FailRun(chunk.outcome.kind, first + chunk.outcome.line, state_, display_);
    }
    // A range may cover all 2^32 addresses, a length that does not fit: it is added in two parts.
    chunk.output.ranges.ForEach([this](DataRange range) {
      state_.Ranges.Add(range.first, range.last - range.first);
      state_.Ranges.Add(range.last, 1);
    });
    lines_ += chunk.lines;
    totals_.Append(chunk.totals);
    return std::nullopt;
  }

  void StopWorkers() {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    workers_.clear();
  }

  static constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();

  const RunRequest& request_;
  AnalysisState& state_;
  AnalysisDisplay& display_;
  TextModeInput& input_;
  const std::size_t chunk_size_;
  const std::size_t capacity_;
  const std::size_t max_in_flight_;

  // The calling thread's own.
  std::unique_ptr<Chunk> filling_;
  bool input_ended_ = false;
  std::uint64_t next_index_ = 0;
  std::int64_t lines_ = 0;
  RecordTotals totals_;

  std::mutex mutex_;
  std::condition_variable work_ready_;  // a chunk waits for a parser, or the run stops
  std::condition_variable parsed_;      // a chunk was parsed
  std::deque<std::unique_ptr<Chunk>> in_flight_;  // handed over and not yet joined, in file order
  std::deque<Chunk*> to_parse_;
  std::vector<std::unique_ptr<Chunk>> spare_;
  std::uint64_t failed_index_ = kNone;  // the first chunk found to fail
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

RunResult AnalyseInParallel(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  try {
    ParallelRun run(request, state, display);
    return run.Run();
  } catch (const std::bad_alloc&) {
    return FailRun(RunKind::OutOfMemory, 0, state, display);
  }
}

}  // namespace varnok
