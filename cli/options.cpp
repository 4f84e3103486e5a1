#include "options.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "analysis/analysis_run.h"
#include "cli/scan.h"
#include "image/crc.h"
#include "text/line_text.h"
#include "text/number_reader.h"
#include "varnok/version.h"

namespace varnok {

// The options as the arguments have given them so far.
struct OptionParse {
  ScanOptions options;
  std::ostream& out;
  bool diff_only = false;  // an option that only --diff takes was given
  bool finished = false;   // the command ends here, successfully (help, version)
};

namespace {

constexpr const char* kUsageHead =
    "Usage: varnok-scan [OPTIONS] FILE...\n"
    "       varnok-scan --diff [--json] [-q] A B\n"
    "Validates the Motorola S-record files and prints their summaries; FILE - reads standard input.\n"
    "\n";

constexpr const char* kUsageTail =
    "\n"
    "Exit status: the most severe of the files' (4, 3, 1, then 5): 0 parsed, 1 analysis error (or a\n"
    "warning with --strict), 3 out of memory, 5 data outside the regions; 2 usage error (no file\n"
    "analysed), 4 output not written.\n";

// The help's text stands at this column, after two blanks, the names and the argument and at least one blank; a
// longer label takes a line of its own.
constexpr std::size_t kHelpColumn = 17;

std::string Quoted(std::string_view value) { return "'" + EscapeValue(std::string(value)) + "'"; }

void WriteUsage(std::ostream& out) {
  std::string text = kUsageHead;
  for (const ScanOption& option : ScanOptionTable()) {
    std::string label(option.names[0]);
    if (!option.names[1].empty()) label.append(", ").append(option.names[1]);
    if (!option.argument.empty()) label.append(" ").append(option.argument);
    text.append("  ").append(label);
    if (2 + label.size() + 1 <= kHelpColumn) {
      text.append(kHelpColumn - 2 - label.size(), ' ');
    } else {
      text.append("\n").append(kHelpColumn, ' ');
    }
    for (const char c : option.help) {
      text += c;
      if (c == '\n') text.append(kHelpColumn, ' ');
    }
    text += '\n';
  }
  out << text << kUsageTail;
}

std::string Help(OptionParse& parse, std::string_view) {
  WriteUsage(parse.out);
  parse.finished = true;
  return {};
}

std::string Version(OptionParse& parse, std::string_view) {
  parse.out << "varnok-scan " << kVersion << "\n";
  parse.finished = true;
  return {};
}

std::string Region(OptionParse& parse, std::string_view value) {
  std::optional<MemoryRegion> region = ParseRegionOption(value);
  if (!region) return "a region is NAME=START,SIZE below 0x100000000, not " + Quoted(value);
  region->source = "--region " + std::string(value);
  parse.options.given.sources.emplace_back(std::move(*region));
  return {};
}

std::string Defsym(OptionParse& parse, std::string_view value) {
  const std::size_t equals = value.find('=');
  if (equals == 0 || equals == std::string_view::npos) return "a --defsym is NAME=EXPRESSION, not " + Quoted(value);
  parse.options.given.scripts.defsyms.emplace_back(value);
  return {};
}

std::string Fill(OptionParse& parse, std::string_view value) {
  NumberFormat format;
  format.hex_prefix = true;
  format.max = 0xFF;
  const std::optional<std::uint64_t> fill = NumberValue(value, format);
  if (!fill) return "the fill is a byte from 0 to 0xFF, not " + Quoted(value);
  parse.options.layout.fill = static_cast<std::uint8_t>(*fill);
  return {};
}

std::string Crc(OptionParse& parse, std::string_view value) {
  const std::optional<CrcKind> crc = CrcKindNamed(value);
  if (!crc) return "the CRC is crc32, crc32c, crc32-mpeg2 or crc16-ccitt, not " + Quoted(value);
  parse.options.layout.crc = *crc;
  return {};
}

std::string Limit(OptionParse& parse, std::string_view value) {
  const std::optional<std::uint64_t> limit = NumberValue(value, NumberFormat{});
  if (!limit) return "the limit is a whole number of lines, not " + Quoted(value);
  parse.options.layout.diff_limit = *limit;
  parse.diff_only = true;
  return {};
}

std::string Jobs(OptionParse& parse, std::string_view value) {
  NumberFormat format;
  format.max = std::numeric_limits<unsigned>::max();
  const std::optional<std::uint64_t> jobs = NumberValue(value, format);
  if (!jobs || *jobs == 0) return "the number of jobs must be a whole number from 1 on, not " + Quoted(value);
  parse.options.jobs = static_cast<unsigned>(*jobs);
  return {};
}

// A flag of the options.
template <bool ScanOptions::*kFlag>
std::string SetOption(OptionParse& parse, std::string_view) {
  parse.options.*kFlag = true;
  return {};
}

// A flag of the report's layout.
template <bool ReportLayout::*kFlag>
std::string SetLayout(OptionParse& parse, std::string_view) {
  parse.options.layout.*kFlag = true;
  return {};
}

// A value of a list that is checked once the regions are known; a list of digests asks for the digest.
template <std::vector<std::string> RegionOptions::*kList, bool kDigest = false>
std::string AddToList(OptionParse& parse, std::string_view value) {
  (parse.options.given.*kList).emplace_back(value);
  if (kDigest) parse.options.layout.digest = true;
  return {};
}

constexpr ScanOption kOptions[] = {
    {{"--map"}, "", ScanOption::Value::kNone, "also print every row of the memory map that holds data",
     SetLayout<&ReportLayout::map>},
    {{"--ranges"}, "", ScanOption::Value::kNone,
     "also print the data ranges, one line \"Data: FIRST - LAST\" each",
     SetLayout<&ReportLayout::ranges>},
    {{"--region"}, "NAME=START,SIZE", ScanOption::Value::kText,
     "a memory region (SIZE may end in K or M); repeatable: prints each region's use\n"
     "and the data outside every region",
     Region},
    {{"--memory"}, "FILE", ScanOption::Value::kText,
     "the memory regions of the MEMORY commands of a GNU ld linker script, read as\n"
     "ld reads them (symbol assignments, expressions, INCLUDE); repeatable",
     [](OptionParse& parse, std::string_view value) {
       parse.options.given.sources.emplace_back(std::string(value));
       return std::string();
     }},
    {{"-L"}, "DIR", ScanOption::Value::kText,
     "a folder where INCLUDE looks after the current folder, as ld's -L; repeatable",
     [](OptionParse& parse, std::string_view value) {
       parse.options.given.scripts.search_dirs.emplace_back(value);
       return std::string();
     }},
    {{"--defsym"}, "NAME=EXPRESSION", ScanOption::Value::kText,
     "assign a symbol before every script is read, as ld's --defsym; repeatable", Defsym},
    {{"--max-use"}, "[NAME=]PERCENT", ScanOption::Value::kText,
     "a region (every region without NAME) used above PERCENT fails (status 5)",
     AddToList<&RegionOptions::max_uses>},
    {{"--require"}, "NAME", ScanOption::Value::kText,
     "the region NAME must hold data, else the file fails (status 5)",
     AddToList<&RegionOptions::requires_data>},
    {{"--digest"}, "", ScanOption::Value::kNone,
     "also print the CRC-32 and SHA-256 of the image from its lowest to its highest\n"
     "address, gaps filled with 0xFF; with regions, also each region's digest from\n"
     "its start to its end",
     SetLayout<&ReportLayout::digest>},
    {{"--fill"}, "0xNN", ScanOption::Value::kText, "fill the digest's gaps with this byte instead", Fill},
    {{"--digest-region"}, "NAME", ScanOption::Value::kText,
     "the regions' digests only of the regions named (repeatable)",
     AddToList<&RegionOptions::digest_regions, true>},
    {{"--crc"}, "NAME", ScanOption::Value::kText,
     "the CRC of the digests: crc32 (the default), crc32c, crc32-mpeg2 (32-bit\n"
     "little-endian words, as a 32-bit CRC unit reads memory) or crc16-ccitt",
     Crc},
    {{"--expect"}, "[REGION:]DIGEST", ScanOption::Value::kText,
     "the image (or the region) must have this CRC (hex) or SHA-256, else the file\n"
     "fails (status 1); repeatable; implies --digest",
     AddToList<&RegionOptions::expectations, true>},
    {{"--strict"}, "", ScanOption::Value::kNone, "a file with a warning fails (status 1)",
     SetOption<&ScanOptions::strict>},
    {{"--diff"}, "A B", ScanOption::Value::kNone,
     "compare the images the two files load: the ranges only in A, only in B and\n"
     "different, or \"Same image\", then a count line; status 0 same, 1 different,\n"
     "2 trouble",
     SetOption<&ScanOptions::diff>},
    {{"--bytes", "-v"}, "", ScanOption::Value::kNone,
     "with --diff: under each different range, the bytes of A and B, 16 a line",
     [](OptionParse& parse, std::string_view) {
       parse.options.layout.diff_bytes = true;
       parse.diff_only = true;
       return std::string();
     }},
    {{"--limit"}, "N", ScanOption::Value::kText,
     "with --diff: at most N lines of differences (default 1000), then how many\n"
     "differing bytes they left out",
     Limit},
    {{"--json"}, "", ScanOption::Value::kNone, "print each summary as a JSON object (one line each with several files)",
     SetLayout<&ReportLayout::json>},
    {{"-j", "--jobs"}, "N", ScanOption::Value::kNumber,
     "analyse N files at a time (default: the number of cores); a large file\n"
     "also uses the cores the other files leave free",
     Jobs},
    {{"-q", "--quiet"}, "", ScanOption::Value::kNone,
     "print nothing on standard output; only the exit status and one line on\n"
     "standard error per failing or warning file tell",
     SetOption<&ScanOptions::quiet>},
    {{"--help"}, "", ScanOption::Value::kNone, "print this help and exit", Help},
    {{"--version"}, "", ScanOption::Value::kNone, "print the version and exit", Version},
};

// The option arg names and where its value starts in arg (npos when the value is the next argument, or when there
// is none); null when arg names no option.
const ScanOption* FindOption(std::string_view arg, std::size_t& value_at) {
  const bool long_name = arg.starts_with("--");
  // A long name ends at '='; a short one is the dash and one character, its value written straight after it.
  const std::string_view name = arg.substr(0, long_name ? arg.find('=') : 2);
  for (const ScanOption& option : kOptions) {
    if (std::find(option.names.begin(), option.names.end(), name) == option.names.end()) continue;
    value_at = name.size() == arg.size() ? std::string_view::npos : name.size() + (long_name ? 1 : 0);
    if (value_at == std::string_view::npos) return &option;
    if (option.value == ScanOption::Value::kNone) return nullptr;
    const char next = arg[name.size()];
    const bool letter = (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z');
    if (!long_name && option.value == ScanOption::Value::kNumber && letter) return nullptr;
    return &option;
  }
  return nullptr;
}

}  // namespace

std::span<const ScanOption> ScanOptionTable() { return kOptions; }

int UsageError(std::ostream& err, const std::string& message) {
  // One line that names the trouble, as a CI log shows it, and where the usage is.
  err << "varnok-scan: " << message << "\nTry 'varnok-scan --help' for more information.\n";
  return kScanUsageError;
}

std::optional<ScanOptions> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                          int& status) {
  OptionParse parse{{}, out};
  ScanOptions& options = parse.options;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_end || arg == kStandardInput || arg.empty() || arg[0] != '-') {
      options.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    std::size_t value_at = std::string_view::npos;
    const ScanOption* option = FindOption(arg, value_at);
    if (option == nullptr) {
      status = UsageError(err, "unknown option " + Quoted(arg));
      return std::nullopt;
    }
    std::string_view value;
    if (value_at != std::string_view::npos) {
      value = std::string_view(arg).substr(value_at);
    } else if (option->value != ScanOption::Value::kNone) {
      if (i + 1 == args.size()) {
        const bool number = option->value == ScanOption::Value::kNumber;
        status = UsageError(err, "option " + Quoted(arg) + " needs a " + (number ? "number" : "value"));
        return std::nullopt;
      }
      value = args[++i];
    }
    if (const std::string refused = option->handle(parse, value); !refused.empty()) {
      status = UsageError(err, refused);
      return std::nullopt;
    }
    if (parse.finished) {
      status = kScanSuccess;
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
  if (parse.diff_only && !options.diff) {
    status = UsageError(err, "--bytes, -v and --limit go with --diff");
    return std::nullopt;
  }
  if (options.diff && options.files.size() != 2) {
    status = UsageError(err, "--diff compares two files");
    return std::nullopt;
  }
  if (options.diff && (options.layout.map || options.layout.ranges || options.layout.digest ||
                       !options.given.sources.empty())) {
    status = UsageError(err, "--diff takes no --map, --ranges, --digest, --region or --memory");
    return std::nullopt;
  }
  options.layout.several = options.files.size() > 1;
  options.cores = UsableCores();
  options.layout.cores = options.cores;
  if (options.jobs == 0) options.jobs = options.cores;
  return std::move(options);
}

}  // namespace varnok
