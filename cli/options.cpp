#include "options.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>

#include "analysis/analysis_run.h"
#include "text/line_text.h"
#include "cli/scan.h"
#include "regions/linker_script.h"
#include "regions/memory_regions.h"
#include "text/number_reader.h"
#include "varnok/version.h"

namespace varnok {
namespace {

constexpr const char* kUsage =
    "Usage: varnok-scan [OPTIONS] FILE...\n"
    "       varnok-scan --diff [--json] [-q] A B\n"
    "Validates the Motorola S-record files and prints their summaries; FILE - reads standard input.\n"
    "\n"
    "  --map          also print every row of the memory map that holds data\n"
    "  --ranges       also print the data ranges, one line \"Data: FIRST - LAST\" each\n"
    "  --region NAME=START,SIZE\n"
    "                 a memory region (SIZE may end in K or M); repeatable: prints each region's use\n"
    "                 and the data outside every region\n"
    "  --memory FILE  the memory regions of the MEMORY commands of a GNU ld linker script, read as\n"
    "                 ld reads them (symbol assignments, expressions, INCLUDE); repeatable\n"
    "  -L DIR         a folder where INCLUDE looks after the current folder, as ld's -L; repeatable\n"
    "  --defsym NAME=EXPRESSION\n"
    "                 assign a symbol before every script is read, as ld's --defsym; repeatable\n"
    "  --max-use [NAME=]PERCENT\n"
    "                 a region (every region without NAME) used above PERCENT fails (status 5)\n"
    "  --require NAME the region NAME must hold data, else the file fails (status 5)\n"
    "  --digest       also print the CRC-32 and SHA-256 of the image from its lowest to its highest\n"
    "                 address, gaps filled with 0xFF; with regions, also each region's digest from\n"
    "                 its start to its end\n"
    "  --fill 0xNN    fill the digest's gaps with this byte instead\n"
    "  --digest-region NAME\n"
    "                 the regions' digests only of the regions named (repeatable)\n"
    "  --crc NAME     the CRC of the digests: crc32 (the default), crc32c, crc32-mpeg2 (32-bit\n"
    "                 little-endian words, as a 32-bit CRC unit reads memory) or crc16-ccitt\n"
    "  --expect [REGION:]DIGEST\n"
    "                 the image (or the region) must have this CRC (hex) or SHA-256, else the file\n"
    "                 fails (status 1); repeatable; implies --digest\n"
    "  --strict       a file with a warning fails (status 1)\n"
    "  --diff A B     compare the images the two files load: the ranges only in A, only in B and\n"
    "                 different, or \"Same image\", then a count line; status 0 same, 1 different,\n"
    "                 2 trouble\n"
    "  --bytes, -v    with --diff: under each different range, the bytes of A and B, 16 a line\n"
    "  --limit N      with --diff: at most N lines of differences (default 1000), then how many\n"
    "                 differing bytes they left out\n"
    "  --json         print each summary as a JSON object (one line each with several files)\n"
    "  -j, --jobs N   analyse N files at a time (default: the number of cores); a large file\n"
    "                 also uses the cores the other files leave free\n"
    "  -q, --quiet    print nothing on standard output; only the exit status and one line on\n"
    "                 standard error per failing or warning file tell\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Exit status: the most severe of the files' (4, 3, 1, then 5): 0 parsed, 1 analysis error (or a\n"
    "warning with --strict), 3 out of memory, 5 data outside the regions; 2 usage error (no file\n"
    "analysed), 4 output not written.\n";

std::optional<unsigned> ParseJobs(std::string_view text) {
  NumberFormat format;
  format.max = std::numeric_limits<unsigned>::max();
  const std::optional<std::uint64_t> jobs = NumberValue(text, format);
  if (!jobs || *jobs == 0) return std::nullopt;
  return static_cast<unsigned>(*jobs);
}

int UsageError(std::ostream& err, const std::string& message) {
  // One line that names the trouble, as a CI log shows it, and where the usage is.
  err << "varnok-scan: " << message << "\nTry 'varnok-scan --help' for more information.\n";
  return kScanUsageError;
}

// Whether args[i] is the option `name`, alone (its value the next argument) or as name=VALUE; takes the value, or
// leaves it empty when the option ends the arguments.
bool ValueOption(const std::vector<std::string>& args, std::size_t& i, std::string_view name,
                 std::optional<std::string>& value) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 < args.size()) value = args[++i];
    return true;
  }
  if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

std::optional<std::uint8_t> ParseFill(std::string_view text) {
  NumberFormat format;
  format.hex_prefix = true;
  format.max = 0xFF;
  const std::optional<std::uint64_t> fill = NumberValue(text, format);
  if (!fill) return std::nullopt;
  return static_cast<std::uint8_t>(*fill);
}

// Whether arg gives the jobs: "-j" or "--jobs" with the number next, or "-jN" or "--jobs=N". "-j" and a letter is
// another option written with one dash, as "-json", not "-j son".
bool IsJobsOption(const std::string& arg) {
  if (arg == "-j" || arg == "--jobs" || arg.starts_with("--jobs=")) return true;
  if (!arg.starts_with("-j")) return false;
  const char next = arg[2];
  return !((next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z'));
}

// Where regions come from, in the order of the options: a --memory script's path or a --region's region.
using RegionSource = std::variant<std::string, MemoryRegion>;

// Reads the scripts (their warnings go to err) and adds every region, refusing a name given twice; false with
// the message on err.
bool CollectRegions(const std::vector<RegionSource>& sources, const ScriptSettings& settings,
                    std::vector<MemoryRegion>& regions, std::ostream& err) {
  const DiskScriptFiles files;
  std::unordered_map<std::string, std::size_t> by_name;
  for (const RegionSource& source : sources) {
    std::vector<MemoryRegion> found;
    if (const std::string* path = std::get_if<std::string>(&source)) {
      ScriptRead read = ReadLinkerScript(*path, settings, files);
      if (read.error) {
        err << "varnok-scan: " << ScriptErrorText(*read.error) << '\n';
        return false;
      }
      for (const ScriptWarning& warning : read.warnings) {
        err << "varnok-scan: " << PlaceText(warning.place.file, warning.place.line) << ": warning: " << warning.message
            << '\n';
      }
      found = std::move(read.regions);
    } else {
      found.push_back(std::get<MemoryRegion>(source));
    }
    for (MemoryRegion& region : found) {
      if (const auto earlier = by_name.find(region.name); earlier != by_name.end()) {
        const MemoryRegion& first = regions[earlier->second];
        err << "varnok-scan: " << PlaceText(region.source, region.line) << ": region '" << EscapeValue(region.name)
            << "' defined twice, first at " << PlaceText(first.source, first.line) << '\n';
        return false;
      }
      by_name.emplace(region.name, regions.size());
      regions.push_back(std::move(region));
    }
  }
  return true;
}

// The index of the region named; none with a usage error on err.
std::optional<std::size_t> RegionIndex(const ReportLayout& layout, std::string_view name, std::ostream& err,
                                       int& status) {
  for (std::size_t i = 0; i < layout.regions.size(); ++i) {
    if (layout.regions[i].name == name) return i;
  }
  status = UsageError(err, "no region named '" + EscapeValue(std::string(name)) + "'");
  return std::nullopt;
}

// A share from 0 to 100 with at most two decimals, in hundredths.
std::optional<std::uint32_t> ParsePercent(std::string_view text) {
  const std::size_t dot = text.find('.');
  NumberFormat whole_format;
  whole_format.max = 100;
  const std::optional<std::uint64_t> whole = NumberValue(text.substr(0, dot), whole_format);
  if (!whole) return std::nullopt;
  std::uint64_t hundredths = *whole * 100;
  if (dot != std::string_view::npos) {
    const std::string_view decimals = text.substr(dot + 1);
    NumberFormat decimal_format;
    decimal_format.max_digits = 2;
    const std::optional<std::uint64_t> part = NumberValue(decimals, decimal_format);
    if (!part) return std::nullopt;
    hundredths += decimals.size() == 1 ? *part * 10 : *part;
  }
  if (hundredths > 10000) return std::nullopt;
  return static_cast<std::uint32_t>(hundredths);
}

// Turns --max-use and --require into each region's demands; false with a usage error on err.
bool DemandRegions(const std::vector<std::string>& max_uses, const std::vector<std::string>& requires_data,
                   ReportLayout& layout, std::ostream& err, int& status) {
  if (max_uses.empty() && requires_data.empty()) return true;
  if (layout.regions.empty()) {
    status = UsageError(err, "--max-use and --require need regions (--region or --memory)");
    return false;
  }
  layout.demands.assign(layout.regions.size(), RegionDemand{});
  const auto region_named = [&](std::string_view name) -> RegionDemand* {
    const std::optional<std::size_t> index = RegionIndex(layout, name, err, status);
    return index ? &layout.demands[*index] : nullptr;
  };
  // A limit for every region first, so that a region's own limit wins whatever the order.
  for (const bool named : {false, true}) {
    for (const std::string& given : max_uses) {
      const std::size_t equals = given.find('=');
      if ((equals != std::string::npos) != named) continue;
      const std::string text = named ? given.substr(equals + 1) : given;
      const std::optional<std::uint32_t> percent = ParsePercent(text);
      if (!percent) {
        status = UsageError(err, "the limit is a share from 0 to 100, not '" + EscapeValue(text) + "'");
        return false;
      }
      std::vector<RegionDemand*> targets;
      if (named) {
        RegionDemand* demand = region_named(given.substr(0, equals));
        if (demand == nullptr) return false;
        targets.push_back(demand);
      } else {
        for (RegionDemand& demand : layout.demands) targets.push_back(&demand);
      }
      for (RegionDemand* demand : targets) {
        demand->max_use = percent;
        demand->max_use_text = text;
      }
    }
  }
  for (const std::string& name : requires_data) {
    RegionDemand* demand = region_named(name);
    if (demand == nullptr) return false;
    demand->required = true;
  }
  return true;
}

// "[REGION:]DIGEST": a SHA-256 in 64 hex digits, else a CRC in hex (0x optional) as wide as the CRC at most.
std::optional<DigestExpectation> ParseExpectation(std::string_view text, const ReportLayout& layout,
                                                  std::ostream& err, int& status) {
  DigestExpectation expectation;
  const std::size_t colon = text.rfind(':');
  if (colon != std::string_view::npos) {
    expectation.region = RegionIndex(layout, text.substr(0, colon), err, status);
    if (!expectation.region) return std::nullopt;
    text.remove_prefix(colon + 1);
  }
  NumberFormat hex;
  hex.base = 16;
  hex.max_digits = 2;
  if (text.size() == 64) {
    for (std::size_t i = 0; i < 32; ++i) {
      const std::optional<std::uint64_t> byte = NumberValue(text.substr(2 * i, 2), hex);
      if (!byte) break;
      expectation.sha256[i] = static_cast<std::uint8_t>(*byte);
      if (i == 31) return expectation;
    }
  }
  hex.hex_prefix = true;
  hex.max_digits = layout.crc == CrcKind::kCrc16Ccitt ? 4 : 8;
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  if (const std::optional<std::uint64_t> crc = NumberValue(text, hex)) {
    expectation.crc = static_cast<std::uint32_t>(*crc);
    return expectation;
  }
  status = UsageError(err, "an expected digest is a SHA-256 (64 hex digits) or a " +
                               std::string(CrcKindName(layout.crc)) + " in hex, not '" + EscapeValue(std::string(text)) + "'");
  return std::nullopt;
}

// Turns --digest-region and --expect into the layout's region digests and expectations; false with a usage error.
bool ExpectDigests(const std::vector<std::string>& digest_regions, const std::vector<std::string>& expectations,
                   ReportLayout& layout, std::ostream& err, int& status) {
  if (!digest_regions.empty()) {
    layout.digest_regions.assign(layout.regions.size(), false);
    for (const std::string& name : digest_regions) {
      const std::optional<std::size_t> index = RegionIndex(layout, name, err, status);
      if (!index) return false;
      layout.digest_regions[*index] = true;
    }
  }
  for (const std::string& text : expectations) {
    std::optional<DigestExpectation> expectation = ParseExpectation(text, layout, err, status);
    if (!expectation) return false;
    // A region's expected digest needs the region's digest.
    if (expectation->region && !layout.digest_regions.empty()) layout.digest_regions[*expectation->region] = true;
    layout.expectations.push_back(*expectation);
  }
  return true;
}

}  // namespace

std::optional<ScanOptions> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                          int& status) {
  ScanOptions options;
  std::vector<RegionSource> region_sources;
  ScriptSettings script_settings;
  bool options_end = false;
  bool diff_only = false;  // an option that only --diff takes was given
  std::vector<std::string> max_uses;       // the --max-use values, checked once the regions are known
  std::vector<std::string> requires_data;  // the --require values
  std::vector<std::string> digest_regions;  // the --digest-region values
  std::vector<std::string> expectations;    // the --expect values
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg == kStandardInput || arg.empty() || arg[0] != '-') {
      options.files.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help") {
      out << kUsage;
      status = kScanSuccess;
      return std::nullopt;
    } else if (arg == "--version") {
      out << "varnok-scan " << kVersion << "\n";
      status = kScanSuccess;
      return std::nullopt;
    } else if (arg == "--map") {
      options.layout.map = true;
    } else if (arg == "--json") {
      options.layout.json = true;
    } else if (arg == "--ranges") {
      options.layout.ranges = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--digest") {
      options.layout.digest = true;
    } else if (arg == "--diff") {
      options.diff = true;
    } else if (arg == "--bytes" || arg == "-v") {
      options.layout.diff_bytes = true;
      diff_only = true;
    } else if (arg.starts_with("-L")) {
      if (arg.size() == 2 && i + 1 == args.size()) {
        status = UsageError(err, "option '-L' needs a value");
        return std::nullopt;
      }
      script_settings.search_dirs.push_back(arg.size() == 2 ? args[++i] : arg.substr(2));
    } else if (std::optional<std::string> given; ValueOption(args, i, "--region", given) ||
                                                 ValueOption(args, i, "--memory", given) ||
                                                 ValueOption(args, i, "--defsym", given) ||
                                                 ValueOption(args, i, "--fill", given) ||
                                                 ValueOption(args, i, "--limit", given) ||
                                                 ValueOption(args, i, "--max-use", given) ||
                                                 ValueOption(args, i, "--require", given) ||
                                                 ValueOption(args, i, "--crc", given) ||
                                                 ValueOption(args, i, "--digest-region", given) ||
                                                 ValueOption(args, i, "--expect", given)) {
      const std::string name = arg.substr(0, arg.find('='));
      if (!given) {
        status = UsageError(err, "option '" + name + "' needs a value");
        return std::nullopt;
      }
      if (name == "--memory") {
        region_sources.emplace_back(*given);
      } else if (name == "--defsym") {
        if (given->find('=') == 0 || given->find('=') == std::string::npos) {
          status = UsageError(err, "a --defsym is NAME=EXPRESSION, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        script_settings.defsyms.push_back(*given);
      } else if (name == "--region") {
        std::optional<MemoryRegion> region = ParseRegionOption(*given);
        if (!region) {
          status = UsageError(err, "a region is NAME=START,SIZE below 0x100000000, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        region->source = "--region " + *given;
        region_sources.emplace_back(std::move(*region));
      } else if (name == "--crc") {
        const std::optional<CrcKind> crc = CrcKindNamed(*given);
        if (!crc) {
          status = UsageError(err, "the CRC is crc32, crc32c, crc32-mpeg2 or crc16-ccitt, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        options.layout.crc = *crc;
      } else if (name == "--digest-region" || name == "--expect") {
        (name == "--expect" ? expectations : digest_regions).push_back(*given);
        options.layout.digest = true;
      } else if (name == "--max-use" || name == "--require") {
        (name == "--max-use" ? max_uses : requires_data).push_back(*given);
      } else if (name == "--limit") {
        NumberFormat format;
        const std::optional<std::uint64_t> limit = NumberValue(*given, format);
        if (!limit) {
          status = UsageError(err, "the limit is a whole number of lines, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        options.layout.diff_limit = *limit;
        diff_only = true;
      } else {
        const std::optional<std::uint8_t> fill = ParseFill(*given);
        if (!fill) {
          status = UsageError(err, "the fill is a byte from 0 to 0xFF, not '" + EscapeValue(*given) + "'");
          return std::nullopt;
        }
        options.layout.fill = *fill;
      }
    } else if (IsJobsOption(arg)) {
      std::string_view value;
      if (arg == "-j" || arg == "--jobs") {
        if (i + 1 == args.size()) {
          status = UsageError(err, "option '" + EscapeValue(arg) + "' needs a number");
          return std::nullopt;
        }
        value = args[++i];
      } else {
        value = std::string_view(arg).substr(arg[1] == 'j' ? 2 : std::strlen("--jobs="));
      }
      const std::optional<unsigned> jobs = ParseJobs(value);
      if (!jobs) {
        status = UsageError(
            err, "the number of jobs must be a whole number from 1 on, not '" + EscapeValue(std::string(value)) + "'");
        return std::nullopt;
      }
      options.jobs = *jobs;
    } else {
      status = UsageError(err, "unknown option '" + EscapeValue(arg) + "'");
      return std::nullopt;
    }
  }
  if (options.files.empty()) {
    status = UsageError(err, "no FILE given");
    return std::nullopt;
  }
  if (std::count(options.files.begin(), options.files.end(), kStandardInput) > 1) {
    status = UsageError(err, "standard input (-) can be read only once");
    return std::nullopt;
  }
  if (diff_only && !options.diff) {
    status = UsageError(err, "--bytes, -v and --limit go with --diff");
    return std::nullopt;
  }
  if (options.diff && options.files.size() != 2) {
    status = UsageError(err, "--diff compares two files");
    return std::nullopt;
  }
  if (options.diff && (options.layout.map || options.layout.ranges || options.layout.digest ||
                       !region_sources.empty())) {
    status = UsageError(err, "--diff takes no --map, --ranges, --digest, --region or --memory");
    return std::nullopt;
  }
  // Read after every option, so that -L and --defsym apply to each script wherever they stand.
  if (!CollectRegions(region_sources, script_settings, options.layout.regions, err)) {
    status = kScanUsageError;
    return std::nullopt;
  }
  if (!DemandRegions(max_uses, requires_data, options.layout, err, status) ||
      !ExpectDigests(digest_regions, expectations, options.layout, err, status)) {
    return std::nullopt;
  }
  options.layout.several = options.files.size() > 1;
  options.cores = UsableCores();
  options.layout.cores = options.cores;
  if (options.jobs == 0) options.jobs = options.cores;
  return options;
}

}  // namespace varnok
