#include "map_commands.h"

#include "ui/dialogs.h"

namespace varnok {

bool HasData(const MapCommandContext& context) {
  if (!context.map.Regions().empty()) return true;
  ui::ShowMessage(context.window, QStringLiteral("No data in this map."));
  return false;
}

std::uint32_t RowOffset(std::int32_t row) { return static_cast<std::uint32_t>(row - 1) * MapGrid::kBytesPerRow; }

void ShowFoundRow(const MapCommandContext& context, std::int32_t row) {
  context.grid->SelectRowCentred(row);
  context.grid->setFocus();
}

}  // namespace varnok
