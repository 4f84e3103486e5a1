#include "app/run_worker.h"

#include <algorithm>
#include <functional>
#include <new>
#include <utility>

namespace varnok {
namespace {

// Hands the run's progress reports to the worker.
class WorkerDisplay : public AnalysisDisplay {
 public:
  explicit WorkerDisplay(std::function<bool(std::uint64_t, std::uint64_t)> report) : report_(std::move(report)) {}
  bool ShowProgress(std::uint64_t read, std::uint64_t size) override { return report_(read, size); }

 private:
  std::function<bool(std::uint64_t, std::uint64_t)> report_;
};

}  // namespace

RunWorker::RunWorker(RunRequest request, AnalysisState& state, BlockAllocator allocate, BlockDeallocator deallocate)
    : request_(std::move(request)), state_(state) {
  if (!request_.map_option) return;
  // The saved map begins with the run's report, warnings included.
  request_.warnings = &collector_;
  filler_ = std::make_unique<MapFiller>(allocate, deallocate);
  request_.sink = filler_.get();
}

RunWorker::~RunWorker() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

void RunWorker::Start() { thread_ = std::thread([this] { Run(); }); }

bool RunWorker::Report(Phase phase, std::uint64_t done, std::uint64_t total) {
  // Reports that would show the same percentage again would only fill the UI thread's queue.
  const std::uint64_t percent = total == 0 ? 0 : std::min(done, total) * 100 / total;
  if (percent != last_percent_) {
    last_percent_ = percent;
    emit progressed(phase, done, total);
  }
  return !stop_;
}

void RunWorker::Run() {
  try {
    WorkerDisplay display([this](std::uint64_t read, std::uint64_t size) { return Report(Phase::Reading, read, size); });
    result_ = RunAnalysis(request_, state_, display);
    if (result_.Parsed() && request_.map_option) warnings_ = collector_.Result();
  } catch (const std::bad_alloc&) {
    FreeRun(state_);
    result_ = RunResult{RunKind::OutOfMemory, 0, {}, {}};
  }
  emit readingEnded();
  if (result_.Parsed() && request_.map_option) Fill();
  // What a failed reading filled goes here, off the UI thread.
  filler_.reset();
  emit finished();
}

void RunWorker::Fill() {
  last_percent_ = ~std::uint64_t{0};
  try {
    auto map = std::make_unique<MapGrid>();
    const bool filled = filler_->Finish(*map, result_.totals.lowest, result_.totals.highest, result_.totals.exec,
                                        [this](std::uint64_t done, std::uint64_t total) {
                                          return Report(Phase::Filling, done, total);
                                        });
    if (filled) {
      map_ = std::move(map);
    } else {
      fill_cancelled_ = true;
    }
  } catch (const std::bad_alloc&) {
    // The reading's result may be read by now, so the fill's failure has a flag of its own.
    map_.reset();
    fill_out_of_memory_ = true;
  }
  FreeRun(state_);
}

}  // namespace varnok
