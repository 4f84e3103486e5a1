#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/run_result.h"

namespace varnok {

// One line of a text report's summary: its caption, the result field it shows (none: the status line) and the key
// the JSON report gives it.
struct SummaryCaption {
  const char* text;
  std::optional<DisplayField> field;
  const char* json_key;
};

inline constexpr SummaryCaption kSummaryCaptions[] = {
    {"Analyser status:", std::nullopt, "status"},
    {"Module name:", DisplayField::Module, "module_name"},
    {"Version.Revision:", DisplayField::Version, "version_revision"},
    {"Description:", DisplayField::Description, "description"},
    {"Total records:", DisplayField::RecordLines, "total_records"},
    {"Total databytes:", DisplayField::TotalDatabytes, "total_databytes"},
    {"Highest address:", DisplayField::Highest, "highest_address"},
    {"Lowest address:", DisplayField::Lowest, "lowest_address"},
    {"Execution address:", DisplayField::Exec, "execution_address"},
};

// The summary a text report of a run begins with: one line per caption, its value escaped after one blank (the
// blank left out when the value is empty).
std::string SummaryText(const RunResult& result);

// The warnings of a text report, "Warning: " and the text on a line each.
std::string WarningLines(const std::vector<std::string>& warnings);

}  // namespace varnok
