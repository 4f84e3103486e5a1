#include "analysis/run_summary.h"

#include "analysis/hex_text.h"

namespace varnok {

std::string EscapeValue(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 || byte > 0x7E || ch == '\\') {
      out += "\\x";
      AppendHex(out, byte, 2);
    } else {
      out += ch;
    }
  }
  return out;
}

std::string SummaryText(const RunResult& result) {
  std::string text;
  for (const SummaryCaption& caption : kSummaryCaptions) {
    const std::string value = EscapeValue(caption.field ? FieldText(result, *caption.field) : StatusText(result));
    text += caption.text;
    if (!value.empty()) text += ' ' + value;
    text += '\n';
  }
  return text;
}

std::string WarningLines(const std::vector<std::string>& warnings) {
  std::string text;
  for (const std::string& warning : warnings) text += "Warning: " + warning + '\n';
  return text;
}

}  // namespace varnok
