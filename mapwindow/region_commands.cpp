#include <algorithm>

#include "map_commands.h"
#include "map_dialogs.h"

namespace varnok {

void NextRegion(const MapCommandContext& context) {
  if (!HasData(context)) return;
  if (const std::optional<std::int32_t> row = context.map.NextRegionRow(context.grid->Row())) {
    ShowFoundRow(context, *row);
  }
}

void PreviousRegion(const MapCommandContext& context) {
  if (!HasData(context)) return;
  if (const std::optional<std::int32_t> row = context.map.PreviousRegionRow(context.grid->Row())) {
    ShowFoundRow(context, *row);
  }
}

void ListRegions(const MapCommandContext& context, const std::vector<ListedLine>& lines) {
  if (lines.empty() && !HasData(context)) return;
  const std::vector<AddressRange>& regions = context.map.Regions();
  const std::uint32_t base = context.map.BaseAddress();
  // The list opens at the last region that starts at or before the selected row's last address.
  const std::uint32_t row_end = RowOffset(context.grid->Row()) + (MapGrid::kBytesPerRow - 1);
  const auto after = std::upper_bound(
      regions.begin(), regions.end(), row_end,
      [base](std::uint32_t end, const AddressRange& region) { return end < region.first - base; });
  const auto current = static_cast<std::size_t>(after == regions.begin() ? 0 : after - regions.begin() - 1);
  RegionsDialog dialog(context.window, regions, lines, current);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::size_t chosen = dialog.Chosen();
  if (chosen < regions.size()) {
    ShowFoundRow(context, context.map.AddressToCell(regions[chosen].first).row);
  } else if (const std::optional<std::int32_t> row = lines[chosen - regions.size()].row) {
    ShowFoundRow(context, *row);
  }
}

}  // namespace varnok
