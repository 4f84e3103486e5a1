#include "report.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string_view>

#include "text/line_text.h"
#include "cli/scan.h"
#include "image/image_compare.h"
#include "regions/region_cover.h"
#include "json_writer.h"
#include "memmap/map_text.h"

namespace varnok {
namespace {

// The "kind" of the JSON error object.
const char* ErrorKind(RunKind kind) {
  switch (kind) {
    case RunKind::Parsed: return nullptr;
    case RunKind::MissingFile: return "missing";
    case RunKind::OpenFailed: return "open";
    case RunKind::ReadFailed: return "read";
    case RunKind::NoRecord: return "no_record";
    case RunKind::UnknownRecord: return "unknown_type";
    case RunKind::ByteCountError: return "byte_count";
    case RunKind::ChecksumError: return "checksum";
    case RunKind::OutOfMemory: return "out_of_memory";
    case RunKind::Cancelled: return "cancelled";
  }
  return nullptr;
}

bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t follow = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      follow = 1;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      follow = 2;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      follow = 3;
      code = lead & 0x07u;
    } else {
      return false;
    }
    if (i + follow >= text.size()) return false;
    for (std::size_t k = 1; k <= follow; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and codes past U+10FFFF are not UTF-8.
    if ((follow == 2 && code < 0x800) || (follow == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += follow + 1;
  }
  return true;
}

// The last address of a region that holds at least one byte.
std::uint32_t RegionLast(const MemoryRegion& region) {
  return region.origin + static_cast<std::uint32_t>(region.length - 1);
}

// The CRC's JSON key: "crc32", "crc32c", "crc32_mpeg2", "crc16_ccitt".
std::string CrcKey(CrcKind kind) {
  std::string key(CrcKindName(kind));
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

std::string Sha256Text(const Digest& digest) { return LowerHexText(digest.sha256); }

}  // namespace

std::vector<std::string> RegionBreaches(const RegionUsage& usage, const ReportLayout& layout) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < layout.demands.size() && i < layout.regions.size(); ++i) {
    const RegionDemand& demand = layout.demands[i];
    const MemoryRegion& region = layout.regions[i];
    const std::uint64_t used = usage.used[i];
    const std::string name = "Region " + EscapeValue(region.name) + ": ";
    // Exact: used / length > limit / 10000, without the rounding of the printed share.
    if (demand.max_use && used * 10000 > std::uint64_t{*demand.max_use} * region.length) {
      lines.push_back(name + PercentText(used, region.length) + " % used, limit " + demand.max_use_text + " %");
    }
    if (demand.required && used == 0) lines.push_back(name + "no data, required");
  }
  return lines;
}

std::vector<std::string> DigestMismatches(const FileReport& report, const ReportLayout& layout) {
  std::vector<std::string> lines;
  for (const DigestExpectation& expected : layout.expectations) {
    std::string what;
    const Digest* digest = report.digest ? &report.digest->image : nullptr;
    if (expected.region) {
      what = "Region " + EscapeValue(layout.regions[*expected.region].name) + " ";
      const std::optional<Digest>* region =
          *expected.region < report.region_digests.size() ? &report.region_digests[*expected.region] : nullptr;
      digest = region != nullptr && *region ? &**region : nullptr;
    }
    Digest wanted;
    wanted.sha256 = expected.sha256;
    if (expected.crc) {
      what += CrcLabel(layout.crc);
      if (digest != nullptr && digest->crc == *expected.crc) continue;
      lines.push_back("Digest mismatch: " + what + " is " + (digest ? CrcText(layout.crc, digest->crc) : "none") +
                      ", expected " + CrcText(layout.crc, *expected.crc));
    } else {
      what += "SHA-256";
      if (digest != nullptr && digest->sha256 == expected.sha256) continue;
      lines.push_back("Digest mismatch: " + what + " is " + (digest ? Sha256Text(*digest) : "none") + ", expected " +
                      Sha256Text(wanted));
    }
  }
  return lines;
}

namespace {

// The region lines, the digest lines and the warnings that follow the summary and the data ranges. Each line's
// texts are made before it goes out, so that running out of memory never cuts a line.
void WriteFindings(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  const std::vector<std::string> warnings = WarningTexts(report.warnings);
  if (report.regions) {
    for (std::size_t i = 0; i < layout.regions.size(); ++i) {
      out << RegionUsageLine(layout.regions[i], report.regions->used[i]) << '\n';
    }
    for (const AddressRange& range : report.regions->outside) out << OutsideRegionsLine(range) << '\n';
    for (const std::string& breach : report.breaches) out << breach << '\n';
  }
  for (const std::string& line :
       DigestReportLines(report.digest, report.region_digests, layout.regions, layout.fill, layout.crc)) {
    out << line << '\n';
  }
  for (const std::string& mismatch : report.mismatches) out << mismatch << '\n';
  out << WarningLines(warnings);
}

void WriteText(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  // Made whole before it goes out, so that running out of memory never cuts a line.
  out << SummaryText(report.result);
  if (layout.ranges && report.result.Parsed()) {
    report.state.Ranges.ForEach([&out](AddressRange range) {
      out << "Data: " << AddressText(range.first) << " - " << AddressText(range.last) << '\n';
    });
  }
  WriteFindings(out, report, layout);
  if (report.grid && layout.map) {
    out << '\n';
    const auto take = [&out](std::string_view text, std::uint64_t) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      return out.good();
    };
    MapTextWriter::ForEachChunk(*report.grid, take, layout.cores);
  }
}

// A file name as a JSON string: names are bytes; one that is not UTF-8 is read as Latin-1.
void FileName(JsonWriter& json, const std::string& name) {
  if (IsUtf8(name)) {
    json.String(name);
  } else {
    json.Latin1String(name);
  }
}

// Writes a JSON number, or null when there is none.
template <typename Integer>
void NumberOrNull(JsonWriter& json, std::optional<Integer> value) {
  if (value) {
    json.Number(*value);
  } else {
    json.Null();
  }
}

void WriteFindingsJson(JsonWriter& json, const FileReport& report, const ReportLayout& layout) {
  if (!layout.regions.empty()) {
    json.Key("regions");
    if (report.regions) {
      json.BeginArray();
      for (std::size_t i = 0; i < layout.regions.size(); ++i) {
        const MemoryRegion& region = layout.regions[i];
        json.BeginObject(JsonWriter::Layout::kInline).Key("name").Latin1String(region.name);
        json.Key("start").Number(region.origin).Key("end");
        NumberOrNull(json, region.length == 0 ? std::nullopt : std::optional<std::uint32_t>(RegionLast(region)));
        json.Key("size").Number(region.length).Key("used").Number(report.regions->used[i]);
        json.Key("free").Number(region.length - report.regions->used[i]);
        if (i < report.region_digests.size() && report.region_digests[i]) {
          const Digest& digest = *report.region_digests[i];
          json.Key(CrcKey(layout.crc)).Number(digest.crc).Key("sha256").String(Sha256Text(digest));
        }
        json.EndObject();
      }
      json.EndArray().Key("outside_regions").BeginArray();
      for (const AddressRange& range : report.regions->outside) {
        json.BeginObject(JsonWriter::Layout::kInline).Key("start").Number(range.first).Key("end").Number(range.last);
        json.EndObject();
      }
      json.EndArray();
      if (!report.breaches.empty()) {
        json.Key("region_failures").BeginArray();
        for (const std::string& breach : report.breaches) json.Latin1String(breach);
        json.EndArray();
      }
    } else {
      json.Null().Key("outside_regions").Null();
    }
  }
  if (layout.digest) {
    json.Key("image");
    if (report.digest) {
      const AddressRange& image = report.digest->range;
      json.BeginObject().Key("start").Number(image.first).Key("end").Number(image.last);
      json.Key("fill").Number(layout.fill).Key(CrcKey(layout.crc)).Number(report.digest->image.crc);
      json.Key("sha256").String(Sha256Text(report.digest->image)).EndObject();
    } else {
      json.Null();
    }
  }
  if (!report.mismatches.empty()) {
    json.Key("digest_mismatches").BeginArray();
    for (const std::string& mismatch : report.mismatches) json.Latin1String(mismatch);
    json.EndArray();
  }
  const std::vector<std::string> warnings = WarningTexts(report.warnings);
  if (!warnings.empty()) {
    json.Key("warnings").BeginArray();
    for (const std::string& warning : warnings) json.String(warning);
    json.EndArray();
  }
}

// Writes the report's JSON object; `status` is its status text.
void WriteJsonObject(JsonWriter& json, const FileReport& report, const ReportLayout& layout,
                     const std::string& status) {
  const RunResult& result = report.result;
  const RunTotals& totals = result.totals;
  const bool parsed = result.Parsed();
  json.BeginObject();
  json.Key("status").Latin1String(status);
  json.Key("success").Bool(parsed);
  for (const SummaryCaption& caption : kSummaryCaptions) {
    if (caption.field) json.Key(caption.json_key).Latin1String(FieldText(report.result, *caption.field));
  }
  using Address = std::optional<std::uint32_t>;
  json.Key("numbers").BeginObject();
  json.Key("total_records");
  NumberOrNull(json, parsed ? std::optional(totals.records) : std::nullopt);
  json.Key("total_databytes");
  NumberOrNull(json, parsed ? Address(totals.data_bytes) : std::nullopt);
  json.Key("highest_address");
  NumberOrNull(json, parsed ? Address(totals.highest) : std::nullopt);
  json.Key("lowest_address");
  NumberOrNull(json, parsed && totals.HasLowest() ? Address(totals.lowest) : std::nullopt);
  json.Key("execution_address");
  NumberOrNull(json, parsed ? totals.exec : std::nullopt);
  json.EndObject();

  if (report.grid && layout.map) {
    json.Key("map").BeginObject();
    bool header = true;
    MapTextWriter::ForEachRow(*report.grid, [&](std::string_view row) {
      if (header) {
        json.Key("header").String(row);
        json.Key("rows").BeginArray(JsonWriter::Layout::kListing);
        header = false;
      } else {
        json.String(row);
      }
      return true;
    });
    json.EndArray().EndObject();
  }

  json.Key("file");
  FileName(json, report.name);
  json.Key("error");
  if (const char* kind = ErrorKind(result.kind)) {
    json.BeginObject();
    json.Key("kind").String(kind);
    json.Key("line");
    NumberOrNull(json, report.error_line);
    if (result.checksum) {
      json.Key("checksum").Number(result.checksum->carried).Key("expected_checksum").Number(result.checksum->expected);
    }
    json.EndObject();
  } else {
    json.Null();
  }

  if (layout.ranges) {
    json.Key("ranges");
    if (parsed) {
      json.BeginArray();
      // The digest's ranges are the same maximal runs of loaded addresses, in the same order.
      std::size_t digested = 0;
      report.state.Ranges.ForEach([&](AddressRange range) {
        json.BeginObject(JsonWriter::Layout::kInline).Key("start").Number(range.first).Key("end").Number(range.last);
        if (report.digest && digested < report.digest->ranges.size() &&
            report.digest->ranges[digested].range.first == range.first) {
          const Digest& digest = report.digest->ranges[digested++].digest;
          json.Key(CrcKey(layout.crc)).Number(digest.crc).Key("sha256").String(Sha256Text(digest));
        }
        json.EndObject();
      });
      json.EndArray();
    } else {
      json.Null();
    }
  }
  WriteFindingsJson(json, report, layout);
  // The data bytes of the S0 record whole: the fields above cut them at the first byte 0 and at fixed widths.
  json.Key("header_text").Latin1String(result.header.text);
  json.EndObject();
}

void WriteJson(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  // Made before the first byte, so that running out of memory here leaves no report begun.
  const std::string status = StatusText(report.result);
  JsonWriter json(out, !layout.several);
  try {
    WriteJsonObject(json, report, layout, status);
  } catch (const std::bad_alloc&) {
    out << '\n';  // a cut report still ends its line, so that every report after it keeps a line of its own
    throw;
  }
  out << '\n';
}

const char* DiffKindKey(DiffKind kind) {
  switch (kind) {
    case DiffKind::OnlyInA: return "only_in_a";
    case DiffKind::OnlyInB: return "only_in_b";
    case DiffKind::Different: return "different";
  }
  return "";
}

}  // namespace

void WriteReport(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  if (layout.json) {
    WriteJson(out, report, layout);
    return;
  }
  if (layout.several) {
    const std::string name = EscapeValue(report.name);
    out << "File: " << name << '\n';
  }
  WriteText(out, report, layout);
  if (layout.several) out << '\n';
}

std::string ProblemText(const FileReport& report) {
  const std::string name = EscapeValue(report.name);
  if (!report.result.Parsed()) {
    // FILE:LINE: as compilers write it, so that editors and CI annotations find the line.
    const std::string line = report.error_line ? ":" + std::to_string(*report.error_line) : std::string();
    return name + line + ": " + OutcomeText(report.result.kind);
  }
  std::string text;
  if (report.regions && !report.regions->outside.empty()) {
    text = "data outside every region @ " + AddressText(report.regions->outside.front().first);
  }
  for (const std::string& breach : report.breaches) text += (text.empty() ? "" : "; ") + breach;
  for (const std::string& mismatch : report.mismatches) text += (text.empty() ? "" : "; ") + mismatch;
  const std::vector<std::string> warnings = WarningTexts(report.warnings);
  for (std::size_t i = 0; i < warnings.size(); ++i) {
    text += text.empty() ? "" : "; ";
    if (i == 0) text += "warning: ";
    text += warnings[i];
  }
  return text.empty() ? text : name + ": " + text;
}

// The bytes of a map from an address on, as "3A 00 ..", padded to the width of `width` bytes.
std::string BytesText(const MapGrid& grid, std::uint32_t address, std::uint32_t count, std::uint32_t width) {
  std::string text;
  for (std::uint32_t i = 0; i < width; ++i) {
    if (i > 0) text += ' ';
    if (i >= count) {
      text += "  ";
      continue;
    }
    const CellPos cell = grid.AddressToCell(address + i);
    text += HexText(grid.ByteAt(cell.column, cell.row).value, 2);
  }
  return text;
}

// Prints the lines of the differing ranges up to the limit and sums them up, then the lines that end the listing.
class DiffLister {
 public:
  // The grids hold at least the bytes of the differing ranges that are listed; `summary` holds the images' execution
  // addresses and loaded bytes.
  DiffLister(std::ostream& out, const MapGrid& a, const MapGrid& b, const ReportLayout& layout, DiffSummary summary)
      : out_(out), a_(a), b_(b), layout_(layout), summary_(std::move(summary)) {}

  void Add(const DiffRange& diff) {
    const std::uint64_t size = diff.range.Size();
    summary_.bytes += size;
    ++summary_.ranges;
    if (!Room()) return;
    out_ << DiffLine(diff) << '\n';
    if (!layout_.diff_bytes || diff.kind != DiffKind::Different) {
      shown_ += size;
      return;
    }
    // Both images hold every byte of a range that differs.
    for (std::uint64_t at = 0; at < size && Room(); at += kBytesPerLine) {
      const std::uint32_t address = diff.range.first + static_cast<std::uint32_t>(at);
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kBytesPerLine, size - at));
      out_ << "  " << AddressText(address) << "  A: " << BytesText(a_, address, count, kBytesPerLine)
           << "  B: " << BytesText(b_, address, count, count) << '\n';
      shown_ += count;
    }
  }

  // Whether the images are the same.
  bool Finish() {
    summary_.unshown_bytes = summary_.bytes - shown_;
    for (const std::string& line : DiffEndLines(summary_)) out_ << line << '\n';
    return summary_.Same();
  }

 private:
  static constexpr std::uint32_t kBytesPerLine = 16;

  // Whether one more line of differences may be printed; counts it when so.
  bool Room() {
    if (lines_ >= layout_.diff_limit) return false;
    ++lines_;
    return true;
  }

  std::ostream& out_;
  const MapGrid& a_;
  const MapGrid& b_;
  const ReportLayout& layout_;
  DiffSummary summary_;
  std::uint64_t lines_ = 0;
  std::uint64_t shown_ = 0;  // differing bytes that the printed lines account for
};

bool WriteDiff(std::ostream& out, const FileReport& a, const FileReport& b, const ReportLayout& layout,
               const StreamedDiff* streamed) {
  const std::optional<std::uint32_t>& exec_a = a.result.totals.exec;
  const std::optional<std::uint32_t>& exec_b = b.result.totals.exec;
  const MapGrid& grid_a = streamed != nullptr ? streamed->a : *a.grid;
  const MapGrid& grid_b = streamed != nullptr ? streamed->b : *b.grid;
  const auto for_each_range = [&](const std::function<bool(const DiffRange&)>& report) {
    if (streamed == nullptr) return CompareImages(grid_a, grid_b, report);
    for (const DiffRange& range : streamed->ranges) {
      if (!report(range)) return;
    }
  };
  const std::uint64_t loaded_a = streamed != nullptr ? streamed->loaded_a : LoadedBytes(grid_a);
  const std::uint64_t loaded_b = streamed != nullptr ? streamed->loaded_b : LoadedBytes(grid_b);
  DiffSummary summary{0, 0, 0, exec_a, exec_b, loaded_a, loaded_b};
  if (layout.json) {
    JsonWriter writer(out, true);
    writer.BeginObject().Key("file_a");
    FileName(writer, a.name);
    writer.Key("file_b");
    FileName(writer, b.name);
    writer.Key("differences").BeginArray();
    for_each_range([&](const DiffRange& diff) {
      writer.BeginObject(JsonWriter::Layout::kInline).Key("kind").String(DiffKindKey(diff.kind));
      writer.Key("start").Number(diff.range.first).Key("end").Number(diff.range.last).EndObject();
      summary.bytes += diff.range.Size();
      ++summary.ranges;
      return true;
    });
    writer.EndArray().Key("execution_address").BeginObject(JsonWriter::Layout::kInline).Key("a");
    NumberOrNull(writer, exec_a);
    writer.Key("b");
    NumberOrNull(writer, exec_b);
    writer.EndObject().Key("same").Bool(summary.Same()).Key("differing_bytes").Number(summary.bytes);
    writer.Key("loaded_bytes").BeginObject(JsonWriter::Layout::kInline).Key("a").Number(loaded_a);
    writer.Key("b").Number(loaded_b).EndObject().EndObject();
    out << '\n';
    return summary.Same();
  }
  DiffLister lister(out, grid_a, grid_b, layout, summary);
  for_each_range([&](const DiffRange& diff) {
    lister.Add(diff);
    return true;
  });
  return lister.Finish();
}

}  // namespace varnok
