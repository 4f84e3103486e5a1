#include "diff.h"

#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>

#include "analyse_file.h"
#include "analysis/hex_text.h"
#include "progress_line.h"
#include "report.h"

namespace varnok {

int RunDiff(const ScanOptions& options, const ScanContext& context, std::ostream& out, std::ostream& err) {
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
      err << "varnok-scan: " << ProblemText(*report) << '\n' << std::flush;
      status = std::max(status, kDiffTrouble);
    }
  }
  if (status != kDiffSame) return status;
  std::ostream nowhere(nullptr);
  return WriteDiff(options.quiet ? nowhere : out, *reports[0], *reports[1], options.layout) ? kDiffSame
                                                                                                   : kDiffDifferent;
}

}  // namespace varnok
