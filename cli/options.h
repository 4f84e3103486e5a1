#pragma once

#include <array>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "regions/linker_script.h"
#include "regions/memory_regions.h"
#include "report.h"

namespace varnok {

// The FILE argument that reads standard input.
inline constexpr const char* kStandardInput = "-";

// Where regions come from, in the order of the options: a --memory script's path or a --region's region.
using RegionSource = std::variant<std::string, MemoryRegion>;

// What the options say about regions, as given: the scripts are read and the names looked up only by MakeRegions.
struct RegionOptions {
  std::vector<RegionSource> sources;
  ScriptSettings scripts;                   // -L and --defsym, in order
  std::vector<std::string> max_uses;        // the --max-use values
  std::vector<std::string> requires_data;   // the --require values
  std::vector<std::string> digest_regions;  // the --digest-region values
  std::vector<std::string> expectations;    // the --expect values
};

// What the arguments of varnok-scan ask for.
struct ScanOptions {
  ReportLayout layout;
  bool quiet = false;
  bool strict = false;
  bool diff = false;
  unsigned jobs = 0;  // 0: one per core
  unsigned cores = 1;
  std::vector<std::string> files;
  RegionOptions given;  // made into layout.regions, its demands and expectations by MakeRegions
};

struct OptionParse;

// One option of varnok-scan: how it is written, what --help says of it, and what it does.
struct ScanOption {
  // What follows the option's name.
  enum class Value {
    kNone,    // a flag
    kText,    // the next argument, "--name=VALUE", or after a short name "-xVALUE"
    kNumber,  // as kText, but "-x" and a letter is another option written with one dash ("-json")
  };

  std::array<std::string_view, 2> names;  // as --help lists them: "--bytes", "-v"; the second empty when alone
  std::string_view argument;              // what --help shows after the names: "NAME=START,SIZE"
  Value value = Value::kNone;
  std::string_view help;  // the help's lines, each but the first indented under the first by --help
  // Takes the option's value (empty for a flag); the usage error's message when it is refused, else empty.
  std::string (*handle)(OptionParse& parse, std::string_view value) = nullptr;
};

// Every option of varnok-scan, in the order --help lists them.
std::span<const ScanOption> ScanOptionTable();

// Writes "varnok-scan: MESSAGE" and where the usage is to err; returns the usage error's status.
int UsageError(std::ostream& err, const std::string& message);

// The options and files, or the exit status when the arguments end the command before any file (help, version, a
// usage error with its message and the usage text on err). No file is read, not even a script.
std::optional<ScanOptions> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                          int& status);

}  // namespace varnok
