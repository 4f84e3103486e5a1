#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis_run.h"
#include "analysis/record_warnings.h"
#include "image/image_compare.h"
#include "image/image_digest.h"
#include "regions/memory_regions.h"
#include "memmap/map_grid.h"

namespace varnok {

// What a region must satisfy for its file to pass: at most a share used, or to hold data at all.
struct RegionDemand {
  std::optional<std::uint32_t> max_use;  // in hundredths of a per cent
  std::string max_use_text;              // the limit as the option gave it
  bool required = false;
};

// A digest the file must have: of the image, or of a region; a CRC of the chosen kind, or a SHA-256.
struct DigestExpectation {
  std::optional<std::size_t> region;  // the region's index; none for the image
  std::optional<std::uint32_t> crc;   // the CRC expected, else
  std::array<std::uint8_t, 32> sha256{};  // the SHA-256 expected
};

// What varnok-scan found in one input, kept until its report is written.
struct FileReport {
  std::string name;  // the FILE argument; "-" for standard input
  AnalysisState state;  // its Ranges with the ranges option, after a successful run
  RunResult result;
  std::optional<std::int64_t> error_line;  // the line a failure names; none for a missing file, for instance
  // After a successful run: with the map option the map from the lowest to the highest address, with --diff the
  // map of every byte loaded.
  std::optional<MapGrid> grid;
  FileWarnings warnings;                   // after a successful run
  std::optional<ImageDigest> digest;       // with the digest option, after a successful run with data
  std::optional<RegionUsage> regions;      // with regions given, after a successful run
  std::vector<std::string> breaches;       // the region demands the data fails, as the report's lines say them
  // With the digest option and regions: each region's digest, none for a region left out or without data.
  std::vector<std::optional<Digest>> region_digests;
  std::vector<std::string> mismatches;     // the expected digests the file does not have, as the report says them
};

// What the report of one input holds and how it is laid out.
struct ReportLayout {
  bool map = false;
  bool ranges = false;
  bool json = false;
  bool several = false;  // one of several inputs: a "File:" line and an empty line around it, or one JSON line
  bool digest = false;
  std::uint8_t fill = 0xFF;  // the digest's gap fill
  CrcKind crc = CrcKind::kCrc32;
  std::vector<bool> digest_regions;  // which regions get their own digest, in the regions' order
  std::vector<DigestExpectation> expectations;
  std::vector<MemoryRegion> regions;
  unsigned cores = 1;  // the threads that make the map's text
  // What a release review asks of each region, in the regions' order (empty when nothing is asked).
  std::vector<RegionDemand> demands;
  bool diff_bytes = false;          // --diff lists the bytes of each differing range
  std::uint64_t diff_limit = 1000;  // --diff prints at most this many lines of differences
};

// The lines of the region demands that the usage fails, in the regions' order: "Region FLASH: 91.20 % used, limit
// 90 %", "Region BOOT: no data, required".
std::vector<std::string> RegionBreaches(const RegionUsage& usage, const ReportLayout& layout);

// The lines of the expected digests that the report's digests differ from: "Digest mismatch: SHA-256 is ...,
// expected ...".
std::vector<std::string> DigestMismatches(const FileReport& report, const ReportLayout& layout);

// Writes the report of one input.
void WriteReport(std::ostream& out, const FileReport& report, const ReportLayout& layout);

// The one line standard error gets for a file that failed or warned, without the program's name: "FILE:LINE: what"
// for a failure that names a line, else "FILE: what"; empty for a file that did neither.
std::string ProblemText(const FileReport& report);

// Writes how the images of two valid files differ, as `streamed` found it while they were read, or else comparing
// their grids as it goes; returns whether the images are the same.
bool WriteDiff(std::ostream& out, const FileReport& a, const FileReport& b, const ReportLayout& layout,
               const StreamedDiff* streamed = nullptr);

}  // namespace varnok
