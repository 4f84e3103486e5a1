#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

#include "analysis/analysis_run.h"
#include "memmap/map_filler.h"
#include "memmap/map_grid.h"

namespace varnok {

// One "Start parsing..." off the UI thread: reads the file into the state and, with the map option, fills a
// MapGrid while it reads, which it lays out over the run's range once the file proved valid. It tells its progress
// and its ends through signals, which reach receivers on other threads queued, and stops at its next progress report
// once asked to. The state is the worker's alone from Start until finished().
class RunWorker : public QObject {
  Q_OBJECT

 public:
  enum class Phase { Reading, Filling };
  Q_ENUM(Phase)

  // The map's filler gathers the records in memory from `allocate`.
  RunWorker(RunRequest request, AnalysisState& state, BlockAllocator allocate = &std::malloc,
            BlockDeallocator deallocate = &std::free);
  // Asks the run to stop and waits for it.
  ~RunWorker() override;
  RunWorker(const RunWorker&) = delete;
  RunWorker& operator=(const RunWorker&) = delete;

  void Start();
  // Asks the run to stop at its next progress report; any thread may ask.
  void Stop() { stop_ = true; }

  // Whether the run fills a map after a valid reading.
  bool MapOption() const { return request_.map_option; }
  // How the reading ended; read once readingEnded() was received.
  const RunResult& Result() const { return result_; }
  // The filled map, taken once finished() was received; null unless the fill went to its end.
  std::unique_ptr<MapGrid> TakeMap() { return std::move(map_); }
  // Whether the fill was asked to stop, or ran out of memory; read once finished() was received.
  bool FillCancelled() const { return fill_cancelled_; }
  bool FillOutOfMemory() const { return fill_out_of_memory_; }
  // The warnings of a valid file read with the map option; read once readingEnded() was received.
  const FileWarnings& Warnings() const { return warnings_; }

 signals:
  // done of total for the phase, at most once per whole percent.
  void progressed(varnok::RunWorker::Phase phase, quint64 done, quint64 total);
  void readingEnded();
  // The run is over and its thread about to end.
  void finished();

 private:
  void Run();
  void Fill();
  bool Report(Phase phase, std::uint64_t done, std::uint64_t total);

  RunRequest request_;
  AnalysisState& state_;
  std::unique_ptr<MapFiller> filler_;  // with the map option
  WarningCollector collector_;
  FileWarnings warnings_;
  std::atomic<bool> stop_ = false;
  RunResult result_;
  std::unique_ptr<MapGrid> map_;
  bool fill_cancelled_ = false;
  bool fill_out_of_memory_ = false;
  std::uint64_t last_percent_ = ~std::uint64_t{0};
  std::thread thread_;
};

}  // namespace varnok
