#include "cli/scan.h"

#include <cstdio>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "analysis/analysis_run.h"
#include "analysis/recorded_display.h"
#include "memmap/map_grid.h"
#include "varnok/version.h"

namespace varnok {
namespace {

constexpr const char* kSuccessStatus = "Parsing successfully finished...";

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

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

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

// The leading number of a field text ("1025 bytes (1 kb)" gives 1025, "0x0000000F" gives 15).
nlohmann::json FieldNumber(const std::string& text, bool hex) {
  if (text.empty()) return nullptr;
  return std::stoull(text, nullptr, hex ? 16 : 10);
}

// The memory map as the window would build it from the kept blocks and the start vector.
void BuildGrid(const MapRequest& request, MapGrid& grid) {
  grid.Build(request.lowest, request.highest);
  for (const DataBlock block : *request.blocks) grid.FillBlock(block.Address, block.Length, block.Data);
  if (request.has_exec_addr) grid.MarkStartVector(request.exec_addr);
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
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out += ch;
    }
  }
  return out;
}

int RunScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, BlockAllocator allocate,
            BlockDeallocator deallocate) {
  int status = kScanSuccess;
  const std::optional<Options> options = ParseArguments(args, out, err, status);
  if (!options) return status;

  RecordedDisplay display;
  display.input_path = options->file;
  display.file_name = BaseName(options->file);
  display.map_option = options->map;
  AnalysisState state;
  state.DataBlocks.SetAllocator(allocate, deallocate);
  RunAnalysis(state, display);

  const bool success = display.status == kSuccessStatus;
  std::optional<MapGrid> grid;
  if (success && display.map_built && display.out_of_memory_count == 0) {
    grid.emplace();
    BuildGrid(display.map, *grid);
    ClearDataBlocks(state);  // the grid holds its own copy of every byte
  }

  if (options->json) {
    nlohmann::ordered_json report;
    report["status"] = Latin1ToUtf8(display.status);
    report["success"] = success;
    for (const Caption& caption : kCaptions) {
      if (caption.field) report[caption.json_key] = Latin1ToUtf8(display.Field(*caption.field));
    }
    nlohmann::ordered_json numbers;
    numbers["total_records"] = FieldNumber(display.Field(DisplayField::RecordLines), false);
    numbers["total_databytes"] = FieldNumber(display.Field(DisplayField::TotalDatabytes), false);
    numbers["highest_address"] = FieldNumber(display.Field(DisplayField::Highest), true);
    numbers["lowest_address"] = FieldNumber(display.Field(DisplayField::Lowest), true);
    numbers["execution_address"] = FieldNumber(display.Field(DisplayField::Exec), true);
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
      const std::string& value = caption.field ? display.Field(*caption.field) : display.status;
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

  if (display.out_of_memory_count > 0) {
    err << "Out of memory!!\n";
    return kScanOutOfMemory;
  }
  return success ? kScanSuccess : kScanAnalysisError;
}

}  // namespace varnok
