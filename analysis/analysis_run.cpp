#include "analysis/analysis_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <string>

#include "analysis/hex_text.h"
#include "line_parser.h"
#include "run_steps.h"

namespace varnok {
namespace {

// A name that is not there (a folder counts as not there) is missing; a name that exists but cannot be looked at
// (a folder without search permission on the way, a name too long) is not, and fails at the opening instead.
bool FileMissing(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return errno == ENOENT || errno == ENOTDIR;
}

// Where the one-thread run puts what the records yield: straight into the display and the state.
class DirectOutput {
 public:
  DirectOutput(AnalysisState& state, AnalysisDisplay& display, WarningCollector* warnings)
      : state_(state), display_(display), warnings_(warnings) {}

  bool Progress(std::uint64_t bytes_read, std::int64_t /*line*/) {
    return display_.ShowProgress(bytes_read, state_.InFile->Size());
  }
  void Header(S0Header&& header, std::int64_t /*line*/) { ShowHeader(header, display_); }
  std::uint8_t* Keep(std::uint32_t address, std::int32_t length, std::int64_t /*line*/) {
    return state_.DataBlocks.Append(address, length);
  }
  void Range(std::uint32_t address, std::uint32_t length) { state_.Ranges.Add(address, length); }
  void Fact(const RecordFact& fact) { warnings_->Add(fact); }

 private:
  AnalysisState& state_;
  AnalysisDisplay& display_;
  WarningCollector* const warnings_;
};

RunResult Analyse(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  display.SetStatusColour(StatusColour::Black);
  // An input of unknown size (a pipe) counts as empty.
  if (request.parallel.threads > 1 && state.InFile->Size() >= request.parallel.min_size) {
    return AnalyseInParallel(request, state, display);
  }
  return AnalyseOnOneThread(request, state, display);
}

void ResetRun(AnalysisState& state, AnalysisDisplay& display) {
  ClearDataBlocks(state);
  state.Ranges.Clear();
  state.InFile.reset();
  state.TotalBytes = 0;
  state.LowestAddr = 0xFFFFFFFFu;
  state.HighestAddr = 0;
  state.HasExecAddr = false;
  state.ExecAddr = 0;
  for (DisplayField field : kAllDisplayFields) display.SetField(field, "");
}

}  // namespace

RunResult AnalyseOnOneThread(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  DirectOutput output(state, display, request.warnings);
  LineParser<DirectOutput> parser(output, request.map_option, request.ranges, request.warnings != nullptr);
  const LineOutcome outcome = parser.Parse(*state.InFile);
  if (outcome.kind != RunKind::Parsed) return FailRun(outcome.kind, outcome.line, state, display);
  return FinishRun(parser.lines(), parser.totals(), state, display);
}

void ShowHeader(const S0Header& header, AnalysisDisplay& display) {
  display.SetField(DisplayField::Module, header.module);
  if (header.has_version) display.SetField(DisplayField::Version, header.version);
  display.SetField(DisplayField::Description, header.description);
}

RunResult FailRun(RunKind kind, std::int64_t line, AnalysisState& state, AnalysisDisplay& display) {
  RunResult result;
  result.kind = kind;
  result.line = line;
  ShowFailure(result, state, display);
  return result;
}

RunResult FinishRun(std::int64_t lines, const RecordTotals& records, AnalysisState& state, AnalysisDisplay& display) {
  state.InFile.reset();
  state.TotalBytes = records.data_bytes;
  state.LowestAddr = records.lowest;
  state.HighestAddr = records.highest;
  state.HasExecAddr = records.has_exec;
  state.ExecAddr = records.exec;
  RunResult result;
  RunTotals& totals = result.totals;
  totals.records = lines;
  totals.data_bytes = records.data_bytes;
  totals.lowest = records.lowest;
  totals.highest = records.highest;
  if (records.has_exec) totals.exec = records.exec;

  display.SetField(DisplayField::Highest, AddressText(totals.highest));
  // A single loaded byte has its lowest address equal to its highest; only the empty image
  // (0xFFFFFFFF above 0) leaves the field empty.
  if (totals.HasLowest()) display.SetField(DisplayField::Lowest, AddressText(totals.lowest));
  if (totals.exec) display.SetField(DisplayField::Exec, AddressText(*totals.exec));
  display.SetStatus(StatusText(result));
  display.SetField(DisplayField::RecordLines, std::to_string(totals.records));
  display.SetField(DisplayField::TotalDatabytes, TotalDatabytesText(totals.data_bytes));
  return result;
}

std::string StatusText(const RunResult& result) {
  const std::string line = std::to_string(result.line);
  switch (result.kind) {
    case RunKind::Parsed: return "Parsing successfully finished...";
    case RunKind::MissingFile: return "Input file does not exist!";
    case RunKind::OpenFailed: return "Unable to open selected input file!";
    case RunKind::ReadFailed: return "Read error @ line " + line;
    case RunKind::NoRecord: return "No s-record found @ line " + line;
    case RunKind::UnknownRecord: return "Unknown s-record found @ line " + line;
    case RunKind::ByteCountError: return "Byte count error @ line " + line;
    case RunKind::ChecksumError: return "Checksum error @ line " + line;
    case RunKind::OutOfMemory: return "Out of memory!!";
    case RunKind::Cancelled: return "Parsing cancelled @ line " + line;
  }
  return {};
}

std::string TotalDatabytesText(std::uint32_t bytes) {
  std::string text = std::to_string(bytes);
  if (bytes > 1024) text += " bytes (" + std::to_string(bytes >> 10) + " kb)";
  return text;
}

void ClearDataBlocks(AnalysisState& state) { state.DataBlocks.Clear(); }

void ShowFailure(const RunResult& failure, AnalysisState& state, AnalysisDisplay& display) {
  state.InFile.reset();
  ClearDataBlocks(state);
  state.Ranges.Clear();
  // A failure found before the end of the input finds these empty; one in the map step clears the summary.
  for (DisplayField field : {DisplayField::RecordLines, DisplayField::TotalDatabytes, DisplayField::Highest,
                             DisplayField::Lowest, DisplayField::Exec}) {
    display.SetField(field, "");
  }
  display.SetStatusColour(StatusColour::Maroon);
  display.SetStatus(StatusText(failure));
}

RunResult RunAnalysis(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  ResetRun(state, display);
  if (FileMissing(request.path)) return FailRun(RunKind::MissingFile, 0, state, display);
  try {
    state.InFile = TextModeInput::Open(request.path, request.regular_only);
  } catch (const std::bad_alloc&) {
    return FailRun(RunKind::OutOfMemory, 0, state, display);
  }
  if (state.InFile == nullptr) return FailRun(RunKind::OpenFailed, 0, state, display);
  return Analyse(request, state, display);
}

RunResult RunAnalysisOn(std::unique_ptr<TextModeInput> input, const RunRequest& request, AnalysisState& state,
                        AnalysisDisplay& display) {
  ResetRun(state, display);
  if (input == nullptr) return FailRun(RunKind::OpenFailed, 0, state, display);
  state.InFile = std::move(input);
  return Analyse(request, state, display);
}

}  // namespace varnok
