#pragma once

#include <QKeySequence>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/block_sink.h"
#include "image/image_compare.h"
#include "mapwindow/job_slot.h"
#include "regions/memory_regions.h"
#include "regions/region_cover.h"
#include "memmap/map_grid.h"
#include "mapwindow/map_grid_view.h"

class QAction;
class QFrame;
class QLabel;
class QPainter;
class QResizeEvent;
class QShortcut;

namespace varnok {

class FindCommand;
class MapRowPainter;
struct ListedLine;
class MapSaver;
struct MapTextSave;
struct RegionsRead;
struct RunOutcome;

namespace ui {
class FramePlacement;
}

// The memory map window: a MapGrid shown in a colour-coded grid of 32 bytes per row, with a legend and a
// read-out of the address under the mouse. It is a top-level window destroyed with its owner; closing it
// only hides it. Its width is fixed once it has been shown; the user can change its height only. The grid's context
// menu holds the window's commands, each with its shortcut. A second image compared with the map, and the target's
// memory regions, show over the map with a legend of their own in a panel above the legend. Both are read beside the
// UI thread, through the job slot that the window shares with its owner, or through one of its own.
class Tfrm_Data : public QWidget {
  Q_OBJECT

 public:
  // Runs the save-file dialog over parent with the preset file name; returns the chosen full path, or an empty
  // text when the user cancels.
  using SaveFileDialog = std::function<QString(QWidget* parent, const QString& preset)>;
  // Runs the open-file dialog of "Compare with..." over parent; returns the chosen path in the file system's bytes,
  // or an empty text when the user cancels.
  using CompareFileDialog = std::function<std::string(QWidget* parent)>;
  // Runs the open-file dialog of "Memory regions..." over parent; returns the chosen path, or an empty text.
  using ScriptFileDialog = std::function<QString(QWidget* parent)>;

  // Creates the hidden window over owner, captioned with the file name (8-bit text, taken up to its first byte 0).
  Tfrm_Data(QWidget* owner, const std::string& name);
  ~Tfrm_Data() override;

  // Shows a map built and filled elsewhere; its first data row becomes current.
  void SetMap(MapGrid&& map);
  // Shows the window (the first time where SetPlacement says, else beside its owner on its screen, or below it),
  // brings it back when it is minimised, raises and activates it.
  void ShowMap();
  // Where the window opens the first time it is shown: the top-left corner of its outer frame and its client size.
  void SetPlacement(const QRect& placement) { wanted_ = placement; }
  // Where the window is, as SetPlacement takes it; none until it has been shown.
  std::optional<QRect> Placement() const;
  // Replaces the file dialog that "Save map as text..." runs.
  void SetSaveFileDialog(SaveFileDialog dialog);
  // The text a saved map begins with (the run's report: its summary and warnings, then an empty line).
  void SetReportHead(std::string head) { report_head_ = std::move(head); }
  // Lists the file's warnings (texts such as "no termination record") in the panel beside the legend, with a
  // warning sign, followed by those of the script whose regions show; none of either hides both.
  void SetWarnings(const std::vector<std::string>& warnings);
  // Whether "Save map as text..." is writing; its progress shows in the title and Escape stops it. The window's
  // destruction stops a save and waits for it, and leaves the file as it was.
  bool Saving() const;
  // Keeps the end of the save that goes on from being told over the window when it succeeds; a failure is still
  // told. The owner asks for this when it closes once the save is over.
  void QuietSaveEnd() { quiet_save_end_ = true; }

  const MapGrid& Map() const { return map_; }

  // Runs the window's reads through slot, which its owner shares, instead of the window's own; set before any read.
  void SetJobSlot(JobSlot* slot) { slot_ = slot; }
  // Takes the memory in which the image to compare with is gathered from allocate.
  void SetBlockAllocator(BlockAllocator allocate, BlockDeallocator deallocate) {
    allocate_ = allocate;
    deallocate_ = deallocate;
  }
  // The execution address of the map's image, which the comparison tells beside its bytes.
  void SetExecutionAddress(std::optional<std::uint32_t> exec) { exec_ = exec; }
  // Replaces the file dialog that "Compare with..." runs.
  void SetCompareFileDialog(CompareFileDialog dialog);
  // Reads the image at path (the file system's bytes) as a run with the map option, laid out over the map's rows,
  // and compares the map with it (SetComparison); the title shows the read's progress and Escape cancels it. An
  // image that cannot be read is told in a box over the map, which stays as it was. It follows a script's read that
  // goes on; ignored while a save or another comparison's read goes on.
  void CompareWith(const std::string& path);
  // Whether the image to compare with is being read, or waits for its read.
  bool CompareReading() const { return compare_reading_; }
  // Compares the map with `other`, the second image laid out over rows that cover the map's (its first row's
  // address a whole number of rows from the map's, or the same): the map is widened to the same rows, the cells
  // that differ take the comparison's colours, and F8, the scroll bar and the regions list show the differences.
  void SetComparison(MapGrid&& other, std::optional<std::uint32_t> other_exec);
  // The second image while the map is compared with one.
  const MapGrid* Other() const { return other_ ? &*other_ : nullptr; }

  // Replaces the file dialog that "Memory regions..." runs.
  void SetScriptFileDialog(ScriptFileDialog dialog) { script_file_dialog_ = std::move(dialog); }
  // Reads the regions of the linker script at path, INCLUDE looking first in folder (the process's current folder
  // when empty), and shows them over the map: a band in the address column of every row in a region, the filled
  // cells outside every region in a colour of their own, their rows marked on the scroll bar, and the regions' use
  // in the regions list. The extra panel tells of the read while it goes on, and Escape cancels it. A script that
  // cannot be read is told in a box ("FILE:LINE: what") and the map stays as it was. Ignored while a save or
  // another read goes on.
  void ReadRegions(const std::string& path, const std::string& folder);
  // Whether the digests of the map and its regions are there for the regions list.
  bool DigestsReady() const { return digest_lines_.has_value(); }
  // Whether a script's regions are being read.
  bool RegionsReading() const { return script_reading_; }
  // "No regions": takes the regions, their legend and the script's warnings off the map, and tells the owner to
  // forget its script (regionsRemoved). Ignored while a script's read goes on.
  void RemoveRegions();

 signals:
  // A save began or ended.
  void savingChanged(bool saving);
  // "Memory regions..." read the regions of the script at path, chosen with the process's current folder.
  void scriptChosen(const QString& path);
  // "No regions" took the regions off the map: no script is to be read for the next map.
  void regionsRemoved();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void GridDrawCell(QPainter& painter, std::int32_t column, std::int32_t row, const QRect& rect,
                    GridDrawState state);
  void FormCanResize(int& NewWidth, int& NewHeight);
  void FormResize();
  void GridMouseMove(Qt::KeyboardModifiers Shift, int X, int Y);

  QSize OwnerFrameExtra() const;
  // Sizes and places the window when it is first shown.
  void PlaceFirstTime();
  QPoint PlacedFrameTopLeft() const;
  // Adds a command to the grid's context menu, with a shortcut that works anywhere in the window.
  void AddCommand(const QString& text, const QKeySequence& shortcut, std::function<void()> command);
  // Asks a save that goes on to stop; the file is then left as it was.
  void StopSaving();
  void SaveProgressed(int percent);
  void SaveFinished(const MapTextSave& save, const QString& path);
  // F8 and Shift+F8: select the first row of the next or previous difference.
  void NextDifference();
  void PreviousDifference();
  // The lines the regions list adds after the map's regions: the target's regions, then the comparison's.
  std::vector<ListedLine> ListedLines() const;
  // Shows the extra panel when a comparison, regions or a script's read need it, and lays the window out again.
  void ShowExtraPanel();
  // The slot the window's reads run through.
  JobSlot& Slot();
  void StartCompareRead(const std::string& path);
  void ShowCompareProgress(int percent);
  void CompareReadFinished(const RunOutcome& outcome, const std::string& path);
  // Ends a read that brought no image to compare with; the map stays as it was. A cancelled one says so.
  void EndCompareRead(bool cancelled);
  void ScriptReadFinished(const RegionsRead& read, const QString& chosen);
  // Shows regions over the map.
  void ShowRegions(std::vector<MemoryRegion> regions);
  // Escape while one of the window's reads goes on.
  void CancelRead();
  // Lists the file's warnings, then the script's.
  void ShowWarnings();
  // The name of the region that holds address, escaped as varnok-scan writes it; none outside every region.
  std::optional<std::string> RegionNameAt(std::uint32_t address) const;
  // One legend entry per region, each its name on its band's colour, laid out from left to right and wrapping to
  // further rows of the extra panel; returns the rows they take.
  int LayOutRegionLegend(int top);
  // Shows in the read-out what the selected row holds in each image at its first difference (at its first byte when
  // it has none), for a keyboard user, until the mouse moves over the grid again.
  void ShowSelectedDifference();
  // Opens the grid's context menu at the selected row, as the Menu key does.
  void OpenContextMenu();
  // Digests the map and the target's regions beside the UI thread, after stopping the digests that go on; the
  // regions list shows them once they are there.
  void StartDigests();
  void StartDigestJob();
  // Stops the digests that go on and waits for them, so that the map may change; true when some went on.
  bool StopDigests();
  // The lines the regions list shows: ListedLines, then the digests or that they are being computed.
  std::vector<ListedLine> ListedLinesWithDigests() const;

  MapGrid map_;  // declared ahead of the controls: Grid reads it from its construction on
  MapGridView* const Grid;
  QFrame* const Panel;
  QLabel* const Label1;
  QLabel* const lbl_Adr;
  QLabel* const Panel1;
  QLabel* const Panel2;
  QLabel* const Panel3;
  QLabel* const img_Warnings;  // the warning sign
  QLabel* const lbl_Warnings;
  QLabel* const lbl_Note;  // what the last search or save has to say ("Search wrapped", "Save cancelled")
  QFrame* const ExtraPanel;  // above Panel while comparing or showing regions: their legend and read-out
  QLabel* const lbl_Compare;   // what the address under the mouse holds in each image
  QLabel* const Panel4;
  QLabel* const Panel5;
  QLabel* const Panel6;
  QLabel* const lbl_Same;  // "Same image"
  QLabel* const Panel7;    // "Outside regions"
  QLabel* const lbl_Script;  // in Panel7's place while a script is read
  QLabel* const lbl_Other;   // "Compared with NAME", the second row of the extra panel
  std::vector<QLabel*> region_legends_;  // one per target region, on the extra panel's second row and further
  int extra_rows_ = 1;  // the rows of the extra panel

  int Tag = 0;  // one-shot: the first size check after construction lets any width through
  bool can_resize_attached_ = false;
  bool shown_ = false;
  std::optional<QRect> wanted_;  // where the window opens the first time
  ui::FramePlacement* const placement_;
  std::string file_name_;
  SaveFileDialog save_file_dialog_;
  std::unique_ptr<FindCommand> find_;            // the search and its highlighted match
  std::unique_ptr<MapRowPainter> row_painter_;  // made once the grid has the window's font
  std::string report_head_;
  QString title_;           // the title without a save's progress
  MapSaver* const saver_;   // a child: stops and waits for its thread before the map goes
  QShortcut* const stop_save_;  // Escape, while a save goes on
  bool quiet_save_end_ = false;  // the owner closes once the save is over
  std::optional<std::uint32_t> exec_;
  CompareFileDialog compare_file_dialog_;
  QShortcut* const stop_read_;  // Escape, while the image to compare with or a script is read
  QPointer<JobSlot> slot_;      // the owner's, or own_slot_
  JobSlot* const own_slot_;
  BlockAllocator allocate_ = &std::malloc;
  BlockDeallocator deallocate_ = &std::free;
  bool compare_reading_ = false;
  std::optional<std::string> compare_next_;  // the image to compare with once the script's read is over
  bool script_reading_ = false;
  QString script_chosen_;  // the script "Memory regions..." reads, told once its regions show
  std::optional<MapGrid> other_;  // the image compared with, laid out over the same rows
  std::optional<std::uint32_t> other_exec_;
  std::vector<DiffRange> diffs_;  // the first differences, in address order
  std::uint64_t more_diffs_ = 0;  // how many more there are
  std::uint64_t diff_bytes_ = 0;  // of every difference
  std::uint64_t more_diff_bytes_ = 0;  // of those past the listed ones
  ScriptFileDialog script_file_dialog_;
  std::vector<MemoryRegion> target_regions_;
  std::optional<RegionCover> cover_;
  std::vector<std::string> file_warnings_;
  std::vector<std::string> script_warnings_;  // of the script whose regions show, "FILE:LINE: what"
  JobSlot* digest_slot_;  // a child, replaced to stop the digests; deleted before the map goes
  std::optional<std::vector<std::string>> digest_lines_;  // none while they are computed
  std::vector<ListedLine> listed_;  // what the regions list shows while it is open
  RegionUsage usage_;  // of the map's data in target_regions_
};

}  // namespace varnok
