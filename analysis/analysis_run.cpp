#include "analysis/analysis_run.h"

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <new>
#include <string>

#include "text/line_text.h"
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

// Where the one-thread run puts what the records yield: straight into the display, the state and the sink.
class DirectOutput {
 public:
  DirectOutput(AnalysisState& state, AnalysisDisplay& display, WarningCollector* warnings, BlockSink* sink)
      : state_(state), display_(display), warnings_(warnings), sink_(sink) {}

  RunHeader header;

  bool Progress(std::uint64_t bytes_read, std::int64_t /*line*/) {
    return display_.ShowProgress(bytes_read, state_.InFile->Size());
  }
  void Header(RunHeader&& s0, std::int64_t /*line*/) { header.Merge(std::move(s0)); }
  std::uint8_t* Keep(std::uint32_t /*address*/, std::int32_t /*length*/, std::int64_t /*line*/) {
    return record_.data();
  }
  bool Kept(std::uint32_t address, std::int32_t length, const std::uint8_t* data) {
    return sink_->Take(address, length, data);
  }
  void Range(std::uint32_t address, std::uint32_t length) { state_.Ranges.Add(address, length); }
  void Fact(const RecordFact& fact) { warnings_->Add(fact); }

 private:
  AnalysisState& state_;
  AnalysisDisplay& display_;
  WarningCollector* const warnings_;
  BlockSink* const sink_;
  std::array<std::uint8_t, 256> record_;  // a record's bytes on their way to the sink
};

RunResult Analyse(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  // An input of unknown size (a pipe) counts as empty.
  if (request.parallel.threads > 1 && state.InFile->Size() >= request.parallel.min_size) {
    return AnalyseInParallel(request, state, display);
  }
  return AnalyseOnOneThread(request, state, display);
}

}  // namespace

RunResult AnalyseOnOneThread(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  DirectOutput output(state, display, request.warnings, request.sink);
  LineParser<DirectOutput> parser(output, request.sink != nullptr, request.ranges, request.warnings != nullptr);
  const LineOutcome outcome = parser.Parse(*state.InFile);
  if (outcome.kind != RunKind::Parsed) return FailRun(outcome, std::move(output.header), state);
  return FinishRun(parser.totals(), std::move(output.header), state);
}

RunResult FailRun(RunKind kind, std::int64_t line, RunHeader&& header, AnalysisState& state) {
  RunResult result;
  result.kind = kind;
  result.line = line;
  result.header = std::move(header);
  FreeRun(state);
  return result;
}

RunResult FailRun(const LineOutcome& outcome, RunHeader&& header, AnalysisState& state) {
  RunResult result = FailRun(outcome.kind, outcome.line, std::move(header), state);
  result.checksum = outcome.checksum;
  return result;
}

RunResult FinishRun(const RunTotals& totals, RunHeader&& header, AnalysisState& state) {
  state.InFile.reset();
  RunResult result;
  result.totals = totals;
  result.header = std::move(header);
  return result;
}

std::string FieldText(const RunResult& result, DisplayField field) {
  const RunTotals& totals = result.totals;
  switch (field) {
    case DisplayField::Module: return result.header.module;
    case DisplayField::Version: return result.header.version;
    case DisplayField::Description: return result.header.description;
    default: break;
  }
  if (!result.Parsed()) return {};
  switch (field) {
    case DisplayField::RecordLines: return std::to_string(totals.records);
    case DisplayField::TotalDatabytes: return TotalDatabytesText(totals.data_bytes);
    case DisplayField::Highest: return AddressText(totals.highest);
    // A single loaded byte has its lowest address equal to its highest; only the empty image
    // (0xFFFFFFFF above 0) leaves the field empty.
    case DisplayField::Lowest: return totals.HasLowest() ? AddressText(totals.lowest) : std::string();
    case DisplayField::Exec: return totals.exec ? AddressText(*totals.exec) : std::string();
    default: return {};
  }
}

std::string StatusText(const RunResult& result) {
  std::string text = OutcomeText(result.kind);
  if (NamesLine(result.kind)) text += " @ line " + std::to_string(result.line);
  return text;
}

std::string OutcomeText(RunKind kind) {
  switch (kind) {
    case RunKind::Parsed: return "Parsing successfully finished...";
    case RunKind::MissingFile: return "Input file does not exist!";
    case RunKind::OpenFailed: return "Unable to open selected input file!";
    case RunKind::ReadFailed: return "Read error";
    case RunKind::NoRecord: return "No s-record found";
    case RunKind::UnknownRecord: return "Unknown s-record found";
    case RunKind::ByteCountError: return "Byte count error";
    case RunKind::ChecksumError: return "Checksum error";
    case RunKind::OutOfMemory: return "Out of memory!!";
    case RunKind::Cancelled: return "Parsing cancelled";
  }
  return {};
}

bool NamesLine(RunKind kind) {
  return kind != RunKind::Parsed && kind != RunKind::MissingFile && kind != RunKind::OpenFailed &&
         kind != RunKind::OutOfMemory;
}

std::string TotalDatabytesText(std::uint32_t bytes) {
  std::string text = std::to_string(bytes);
  if (bytes > 1024) text += " bytes (" + std::to_string(bytes >> 10) + " kb)";
  return text;
}

void FreeRun(AnalysisState& state) {
  state.InFile.reset();
  state.Ranges.Clear();
}

RunResult RunAnalysis(const RunRequest& request, AnalysisState& state, AnalysisDisplay& display) {
  FreeRun(state);
  if (FileMissing(request.path)) return FailRun(RunKind::MissingFile, 0, {}, state);
  try {
    state.InFile = TextModeInput::Open(request.path, request.regular_only);
  } catch (const std::bad_alloc&) {
    return FailRun(RunKind::OutOfMemory, 0, {}, state);
  }
  if (state.InFile == nullptr) return FailRun(RunKind::OpenFailed, 0, {}, state);
  return Analyse(request, state, display);
}

RunResult RunAnalysisOn(std::unique_ptr<TextModeInput> input, const RunRequest& request, AnalysisState& state,
                        AnalysisDisplay& display) {
  FreeRun(state);
  if (input == nullptr) return FailRun(RunKind::OpenFailed, 0, {}, state);
  state.InFile = std::move(input);
  return Analyse(request, state, display);
}

}  // namespace varnok
