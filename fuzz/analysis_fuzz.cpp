// Feeds arbitrary bytes through the whole analysis run, with the map option taken from the first
// byte, and lays every successful run's blocks out in a memory map.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "analysis/analysis_run.h"
#include "analysis/recorded_display.h"
#include "memmap/map_grid.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  varnok::RecordedDisplay display;
  const bool map_option = (data[0] & 1) != 0;
  varnok::AnalysisState state;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const varnok::RunResult result =
      varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(text), map_option, state, display);
  if (result.Parsed() && map_option) {
    varnok::MapGrid grid;
    grid.Build(result.totals.lowest, result.totals.highest);
    varnok::FillFromBlocks(grid, state.DataBlocks, result.totals.exec);
    for (std::int32_t row = grid.NextWrittenRow(0); row > 0; row = grid.NextWrittenRow(row)) {
      for (std::int32_t column = 0; column < grid.ColumnCount(); ++column) {
        (void)varnok::DecodeCell(column, grid.Cell(column, row));
        (void)grid.AddressReadout(column, row);
      }
    }
  }
  return 0;
}
