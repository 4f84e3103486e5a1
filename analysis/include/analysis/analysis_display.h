#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "analysis/data_blocks.h"

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

// What the memory map is built from at the end of a successful run with the map option on.
struct MapRequest {
  std::uint32_t lowest = 0;
  std::uint32_t highest = 0;
  const DataBlockStore* blocks = nullptr;  // the kept blocks, in record order
  bool has_exec_addr = false;
  std::uint32_t exec_addr = 0;
};

// Everything the analysis run reads from and writes to the window it runs for.
// Texts handed over are 8-bit byte strings that never contain a byte 0 (the run cuts them there,
// as a label keeps text only up to its first byte 0).
class AnalysisDisplay {
 public:
  virtual ~AnalysisDisplay() = default;

  // The input path: the folder text of mem_Path followed directly by the caption of lbl_Name.
  virtual std::string InputPath() const = 0;
  // The caption of lbl_Name, used as the memory map window's file name.
  virtual std::string FileName() const = 0;
  // Whether "Generate graphical memory map" is checked.
  virtual bool MapOption() const = 0;

  virtual void SetField(DisplayField field, std::string_view text) = 0;
  virtual void SetStatus(std::string_view text) = 0;
  virtual void SetStatusColour(StatusColour colour) = 0;

  // Destroys the memory map of the previous run, if there is one.
  virtual void DiscardMap() = 0;
  // Builds, shows, fills and marks the memory map. The blocks stay valid until the next run.
  virtual void BuildMap(const MapRequest& request) = 0;

  // A data block could not be allocated ("Out of memory!!"); called at most once per run.
  virtual void ReportOutOfMemory() = 0;
};

}  // namespace varnok
