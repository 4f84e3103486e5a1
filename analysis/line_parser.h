#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "analysis/hex_fields.h"
#include "analysis/record_warnings.h"
#include "analysis/line_reader.h"
#include "analysis/run_result.h"
#include "analysis/text_input.h"
#include "s0_header.h"

namespace varnok {

// How parsing a stretch of input stopped: kind Parsed when its end was reached, else the failure and its line,
// counted from the stretch's first line.
struct LineOutcome {
  LineOutcome(RunKind kind_ = RunKind::Parsed, std::int64_t line_ = 0,
              std::optional<RecordChecksum> checksum_ = std::nullopt)
      : kind(kind_), line(line_), checksum(checksum_) {}

  RunKind kind;
  std::int64_t line;
  std::optional<RecordChecksum> checksum;  // for a checksum error
};

// Reads the lines of an input, counts them and checks and adds up every record: the one handling of records that
// the one-thread run and the chunks of the many-thread run share. What the records yield beyond the totals goes to
// Output, which provides
//   bool Progress(std::uint64_t bytes_read, std::int64_t line);  // new input was read while `line` was; false cancels
//   void Header(RunHeader&& header, std::int64_t line);            // an S0 record passed its checks
//   std::uint8_t* Keep(std::uint32_t address, std::int32_t length, std::int64_t line);  // map option: where the
//                                                                                      // record's bytes go
//   bool Kept(std::uint32_t address, std::int32_t length, const std::uint8_t* data);  // Keep's bytes are in; false:
//                                                                                      // no memory for them
//   void Range(std::uint32_t address, std::uint32_t length);       // ranges option
//   void Fact(const RecordFact& fact);                              // facts option: every record that passed
template <typename Output>
class LineParser {
 public:
  LineParser(Output& output, bool map_option, bool ranges, bool facts = false)
      : output_(output), map_option_(map_option), ranges_(ranges), facts_(facts) {}

  // Parses the input to its end or its first failure; the totals so far stay readable either way.
  LineOutcome Parse(TextModeInput& input) {
    try {
      for (;;) {
        if (!TakeWholeDataRecords(input)) return {failure_, totals_.records};
        // Lines long enough to hold every field the handlers read are analysed where they stand.
        const int n = NextLine(input, buffer_, line_, kAddressFieldEnd);
        if (input.Blocks() != blocks_seen_) {
          blocks_seen_ = input.Blocks();
          const std::int64_t next_line = totals_.records + 1;
          if (!output_.Progress(input.BytesRead(), next_line)) return {RunKind::Cancelled, next_line};
        }
        if (n < 0) break;
        if (n == 0) continue;
        ++totals_.records;
        length_ = n;
        if (n < kAddressFieldEnd) std::memset(buffer_.text + n, 0, kAddressFieldEnd - n);
        if (!Dispatch()) return {failure_, totals_.records, checksum_};
      }
    } catch (const std::bad_alloc&) {
      return {RunKind::OutOfMemory, totals_.records};
    }
    // The line that could not be read is the next one.
    if (input.Failed()) return {RunKind::ReadFailed, totals_.records + 1};
    return {};
  }

  // What the lines read add up to; its records are the non-empty lines.
  const RunTotals& totals() const { return totals_; }

 private:
  // The widest address field ends at position 11 (S3 and S7); a shorter line reads as zeros up to there.
  static constexpr int kAddressFieldEnd = 12;

  // Takes the data records at the front of what the input holds buffered for as long as WholeDataRecords vouches
  // that each reads as the general path would read and check it; that path takes the first other line. The
  // records need no search for their line end, and no new input is read. False when storing a record fails.
  bool TakeWholeDataRecords(TextModeInput& input) {
    const std::string_view text = input.Buffered();
    std::array<WholeRecord, kWholeRecords> records;
    std::size_t at = 0;
    for (;;) {
      const std::size_t count = WholeDataRecords(text.data() + at, text.size() - at, records.data(), records.size(),
                                                 map_option_ ? decoded_.data() : nullptr);
      for (std::size_t i = 0; i < count; ++i) {
        line_ = text.data() + at;
        at += records[i].length + 1;
        ++totals_.records;
        length_ = static_cast<int>(records[i].length);
        byte_count_ = static_cast<std::int32_t>((records[i].length - 4) / 2);
        const std::uint8_t* bytes = map_option_ ? decoded_.data() + i * kWholeRecordBytes : nullptr;
        if (!StoreDataRecord(records[i].address, line_[1] - '0' + 1, bytes)) {
          input.Skip(at);
          return false;
        }
      }
      if (count < records.size()) break;
    }
    input.Skip(at);
    return true;
  }

  // Byte count and checksum checks shared by every handler, for a record whose address field is `address_width`
  // bytes wide.
  bool Checked(int address_width) {
    byte_count_ = static_cast<std::int32_t>(HexToInt(line_ + 2, 2));
    // A count that leaves no room for the address field and the checksum would read them from past the line.
    if (!ByteCountOk(byte_count_, length_) || byte_count_ <= address_width) return Fail(RunKind::ByteCountError);
    if (!ChecksumOk(line_ + 2, byte_count_ + 1)) {
      checksum_ = ChecksumOf(line_ + 2, byte_count_ + 1);
      return Fail(RunKind::ChecksumError);
    }
    return true;
  }

  bool Fail(RunKind kind) {
    failure_ = kind;
    return false;
  }

  void Tell(RecordKind kind, std::uint32_t address, std::int32_t length = 0) {
    if (facts_) output_.Fact(RecordFact{kind, address, length, totals_.records});
  }

  bool ParseS0() {
    if (!Checked(2)) return false;
    output_.Header(InterpretS0(line_, byte_count_), totals_.records);
    Tell(RecordKind::Header, 0);
    return true;
  }

  bool ParseData(int address_width) {
    return Checked(address_width) && StoreDataRecord(HexToInt(line_ + 4, 2 * address_width), address_width);
  }

  // S5 and S6: the count of data records before them.
  bool ParseCount(int address_width) {
    if (!Checked(address_width)) return false;
    // A count too large for the type's field is written in a wider one, filling the record up to its checksum; a
    // field wider than 32 bits is read at the type's width.
    const int field = byte_count_ - 1;
    const int width = field <= 4 ? field : address_width;
    if (facts_) Tell(RecordKind::Count, HexToInt(line_ + 4, 2 * width));
    return true;
  }

  bool ParseTermination(int address_width) {
    if (!Checked(address_width)) return false;
    const std::uint32_t exec = HexToInt(line_ + 4, 2 * address_width);
    totals_.exec = exec;
    Tell(RecordKind::Termination, exec);
    return true;
  }

  // `decoded`, when the record's bytes are at hand already: its byte count to its checksum.
  bool StoreDataRecord(std::uint32_t address, int address_width, const std::uint8_t* decoded = nullptr) {
    const std::int32_t length = byte_count_ - 1 - address_width;
    Tell(RecordKind::Data, address, length);
    // A record without data bytes loads nothing, so it moves no address.
    if (length == 0) return true;
    const std::uint64_t last = std::uint64_t{address} + static_cast<std::uint32_t>(length) - 1;
    if (last > 0xFFFFFFFFu) {
      // The bytes past 0xFFFFFFFF go on at 0, so the record holds both ends of the address space.
      totals_.lowest = 0;
      totals_.highest = 0xFFFFFFFFu;
    } else {
      if (address < totals_.lowest) totals_.lowest = address;
      if (last > totals_.highest) totals_.highest = static_cast<std::uint32_t>(last);
    }
    totals_.data_bytes += static_cast<std::uint32_t>(length);
    if (ranges_) output_.Range(address, static_cast<std::uint32_t>(length));
    if (!map_option_) return true;
    std::uint8_t* data = output_.Keep(address, length, totals_.records);
    if (decoded != nullptr) {
      std::memcpy(data, decoded + 1 + address_width, static_cast<std::size_t>(length));
    } else {
      DecodeHexBytes(line_ + 4 + 2 * address_width, length, data);
    }
    if (!output_.Kept(address, length, data)) return Fail(RunKind::OutOfMemory);
    return true;
  }

  bool Dispatch() {
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

  Output& output_;
  const bool map_option_;
  const bool ranges_;
  const bool facts_;
  static constexpr std::size_t kWholeRecords = 64;  // taken at a time
  // With the map option: the bytes of the whole records taken at a time, decoded while they are checked.
  std::array<std::uint8_t, kWholeRecords * kWholeRecordBytes> decoded_;
  LineBuffer buffer_;
  const char* line_ = buffer_.text;
  int length_ = 0;
  std::int32_t byte_count_ = 0;
  std::uint64_t blocks_seen_ = 0;
  RunTotals totals_;  // its records count the non-empty lines so far
  RunKind failure_ = RunKind::Parsed;
  std::optional<RecordChecksum> checksum_;  // of the record that failed its checksum
};

}  // namespace varnok
