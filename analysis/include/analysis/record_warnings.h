#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analysis/data_ranges.h"

namespace varnok {

// The kinds of record a file's shape is judged by.
enum class RecordKind : std::uint8_t { Header, Data, Count, Termination };

// One record that passed its checks, as the run reads it.
struct RecordFact {
  RecordKind kind = RecordKind::Header;
  std::uint32_t address = 0;  // the address field: the load address, the execution address, or the record count
  std::int32_t length = 0;    // data bytes of a data record; 0 or less writes nothing
  std::int64_t line = 0;      // the record's line among the non-empty lines
};

// Two records that wrote one address.
struct Overwrite {
  std::uint32_t address = 0;  // the first address a record wrote again, in file order
  std::int64_t first_line = 0;
  std::int64_t second_line = 0;
  std::uint64_t more_addresses = 0;  // further addresses written more than once
};

// What a valid file's records say about its being whole and consistent.
struct FileWarnings {
  bool no_data = false;
  bool no_termination = false;
  std::optional<std::int64_t> data_after_termination;  // the line of the first such data record
  struct CountMismatch {
    std::uint32_t said = 0;  // the count record's value
    std::int64_t has = 0;    // data records before it
  };
  std::optional<CountMismatch> count;  // the first count record that disagrees
  std::optional<Overwrite> overwrite;
  std::optional<std::int64_t> past_end;  // the line of the first record that runs past 0xFFFFFFFF

  bool Any() const { return no_data || no_termination || data_after_termination || count || overwrite || past_end; }
};

// The warnings' texts in a fixed order, e.g. "no termination record".
std::vector<std::string> WarningTexts(const FileWarnings& warnings);

// Gathers the warnings of one file from its records, handed over in file order. Memory follows the runs of
// records that write consecutive addresses on consecutive lines with one length, like the data ranges.
class WarningCollector {
 public:
  WarningCollector() = default;
  WarningCollector(const WarningCollector&) = delete;
  WarningCollector& operator=(const WarningCollector&) = delete;

  void Add(const RecordFact& fact) {
    if (fact.kind == RecordKind::Data) {
      AddData(fact);
    } else {
      AddOther(fact);
    }
  }

  // The warnings of the records handed over so far.
  FileWarnings Result() const;

 private:
  // Records of one length that wrote addresses first..last one after the other on consecutive lines: upwards, the
  // one on first_line starts at `origin` and each next one starts `stride` bytes higher; downwards, the one on
  // first_line ends at `origin` and each next one ends `stride` bytes lower. The last one, on last_line, had the
  // stride's length when `full`; a run that is not full takes no more records.
  struct WriteRun {
    std::uint32_t last;
    std::uint32_t origin;
    std::uint32_t stride;
    bool full;
    bool downwards;
    std::int64_t first_line;
    std::int64_t last_line;

    std::int64_t LineOf(std::uint32_t address) const {
      return first_line + (downwards ? origin - address : address - origin) / stride;
    }
  };
  using Runs = std::map<std::uint32_t, WriteRun>;  // by first address

  void AddData(const RecordFact& fact) {
    ++data_records_;
    // Records mostly follow one another: the next one of the open run, of the same length, only moves its end.
    if (fact.address == next_address_ && fact.line == next_line_ && fact.length == stride_ &&
        fact.address <= last_start_) {
      next_address_ += static_cast<std::uint32_t>(stride_);
      ++next_line_;
      return;
    }
    AddDataSlowly(fact);
  }
  void AddDataSlowly(const RecordFact& fact);
  // Whether the record continues the recent run upwards or downwards (and did).
  bool ExtendUpwards(std::uint32_t address, std::uint32_t length, std::int64_t line);
  bool ExtendDownwards(std::uint32_t address, std::uint32_t length, std::int64_t line);
  void AddOther(const RecordFact& fact);
  void Write(std::uint32_t first, std::uint32_t last, std::uint32_t origin, std::uint32_t stride, std::int64_t line);
  // Writes what the open run took since it was opened into its record, and closes it.
  void CloseRun();
  // Lets the recent run take the next records by AddData alone, when it is full, upwards and no data record after
  // a termination record is still to be told.
  void OpenRun();

  std::int64_t data_records_ = 0;
  std::optional<std::int64_t> termination_line_;
  std::optional<std::int64_t> data_after_termination_;
  std::optional<FileWarnings::CountMismatch> count_;
  std::optional<Overwrite> overwrite_;
  std::optional<std::int64_t> past_end_;
  DataRanges twice_;  // addresses written more than once
  Runs runs_;
  Runs::iterator recent_ = runs_.end();
  std::uint64_t recent_limit_ = 0;  // the first address of the run after the recent one; 2^32 when none
  std::uint64_t recent_floor_ = 0;  // one past the last address of the run before the recent one; 0 when none
  // The open run: the recent one while AddData alone extends it, its record's end and last line left behind.
  std::uint64_t next_address_ = 0;  // one past its end
  std::int64_t next_line_ = 0;
  std::int32_t stride_ = -1;        // -1: no run is open
  std::uint64_t last_start_ = 0;    // the last address a record of the stride can start at before the next run
};

}  // namespace varnok
