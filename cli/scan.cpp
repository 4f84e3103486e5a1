#include "cli/scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <variant>

#include "analysis/hex_text.h"
#include "memmap/map_filler.h"
#include "progress_line.h"
#include "report.h"
#include "varnok/version.h"

namespace varnok {
namespace {

constexpr const char* kUsage =
    "Usage: varnok-scan [OPTIONS] FILE...\n"
    "       varnok-scan --diff [--json] [-q] A B\n"
    "Validates the Motorola S-record files and prints their summaries; FILE - reads standard input.\n"
    "\n"
    "  --map          also print every row of the memory map that holds data\n"
    "  --ranges       also print the data ranges, one line \"Data: FIRST - LAST\" each\n"
    "  --region NAME=START,SIZE\n"
    "                 a memory region (SIZE may end in K or M); repeatable: prints each region's use\n"
    "                 and the data outside every region\n"
    "  --memory FILE  the memory regions of the MEMORY command of a GNU ld linker script\n"
    "  --digest       also print the CRC-32 and SHA-256 of the image from its lowest to its highest\n"
    "                 address, gaps filled with 0xFF\n"
    "  --fill 0xNN    fill the digest's gaps with this byte instead\n"
    "  --strict       a file with a warning fails (status 1)\n"
    "  --diff A B     compare the images the two files load: the ranges only in A, only in B and\n"
    "                 different, or \"Same image\"; status 0 same, 1 different, 2 trouble\n"
    "  --json         print each summary as a JSON object (one line each with several files)\n"
    "  -j, --jobs N   analyse N files at a time (default: the number of cores); a large file\n"
    "                 also uses the cores the other files leave free\n"
    "  -q, --quiet    print nothing on standard output; only the exit status and one line on\n"
    "                 standard error per failing or warning file tell\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Exit status: the most severe of the files' (4, 3, 1, then 5): 0 parsed, 1 analysis error (or a\n"
    "warning with --strict), 3 out of memory, 5 data outside the regions; 2 usage error (no file\n"
    "analysed), 4 output not written.\n";

constexpr const char* kStandardInput = "-";

struct Options {
  ReportLayout layout;
  bool quiet = false;
  bool strict = false;
  bool diff = false;
  unsigned jobs = 0;  // 0: one per core
  unsigned cores = 1;
  std::vector<std::string> files;
};

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

// Whether args[i] is the option `name`, alone (its value the next argument) or as name=VALUE; takes the value, or
// leaves it empty when the option ends the arguments.
bool ValueOption(const std::vector<std::string>& args, std::size_t& i, std::string_view name,
                 std::optional<std::string>& value) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 < args.size()) value = args[++i];
    return true;
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

std::optional<std::uint8_t> ParseFill(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) text.remove_prefix(2);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, hex ? 16 : 10);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 0xFF) return std::nullopt;
  return static_cast<std::uint8_t>(value);
}

// Adds the regions of a linker script; false with the message on err when it cannot be read.
bool ReadMemoryFile(const std::string& path, std::vector<MemoryRegion>& regions, std::ostream& err) {
  std::ifstream in(path, std::ios::binary);
  std::string text;
  if (in) text.assign(std::istreambuf_iterator<char>(in), {});
  if (!in && !in.eof()) {
    err << "varnok-scan: " << EscapeValue(path) << ": cannot read: " << std::strerror(errno != 0 ? errno : EIO) << '\n';
    return false;
  }
  auto read = ReadMemoryCommand(text);
  if (const ScriptError* error = std::get_if<ScriptError>(&read)) {
    err << "varnok-scan: " << EscapeValue(path) << ':' << error->line << ": " << error->message << '\n';
    return false;
  }
  for (MemoryRegion& region : std::get<std::vector<MemoryRegion>>(read)) regions.push_back(std::move(region));
  return true;
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
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--digest") {
      options.layout.digest = true;
    } else if (arg == "--diff") {
      options.diff = true;
    } else if (std::optional<std::string> given; ValueOption(args, i, "--region", given) ||
                                                 ValueOption(args, i, "--memory", given) ||
                                                 ValueOption(args, i, "--fill", given)) {
      const std::string name = arg.substr(0, arg.find('='));
      if (!given) {
        status = UsageError(err, "option '" + name + "' needs a value");
        return std::nullopt;
      }
      if (name == "--memory") {
        if (!ReadMemoryFile(*given, options.layout.regions, err)) {
          status = kScanUsageError;
          return std::nullopt;
        }
      } else if (name == "--region") {
        std::optional<MemoryRegion> region = ParseRegionOption(*given);
        if (!region) {
          status = UsageError(err, "a region is NAME=START,SIZE below 0x100000000, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        options.layout.regions.push_back(std::move(*region));
      } else {
        const std::optional<std::uint8_t> fill = ParseFill(*given);
        if (!fill) {
          status = UsageError(err, "the fill is a byte from 0 to 0xFF, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        options.layout.fill = *fill;
      }
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
  if (options.diff && options.files.size() != 2) {
    status = UsageError(err, "--diff compares two files");
    return std::nullopt;
  }
  if (options.diff && (options.layout.map || options.layout.ranges || options.layout.digest ||
                       !options.layout.regions.empty())) {
    status = UsageError(err, "--diff takes no --map, --ranges, --digest, --region or --memory");
    return std::nullopt;
  }
  options.layout.several = options.files.size() > 1;
  options.cores = UsableCores();
  options.layout.cores = options.cores;
  if (options.jobs == 0) options.jobs = options.cores;
  return options;
}

// The display of one input: passes its progress on to the terminal's line.
class ScanDisplay : public AnalysisDisplay {
 public:
  ScanDisplay(ProgressLine& progress, std::size_t input, const std::string& name)
      : progress_(progress), input_(input), name_(name) {}
  ~ScanDisplay() override { progress_.Finish(input_); }
  ScanDisplay(const ScanDisplay&) = delete;
  ScanDisplay& operator=(const ScanDisplay&) = delete;

  bool ShowProgress(std::uint64_t read, std::uint64_t size) override {
    if (progress_.ShowsRun()) {
      progress_.RunRead(input_, read);
      return true;
    }
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
  ProgressLine& progress_;
  const std::size_t input_;
  const std::string& name_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_update_;
  bool updated_ = false;
};

// Ends a report whose memory ran out after its run as one whose run did: the summary that cannot be printed whole
// is not printed at all; the header read stays.
void MarkOutOfMemory(FileReport& report) {
  report.grid.reset();
  RunHeader header = std::move(report.result.header);
  report.result = RunResult{};
  report.result.kind = RunKind::OutOfMemory;
  report.result.header = std::move(header);
  report.error_line.reset();
  FreeRun(report.state);
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
    ScanDisplay display(progress, index, r.name);
    const ReportLayout& layout = options.layout;
    WarningCollector warnings;
    RunRequest request;
    request.path = r.name;
    request.map_option = layout.map || layout.digest || options.diff;
    request.ranges = layout.ranges || !layout.regions.empty();
    request.warnings = &warnings;
    // A map that is printed or compared fills while the file is read; a digest alone takes the kept blocks.
    std::optional<MapFiller> filler;
    if (layout.map || options.diff) request.sink = &filler.emplace(context.allocate, context.deallocate);
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
    if (r.result.Parsed()) {
      r.warnings = warnings.Result();
      const bool per_range = layout.ranges && layout.json;  // each range's own digest is shown only in JSON
      // Blocks that follow one another up the addresses are digested as they stand; others need the map's order.
      if (layout.digest && !layout.map) r.digest = DigestBlocksInOrder(r.state.DataBlocks, layout.fill, per_range);
      if (request.map_option && !r.digest) {
        r.grid.emplace();
        const RunTotals& totals = r.result.totals;
        if (filler) {
          filler->Finish(*r.grid, totals.lowest, totals.highest, totals.exec);
        } else {
          r.grid->Build(totals.lowest, totals.highest);
          FillFromBlocks(*r.grid, r.state.DataBlocks, totals.exec);  // frees the blocks as the grid takes them
        }
        if (layout.digest) r.digest = DigestImage(*r.grid, layout.fill, per_range);
        if (!layout.map && !options.diff) r.grid.reset();
      }
      ClearDataBlocks(r.state);
      if (!layout.regions.empty()) {
        r.regions = MeasureRegions(layout.regions, r.state.Ranges);
        if (!layout.ranges) r.state.Ranges.Clear();
      }
    }
  } catch (const std::bad_alloc&) {
    MarkOutOfMemory(r);
  }
  return report;
}

// The sizes of the inputs that tell theirs beforehand, added up.
std::uint64_t InputBytes(const std::vector<std::string>& files) {
  std::uint64_t bytes = 0;
  for (const std::string& file : files) {
    struct stat st {};
    if (file != kStandardInput && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      bytes += static_cast<std::uint64_t>(st.st_size);
    }
  }
  return bytes;
}

// The status of the two that tells more: a report cut short or not written at all outweighs a failed file, and a
// file that cannot be analysed outweighs one whose data does not fit the regions.
int MoreSevere(int a, int b) {
  const auto rank = [](int status) { return status == kScanOutsideRegions ? 1 : status == kScanSuccess ? 0 : status + 1; };
  return rank(a) >= rank(b) ? a : b;
}

int FileStatus(const FileReport* report, bool strict) {
  if (report == nullptr || report->result.kind == RunKind::OutOfMemory) return kScanOutOfMemory;
  if (!report->result.Parsed()) return kScanAnalysisError;
  if (report->regions && !report->regions->outside.empty()) return kScanOutsideRegions;
  return strict && report->warnings.Any() ? kScanAnalysisError : kScanSuccess;
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
    if (progress_.Enabled()) progress_.StartRun(count, InputBytes(options_.files));
    if (threads <= 1 || !RunParallel(threads)) {
      for (std::size_t i = 0; i < count && !output_failed_; ++i) Deliver(AnalyseFile(i, options_, context_, progress_));
    }
    progress_.EndRun();
    return status_;
  }

 private:
  // Writes one report and adds its status.
  void Deliver(std::unique_ptr<FileReport> report) {
    const int status = FileStatus(report.get(), options_.strict);
    status_ = MoreSevere(status_, status);
    bool out_of_memory = status == kScanOutOfMemory;
    progress_.Without([&] {
      std::string problem;
      try {
        if (report != nullptr && !options_.quiet) WriteReport(out_, *report, options_.layout);
        if (report != nullptr && !out_of_memory) problem = ProblemText(*report);
        if (!problem.empty()) problem = "varnok-scan: " + EscapeValue(report->name) + ": " + problem + "\n";
      } catch (const std::bad_alloc&) {
        out_of_memory = true;
        problem.clear();
        status_ = MoreSevere(status_, kScanOutOfMemory);
      }
      // The lines so far go out before the message, so that the two read in order on one terminal.
      if (progress_.Enabled() || out_of_memory || !problem.empty()) out_.flush();
      if (out_of_memory) err_ << "Out of memory!!\n" << std::flush;
      err_ << problem << std::flush;
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
    bool can_grow = start_threads(std::min<std::size_t>(threads, options_.cores));
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

// varnok-scan --diff: analyses the two files, at once when the jobs allow, and compares what they load.
int RunDiff(const Options& options, const ScanContext& context, std::ostream& out, std::ostream& err) {
  ProgressLine progress(err, options.quiet ? 0 : context.terminal_columns);
  progress.StartRun(2, InputBytes(options.files));
  std::unique_ptr<FileReport> reports[2];
  bool analysed = false;
  if (options.jobs > 1) {
    try {
      std::thread second([&] { reports[1] = AnalyseFile(1, options, context, progress); });
      reports[0] = AnalyseFile(0, options, context, progress);
      second.join();
      analysed = true;
    } catch (const std::system_error&) {
      // one thread does both
    }
  }
  if (!analysed) {
    for (std::size_t i = 0; i < 2; ++i) reports[i] = AnalyseFile(i, options, context, progress);
  }
  progress.EndRun();
  int status = kDiffSame;
  for (const std::unique_ptr<FileReport>& report : reports) {
    if (FileStatus(report.get(), false) == kScanOutOfMemory) {
      out.flush();
      err << "Out of memory!!\n" << std::flush;
      status = kScanOutOfMemory;
    } else if (!report->result.Parsed()) {
      // An invalid file's report is printed as with several files, and its status line on standard error.
      if (!options.quiet) WriteReport(out, *report, options.layout);
      out.flush();
      err << "varnok-scan: " << EscapeValue(report->name) << ": " << ProblemText(*report) << '\n' << std::flush;
      status = std::max(status, kDiffTrouble);
    }
  }
  if (status != kDiffSame) return status;
  std::ostream nowhere(nullptr);
  return WriteDiff(options.quiet ? nowhere : out, *reports[0], *reports[1], options.layout.json) ? kDiffSame
                                                                                                   : kDiffDifferent;
}

}  // namespace

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const ScanContext& context) {
  int status = kScanSuccess;
  try {
    const std::optional<Options> options = ParseArguments(args, out, err, status);
    if (options && options->diff) {
      status = RunDiff(*options, context, out, err);
    } else if (options) {
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
