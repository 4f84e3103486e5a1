#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/address_range.h"
#include "memmap/map_grid.h"

namespace varnok {

// How two loaded images differ over a range of addresses.
enum class DiffKind : std::uint8_t { OnlyInA, OnlyInB, Different };

// A maximal range of addresses that differ in one way.
struct DiffRange {
  DiffKind kind = DiffKind::Different;
  AddressRange range;

  bool operator==(const DiffRange&) const = default;
};

// Compares the bytes two maps hold, whatever their base addresses, and calls report with every range where they
// differ, in address order from `from` to 0xFFFFFFFF; stops when report returns false. Reads both stores span by
// span, copying nothing. A range that begins before `from` is reported from `from` on.
void CompareImages(const MapGrid& a, const MapGrid& b, const std::function<bool(const DiffRange&)>& report,
                   std::uint32_t from = 0);

// The byte cells of one data row of two maps laid out alike, as masks of byte columns (bit c - 1 for column c).
struct RowDiff {
  std::uint32_t only_in_a = 0;
  std::uint32_t only_in_b = 0;
  std::uint32_t different = 0;  // filled in both with other bytes
};
RowDiff CompareRow(const RowCells& a, const RowCells& b);

// The ranges where two maps differ, at most `most` of them, and their count and bytes, the unlisted ones' too.
struct DiffList {
  std::vector<DiffRange> ranges;
  std::uint64_t count = 0;       // of every differing range
  std::uint64_t bytes = 0;       // of every differing range
  std::uint64_t more_bytes = 0;  // of the ranges past the listed ones
};
DiffList ListDifferences(const MapGrid& a, const MapGrid& b, std::size_t most);

// One entry per pixel row of a scroll bar's groove over a's data rows, as MapGrid::ScrollMarks lays them out: `mark`
// where one of the pixel's rows holds a difference from b, 0 elsewhere.
std::vector<std::uint8_t> DifferenceMarks(const MapGrid& a, const MapGrid& b, int pixels, std::uint8_t mark);

// The --diff lines: "Only in A: 0x00000010 - 0x0000001F" and its like, "Execution address: 0x00000100 in A, none in
// B", "Same image", and the lines that end them.
std::string DiffLine(const DiffRange& diff);
std::string ExecutionDiffLine(const std::optional<std::uint32_t>& exec_a, const std::optional<std::uint32_t>& exec_b);
// "... and 12 more differing bytes": what the lines left unshown.
std::string MoreDifferencesLine(std::uint64_t bytes);
// "Differences: 5 bytes in 2 ranges (A: 2048 bytes, B: 2112 bytes)".
std::string DiffCountLine(std::uint64_t bytes, std::uint64_t ranges, std::uint64_t loaded_a, std::uint64_t loaded_b);
inline constexpr const char* kSameImageLine = "Same image";

// What one address holds in each image: "0x08000123: 3A in A, 3B in B", "none" for a byte an image lacks.
std::string CompareReadout(std::uint32_t address, const ByteCell& a, const ByteCell& b);

// The number of addresses a map holds a byte for.
std::uint64_t LoadedBytes(const MapGrid& grid);

}  // namespace varnok
