#pragma once

#include <array>
#include <string>
#include <string_view>

#include "analysis/analysis_display.h"

namespace varnok {

// An AnalysisDisplay without a window: keeps every field, the status and its colour, and a copy of
// what the memory map was built from. Used by varnok-scan and the tests.
class RecordedDisplay : public AnalysisDisplay {
 public:
  std::string input_path;
  std::string file_name;
  bool map_option = false;

  std::array<std::string, std::size(kAllDisplayFields)> fields;
  std::string status = "...idle...";
  StatusColour colour = StatusColour::Black;
  bool map_built = false;
  MapRequest map;  // valid while the run's state keeps its blocks
  int discard_count = 0;
  int out_of_memory_count = 0;

  const std::string& Field(DisplayField field) const { return fields[static_cast<std::size_t>(field)]; }

  std::string InputPath() const override { return input_path; }
  std::string FileName() const override { return file_name; }
  bool MapOption() const override { return map_option; }
  void SetField(DisplayField field, std::string_view text) override {
    fields[static_cast<std::size_t>(field)] = std::string(text);
  }
  void SetStatus(std::string_view text) override { status = std::string(text); }
  void SetStatusColour(StatusColour c) override { colour = c; }
  void DiscardMap() override {
    ++discard_count;
    map_built = false;
    map = MapRequest{};
  }
  void BuildMap(const MapRequest& request) override {
    map_built = true;
    map = request;
  }
  void ReportOutOfMemory() override { ++out_of_memory_count; }
};

}  // namespace varnok
