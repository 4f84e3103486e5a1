#include "cli/scan.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analyse_file.h"
#include "text/line_text.h"
#include "diff.h"
#include "image/image_digest.h"
#include "option_regions.h"
#include "options.h"
#include "ordered_pool.h"
#include "progress_line.h"
#include "report.h"

namespace varnok {
namespace {

// The status of the two that tells more: a report cut short or not written at all outweighs a failed file, and a
// file that cannot be analysed outweighs one whose data does not fit the regions.
int MoreSevere(int a, int b) {
  const auto rank = [](int status) { return status == kScanOutsideRegions ? 1 : status == kScanSuccess ? 0 : status + 1; };
  return rank(a) >= rank(b) ? a : b;
}

// Writes the reports in the order of the files, whichever order their analyses finish in.
class Scanner {
 public:
  Scanner(const ScanOptions& options, const ScanContext& context, std::ostream& out, std::ostream& err)
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
        if (!problem.empty()) problem = "varnok-scan: " + problem + "\n";
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

  // Analyses on up to `threads` threads besides this one, which only starts them, and writes each report as soon as
  // it and every one before it are done; false when no thread could be started.
  bool RunParallel(std::size_t threads) {
    std::vector<std::unique_ptr<FileReport>> slots(options_.files.size());
    return RunInOrder(
        slots.size(), threads, options_.cores,
        [&](std::size_t index) { slots[index] = AnalyseFile(index, options_, context_, progress_); },
        [&](std::size_t index) {
          Deliver(std::move(slots[index]));
          return !output_failed_;
        });
  }

  const ScanOptions& options_;
  const ScanContext& context_;
  std::ostream& out_;
  std::ostream& err_;
  ProgressLine progress_;
  int status_ = kScanSuccess;
  bool output_failed_ = false;
};

}  // namespace

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const ScanContext& context) {
  int status = kScanSuccess;
  try {
    std::optional<ScanOptions> options = ParseArguments(args, out, err, status);
    if (options && !MakeRegions(*options, err, status)) options.reset();
    // Before the first file is read, so that the library's start-up never runs among the analyses.
    if (options && options->layout.digest) PrepareDigests();
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
