#include "analysis/analysis_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "analysis/hex_fields.h"
#include "analysis/hex_text.h"
#include "analysis/line_reader.h"
#include "s0_header.h"

namespace varnok {
namespace {

// The widest address field ends at position 11 (S3 and S7); a shorter line reads as zeros up to there.
constexpr int kAddressFieldEnd = 12;

// A name that is not there (a folder counts as not there) is missing; a name that exists but cannot be looked at
// (a folder without search permission on the way, a name too long) is not, and fails at the opening instead.
bool FileMissing(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  return errno == ENOENT || errno == ENOTDIR;
}

class Run {
 public:
  Run(AnalysisState& state, AnalysisDisplay& display, const RunRequest& request)
      : state_(state), display_(display), map_option_(request.map_option), ranges_(request.ranges),
        warnings_(request.warnings) {}

  // Ends the run with a failure: closes the input, shows the status in maroon and frees the kept blocks.
  RunResult ReportError(RunKind kind, std::int64_t line = 0) {
    RunResult result;
    result.kind = kind;
    result.line = line;
    ShowFailure(result, state_, display_);
    return result;
  }

  RunResult Analyse();

 private:
  // Byte count and checksum checks shared by every handler.
  bool Checked() {
    state_.ByteCount = static_cast<std::int32_t>(HexToInt(line_ + 2, 2));
    if (!ByteCountOk(state_.ByteCount, length_)) return Fail(RunKind::ByteCountError);
    if (!ChecksumOk(line_ + 2, state_.ByteCount + 1)) return Fail(RunKind::ChecksumError);
    return true;
  }

  bool Fail(RunKind kind) {
    failure_ = kind;
    return false;
  }

  bool ParseS0();
  bool ParseData(int address_width);  // ParseS1, ParseS2, ParseS3
  bool ParseCount(int address_width);  // ParseS5, and S6 alike
  void Tell(RecordKind kind, std::uint32_t address, std::int32_t length = 0) {
    if (warnings_ != nullptr) warnings_->Add(RecordFact{kind, address, length, line_count_});
  }
  bool ParseTermination(int address_width);  // ParseS7, ParseS8, ParseS9
  bool StoreDataRecord(int address_width);
  bool Dispatch();
  RunResult Finish();

  AnalysisState& state_;
  AnalysisDisplay& display_;
  const bool map_option_;
  const bool ranges_;
  WarningCollector* const warnings_;
  LineBuffer buffer_;
  const char* line_ = buffer_.text;
  int length_ = 0;
  std::int64_t line_count_ = 0;
  std::uint64_t blocks_seen_ = 0;
  RunKind failure_ = RunKind::Parsed;
};

bool Run::ParseS0() {
  if (!Checked()) return false;
  const S0Header header = InterpretS0(line_, state_.ByteCount);
  display_.SetField(DisplayField::Module, header.module);
  if (header.has_version) display_.SetField(DisplayField::Version, header.version);
  display_.SetField(DisplayField::Description, header.description);
  Tell(RecordKind::Header, 0);
  return true;
}

bool Run::ParseData(int address_width) {
  if (!Checked() || !StoreDataRecord(address_width)) return false;
  Tell(RecordKind::Data, state_.RecAddress, state_.ByteCount - 1 - address_width);
  return true;
}

bool Run::ParseCount(int address_width) {
  if (!Checked()) return false;
  if (warnings_ != nullptr) Tell(RecordKind::Count, HexToInt(line_ + 4, 2 * address_width));
  return true;
}

bool Run::ParseTermination(int address_width) {
  if (!Checked()) return false;
  state_.ExecAddr = HexToInt(line_ + 4, 2 * address_width);
  state_.HasExecAddr = true;
  Tell(RecordKind::Termination, state_.ExecAddr);
  return true;
}

bool Run::StoreDataRecord(int address_width) {
  state_.RecAddress = HexToInt(line_ + 4, 2 * address_width);
  if (state_.RecAddress < state_.LowestAddr) state_.LowestAddr = state_.RecAddress;
  state_.RecEnd = state_.RecAddress + static_cast<std::uint32_t>(state_.ByteCount) - 2u - static_cast<std::uint32_t>(address_width);
  if (state_.RecEnd > state_.HighestAddr) state_.HighestAddr = state_.RecEnd;
  const std::int32_t length = state_.ByteCount - 1 - address_width;
  // A count too small for the address and checksum gives a negative length: it adds nothing.
  if (length < 0) return true;
  state_.TotalBytes += static_cast<std::uint32_t>(length);
  if (ranges_) state_.Ranges.Add(state_.RecAddress, static_cast<std::uint32_t>(length));
  if (!map_option_) return true;
  std::uint8_t* data = state_.DataBlocks.Append(state_.RecAddress, length);
  if (data == nullptr) return Fail(RunKind::OutOfMemory);
  DecodeHexBytes(line_ + 4 + 2 * address_width, length, data);
  return true;
}

bool Run::Dispatch() {
  if (line_[0] != 'S') return Fail(RunKind::NoRecord);
  switch (line_[1]) {
    case '0': return ParseS0();
    case '1': return ParseData(2);
    case '2': return ParseData(3);
    case '3': return ParseData(4);
    case '5': return ParseCount(2);
    case '6': return ParseCount(3);  // the 24-bit record count
    case '7': return ParseTermination(4);
    case '8': return ParseTermination(3);
    case '9': return ParseTermination(2);
    default: return Fail(RunKind::UnknownRecord);
  }
}

RunResult Run::Analyse() {
  display_.SetStatusColour(StatusColour::Black);
  try {
    for (;;) {
      // Lines long enough to hold every field the handlers read are analysed where they stand.
      const int n = NextLine(*state_.InFile, buffer_, line_, kAddressFieldEnd);
      if (state_.InFile->Blocks() != blocks_seen_) {
        blocks_seen_ = state_.InFile->Blocks();
        if (!display_.ShowProgress(state_.InFile->BytesRead(), state_.InFile->Size())) {
          return ReportError(RunKind::Cancelled, line_count_ + 1);
        }
      }
      if (n < 0) break;
      if (n == 0) continue;
      ++line_count_;
      length_ = n;
      if (n < kAddressFieldEnd) std::memset(buffer_.text + n, 0, kAddressFieldEnd - n);
      if (!Dispatch()) return ReportError(failure_, line_count_);
    }
    // The line that could not be read is the next one.
    if (state_.InFile->Failed()) return ReportError(RunKind::ReadFailed, line_count_ + 1);
    return Finish();
  } catch (const std::bad_alloc&) {
    return ReportError(RunKind::OutOfMemory, line_count_);
  }
}

RunResult Run::Finish() {
  state_.InFile.reset();
  RunResult result;
  RunTotals& totals = result.totals;
  totals.records = line_count_;
  totals.data_bytes = state_.TotalBytes;
  totals.lowest = state_.LowestAddr;
  totals.highest = state_.HighestAddr;
  if (state_.HasExecAddr) totals.exec = state_.ExecAddr;

  display_.SetField(DisplayField::Highest, AddressText(totals.highest));
  // A single loaded byte has its lowest address equal to its highest; only the empty image
  // (0xFFFFFFFF above 0) leaves the field empty.
  if (totals.HasLowest()) display_.SetField(DisplayField::Lowest, AddressText(totals.lowest));
  if (totals.exec) display_.SetField(DisplayField::Exec, AddressText(*totals.exec));
  display_.SetStatus(StatusText(result));
  display_.SetField(DisplayField::RecordLines, std::to_string(totals.records));
  display_.SetField(DisplayField::TotalDatabytes, TotalDatabytesText(totals.data_bytes));
  return result;
}

void ResetRun(AnalysisState& state, AnalysisDisplay& display) {
  ClearDataBlocks(state);
  state.Ranges.Clear();
  state.InFile.reset();
  state.ByteCount = 0;
  state.RecAddress = 0;
  state.RecEnd = 0;
  state.TotalBytes = 0;
  state.LowestAddr = 0xFFFFFFFFu;
  state.HighestAddr = 0;
  state.HasExecAddr = false;
  state.ExecAddr = 0;
  for (DisplayField field : kAllDisplayFields) display.SetField(field, "");
}

}  // namespace

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
  Run run(state, display, request);
  if (FileMissing(request.path)) return run.ReportError(RunKind::MissingFile);
  try {
    state.InFile = TextModeInput::Open(request.path, request.regular_only);
  } catch (const std::bad_alloc&) {
    return run.ReportError(RunKind::OutOfMemory);
  }
  if (state.InFile == nullptr) return run.ReportError(RunKind::OpenFailed);
  return run.Analyse();
}

RunResult RunAnalysisOn(std::unique_ptr<TextModeInput> input, const RunRequest& request, AnalysisState& state,
                        AnalysisDisplay& display) {
  ResetRun(state, display);
  Run run(state, display, request);
  if (input == nullptr) return run.ReportError(RunKind::OpenFailed);
  state.InFile = std::move(input);
  return run.Analyse();
}

}  // namespace varnok
