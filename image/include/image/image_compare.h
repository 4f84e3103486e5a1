#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/address_range.h"
#include "analysis/block_sink.h"
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

// What a StreamCompare found: every range where the images differ, in address order, the bytes each image loads,
// and maps of the bytes that the first differing ranges hold in each image, as many as it was asked to keep.
struct StreamedDiff {
  std::vector<DiffRange> ranges;
  std::uint64_t loaded_a = 0;
  std::uint64_t loaded_b = 0;
  MapGrid a;
  MapGrid b;
};

// Compares two images while two runs, side by side, hand their records over, without a map of either: what both
// runs have passed is compared and let go. The run that gets ahead waits while it holds more than a few MiB that the
// other has not reached. This works as long as each run's records come up the addresses; at the first that goes back
// or overlaps one before it, or that runs past 0xFFFFFFFF, the comparison gives up, and so it does at more differing
// ranges than it keeps in memory: the caller then compares maps of the two images instead.
class StreamCompare {
 public:
  // Keeps the bytes of the first `kept` differing bytes of ranges that both images hold.
  explicit StreamCompare(std::uint64_t kept);
  ~StreamCompare();
  StreamCompare(const StreamCompare&) = delete;
  StreamCompare& operator=(const StreamCompare&) = delete;

  // Where the run of image `side` (0 for A, 1 for B) hands its records, on one thread.
  BlockSink& Side(int side);
  // Tells that the run of image `side` has ended, on the thread that ran it; a failed run ends the comparison.
  void End(int side, bool parsed);
  bool GaveUp() const;
  // After both runs ended and parsed; nothing when the comparison gave up.
  std::optional<StreamedDiff> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

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

// The --diff line of a differing range: "Only in A: 0x00000010 - 0x0000001F" and its like.
std::string DiffLine(const DiffRange& diff);
inline constexpr const char* kSameImageLine = "Same image";

// What a comparison sums up to once its differing ranges are counted, and how many of their bytes the lines shown
// before it left out.
struct DiffSummary {
  std::uint64_t bytes = 0;           // of every differing range
  std::uint64_t ranges = 0;          // every differing range
  std::uint64_t unshown_bytes = 0;   // of the ranges or bytes that no line showed
  std::optional<std::uint32_t> exec_a;
  std::optional<std::uint32_t> exec_b;
  std::uint64_t loaded_a = 0;  // bytes each image loads
  std::uint64_t loaded_b = 0;

  bool Same() const { return bytes == 0 && exec_a == exec_b; }
};

// The lines that end the listing of the differing ranges, in order: "... and 12 more differing bytes" for what it
// left out, "Same image", "Execution address: 0x00000100 in A, none in B" where they differ, and
// "Differences: 5 bytes in 2 ranges (A: 2048 bytes, B: 2112 bytes)".
std::vector<std::string> DiffEndLines(const DiffSummary& summary);

// What one address holds in each image: "0x08000123: 3A in A, 3B in B", "none" for a byte an image lacks.
std::string CompareReadout(std::uint32_t address, const ByteCell& a, const ByteCell& b);

// The number of addresses a map holds a byte for.
std::uint64_t LoadedBytes(const MapGrid& grid);

}  // namespace varnok
