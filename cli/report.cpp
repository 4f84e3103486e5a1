#include "report.h"

#include <new>
#include <optional>
#include <string_view>

#include "analysis/hex_text.h"
#include "cli/scan.h"
#include "json_writer.h"
#include "memmap/map_text.h"

namespace varnok {
namespace {

struct Caption {
  const char* text;
  std::optional<DisplayField> field;  // none: the status line
  const char* json_key;
};

constexpr Caption kCaptions[] = {
    {"Analyser status:", std::nullopt, "status"},
    {"Module name:", DisplayField::Module, "module_name"},
    {"Version.Revision:", DisplayField::Version, "version_revision"},
    {"Description:", DisplayField::Description, "description"},
    {"Total records:", DisplayField::RecordLines, "total_records"},
    {"Total databytes:", DisplayField::TotalDatabytes, "total_databytes"},
    {"Highest address:", DisplayField::Highest, "highest_address"},
    {"Lowest address:", DisplayField::Lowest, "lowest_address"},
    {"Execution address:", DisplayField::Exec, "execution_address"},
};

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

void WriteText(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  const std::string status_text = StatusText(report.result);
  for (const Caption& caption : kCaptions) {
    // Escaped before the caption goes out, so that running out of memory never cuts a line.
    const std::string value = EscapeValue(caption.field ? report.display.Field(*caption.field) : status_text);
    out << caption.text;
    if (!value.empty()) out << ' ' << value;
    out << '\n';
  }
  if (layout.ranges && report.result.Parsed()) {
    report.state.Ranges.ForEach([&out](DataRange range) {
      out << "Data: " << AddressText(range.first) << " - " << AddressText(range.last) << '\n';
    });
  }
  if (report.grid) {
    out << '\n';
    MapTextWriter::ForEachChunk(*report.grid, [&out](std::string_view text) {
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      return out.good();
    });
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

// Writes the report's JSON object; `status` is its status text.
void WriteJsonObject(JsonWriter& json, const FileReport& report, const ReportLayout& layout,
                     const std::string& status) {
  const RunResult& result = report.result;
  const RunTotals& totals = result.totals;
  const bool parsed = result.Parsed();
  json.BeginObject();
  json.Key("status").Latin1String(status);
  json.Key("success").Bool(parsed);
  for (const Caption& caption : kCaptions) {
    if (caption.field) json.Key(caption.json_key).Latin1String(report.display.Field(*caption.field));
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

  if (report.grid) {
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
  if (IsUtf8(report.name)) {
    json.String(report.name);
  } else {
    json.Latin1String(report.name);  // names are bytes; one that is not UTF-8 is read as Latin-1
  }
  json.Key("error");
  if (const char* kind = ErrorKind(result.kind)) {
    json.BeginObject();
    json.Key("kind").String(kind);
    json.Key("line");
    NumberOrNull(json, report.error_line);
    json.EndObject();
  } else {
    json.Null();
  }

  if (layout.ranges) {
    json.Key("ranges");
    if (parsed) {
      json.BeginArray();
      report.state.Ranges.ForEach([&json](DataRange range) {
        json.BeginObject(JsonWriter::Layout::kInline).Key("start").Number(range.first).Key("end").Number(range.last);
        json.EndObject();
      });
      json.EndArray();
    } else {
      json.Null();
    }
  }
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

}  // namespace varnok
