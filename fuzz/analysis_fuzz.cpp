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
  display.map_option = (data[0] & 1) != 0;
  varnok::AnalysisState state;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  varnok::RunAnalysisOn(varnok::TextModeInput::FromMemory(text), state, display);
  if (display.map_built) {
    varnok::MapGrid grid;
    grid.Build(display.map.lowest, display.map.highest);
    for (const varnok::DataBlock block : *display.map.blocks) grid.FillBlock(block.Address, block.Length, block.Data);
    if (display.map.has_exec_addr) grid.MarkStartVector(display.map.exec_addr);
    for (std::int32_t row = grid.NextWrittenRow(0); row > 0; row = grid.NextWrittenRow(row)) {
      for (std::int32_t column = 0; column < grid.ColumnCount(); ++column) {
        (void)varnok::DecodeCell(column, grid.Cell(column, row));
        (void)grid.AddressReadout(column, row);
      }
    }
  }
  return 0;
}
