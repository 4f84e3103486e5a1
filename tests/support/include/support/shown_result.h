#pragma once

#include <array>
#include <string>

#include "analysis/run_result.h"

namespace varnok::test {

// The status line, its colour and the result fields as every display of a run's result shows them.
struct ShownResult {
  std::string status = "...idle...";
  StatusColour colour = StatusColour::Black;
  std::array<std::string, std::size(kAllDisplayFields)> fields;

  const std::string& Field(DisplayField field) const { return fields[static_cast<std::size_t>(field)]; }

  void Show(const RunResult& result) {
    status = StatusText(result);
    colour = StatusColourOf(result);
    for (DisplayField field : kAllDisplayFields) fields[static_cast<std::size_t>(field)] = FieldText(result, field);
  }
};

}  // namespace varnok::test
