#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "analysis/analysis_run.h"
#include "analysis/recorded_display.h"
#include "memmap/map_grid.h"

namespace varnok {

// What varnok-scan found in one input, kept until its report is written.
struct FileReport {
  std::string name;  // the FILE argument; "-" for standard input
  RecordedDisplay display;
  AnalysisState state;  // its Ranges with the ranges option, after a successful run
  RunResult result;
  std::optional<std::int64_t> error_line;  // the line a failure names; none for a missing file, for instance
  std::optional<MapGrid> grid;             // with the map option, after a successful run
};

// What the report of one input holds and how it is laid out.
struct ReportLayout {
  bool map = false;
  bool ranges = false;
  bool json = false;
  bool several = false;  // one of several inputs: a "File:" line and an empty line around it, or one JSON line
};

// Writes the report of one input.
void WriteReport(std::ostream& out, const FileReport& report, const ReportLayout& layout);

}  // namespace varnok
