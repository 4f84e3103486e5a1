#pragma once

#include <QString>

#include <optional>

#include "memmap/map_grid.h"

namespace varnok {

// Writes the map as text to path: the header row, then every row that holds a filled or start-vector cell, each in
// the form AppendRowText gives and ended by "\n". The rows are written one at a time into a temporary file in
// path's folder that replaces path only when all of them are written, so a failure leaves no file behind. Only a
// regular file is replaced, through a link in the link target's folder so that the link stays; anything else at path
// is refused and left as it is. Returns the reason of a failure, or nothing.
std::optional<QString> WriteMapText(const MapGrid& map, const QString& path);

}  // namespace varnok
