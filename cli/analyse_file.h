#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/scan.h"
#include "options.h"
#include "progress_line.h"
#include "report.h"

namespace varnok {

// Analyses input number `index` as the options ask; nullptr when not even the report's own memory could be had.
// With `compared`, the comparison of --diff takes the records instead of a map, and the run stops when it gives up.
std::unique_ptr<FileReport> AnalyseFile(std::size_t index, const ScanOptions& options, const ScanContext& context,
                                        ProgressLine& progress, BlockSink* compared = nullptr);

// The exit status one report gives; a null report ran out of memory.
int FileStatus(const FileReport* report, bool strict);

// Whether `name` names a regular file, which can be read again.
bool IsRegularFile(const std::string& name);

// The sizes of the inputs that tell theirs beforehand, added up.
std::uint64_t InputBytes(const std::vector<std::string>& files);

}  // namespace varnok
