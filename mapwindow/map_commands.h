#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "map_dialogs.h"
#include "map_saver.h"
#include "map_text_file.h"
#include "memmap/map_grid.h"
#include "mapwindow/map_grid_view.h"

class QLabel;
class QWidget;

namespace varnok {

// What a command of the map window works on: the window its dialogs and messages open over, the map and the
// grid that shows it.
struct MapCommandContext {
  QWidget* window;
  const MapGrid& map;
  MapGridView* grid;
};

// Says over the window that the map holds no data when it has no region; true when it has one.
bool HasData(const MapCommandContext& context);
// The map offset of a data row's first cell.
std::uint32_t RowOffset(std::int32_t row);
// Selects a row that a command found, brought to the middle of the view, and gives the grid the focus.
void ShowFoundRow(const MapCommandContext& context, std::int32_t row);

// Go to address...: asks for an address and shows its row.
void GoToAddress(const MapCommandContext& context);

// Next region, Previous region and Regions...: show the first row of a region.
void NextRegion(const MapCommandContext& context);
void PreviousRegion(const MapCommandContext& context);
// Regions... lists the lines after the regions; a map without data lists them alone.
void ListRegions(const MapCommandContext& context, const std::vector<ListedLine>& lines = {});

// Copy row: puts the selected rows' text on the clipboard, one row a line as the map's text gives it.
void CopyRow(const MapCommandContext& context);
// Copy as hex: puts the selected rows' bytes on the clipboard as plain hex, 64 digits a row, one row a line.
void CopyHex(const MapCommandContext& context);

// The toolkit's save-file dialog for map texts over parent, preset to a file name; the chosen path, or an empty text
// when the user cancels.
QString RunSaveMapDialog(QWidget* parent, const QString& preset);
// Save map as text...: starts saver writing head and the whole map to the file that dialog chooses, preset to the
// image's name + ".map.txt".
void SaveMapAsText(const MapCommandContext& context, const std::string& file_name,
                   const std::function<QString(QWidget* parent, const QString& preset)>& dialog, MapSaver& saver,
                   const std::string& head);
// Tells over the window how a save ended: "Saved N rows to NAME", or why it failed; a cancelled save says nothing.
void ReportMapSave(const MapCommandContext& context, const MapTextSave& save, const QString& path);

// Find..., Find next and Find previous: search the map for bytes and highlight the match they show.
class FindCommand {
 public:
  // Says in status that a search went on from the other end of the map.
  FindCommand(const MapCommandContext& context, QLabel* status) : context_(context), status_(status) {}

  void Find();
  void FindNext();
  void FindPrevious();
  // Whether a byte cell lies in the highlighted match.
  bool InMatch(std::int32_t column, std::int32_t row) const;
  // Moves the highlighted match by `shift` map offsets, after the map's rows moved by as much.
  void ShiftMatch(std::uint32_t shift) {
    if (match_) *match_ += shift;
  }

 private:
  // Selects the match at offset and highlights it, or says that there is none; repeat is true for a step from the
  // current match, which says so when it comes back to the same one. wrapped tells whether the search passed an
  // end of the map to get there.
  void ShowMatch(std::optional<std::uint32_t> offset, bool repeat, bool wrapped);

  MapCommandContext context_;
  QLabel* status_;
  QString text_;                        // as the user typed it
  std::vector<std::uint8_t> pattern_;   // empty until the first search
  std::optional<std::uint32_t> match_;  // the map offset of the highlighted match
};

}  // namespace varnok
