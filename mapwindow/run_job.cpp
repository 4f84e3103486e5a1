#include "mapwindow/run_job.h"

#include <exception>
#include <new>
#include <utility>

#include "analysis/progress_percent.h"

namespace varnok {
namespace {

// Hands the run's progress reports to the job.
class JobDisplay : public AnalysisDisplay {
 public:
  explicit JobDisplay(std::function<bool(std::uint64_t, std::uint64_t)> report) : report_(std::move(report)) {}
  bool ShowProgress(std::uint64_t read, std::uint64_t size) override { return report_(read, size); }

 private:
  std::function<bool(std::uint64_t, std::uint64_t)> report_;
};

}  // namespace

RunJob::RunJob(RunRequest request, bool map_option, BlockAllocator allocate, BlockDeallocator deallocate)
    : request_(std::move(request)) {
  request_.warnings = &collector_;
  if (!map_option) return;
  filler_ = std::make_unique<MapFiller>(allocate, deallocate);
  request_.sink = filler_.get();
}

RunJob::~RunJob() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void RunJob::Start(const ThreadStart& start) {
  thread_ = start([this] {
    RunOutcome outcome = Run();
    emit finished(std::move(outcome));
  });
}

bool RunJob::Report(Phase phase, std::uint64_t done, std::uint64_t total) {
  // Reports that would show the same percentage again would only fill the UI thread's queue.
  const std::uint64_t percent = ProgressPercent(done, total);
  if (percent != last_percent_) {
    last_percent_ = percent;
    emit progressed(phase, done, total);
  }
  return !stop_;
}

RunOutcome RunJob::Run() {
  RunOutcome outcome;
  // No exception may leave the thread: it would end the program.
  try {
    JobDisplay display([this](std::uint64_t read, std::uint64_t size) { return Report(Phase::Reading, read, size); });
    outcome.result = RunAnalysis(request_, state_, display);
    if (outcome.result.Parsed()) outcome.warnings = collector_.Result();
    if (outcome.result.Parsed() && filler_ != nullptr) {
      emit fillStarted(outcome.result);
      Fill(outcome);
    }
  } catch (const std::bad_alloc&) {
    // The S0 texts of a reading that ended stay; the map is set only once it is whole.
    outcome.result = RunResult{RunKind::OutOfMemory, 0, {}, outcome.result.header, {}};
  } catch (const std::exception& error) {
    outcome.failure = error.what();
  } catch (...) {
    outcome.failure = std::string();
  }
  // What the run kept goes here, off the UI thread.
  filler_.reset();
  FreeRun(state_);
  return outcome;
}

void RunJob::Fill(RunOutcome& outcome) {
  last_percent_ = ~std::uint64_t{0};
  const RunTotals& totals = outcome.result.totals;
  auto map = std::make_shared<MapGrid>();
  AddressRange range{totals.lowest, totals.highest};
  if (cover_) range = totals.HasLowest() ? CoveringRange(cover_rows_, totals.lowest, totals.highest)
                      : cover_rows_    ? *cover_rows_
                                       : range;
  const bool filled = filler_->Finish(*map, range.first, range.last, totals.exec,
                                      [this](std::uint64_t done, std::uint64_t total) {
                                        return Report(Phase::Filling, done, total);
                                      });
  if (filled) {
    // On this thread, so that the map window is handed a map whose regions are known; the image a map is compared
    // with needs none.
    if (!cover_) map->FindRegions();
    outcome.map = std::move(map);
  } else {
    outcome.map_cancelled = true;
  }
}

}  // namespace varnok
