#include "cli/scan.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "analysis/hex_text.h"
#include "progress_line.h"
#include "report.h"
#include "varnok/version.h"

namespace varnok {
namespace {

constexpr const char* kUsage =
    "Usage: varnok-scan [OPTIONS] FILE...\n"
    "Validates the Motorola S-record files and prints their summaries; FILE - reads standard input.\n"
    "\n"
    "  --map          also print every row of the memory map that holds data\n"
    "  --ranges       also print the data ranges, one line \"Data: FIRST - LAST\" each\n"
    "  --json         print each summary as a JSON object (one line each with several files)\n"
    "  -j, --jobs N   analyse N files at a time (default: the number of cores); a large file\n"
    "                 also uses the cores the other files leave free\n"
    "  -q, --quiet    print nothing; only the exit status tells\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Exit status: the highest of the files': 0 parsed, 1 analysis error, 3 out of memory;\n"
    "2 usage error (no file analysed), 4 output not written.\n";

constexpr const char* kStandardInput = "-";

struct Options {
  ReportLayout layout;
  bool quiet = false;
  unsigned jobs = 0;  // 0: one per core
  unsigned cores = 1;
  std::vector<std::string> files;
};

unsigned Cores() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) return static_cast<unsigned>(std::max(1, CPU_COUNT(&set)));
  return std::max(1u, std::thread::hardware_concurrency());
}

std::optional<unsigned> ParseJobs(std::string_view text) {
  unsigned jobs = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
  if (error != std::errc() || end != text.data() + text.size() || jobs == 0) return std::nullopt;
  return jobs;
}

int UsageError(std::ostream& err, const std::string& message) {
  err << "varnok-scan: " << message << '\n' << kUsage;
  return kScanUsageError;
}

// The options and files, or the exit status when the arguments end the command before any file.
std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                      int& status) {
  Options options;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg == kStandardInput || arg.empty() || arg[0] != '-') {
      options.files.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help") {
      out << kUsage;
      status = kScanSuccess;
      return std::nullopt;
    } else if (arg == "--version") {
      out << "varnok-scan " << kVersion << "\n";
      status = kScanSuccess;
      return std::nullopt;
    } else if (arg == "--map") {
      options.layout.map = true;
    } else if (arg == "--json") {
      options.layout.json = true;
    } else if (arg == "--ranges") {
      options.layout.ranges = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "-j" || arg == "--jobs" || arg.starts_with("-j") || arg.starts_with("--jobs=")) {
      std::string_view value;
      if (arg == "-j" || arg == "--jobs") {
        if (i + 1 == args.size()) {
          status = UsageError(err, "option '" + EscapeValue(arg) + "' needs a number");
          return std::nullopt;
        }
        value = args[++i];
      } else {
        value = std::string_view(arg).substr(arg[1] == 'j' ? 2 : std::strlen("--jobs="));
      }
      const std::optional<unsigned> jobs = ParseJobs(value);
      if (!jobs) {
        status = UsageError(
            err, "the number of jobs must be a whole number from 1 on, not '" + EscapeValue(std::string(value)) + "'");
        return std::nullopt;
      }
      options.jobs = *jobs;
    } else {
      status = UsageError(err, "unknown option '" + EscapeValue(arg) + "'");
      return std::nullopt;
    }
  }
  if (options.files.empty()) {
    status = UsageError(err, "no FILE given");
    return std::nullopt;
  }
  if (std::count(options.files.begin(), options.files.end(), kStandardInput) > 1) {
    status = UsageError(err, "standard input (-) can be read only once");
    return std::nullopt;
  }
  options.layout.several = options.files.size() > 1;
  options.cores = Cores();
  if (options.jobs == 0) options.jobs = options.cores;
  return options;
}

// The display of one input: keeps what the run shows in the report and passes its progress on to the terminal's
// line.
class ScanDisplay : public AnalysisDisplay {
 public:
  ScanDisplay(RecordedDisplay& shown, ProgressLine& progress, std::size_t input, const std::string& name)
      : shown_(shown), progress_(progress), input_(input), name_(name) {}
  ~ScanDisplay() override { progress_.Finish(input_); }
  ScanDisplay(const ScanDisplay&) = delete;
  ScanDisplay& operator=(const ScanDisplay&) = delete;

  void SetField(DisplayField field, std::string_view text) override { shown_.SetField(field, text); }
  void SetStatus(std::string_view text) override { shown_.SetStatus(text); }
  void SetStatusColour(StatusColour colour) override { shown_.SetStatusColour(colour); }

  bool ShowProgress(std::uint64_t read, std::uint64_t size) override {
    if (!progress_.Enabled() || size <= ProgressLine::kMinSize) return true;
    // A few updates a second are enough to read; more would only cost.
    const auto now = std::chrono::steady_clock::now();
    if (updated_ && now - last_update_ < std::chrono::milliseconds(100)) return true;
    updated_ = true;
    last_update_ = now;
    progress_.Show(input_, EscapeValue(name_), read, size, std::chrono::duration<double>(now - start_).count());
    return true;
  }

 private:
  RecordedDisplay& shown_;
  ProgressLine& progress_;
  const std::size_t input_;
  const std::string& name_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_update_;
  bool updated_ = false;
};

// Ends a report whose memory ran out after its run as one whose run did: the summary that cannot be printed whole
// is not printed at all.
void MarkOutOfMemory(FileReport& report) {
  report.grid.reset();
  report.result = RunResult{};
  report.result.kind = RunKind::OutOfMemory;
  report.error_line.reset();
  ShowFailure(report.result, report.state, report.display);
}

// Analyses input number `index`; nullptr when not even the report's own memory could be had.
std::unique_ptr<FileReport> AnalyseFile(std::size_t index, const Options& options, const ScanContext& context,
                                        ProgressLine& progress) {
  std::unique_ptr<FileReport> report;
  try {
    report = std::make_unique<FileReport>();
    report->name = options.files[index];
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  FileReport& r = *report;
  // The run catches its own failures; this boundary catches those of the map and of what holds the result.
  try {
    ScanDisplay display(r.display, progress, index, r.name);
    RunRequest request;
    request.path = r.name;
    request.map_option = options.layout.map;
    request.ranges = options.layout.ranges;
    // The cores are shared among the files analysed at a time; the last ones in line share them among fewer.
    const std::size_t at_a_time = std::min<std::size_t>(options.jobs, options.files.size() - index);
    request.parallel.threads = static_cast<unsigned>(std::max<std::size_t>(1, options.cores / at_a_time));
    r.state.DataBlocks.SetAllocator(context.allocate, context.deallocate);
    r.result = r.name == kStandardInput
                   ? RunAnalysisOn(TextModeInput::FromDescriptor(context.stdin_fd), request, r.state, display)
                   : RunAnalysis(request, r.state, display);
    if (r.result.kind != RunKind::Parsed && r.result.kind != RunKind::MissingFile &&
        r.result.kind != RunKind::OpenFailed) {
      r.error_line = r.result.line;
    }
    if (r.result.Parsed() && options.layout.map) {
      r.grid.emplace();
      r.grid->Build(r.result.totals.lowest, r.result.totals.highest);
      FillFromBlocks(*r.grid, r.state.DataBlocks, r.result.totals.exec);  // frees the blocks as the grid takes them
    }
  } catch (const std::bad_alloc&) {
    MarkOutOfMemory(r);
  }
  return report;
}

int FileStatus(const FileReport* report) {
  if (report == nullptr || report->result.kind == RunKind::OutOfMemory) return kScanOutOfMemory;
  return report->result.Parsed() ? kScanSuccess : kScanAnalysisError;
}

// Writes the reports in the order of the files, whichever order their analyses finish in.
class Scanner {
 public:
  Scanner(const Options& options, const ScanContext& context, std::ostream& out, std::ostream& err)
      : options_(options), context_(context), out_(out), err_(err),
        progress_(err, options.quiet ? 0 : context.terminal_columns) {}

  int Run() {
    const std::size_t count = options_.files.size();
    const std::size_t threads = std::min<std::size_t>(options_.jobs, count);
    if (threads > 1 && RunParallel(threads)) return status_;
    for (std::size_t i = 0; i < count && !output_failed_; ++i) Deliver(AnalyseFile(i, options_, context_, progress_));
    return status_;
  }

 private:
  // Writes one report and adds its status.
  void Deliver(std::unique_ptr<FileReport> report) {
    const int status = FileStatus(report.get());
    status_ = std::max(status_, status);
    if (options_.quiet) return;
    bool out_of_memory = status == kScanOutOfMemory;
    progress_.Without([&] {
      try {
        if (report != nullptr) WriteReport(out_, *report, options_.layout);
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
        status_ = std::max(status_, kScanOutOfMemory);
      }
      // The lines so far go out before the message, so that the two read in order on one terminal.
      if (progress_.Enabled() || out_of_memory) out_.flush();
      if (out_of_memory) err_ << "Out of memory!!\n" << std::flush;
    });
    if (!out_) output_failed_ = true;
  }

  // Analyses on up to `threads` threads besides this one, which only starts them. Whichever thread finishes the
  // next report in line writes it and every finished one after it, so that no thread waits for another to write;
  // false when no thread could be started.
  bool RunParallel(std::size_t threads) {
    const std::size_t count = options_.files.size();
    // Analyses may run ahead of the writing by this many files: enough to keep every thread busy while one slow
    // report is written, few enough that finished reports do not pile up in memory.
    const std::size_t window = 2 * threads;
    std::vector<std::unique_ptr<FileReport>> slots(count);
    std::vector<char> done(count, 0);
    std::mutex mutex;
    std::condition_variable room;     // a report was written, or the writing stopped
    std::condition_variable started;  // every file has been taken, or the writing stopped
    std::size_t next_file = 0;
    std::size_t written = 0;
    std::size_t finished = 0;  // analyses finished
    bool writing = false;
    bool stop = false;

    auto work = [&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        room.wait(lock, [&] { return stop || next_file == count || next_file < written + window; });
        if (stop || next_file == count) return;
        const std::size_t index = next_file++;
        if (next_file == count) {
          room.notify_all();  // whoever waits for room now ends
          started.notify_one();
        }
        lock.unlock();
        std::unique_ptr<FileReport> report = AnalyseFile(index, options_, context_, progress_);
        lock.lock();
        slots[index] = std::move(report);
        done[index] = 1;
        ++finished;
        if (writing) continue;
        writing = true;
        while (!stop && written < count && done[written] != 0) {
          std::unique_ptr<FileReport> next = std::move(slots[written]);
          lock.unlock();
          Deliver(std::move(next));
          lock.lock();
          ++written;
          stop = output_failed_;
          // One written report makes room for one more file: waking every waiting thread for it would only send
          // all but one back to sleep.
          if (stop) {
            room.notify_all();
            started.notify_one();
          } else {
            room.notify_one();
          }
        }
        writing = false;
      }
    };

    std::vector<std::thread> pool;
    pool.reserve(threads);
    const auto start_threads = [&](std::size_t more) {
      for (std::size_t t = 0; t < more; ++t) {
        try {
          pool.emplace_back(work);
        } catch (const std::system_error&) {
          return false;  // fewer threads than asked for still do the work
        } catch (const std::bad_alloc&) {
          return false;
        }
      }
      return true;
    };
    // Threads beyond the cores only pay when analyses wait (a FIFO without its writer yet, a slow disk); starting
    // them all at once would cost more than many small files take. So they start when no analysis has finished for
    // a while although files wait to be taken, twice as many each time, up to the number asked for.
    bool can_grow = start_threads(std::min<std::size_t>(threads, Cores()));
    if (pool.empty()) return false;
    {
      constexpr auto kStall = std::chrono::milliseconds(10);
      std::unique_lock<std::mutex> lock(mutex);
      std::size_t seen = finished;
      while (can_grow && pool.size() < threads) {
        if (started.wait_for(lock, kStall, [&] { return stop || next_file == count; })) break;
        const bool stalled = finished == seen && next_file < written + window;
        seen = finished;
        if (!stalled) continue;
        lock.unlock();
        can_grow = start_threads(std::min(pool.size(), threads - pool.size()));
        lock.lock();
      }
    }
    for (std::thread& thread : pool) thread.join();
    return true;
  }

  const Options& options_;
  const ScanContext& context_;
  std::ostream& out_;
  std::ostream& err_;
  ProgressLine progress_;
  int status_ = kScanSuccess;
  bool output_failed_ = false;
};

}  // namespace

std::string EscapeValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E || ch == '\\') {
      out += "\\x";
      AppendHex(out, byte, 2);
    } else {
      out += ch;
    }
  }
  return out;
}

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const ScanContext& context) {
  int status = kScanSuccess;
  try {
    const std::optional<Options> options = ParseArguments(args, out, err, status);
    if (options) {
      Scanner scanner(*options, context, out, err);
      status = scanner.Run();
    }
  } catch (const std::bad_alloc&) {
    // Only what no single file owns gets here: the arguments, the threads' shared bookkeeping.
    out.flush();
    err << "Out of memory!!\n" << std::flush;
    status = kScanOutOfMemory;
  }
  // The report counts only once it has reached the output.
  out.flush();
  if (!out) {
    const int error = context.write_error ? context.write_error() : 0;
    err << "varnok-scan: cannot write output: " << std::strerror(error != 0 ? error : EIO) << '\n';
    return kScanOutputError;
  }
  return status;
}

}  // namespace varnok
