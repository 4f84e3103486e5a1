#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace varnok {

// The result fields of a run, named after the main window's controls.
enum class DisplayField {
  Module,          // lbl_Module
  Version,         // lbl_Version
  Description,     // mem_Description
  RecordLines,     // lbl_RecordLines
  TotalDatabytes,  // lbl_TotalDatabytes
  Highest,         // lbl_Highest
  Lowest,          // lbl_Lowest
  Exec,            // lbl_Exec
};

inline constexpr DisplayField kAllDisplayFields[] = {
    DisplayField::Module,         DisplayField::Version, DisplayField::Description,
    DisplayField::RecordLines,    DisplayField::TotalDatabytes, DisplayField::Highest,
    DisplayField::Lowest,         DisplayField::Exec,
};

// Font colour of the status line: black for progress and success, maroon (128, 0, 0) for failures.
enum class StatusColour { Black, Maroon };

// How an analysis run ended.
enum class RunKind : std::uint8_t {
  Parsed,          // the whole input was read and every record passed
  MissingFile,     // no file at the path
  OpenFailed,      // the file exists but cannot be opened
  ReadFailed,      // reading failed part-way
  NoRecord,        // a line does not begin with "S"
  UnknownRecord,   // a record type other than 0, 1, 2, 3, 5, 6, 7, 8, 9
  ByteCountError,  // a record's count field does not match its length
  ChecksumError,   // a record's bytes do not sum to 0xFF
  OutOfMemory,     // memory for the kept data ran out
  Cancelled,       // the display asked the run to stop
};

// What the records of a run, or of a stretch of its input, add up to. The addresses follow the run's own rules:
// lowest starts at 0xFFFFFFFF and highest at 0, so an input without data bytes leaves lowest above highest.
struct RunTotals {
  std::int64_t records = 0;  // non-empty lines
  std::uint32_t data_bytes = 0;
  std::uint32_t lowest = 0xFFFFFFFFu;
  std::uint32_t highest = 0;
  std::optional<std::uint32_t> exec;  // the execution address of the last termination record

  // Whether the lowest address is shown: only an input without data bytes leaves it out.
  bool HasLowest() const { return lowest <= highest; }
  // Adds the totals of the stretch of input that follows this one.
  void Append(const RunTotals& next) {
    records += next.records;
    data_bytes += next.data_bytes;
    if (next.lowest < lowest) lowest = next.lowest;
    if (next.highest > highest) highest = next.highest;
    if (next.exec) exec = next.exec;
  }
  bool operator==(const RunTotals&) const = default;
};

// The texts of S0 records, as 8-bit bytes cut at their first byte 0: of one record, or of all that a run read.
struct RunHeader {
  std::string module;
  bool has_version = false;
  std::string version;
  std::string description;
  std::string text;  // the record's data bytes whole, not cut at a byte 0

  // Takes the texts of a later S0 record: its module, description and text always, its version only when it has
  // one.
  void Merge(RunHeader&& later) {
    module = std::move(later.module);
    text = std::move(later.text);
    if (later.has_version) {
      has_version = true;
      version = std::move(later.version);
    }
    description = std::move(later.description);
  }
  bool operator==(const RunHeader&) const = default;
};

// The checksum a record carries and the one its count, address and data call for.
struct RecordChecksum {
  std::uint8_t carried = 0;
  std::uint8_t expected = 0;

  bool operator==(const RecordChecksum&) const = default;
};

// The outcome of one analysis run.
struct RunResult {
  RunKind kind = RunKind::Parsed;
  // The line a result names: for a record error or running out of memory the number of non-empty lines so far,
  // for a read error or a cancelled run the line that was to be read next.
  std::int64_t line = 0;
  RunTotals totals;  // complete only when kind is Parsed
  RunHeader header;  // the S0 records read before the run ended, also when it failed
  std::optional<RecordChecksum> checksum;  // for a checksum error

  bool Parsed() const { return kind == RunKind::Parsed; }
  bool operator==(const RunResult&) const = default;
};

// The status line's text for a result, e.g. "Checksum error @ line 7".
std::string StatusText(const RunResult& result);
// The status line's text for an outcome without the line it names, e.g. "Checksum error".
std::string OutcomeText(RunKind kind);
// Whether the status line of an outcome names a line.
bool NamesLine(RunKind kind);

// The colour the status line shows a result in.
inline StatusColour StatusColourOf(const RunResult& result) {
  return result.Parsed() ? StatusColour::Black : StatusColour::Maroon;
}

// The text a result field shows for a result: the header fields always, the summary fields only for a parsed run
// (the lowest address only when there are data bytes, the execution address only when there is one).
std::string FieldText(const RunResult& result, DisplayField field);

// "Total databytes:" as the main window shows it: the number, with " bytes (N kb)" above 1024.
std::string TotalDatabytesText(std::uint32_t bytes);

}  // namespace varnok
