#pragma once

#include <QKeySequence>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "memmap/map_grid.h"
#include "memmap/map_grid_view.h"

class QAction;
class QFrame;
class QLabel;
class QPainter;
class QResizeEvent;
class QShortcut;

namespace varnok {

class FindCommand;
class MapRowPainter;
class MapSaver;
struct MapTextSave;

namespace ui {
class FramePlacement;
}

// The memory map window: a MapGrid shown in a colour-coded grid of 32 bytes per row, with a legend and a
// read-out of the address under the mouse. It is a top-level window destroyed with its owner; closing it
// only hides it. Its width is fixed once it has been shown; the user can change its height only. The grid's context
// menu holds the window's commands, each with its shortcut.
class Tfrm_Data : public QWidget {
  Q_OBJECT

 public:
  // Runs the save-file dialog over parent with the preset file name; returns the chosen full path, or an empty
  // text when the user cancels.
  using SaveFileDialog = std::function<QString(QWidget* parent, const QString& preset)>;

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
  // warning sign; none hides both.
  void SetWarnings(const std::vector<std::string>& warnings);
  // Whether "Save map as text..." is writing; its progress shows in the title and Escape stops it. The window's
  // destruction stops a save and waits for it, and leaves the file as it was.
  bool Saving() const;
  // Keeps the end of the save that goes on from being told over the window when it succeeds; a failure is still
  // told. The owner asks for this when it closes once the save is over.
  void QuietSaveEnd() { quiet_save_end_ = true; }

  const MapGrid& Map() const { return map_; }

 signals:
  // A save began or ended.
  void savingChanged(bool saving);

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
};

}  // namespace varnok
