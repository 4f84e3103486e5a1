#include "cli/scan.h"

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "analysis/analysis_run.h"
#include "analysis/hex_text.h"
#include "analysis/recorded_display.h"
#include "memmap/map_grid.h"
#include "varnok/version.h"

namespace varnok {
namespace {

constexpr const char* kUsage =
    "Usage: varnok-scan [--map] [--json] FILE\n"
    "Validates the Motorola S-record file FILE and prints its summary.\n"
    "\n"
    "  --map      also print every row of the memory map that holds data\n"
    "  --json     print the summary as one JSON object\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Exit status: 0 parsed, 1 analysis error, 2 usage error, 3 out of memory.\n";

struct Options {
  bool map = false;
  bool json = false;
  std::string file;
};

struct Caption {
  const char* text;
  std::optional<DisplayField> field;  // none: the status line
  const char* json_key;
};

constexpr Caption kCaptions[] = {
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

// JSON strings are UTF-8: every byte stands for the Latin-1 character of that code.
std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

// Calls emit with the header row, then with every row that holds data or the start vector. Rows
// are formatted one at a time into one buffer: a full map is far larger than the memory it needs.
template <typename Emit>
void ForEachMapRow(const MapGrid& grid, Emit emit) {
  std::string line;
  grid.AppendRowText(0, line);
  emit(line);
  for (std::int32_t row = grid.NextWrittenRow(0); row > 0; row = grid.NextWrittenRow(row)) {
    line.clear();
    grid.AppendRowText(row, line);
    emit(line);
  }
}

std::optional<Options> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                      int& status) {
  Options options;
  bool have_file = false;
  bool options_end = false;
  for (const std::string& arg : args) {
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg == "--help") {
      out << kUsage;
      status = kScanSuccess;
      return std::nullopt;
    } else if (!options_end && arg == "--version") {
      out << "varnok-scan " << kVersion << "\n";
      status = kScanSuccess;
      return std::nullopt;
    } else if (!options_end && arg == "--map") {
      options.map = true;
    } else if (!options_end && arg == "--json") {
      options.json = true;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      err << "varnok-scan: unknown option '" << arg << "'\n" << kUsage;
      status = kScanUsageError;
      return std::nullopt;
    } else if (have_file) {
      err << "varnok-scan: only one FILE can be analysed\n" << kUsage;
      status = kScanUsageError;
      return std::nullopt;
    } else {
      options.file = arg;
      have_file = true;
    }
  }
  if (!have_file) {
    err << "varnok-scan: no FILE given\n" << kUsage;
    status = kScanUsageError;
    return std::nullopt;
  }
  return options;
}

}  // namespace

std::string EscapeValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E || ch == '\\') {
      out += "\\x";
      AppendHex(out, byte, 2);
    } else {
      out += ch;
    }
  }
  return out;
}

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, BlockAllocator allocate,
            BlockDeallocator deallocate) {
  int usage_status = kScanSuccess;
  const std::optional<Options> options = ParseArguments(args, out, err, usage_status);
  if (!options) return usage_status;

  RecordedDisplay display;
  AnalysisState state;
  state.DataBlocks.SetAllocator(allocate, deallocate);
  RunRequest request;
  request.path = options->file;
  request.map_option = options->map;
  const RunResult result = RunAnalysis(request, state, display);
  const RunTotals& totals = result.totals;

  std::optional<MapGrid> grid;
  if (result.Parsed() && options->map) {
    grid.emplace();
    grid->Build(totals.lowest, totals.highest);
    FillFromBlocks(*grid, state.DataBlocks, totals.exec);  // frees the blocks as the grid takes their bytes
  }

  const std::string status_text = StatusText(result);

  if (options->json) {
    nlohmann::ordered_json report;
    report["status"] = Latin1ToUtf8(status_text);
    report["success"] = result.Parsed();
    for (const Caption& caption : kCaptions) {
      if (caption.field) report[caption.json_key] = Latin1ToUtf8(display.Field(*caption.field));
    }
    nlohmann::ordered_json numbers;
    numbers["total_records"] = nullptr;
    numbers["total_databytes"] = nullptr;
    numbers["highest_address"] = nullptr;
    numbers["lowest_address"] = nullptr;
    numbers["execution_address"] = nullptr;
    if (result.Parsed()) {
      numbers["total_records"] = totals.records;
      numbers["total_databytes"] = totals.data_bytes;
      numbers["highest_address"] = totals.highest;
      if (totals.HasLowest()) numbers["lowest_address"] = totals.lowest;
      if (totals.exec) numbers["execution_address"] = *totals.exec;
    }
    report["numbers"] = numbers;
    std::string text = report.dump(2);
    if (!grid) {
      out << text << "\n";
    } else {
      // The rows are streamed into the object's last member rather than held as one JSON value.
      text.resize(text.size() - 2);  // the line break and the closing brace
      out << text << ",\n  \"map\": {\n";
      std::size_t index = 0;
      ForEachMapRow(*grid, [&](const std::string& row) {
        const std::string quoted = nlohmann::json(row).dump();
        if (index == 0) {
          out << "    \"header\": " << quoted << ",\n    \"rows\": [";
        } else {
          out << (index > 1 ? "," : "") << "\n      " << quoted;
        }
        ++index;
      });
      out << "\n    ]\n  }\n}\n";
    }
  } else {
    for (const Caption& caption : kCaptions) {
      const std::string& value = caption.field ? display.Field(*caption.field) : status_text;
      out << caption.text;
      if (!value.empty()) out << ' ' << EscapeValue(value);
      out << '\n';
    }
    if (grid) {
      out << '\n';
      ForEachMapRow(*grid, [&out](const std::string& row) { out << row << '\n'; });
    }
  }
  out.flush();

  if (result.kind == RunKind::OutOfMemory) {
    err << "Out of memory!!\n";
    return kScanOutOfMemory;
  }
  return result.Parsed() ? kScanSuccess : kScanAnalysisError;
}

}  // namespace varnok
