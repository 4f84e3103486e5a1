#pragma once

#include <cstdint>
#include <string_view>

namespace varnok {

// The result fields the analysis run writes, named after the main window's controls.
enum class DisplayField {
  Module,          // lbl_Module
  Version,         // lbl_Version
  Description,     // mem_Description
  RecordLines,     // lbl_RecordLines
  TotalDatabytes,  // lbl_TotalDatabytes
  Highest,         // lbl_Highest
  Lowest,          // lbl_Lowest
  Exec,            // lbl_Exec
};

inline constexpr DisplayField kAllDisplayFields[] = {
    DisplayField::Module,         DisplayField::Version, DisplayField::Description,
    DisplayField::RecordLines,    DisplayField::TotalDatabytes, DisplayField::Highest,
    DisplayField::Lowest,         DisplayField::Exec,
};

// Font colour of the status line: black for progress and success, maroon (128, 0, 0) for failures.
enum class StatusColour { Black, Maroon };

// What the analysis run shows while it goes on: the result fields, the status line and its colour, and how far
// it has got.
// Texts handed over are 8-bit byte strings that never contain a byte 0 (the run cuts them there,
// as a label keeps text only up to its first byte 0).
class AnalysisDisplay {
 public:
  virtual ~AnalysisDisplay() = default;

  virtual void SetField(DisplayField field, std::string_view text) = 0;
  virtual void SetStatus(std::string_view text) = 0;
  virtual void SetStatusColour(StatusColour colour) = 0;

  // Told between blocks of input how many bytes of it the run has read and the input's size (0 when a stream does
  // not tell it in advance). Returning false cancels the run.
  virtual bool ShowProgress(std::uint64_t /*read*/, std::uint64_t /*size*/) { return true; }
};

}  // namespace varnok
