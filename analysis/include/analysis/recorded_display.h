#pragma once

#include <array>
#include <string>
#include <string_view>

#include "analysis/analysis_display.h"

namespace varnok {

// An AnalysisDisplay without a window: keeps every field, the status and its colour as the run left them.
// Used by varnok-scan and the tests.
class RecordedDisplay : public AnalysisDisplay {
 public:
  std::array<std::string, std::size(kAllDisplayFields)> fields;
  std::string status = "...idle...";
  StatusColour colour = StatusColour::Black;

  const std::string& Field(DisplayField field) const { return fields[static_cast<std::size_t>(field)]; }

  void SetField(DisplayField field, std::string_view text) override {
    fields[static_cast<std::size_t>(field)] = std::string(text);
  }
  void SetStatus(std::string_view text) override { status = std::string(text); }
  void SetStatusColour(StatusColour c) override { colour = c; }
};

}  // namespace varnok
