#include "analysis/run_summary.h"

#include "text/line_text.h"

namespace varnok {

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
