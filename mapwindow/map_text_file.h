#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <string_view>

#include "memmap/map_grid.h"

namespace varnok {

// How a save of the map's text ended: the data rows written, and the reason of a failure.
struct MapTextSave {
  enum class End { Saved, Cancelled, Failed };
  End end = End::Saved;
  std::uint64_t rows = 0;
  QString reason;
};

// Tells how many of the map's written rows are saved so far, of how many; false cancels the save.
using MapSaveProgress = std::function<bool(std::uint64_t rows_done, std::uint64_t rows_total)>;

// Writes head, then the map as text to path: the header row, then every row that holds a filled or start-vector cell,
// each in the form AppendRowText gives and ended by "\n". The text goes into a temporary file in path's folder that
// replaces path only when all of it is written, so a failure or a cancel leaves no file behind. Only a regular file is
// replaced, through a link in the link target's folder so that the link stays; anything else at path is refused and
// left as it is. Reads the map only, so that it may run beside a thread that paints it. The text is made on every
// core; progress is called on any of those threads, one call at a time.
MapTextSave WriteMapText(const MapGrid& map, const QString& path, std::string_view head = {},
                         const MapSaveProgress& progress = {});

}  // namespace varnok
