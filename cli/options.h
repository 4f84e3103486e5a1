#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "report.h"

namespace varnok {

// The FILE argument that reads standard input.
inline constexpr const char* kStandardInput = "-";

// What the arguments of varnok-scan ask for.
struct ScanOptions {
  ReportLayout layout;
  bool quiet = false;
  bool strict = false;
  bool diff = false;
  unsigned jobs = 0;  // 0: one per core
  unsigned cores = 1;
  std::vector<std::string> files;
};

// The options and files, or the exit status when the arguments end the command before any file (help, version, a
// usage error with its message and the usage text on err).
std::optional<ScanOptions> ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                                          int& status);

}  // namespace varnok
