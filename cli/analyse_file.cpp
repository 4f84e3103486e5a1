#include "analyse_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <optional>
#include <utility>

#include "analysis/analysis_run.h"
#include "text/line_text.h"
#include "analysis/record_warnings.h"
#include "image/image_digest.h"
#include "regions/memory_regions.h"
#include "memmap/map_filler.h"

namespace varnok {
namespace {

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

// Passes the progress on; cancels the run once its sink gives up, as one that places the records only in address
// order does at the first that goes back.
class OrderWatch : public AnalysisDisplay {
 public:
  OrderWatch(AnalysisDisplay& display, const BlockSink* sink) : display_(display), sink_(sink) {}

  bool ShowProgress(std::uint64_t read, std::uint64_t size) override {
    return (sink_ == nullptr || !sink_->GaveUp()) && display_.ShowProgress(read, size);
  }

 private:
  AnalysisDisplay& display_;
  const BlockSink* const sink_;
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

}  // namespace

std::unique_ptr<FileReport> AnalyseFile(std::size_t index, const ScanOptions& options, const ScanContext& context,
                                        ProgressLine& progress, BlockSink* compared) {
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
    const bool per_range = layout.ranges && layout.json;  // each range's own digest is shown only in JSON
    // The digest alone is taken while the file is read, without a map, as long as the records come up the
    // addresses; a file whose records go back is read again into a map, so only a file can be digested that way.
    bool stream = layout.digest && !layout.map && !options.diff && IsRegularFile(r.name);
    std::optional<WarningCollector> warnings;
    std::optional<MapFiller> filler;
    std::optional<DigestSink> streamed;
    for (;;) {
      RunRequest request;
      request.path = r.name;
      request.ranges = layout.ranges || !layout.regions.empty();
      request.warnings = &warnings.emplace();
      // The map that is printed, compared or digested fills while the file is read.
      if (compared != nullptr) {
        request.sink = compared;
      } else if (stream) {
        request.sink = &streamed.emplace(layout.fill, per_range, layout.crc, layout.regions, layout.digest_regions);
      } else if (layout.map || layout.digest || options.diff) {
        request.sink = &filler.emplace(context.allocate, context.deallocate);
      }
      // The cores are shared among the files analysed at a time; the last ones in line share them among fewer, but
      // the two files compared are read side by side to the end.
      const std::size_t at_a_time = std::min<std::size_t>(options.jobs, options.files.size() - (options.diff ? 0 : index));
      request.parallel.threads = static_cast<unsigned>(std::max<std::size_t>(1, options.cores / at_a_time));
      OrderWatch watch(display, request.sink);
      r.result = r.name == kStandardInput
                     ? RunAnalysisOn(TextModeInput::FromDescriptor(context.stdin_fd), request, r.state, watch)
                     : RunAnalysis(request, r.state, watch);
      if (!stream || !streamed->GaveUp()) break;
      streamed.reset();
      stream = false;
    }
    if (r.result.kind != RunKind::Parsed && r.result.kind != RunKind::MissingFile &&
        r.result.kind != RunKind::OpenFailed) {
      r.error_line = r.result.line;
    }
    if (r.result.Parsed()) {
      r.warnings = warnings->Result();
      if (streamed && layout.digest) {
        DigestSink::Result digests = streamed->Finish();
        r.digest = std::move(digests.image);
        r.region_digests = std::move(digests.regions);
        r.mismatches = DigestMismatches(r, layout);
      }
      // The digest and the comparison read every byte the file loads; the map that is printed shows the range from
      // the lowest to the highest address, which misses the bytes of a record that runs past 0xFFFFFFFF.
      if (filler && layout.digest) {
        if (const MapGrid* taken = filler->Taken()) {
          DigestSink sink(layout.fill, per_range, layout.crc, layout.regions, layout.digest_regions);
          DigestSink::Result digests = DigestMap(*taken, sink);
          r.digest = std::move(digests.image);
          r.region_digests = std::move(digests.regions);
        }
        r.mismatches = DigestMismatches(r, layout);
      }
      if (filler && options.diff) filler->FinishWhole(r.grid.emplace());
      if (filler && layout.map) {
        const RunTotals& totals = r.result.totals;
        filler->Finish(r.grid.emplace(), totals.lowest, totals.highest, totals.exec);
      }
      if (!layout.regions.empty()) {
        r.regions = MeasureRegions(layout.regions, r.state.Ranges);
        r.breaches = RegionBreaches(*r.regions, layout);
        if (!layout.ranges) r.state.Ranges.Clear();
      }
    }
  } catch (const std::bad_alloc&) {
    MarkOutOfMemory(r);
  }
  return report;
}

bool IsRegularFile(const std::string& name) {
  struct stat st {};
  return name != kStandardInput && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

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

int FileStatus(const FileReport* report, bool strict) {
  if (report == nullptr || report->result.kind == RunKind::OutOfMemory) return kScanOutOfMemory;
  if (!report->result.Parsed() || !report->mismatches.empty()) return kScanAnalysisError;
  if (report->regions && (!report->regions->outside.empty() || !report->breaches.empty())) return kScanOutsideRegions;
  return strict && report->warnings.Any() ? kScanAnalysisError : kScanSuccess;
}

}  // namespace varnok
