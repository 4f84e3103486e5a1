// The map window's reads beside the UI thread: the image a map is compared with, and a linker script's regions.

#include <QLabel>
#include <QShortcut>

#include <new>
#include <system_error>
#include <utility>

#include "analysis/progress_percent.h"
#include "analysis/run_summary.h"
#include "map_saver.h"
#include "mapwindow/frm_data.h"
#include "mapwindow/run_job.h"
#include "script_job.h"
#include "ui/dialogs.h"
#include "ui/text.h"

namespace varnok {

JobSlot& Tfrm_Data::Slot() { return slot_ ? *slot_ : *own_slot_; }

void Tfrm_Data::CompareWith(const std::string& path) {
  if (saver_->Saving() || compare_reading_) return;
  compare_reading_ = true;
  stop_read_->setEnabled(true);
  lbl_Note->clear();
  ShowCompareProgress(0);
  if (script_reading_) {
    compare_next_ = path;
    return;
  }
  StartCompareRead(path);
}

void Tfrm_Data::StartCompareRead(const std::string& path) {
  RunRequest request;
  request.path = path;
  request.regular_only = true;
  request.parallel.threads = UsableCores();
  auto job = std::make_unique<RunJob>(std::move(request), true, allocate_, deallocate_);
  job->CoverRows(RowsRange(map_));
  connect(job.get(), &RunJob::progressed, this, [this](RunJob::Phase, quint64 done, quint64 total) {
    ShowCompareProgress(static_cast<int>(ProgressPercent(done, total)));
  });
  bool started = false;
  try {
    started = Slot().Start(std::move(job), &RunJob::finished, this,
                           std::function<void(RunOutcome)>(
                               [this, path](RunOutcome outcome) { CompareReadFinished(outcome, path); }));
  } catch (const std::system_error&) {
    // A thread that cannot be made is a resource that ran out, told as memory is.
    EndCompareRead(false);
    throw std::bad_alloc();
  }
  if (!started) EndCompareRead(false);
}

void Tfrm_Data::ShowCompareProgress(int percent) {
  if (compare_reading_) setWindowTitle(title_ + QStringLiteral(" - Comparing... %1 %").arg(percent));
}

void Tfrm_Data::CompareReadFinished(const RunOutcome& outcome, const std::string& path) {
  if (outcome.map != nullptr && !outcome.failure) {
    // Two builds are often both called fw.srec: the name says which is B, its full path is in the tooltip.
    const QString full = ui::ToQt(path);
    const QString name = QStringLiteral("Compared with ") + ui::ToQt(path.substr(path.find_last_of('/') + 1));
    lbl_Other->setText(lbl_Other->fontMetrics().elidedText(name, Qt::ElideMiddle, lbl_Other->width()));
    lbl_Other->setToolTip(ui::PlainToolTip(full));
    SetComparison(std::move(*outcome.map), outcome.result.totals.exec);
    return;
  }
  const bool cancelled = outcome.map_cancelled || outcome.result.kind == RunKind::Cancelled;
  EndCompareRead(cancelled);
  // The map stays as it was; what went wrong with the other file is told over it.
  if (outcome.failure) {
    ui::ShowExceptionReport(this, *outcome.failure);
  } else if (!cancelled) {
    ui::ShowMessage(this, ui::ToQt(StatusText(outcome.result)));
  }
}

void Tfrm_Data::EndCompareRead(bool cancelled) {
  compare_reading_ = false;
  compare_next_.reset();
  stop_read_->setEnabled(script_reading_);
  setWindowTitle(title_);
  if (cancelled) lbl_Note->setText(QStringLiteral("Compare cancelled"));
}

void Tfrm_Data::ReadRegions(const std::string& path, const std::string& folder) {
  const QString chosen = std::exchange(script_chosen_, QString());
  if (saver_->Saving() || compare_reading_ || script_reading_) return;
  auto job = std::make_unique<ScriptJob>(path, folder);
  const bool started = Slot().Start(
      std::move(job), &ScriptJob::finished, this,
      std::function<void(RegionsRead)>([this, chosen](RegionsRead read) { ScriptReadFinished(read, chosen); }));
  if (!started) return;
  script_reading_ = true;
  stop_read_->setEnabled(true);
  lbl_Note->clear();
  lbl_Script->setText(lbl_Script->fontMetrics().elidedText(
      QStringLiteral("Reading memory regions... ") + ui::ToQt(path), Qt::ElideMiddle, lbl_Script->width()));
  ShowExtraPanel();
}

void Tfrm_Data::ScriptReadFinished(const RegionsRead& read, const QString& chosen) {
  script_reading_ = false;
  stop_read_->setEnabled(compare_reading_);
  lbl_Script->clear();
  ShowExtraPanel();
  if (read.cancelled) {
    lbl_Note->setText(QStringLiteral("Regions cancelled"));
    // Escape meant every read of the window, the comparison that waited for this one too.
    if (compare_reading_) EndCompareRead(true);
    if (!digest_slot_->Busy() && !digest_lines_) StartDigests();
    return;
  }
  if (!read.problem.empty()) {
    if (!digest_slot_->Busy() && !digest_lines_) StartDigests();
    ui::ShowMessage(this, ui::ToQt(read.problem));
  } else {
    script_warnings_ = read.warnings;
    ShowWarnings();
    ShowRegions(read.regions);
    if (!chosen.isEmpty()) emit scriptChosen(chosen);
  }
  if (std::optional<std::string> next = std::exchange(compare_next_, std::nullopt)) StartCompareRead(*next);
}

void Tfrm_Data::CancelRead() { Slot().Cancel(); }

}  // namespace varnok
