#include "report.h"

#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "analysis/hex_text.h"
#include "cli/scan.h"
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

// JSON strings are UTF-8: every byte stands for the Latin-1 character of that code.
std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
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

// A file name as a JSON string: names are bytes; one that is not UTF-8 is read as Latin-1.
std::string FileNameText(const std::string& name) { return IsUtf8(name) ? name : Latin1ToUtf8(name); }

void WriteText(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  const std::string status_text = StatusText(report.result);
  for (const Caption& caption : kCaptions) {
    const std::string& value = caption.field ? report.display.Field(*caption.field) : status_text;
    out << caption.text;
    if (!value.empty()) out << ' ' << EscapeValue(value);
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

// The members of a JSON object as its dump shows them, without the braces around them, so that more members can
// follow; indented by 2 when pretty, else on one line.
std::string Members(const nlohmann::ordered_json& object, bool pretty) {
  std::string text = object.dump(pretty ? 2 : -1);
  const std::size_t open = pretty ? 2 : 1;  // "{\n" or "{"
  const std::size_t close = pretty ? 2 : 1;  // "\n}" or "}"
  return text.size() > open + close ? text.substr(open, text.size() - open - close) : std::string();
}

void WriteJson(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  const RunResult& result = report.result;
  const RunTotals& totals = result.totals;
  const bool pretty = !layout.several;
  const char* const next = pretty ? ",\n  " : ",";  // before a member written here
  const char* const next_members = pretty ? ",\n" : ",";  // before members that carry their own indentation
  const char* const colon = pretty ? ": " : ":";

  nlohmann::ordered_json head;
  head["status"] = Latin1ToUtf8(StatusText(result));
  head["success"] = result.Parsed();
  for (const Caption& caption : kCaptions) {
    if (caption.field) head[caption.json_key] = Latin1ToUtf8(report.display.Field(*caption.field));
  }
  nlohmann::ordered_json numbers;
  numbers["total_records"] = nullptr;
  numbers["total_databytes"] = nullptr;
  numbers["highest_address"] = nullptr;
  numbers["lowest_address"] = nullptr;
  numbers["execution_address"] = nullptr;
  if (result.Parsed()) {
    numbers["total_records"] = totals.records;
    numbers["total_databytes"] = totals.data_bytes;
    numbers["highest_address"] = totals.highest;
    if (totals.HasLowest()) numbers["lowest_address"] = totals.lowest;
    if (totals.exec) numbers["execution_address"] = *totals.exec;
  }
  head["numbers"] = numbers;
  out << (pretty ? "{\n" : "{") << Members(head, pretty);

  // The map rows and the ranges are streamed rather than held as JSON values: either can be far larger.
  if (report.grid) {
    out << next << "\"map\"" << colon << (pretty ? "{\n    " : "{");
    std::size_t index = 0;
    MapTextWriter::ForEachRow(*report.grid, [&](std::string_view row) {
      const std::string quoted = nlohmann::json(row).dump();
      if (index == 0) {
        out << "\"header\"" << colon << quoted << (pretty ? ",\n    " : ",") << "\"rows\"" << colon << '[';
      } else {
        out << (index > 1 ? "," : "") << (pretty ? "\n      " : "") << quoted;
      }
      ++index;
      return true;
    });
    out << (pretty ? "\n    ]\n  }" : "]}");
  }

  nlohmann::ordered_json tail;
  tail["file"] = FileNameText(report.name);
  tail["error"] = nullptr;
  if (const char* kind = ErrorKind(result.kind)) {
    nlohmann::ordered_json error;
    error["kind"] = kind;
    error["line"] = nullptr;
    if (report.error_line) error["line"] = *report.error_line;
    tail["error"] = error;
  }
  out << next_members << Members(tail, pretty);

  if (layout.ranges) {
    out << next << "\"ranges\"" << colon;
    if (!result.Parsed()) {
      out << "null";
    } else {
      out << '[';
      bool first = true;
      report.state.Ranges.ForEach([&](DataRange range) {
        out << (first ? "" : ",") << (pretty ? "\n    " : "") << (pretty ? "{\"start\": " : "{\"start\":")
            << range.first << (pretty ? ", \"end\": " : ",\"end\":") << range.last << '}';
        first = false;
      });
      out << (pretty && !first ? "\n  ]" : "]");
    }
  }
  out << (pretty ? "\n}\n" : "}\n");
}

}  // namespace

void WriteReport(std::ostream& out, const FileReport& report, const ReportLayout& layout) {
  if (layout.json) {
    WriteJson(out, report, layout);
    return;
  }
  if (layout.several) out << "File: " << EscapeValue(report.name) << '\n';
  WriteText(out, report, layout);
  if (layout.several) out << '\n';
}

}  // namespace varnok
