#include "diff.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "analyse_file.h"
#include "text/line_text.h"
#include "image/image_compare.h"
#include "progress_line.h"
#include "report.h"

namespace varnok {

namespace {

bool Parsed(const std::unique_ptr<FileReport>& report) { return report != nullptr && report->result.Parsed(); }

// Reads the two files side by side and compares their images while they are read; false, with the reports to be
// made again, when the comparison gave up or no second thread could be had.
bool CompareWhileReading(const ScanOptions& options, const ScanContext& context, ProgressLine& progress,
                         std::unique_ptr<FileReport> (&reports)[2], std::optional<StreamedDiff>& streamed) {
  // The listing shows at most 16 bytes a line.
  const std::uint64_t listed = options.layout.diff_bytes ? 16 * std::min<std::uint64_t>(options.layout.diff_limit, 1u << 28) : 0;
  StreamCompare compare(listed);
  const auto analyse = [&](std::size_t index) {
    reports[index] = AnalyseFile(index, options, context, progress, &compare.Side(static_cast<int>(index)));
    compare.End(static_cast<int>(index), Parsed(reports[index]));
  };
  try {
    std::thread second([&] { analyse(1); });
    analyse(0);
    second.join();
  } catch (const std::system_error&) {
    return false;
  }
  if (compare.GaveUp()) return false;
  if (Parsed(reports[0]) && Parsed(reports[1])) {
    streamed = compare.Finish();
    return streamed.has_value();
  }
  return true;
}

}  // namespace

int RunDiff(const ScanOptions& options, const ScanContext& context, std::ostream& out, std::ostream& err) {
  ProgressLine progress(err, options.quiet ? 0 : context.terminal_columns);
  progress.StartRun(2, InputBytes(options.files));
  std::unique_ptr<FileReport> reports[2];
  std::optional<StreamedDiff> streamed;
  // Where a file could not be read again should the comparison while reading give up, its map is made instead.
  const bool side_by_side = options.jobs > 1 && IsRegularFile(options.files[0]) && IsRegularFile(options.files[1]);
  bool analysed = side_by_side && CompareWhileReading(options, context, progress, reports, streamed);
  // The files of a comparison that gave up are read again from their start.
  if (side_by_side && !analysed) progress.StartRun(2, InputBytes(options.files));
  if (!analysed && options.jobs > 1) {
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
      err << "varnok-scan: " << ProblemText(*report) << '\n' << std::flush;
      status = std::max(status, kDiffTrouble);
    }
  }
  if (status != kDiffSame) return status;
  std::ostream nowhere(nullptr);
  return WriteDiff(options.quiet ? nowhere : out, *reports[0], *reports[1], options.layout,
                   streamed ? &*streamed : nullptr)
             ? kDiffSame
             : kDiffDifferent;
}

}  // namespace varnok
