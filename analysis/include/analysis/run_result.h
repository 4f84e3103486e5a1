#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace varnok {

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

// What a finished run found. The addresses follow the run's own rules: lowest starts at 0xFFFFFFFF and highest at 0,
// so an input without data bytes leaves lowest above highest.
struct RunTotals {
  std::int64_t records = 0;  // non-empty lines
  std::uint32_t data_bytes = 0;
  std::uint32_t lowest = 0xFFFFFFFFu;
  std::uint32_t highest = 0;
  std::optional<std::uint32_t> exec;  // the execution address of the last termination record

  // Whether the lowest address is shown: only an input without data bytes leaves it out.
  bool HasLowest() const { return lowest <= highest; }
};

// The outcome of one analysis run.
struct RunResult {
  RunKind kind = RunKind::Parsed;
  // The line a result names: for a record error or running out of memory the number of non-empty lines so far,
  // for a read error or a cancelled run the line that was to be read next.
  std::int64_t line = 0;
  RunTotals totals;  // complete only when kind is Parsed

  bool Parsed() const { return kind == RunKind::Parsed; }
};

// The status line's text for a result, e.g. "Checksum error @ line 7".
std::string StatusText(const RunResult& result);

// "Total databytes:" as the main window shows it: the number, with " bytes (N kb)" above 1024.
std::string TotalDatabytesText(std::uint32_t bytes);

}  // namespace varnok
