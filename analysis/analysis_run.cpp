#include "analysis/analysis_run.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/hex_fields.h"
#include "analysis/line_reader.h"
#include "s0_header.h"

namespace varnok {
namespace {

// The widest address field ends at position 11 (S3 and S7); a shorter line reads as zeros up to there.
constexpr int kAddressFieldEnd = 12;

std::string HexAddress(std::uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

class Run {
 public:
  Run(AnalysisState& state, AnalysisDisplay& display)
      : state_(state), display_(display), map_option_(display.MapOption()) {}

  void ReportError(const std::string& text) {
    state_.InFile.reset();
    display_.SetStatusColour(StatusColour::Maroon);
    display_.SetStatus(text);
    ClearDataBlocks(state_);
  }

  void Analyse();

 private:
  bool ReportAt(const char* what) {
    ReportError(what + std::to_string(line_count_));
    return false;
  }

  // Byte count and checksum checks shared by every handler.
  bool Checked() {
    state_.ByteCount = static_cast<std::int32_t>(HexToInt(line_ + 2, 2));
    if (!ByteCountOk(state_.ByteCount, length_)) return ReportAt("Byte count error @ line ");
    if (!ChecksumOk(line_ + 2, state_.ByteCount + 1)) return ReportAt("Checksum error @ line ");
    return true;
  }

  bool ParseS0();
  bool ParseData(int address_width);  // ParseS1, ParseS2, ParseS3
  bool ParseS5() { return Checked(); }
  bool ParseTermination(int address_width);  // ParseS7, ParseS8, ParseS9
  void StoreDataRecord(int address_width);
  bool Dispatch();
  void WriteSummary();

  AnalysisState& state_;
  AnalysisDisplay& display_;
  LineBuffer buffer_;
  const char* line_ = buffer_.text;
  int length_ = 0;
  std::int64_t line_count_ = 0;
  // The map option cannot change while the run holds the only thread.
  const bool map_option_;
  bool out_of_memory_ = false;
};

bool Run::ParseS0() {
  if (!Checked()) return false;
  const S0Header header = InterpretS0(line_, state_.ByteCount);
  display_.SetField(DisplayField::Module, header.module);
  if (header.has_version) display_.SetField(DisplayField::Version, header.version);
  display_.SetField(DisplayField::Description, header.description);
  return true;
}

bool Run::ParseData(int address_width) {
  if (!Checked()) return false;
  StoreDataRecord(address_width);
  return true;
}

bool Run::ParseTermination(int address_width) {
  if (!Checked()) return false;
  state_.ExecAddr = HexToInt(line_ + 4, 2 * address_width);
  state_.HasExecAddr = true;
  return true;
}

void Run::StoreDataRecord(int address_width) {
  state_.RecAddress = HexToInt(line_ + 4, 2 * address_width);
  if (state_.RecAddress < state_.LowestAddr) state_.LowestAddr = state_.RecAddress;
  state_.RecEnd = state_.RecAddress + static_cast<std::uint32_t>(state_.ByteCount) - 2u - static_cast<std::uint32_t>(address_width);
  if (state_.RecEnd > state_.HighestAddr) state_.HighestAddr = state_.RecEnd;
  const std::int32_t length = state_.ByteCount - 1 - address_width;
  // A count too small for the address and checksum gives a negative length: it adds nothing.
  if (length < 0) return;
  state_.TotalBytes += static_cast<std::uint32_t>(length);
  if (!map_option_ || out_of_memory_) return;
  std::uint8_t* data = state_.DataBlocks.Append(state_.RecAddress, length);
  if (data == nullptr) {
    out_of_memory_ = true;
    display_.ReportOutOfMemory();
    return;
  }
  DecodeHexBytes(line_ + 4 + 2 * address_width, length, data);
}

bool Run::Dispatch() {
  if (line_[0] != 'S') return ReportAt("No s-record found @ line ");
  switch (line_[1]) {
    case '0': return ParseS0();
    case '1': return ParseData(2);
    case '2': return ParseData(3);
    case '3': return ParseData(4);
    case '5': return ParseS5();
    case '6': return ParseS5();  // the 24-bit record count: checked like S5
    case '7': return ParseTermination(4);
    case '8': return ParseTermination(3);
    case '9': return ParseTermination(2);
    default: return ReportAt("Unknown s-record found @ line ");
  }
}

void Run::Analyse() {
  display_.SetStatusColour(StatusColour::Black);
  for (;;) {
    // Lines long enough to hold every field the handlers read are analysed where they stand.
    const int n = NextLine(*state_.InFile, buffer_, line_, kAddressFieldEnd);
    if (n < 0) break;
    if (n == 0) continue;
    ++line_count_;
    length_ = n;
    if (n < kAddressFieldEnd) std::memset(buffer_.text + n, 0, kAddressFieldEnd - n);
    if (!Dispatch()) return;
  }
  state_.InFile.reset();
  WriteSummary();
}

void Run::WriteSummary() {
  display_.SetField(DisplayField::Highest, HexAddress(state_.HighestAddr));
  // A single loaded byte has its lowest address equal to its highest; only the empty image
  // (0xFFFFFFFF above 0) leaves the field empty.
  if (state_.LowestAddr <= state_.HighestAddr) display_.SetField(DisplayField::Lowest, HexAddress(state_.LowestAddr));
  if (state_.HasExecAddr) display_.SetField(DisplayField::Exec, HexAddress(state_.ExecAddr));
  display_.SetStatus("Parsing successfully finished...");
  display_.SetField(DisplayField::RecordLines, std::to_string(line_count_));
  std::string total = std::to_string(state_.TotalBytes);
  if (state_.TotalBytes > 1024) total += " bytes (" + std::to_string(state_.TotalBytes >> 10) + " kb)";
  display_.SetField(DisplayField::TotalDatabytes, total);
  // After a failed allocation the kept blocks are incomplete and the program is about to end.
  if (map_option_ && !out_of_memory_) {
    MapRequest request;
    request.lowest = state_.LowestAddr;
    request.highest = state_.HighestAddr;
    request.blocks = &state_.DataBlocks;
    request.has_exec_addr = state_.HasExecAddr;
    request.exec_addr = state_.ExecAddr;
    display_.BuildMap(request);
  }
}

void ResetRun(AnalysisState& state, AnalysisDisplay& display) {
  ClearDataBlocks(state);
  display.DiscardMap();
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

void ClearDataBlocks(AnalysisState& state) { state.DataBlocks.Clear(); }

void RunAnalysis(AnalysisState& state, AnalysisDisplay& display) {
  ResetRun(state, display);
  Run run(state, display);
  const std::string path = display.InputPath();
  if (!FileExists(path)) {
    run.ReportError("Input file does not exist!");
    return;
  }
  state.InFile = TextModeInput::Open(path);
  if (state.InFile == nullptr) {
    run.ReportError("Unable to open selected input file!");
    return;
  }
  run.Analyse();
}

void RunAnalysisOn(std::unique_ptr<TextModeInput> input, AnalysisState& state, AnalysisDisplay& display) {
  ResetRun(state, display);
  state.InFile = std::move(input);
  Run(state, display).Analyse();
}

}  // namespace varnok
