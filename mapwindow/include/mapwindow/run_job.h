#pragma once

#include <QMetaType>
#include <QObject>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "analysis/analysis_run.h"
#include "mapwindow/job_slot.h"
#include "memmap/map_filler.h"
#include "memmap/map_grid.h"

namespace varnok {

// What a run hands back when it is over.
struct RunOutcome {
  // How the run ended; a map that ran out of memory while it filled ends it as OutOfMemory, the S0 texts kept.
  RunResult result;
  // The filled map; null unless the fill went to its end. Shared, so that the outcome copies through a queued signal.
  std::shared_ptr<MapGrid> map;
  // The warnings of a valid file, as varnok-scan tells them.
  FileWarnings warnings;
  // Whether the fill was asked to stop; the result is then the valid reading's.
  bool map_cancelled = false;
  // The message of an exception other than running out of memory that ended the run.
  std::optional<std::string> failure;
};

// One "Start parsing..." off the UI thread: reads the file and, with the map option, fills a MapGrid while it reads,
// which it lays out over the run's range once the file proved valid. It owns all it works on, tells its progress
// through signals, which reach receivers on other threads queued, and hands its outcome back in finished(). It stops
// at its next progress report once asked to.
class RunJob : public QObject {
  Q_OBJECT

 public:
  enum class Phase { Reading, Filling };
  Q_ENUM(Phase)

  // With the map option, the map's filler takes the records as request's sink and gathers them in memory from
  // `allocate`.
  RunJob(RunRequest request, bool map_option, BlockAllocator allocate = &std::malloc,
         BlockDeallocator deallocate = &std::free);
  // Asks the run to stop and waits for it.
  ~RunJob() override;
  RunJob(const RunJob&) = delete;
  RunJob& operator=(const RunJob&) = delete;

  // Runs the job on the thread that `start` makes; its std::system_error leaves the job unstarted.
  void Start(const ThreadStart& start);
  // Asks the run to stop at its next progress report; any thread may ask.
  void Stop() { stop_ = true; }
  // Lays the map out so that its rows also cover `rows` (the rows of the map it is compared with, laid out alike;
  // none for a map without data) instead of the run's range alone. Called before Start.
  void CoverRows(std::optional<AddressRange> rows) {
    cover_ = true;
    cover_rows_ = rows;
  }

 signals:
  // done of total for the phase, at most once per whole percent.
  void progressed(varnok::RunJob::Phase phase, quint64 done, quint64 total);
  // A valid file was read with the map option and the map fills now; `reading` is the run's result.
  void fillStarted(varnok::RunResult reading);
  // The run is over and its thread about to end.
  void finished(varnok::RunOutcome outcome);

 private:
  RunOutcome Run();
  // Lays the map out over the reading's range into outcome.
  void Fill(RunOutcome& outcome);
  bool Report(Phase phase, std::uint64_t done, std::uint64_t total);

  RunRequest request_;
  AnalysisState state_;
  std::unique_ptr<MapFiller> filler_;  // with the map option
  bool cover_ = false;
  std::optional<AddressRange> cover_rows_;
  WarningCollector collector_;
  std::atomic<bool> stop_ = false;
  std::uint64_t last_percent_ = ~std::uint64_t{0};
  std::thread thread_;
};

}  // namespace varnok

Q_DECLARE_METATYPE(varnok::RunOutcome)
