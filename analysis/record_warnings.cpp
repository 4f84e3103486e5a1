#include "analysis/record_warnings.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "text/line_text.h"

namespace varnok {

void WarningCollector::AddOther(const RecordFact& fact) {
  switch (fact.kind) {
    case RecordKind::Termination:
      if (!termination_line_) {
        termination_line_ = fact.line;
        CloseRun();  // the next data record is told
      }
      break;
    case RecordKind::Count:
      // A count record counts the data records before it.
      if (!count_ && fact.address != data_records_) count_ = FileWarnings::CountMismatch{fact.address, data_records_};
      break;
    case RecordKind::Header:
    case RecordKind::Data:
      break;
  }
}

void WarningCollector::AddDataSlowly(const RecordFact& fact) {
  CloseRun();
  if (termination_line_ && !data_after_termination_) data_after_termination_ = fact.line;
  if (fact.length > 0) {
    const auto length = static_cast<std::uint32_t>(fact.length);
    const std::uint64_t end = std::uint64_t{fact.address} + length - 1;
    const bool extended =
        ExtendUpwards(fact.address, length, fact.line) || ExtendDownwards(fact.address, length, fact.line);
    // A record that extends a run ends where the next run begins, so only a record of its own can run past the end.
    if (!extended && end > 0xFFFFFFFFu) {
      if (!past_end_) past_end_ = fact.line;
      // Addresses wrap modulo 2^32; each side is a record of its own length for the line it names.
      Write(fact.address, 0xFFFFFFFFu, fact.address,
            static_cast<std::uint32_t>((std::uint64_t{1} << 32) - fact.address), fact.line);
      const auto tail = static_cast<std::uint32_t>(end - 0xFFFFFFFFu);
      Write(0, tail - 1, 0, tail, fact.line);
    } else if (!extended) {
      Write(fact.address, static_cast<std::uint32_t>(end), fact.address, length, fact.line);
    }
  }
  OpenRun();
}

void WarningCollector::CloseRun() {
  if (stride_ < 0) return;
  WriteRun& run = recent_->second;
  run.last = static_cast<std::uint32_t>(next_address_ - 1);
  run.last_line = next_line_ - 1;
  stride_ = -1;
  next_line_ = 0;  // no record has line 0, so none matches a closed run
}

void WarningCollector::OpenRun() {
  if (recent_ == runs_.end() || (termination_line_ && !data_after_termination_)) return;
  const WriteRun& run = recent_->second;
  if (!run.full || run.downwards) return;
  next_address_ = std::uint64_t{run.last} + 1;
  next_line_ = run.last_line + 1;
  stride_ = static_cast<std::int32_t>(run.stride);
  // The run holds a whole record of the stride, so the limit after it is at least the stride.
  last_start_ = recent_limit_ - run.stride;
}

bool WarningCollector::ExtendUpwards(std::uint32_t address, std::uint32_t length, std::int64_t line) {
  if (recent_ == runs_.end()) return false;
  WriteRun& run = recent_->second;
  if (!run.full || run.downwards || address != std::uint64_t{run.last} + 1 || length > run.stride ||
      line != run.last_line + 1 || std::uint64_t{address} + length > recent_limit_) {
    return false;
  }
  run.last = address + length - 1;
  run.last_line = line;
  run.full = length == run.stride;
  return true;
}

void WarningCollector::Write(std::uint32_t first, std::uint32_t last, std::uint32_t origin, std::uint32_t stride,
                             std::int64_t line) {
  auto it = runs_.upper_bound(first);
  if (it != runs_.begin() && std::prev(it)->second.last >= first) --it;
  while (it != runs_.end() && it->first <= last) {
    const std::uint32_t run_first = it->first;
    WriteRun run = it->second;
    const std::uint32_t from = std::max(run_first, first);
    const std::uint32_t to = std::min(run.last, last);
    if (!overwrite_) {
      // Runs come in address order, so the first one met holds the record's lowest address written again.
      overwrite_ = Overwrite{from, run.LineOf(from), line, 0};
    }
    twice_.AddRange(from, to);
    it = runs_.erase(it);
    // What is left of the run on either side keeps its records' lines but takes no more records.
    run.full = false;
    if (run_first < first) {
      WriteRun left = run;
      left.last = first - 1;
      runs_.emplace_hint(it, run_first, left);
    }
    if (run.last > last) {
      it = runs_.emplace_hint(it, last + 1, run);
      break;
    }
  }
  recent_ = runs_.emplace_hint(it, first, WriteRun{last, origin, stride, true, false, line, line});
  const auto next = std::next(recent_);
  recent_limit_ = next == runs_.end() ? std::uint64_t{1} << 32 : next->first;
  recent_floor_ = recent_ == runs_.begin() ? 0 : std::uint64_t{std::prev(recent_)->second.last} + 1;
}

bool WarningCollector::ExtendDownwards(std::uint32_t address, std::uint32_t length, std::int64_t line) {
  if (recent_ == runs_.end()) return false;
  WriteRun& run = recent_->second;
  // A run of one record reads the same either way, so it may turn downwards.
  if (!run.full || (!run.downwards && run.first_line != run.last_line) || length > run.stride ||
      line != run.last_line + 1 || std::uint64_t{address} + length != recent_->first || address < recent_floor_) {
    return false;
  }
  if (!run.downwards) {
    run.downwards = true;
    run.origin = run.last;
  }
  run.last_line = line;
  run.full = length == run.stride;
  // The run's first address moves down: its node is moved to the new key without a new allocation.
  auto node = runs_.extract(recent_);
  node.key() = address;
  recent_ = runs_.insert(std::move(node)).position;
  return true;
}

FileWarnings WarningCollector::Result() const {
  FileWarnings warnings;
  warnings.no_data = data_records_ == 0;
  warnings.no_termination = !termination_line_;
  warnings.data_after_termination = data_after_termination_;
  warnings.count = count_;
  warnings.past_end = past_end_;
  if (overwrite_) {
    std::uint64_t addresses = 0;
    twice_.ForEach([&addresses](AddressRange range) { addresses += range.Size(); });
    warnings.overwrite = *overwrite_;
    warnings.overwrite->more_addresses = addresses - 1;
  }
  return warnings;
}

std::vector<std::string> WarningTexts(const FileWarnings& warnings) {
  std::vector<std::string> texts;
  if (warnings.no_data) texts.emplace_back("no data record");
  if (warnings.no_termination) texts.emplace_back("no termination record");
  if (warnings.data_after_termination) {
    texts.push_back("data after the termination record @ line " + std::to_string(*warnings.data_after_termination));
  }
  if (warnings.count) {
    texts.push_back("count record says " + std::to_string(warnings.count->said) + " data records, the file has " +
                    std::to_string(warnings.count->has));
  }
  if (const auto& twice = warnings.overwrite) {
    std::string text = "address " + AddressText(twice->address) + " written twice @ lines " +
                       std::to_string(twice->first_line) + " and " + std::to_string(twice->second_line);
    if (twice->more_addresses > 0) {
      text += ", and " + std::to_string(twice->more_addresses) +
              (twice->more_addresses == 1 ? " more address" : " more addresses");
    }
    texts.push_back(std::move(text));
  }
  if (warnings.past_end) {
    texts.push_back("record at line " + std::to_string(*warnings.past_end) + " runs past 0xFFFFFFFF");
  }
  return texts;
}

}  // namespace varnok
