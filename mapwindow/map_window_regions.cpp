// The map window's memory regions: their legend, the region under the mouse, the regions list with the digests.

#include <QFrame>
#include <QLabel>

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "analysis/data_ranges.h"
#include "digest_job.h"
#include "image/image_digest.h"
#include "map_dialogs.h"
#include "map_legend.h"
#include "map_row_painter.h"
#include "mapwindow/frm_data.h"
#include "text/line_text.h"
#include "ui/text.h"

namespace varnok {

std::optional<std::string> Tfrm_Data::RegionNameAt(std::uint32_t address) const {
  // Regions that overlap leave the address to the first of them, as the bands do.
  for (const MemoryRegion& region : target_regions_) {
    if (address >= region.origin && address - std::uint64_t{region.origin} < region.length) {
      return EscapeValue(region.name);
    }
  }
  return std::nullopt;
}

int Tfrm_Data::LayOutRegionLegend(int top) {
  constexpr int kLeft = 216;
  constexpr int kGap = 8;
  const int right = width() - 8;
  int x = kLeft;
  int rows = region_legends_.empty() ? 0 : 1;
  for (QLabel* legend : region_legends_) {
    const int entry = std::min(legend->sizeHint().width() + 12, right - kLeft);
    if (x > kLeft && x + entry > right) {
      x = kLeft;
      ++rows;
    }
    legend->setGeometry(x, top + (rows - 1) * kPanelHeight + 5, entry, 17);
    x += entry + kGap;
  }
  return rows;
}

void Tfrm_Data::ShowRegions(std::vector<MemoryRegion> regions) {
  target_regions_ = std::move(regions);
  // The same measure as varnok-scan's, over the runs of filled addresses the map holds.
  DataRanges loaded;
  for (const AddressRange& region : map_.Regions()) loaded.AddRange(region.first, region.last);
  usage_ = MeasureRegions(target_regions_, loaded);
  cover_.emplace(target_regions_);
  row_painter_->SetCover(&*cover_);
  for (QLabel* legend : region_legends_) delete legend;
  region_legends_.clear();
  for (std::size_t i = 0; i < target_regions_.size(); ++i) {
    const QColor& colour = map_colours::kRegionBands[i % std::size(map_colours::kRegionBands)];
    QLabel* legend = NewLegendPanel(ExtraPanel, "RegionLegend", QRect(), ui::ToQt(EscapeValue(target_regions_[i].name)),
                                    colour);
    // A name stays readable on the darker colours.
    if (colour.lightness() < 100) {
      QPalette pal = legend->palette();
      pal.setColor(QPalette::WindowText, Qt::white);
      legend->setPalette(pal);
    }
    legend->setToolTip(ui::PlainToolTip(ui::ToQt(RegionUsageLine(target_regions_[i], usage_.used[i]))));
    region_legends_.push_back(legend);
  }
  ShowExtraPanel();
  Grid->viewport()->update();
  Grid->InvalidateMarks();
  StartDigests();
}

void Tfrm_Data::RemoveRegions() {
  if (script_reading_) return;
  row_painter_->SetCover(nullptr);
  cover_.reset();
  target_regions_.clear();
  usage_ = RegionUsage{};
  for (QLabel* legend : region_legends_) delete legend;
  region_legends_.clear();
  script_warnings_.clear();
  ShowWarnings();
  if (!other_) lbl_Compare->clear();
  ShowExtraPanel();
  Grid->viewport()->update();
  Grid->InvalidateMarks();
  StartDigests();
  emit regionsRemoved();
}

void Tfrm_Data::StartDigests() {
  StopDigests();
  digest_lines_.reset();
  // It runs from slots and timers, which no exception may leave: digests that cannot start say so in the list.
  try {
    PrepareDigests();
    StartDigestJob();
  } catch (const std::bad_alloc&) {
    digest_lines_.emplace(1, "Digests: out of memory");
  } catch (const std::system_error&) {
    digest_lines_.emplace(1, "Digests: out of memory");
  }
}

void Tfrm_Data::StartDigestJob() {
  auto job = std::make_unique<DigestJob>(map_, target_regions_);
  digest_slot_->Start(std::move(job), &DigestJob::finished, this, std::function<void(DigestLines)>([this](DigestLines read) {
                        if (read.cancelled) return;
                        digest_lines_ = std::move(read.lines);
                        // A regions list that is open shows them in place of "computing...".
                        for (QDialog* dialog : findChildren<QDialog*>(QStringLiteral("RegionsDialog"))) {
                          if (auto* list = dynamic_cast<RegionsDialog*>(dialog)) {
                            listed_ = ListedLinesWithDigests();
                            list->Relist();
                          }
                        }
                      }));
}

bool Tfrm_Data::StopDigests() {
  if (!digest_slot_->Busy()) return false;
  // The slot's destruction stops its job and waits for its thread; the result it may have sent goes with it.
  delete digest_slot_;
  digest_slot_ = new JobSlot(this);
  return true;
}

std::vector<ListedLine> Tfrm_Data::ListedLinesWithDigests() const {
  std::vector<ListedLine> lines = ListedLines();
  // The target's regions' lines come first, in the regions' order: each shows its use as a bar.
  if (cover_) {
    for (std::size_t i = 0; i < target_regions_.size() && i < lines.size(); ++i) {
      const std::uint64_t length = target_regions_[i].length;
      if (length > 0) lines[i].share = static_cast<double>(usage_.used[i]) / static_cast<double>(length);
    }
  }
  if (map_.Regions().empty()) return lines;
  if (!digest_lines_) {
    lines.push_back({"Digests: computing...", std::nullopt});
    return lines;
  }
  for (const std::string& line : *digest_lines_) lines.push_back({line, std::nullopt});
  return lines;
}

std::vector<ListedLine> Tfrm_Data::ListedLines() const {
  std::vector<ListedLine> lines;
  if (cover_) {
    for (std::size_t i = 0; i < target_regions_.size(); ++i) {
      const MemoryRegion& region = target_regions_[i];
      // A region's line goes to its first data row; a region without data has none.
      std::optional<std::int32_t> row;
      const std::uint64_t region_end = std::uint64_t{region.origin} + region.length;
      for (const AddressRange& run : map_.Regions()) {
        if (run.last < region.origin || run.first >= region_end) continue;
        row = map_.AddressToCell(std::max(run.first, region.origin)).row;
        break;
      }
      lines.push_back({RegionUsageLine(region, usage_.used[i]), row});
    }
    for (const AddressRange& range : usage_.outside) {
      lines.push_back({OutsideRegionsLine(range), map_.AddressToCell(range.first).row});
    }
  }
  if (!other_) return lines;
  // In the order varnok-scan --diff prints them.
  for (const DiffRange& diff : diffs_) lines.push_back({DiffLine(diff), map_.AddressToCell(diff.range.first).row});
  const DiffSummary summary{diff_bytes_,   diffs_.size() + more_diffs_, more_diff_bytes_,      exec_,
                            other_exec_,   LoadedBytes(map_),           LoadedBytes(*other_)};
  for (std::string& line : DiffEndLines(summary)) lines.push_back({std::move(line), std::nullopt});
  return lines;
}

}  // namespace varnok
