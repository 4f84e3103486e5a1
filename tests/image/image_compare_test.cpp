#include "image/image_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "image_test_grid.h"

namespace varnok {
namespace {

using test::Block;
using test::GridOf;

TEST(CompareImages, ReportsEveryDifferingRangeInAddressOrder) {
  constexpr DiffKind kA = DiffKind::OnlyInA;
  constexpr DiffKind kB = DiffKind::OnlyInB;
  constexpr DiffKind kDiff = DiffKind::Different;
  const std::string page(4096, 'p');
  const std::string big(40 << 20, 'b');
  const struct {
    const char* name;
    std::vector<Block> a;
    std::vector<Block> b;
    std::vector<DiffRange> ranges;
    bool streams;  // both come up the addresses: StreamCompare finds the ranges too
  } cases[] = {
      {"same bytes, other records", {{0x100, "abcdef"}}, {{0x103, "def"}, {0x100, "abc"}}, {}, false},
      {"last write wins in both", {{0x100, "abcd"}, {0x101, "X"}}, {{0x100, "aXcd"}}, {}, false},
      {"one byte", {{0x100, "abcd"}}, {{0x100, "abXd"}}, {{kDiff, {0x102, 0x102}}}, true},
      {"two runs apart", {{0x100, "abcdef"}}, {{0x100, "XbcdYY"}},
       {{kDiff, {0x100, 0x100}}, {kDiff, {0x104, 0x105}}}, true},
      {"only in one", {{0x10, "ab"}, {0x40, "cd"}}, {{0x11, "b"}, {0x80, "e"}},
       {{kA, {0x10, 0x10}}, {kA, {0x40, 0x41}}, {kB, {0x80, 0x80}}}, true},
      {"other bases", {{0x1000, "abc"}}, {{0x0, "z"}, {0x1001, "bc"}}, {{kB, {0, 0}}, {kA, {0x1000, 0x1000}}}, true},
      {"across a page border", {{0xF00, page}}, {{0xF00, std::string(4096, 'q')}}, {{kDiff, {0xF00, 0x1EFF}}}, true},
      {"a longer than b", {{0x0, page}}, {{0x0, page.substr(0, 10)}}, {{kA, {10, 0xFFF}}}, true},
      {"a record past 0xFFFFFFFF against none", {{0x100, "ab"}, {0xFFFFFFFC, "wxyz1234"}}, {{0x100, "ab"}},
       {{kA, {0x0, 0x3}}, {kA, {0xFFFFFFFC, 0xFFFFFFFF}}}, false},
      {"one record past 0xFFFFFFFF against two", {{0x100, "ab"}, {0xFFFFFFFC, "wxyz1234"}},
       {{0x0, "1234"}, {0x100, "ab"}, {0xFFFFFFFC, "wxyz"}}, {}, false},
      // Far more than the comparison holds for the image that gets ahead: its run waits for the other's.
      {"40 MiB", {{0x0, big}}, {{0x0, big.substr(0, 30 << 20) + "X" + big.substr((30 << 20) + 1)}},
       {{kDiff, {30 << 20, 30 << 20}}}, true},
  };
  for (const auto& c : cases) {
    std::vector<DiffRange> found;
    const MapGrid a = GridOf(c.a);
    const MapGrid b = GridOf(c.b);
    CompareImages(a, b, [&](const DiffRange& range) {
      found.push_back(range);
      return true;
    });
    EXPECT_EQ(found, c.ranges) << c.name;
    // The same images handed over side by side, each by its own thread, in pieces of at most 64 KiB.
    StreamCompare compare(4);
    const auto run = [&](int side, const std::vector<Block>& blocks) {
      for (const Block& block : blocks) {
        for (std::size_t at = 0; at < block.bytes.size(); at += 64 << 10) {
          const std::size_t size = std::min<std::size_t>(64 << 10, block.bytes.size() - at);
          ASSERT_TRUE(compare.Side(side).Take(block.address + static_cast<std::uint32_t>(at),
                                              static_cast<std::int32_t>(size),
                                              reinterpret_cast<const std::uint8_t*>(block.bytes.data() + at)));
        }
      }
      compare.End(side, true);
    };
    std::thread second([&] { run(1, c.b); });
    run(0, c.a);
    second.join();
    const std::optional<StreamedDiff> streamed = compare.Finish();
    ASSERT_EQ(streamed.has_value(), c.streams) << c.name;
    if (!streamed) continue;
    EXPECT_EQ(streamed->ranges, c.ranges) << c.name;
    EXPECT_EQ(streamed->loaded_a, LoadedBytes(a)) << c.name;
    EXPECT_EQ(streamed->loaded_b, LoadedBytes(b)) << c.name;
    // It keeps the first four differing bytes of each image.
    const auto byte_at = [](const MapGrid& grid, std::uint64_t at) {
      const CellPos cell = grid.AddressToCell(static_cast<std::uint32_t>(at));
      return grid.ByteAt(cell.column, cell.row).value;
    };
    std::size_t kept = 0;
    for (const DiffRange& range : c.ranges) {
      if (range.kind != kDiff) continue;
      for (std::uint64_t at = range.range.first; at <= range.range.last && kept < 4; ++at, ++kept) {
        EXPECT_EQ(byte_at(streamed->a, at), byte_at(a, at)) << c.name;
        EXPECT_EQ(byte_at(streamed->b, at), byte_at(b, at)) << c.name;
      }
    }
  }
}

// The cells of a map compared with another: A laid out over its own rows, B read over rows that also cover A's, A
// widened to B's rows; each address then tells its kind from the two rows that hold it.
TEST(CompareRow, TellsEachAddressItsKind) {
  enum Kind { kSame, kOnlyA, kOnlyB, kDifferent, kNeither };
  const struct {
    const char* name;
    std::uint32_t lowest;  // of A's rows
    std::uint32_t highest;
    std::vector<Block> a;
    std::vector<Block> b;  // the lowest first
    std::uint32_t b_highest;
    std::uint32_t first_row;  // of the rows both are laid out over
    std::vector<std::pair<std::uint32_t, Kind>> cells;
  } cases[] = {
      {"one byte differs", 0x1000, 0x103F, {{0x1000, "abcd"}}, {{0x1000, "abXd"}}, 0x1003, 0x1000,
       {{0x1000, kSame}, {0x1002, kDifferent}, {0x1003, kSame}, {0x1004, kNeither}}},
      {"a block added above", 0x1000, 0x1003, {{0x1000, "ab"}}, {{0x1000, "ab"}, {0x2000, "z"}}, 0x2000, 0x1000,
       {{0x1001, kSame}, {0x1002, kNeither}, {0x2000, kOnlyB}}},
      {"a block added below, rows kept", 0x1005, 0x1008, {{0x1005, "ab"}}, {{0x0FF0, "y"}, {0x1006, "b"}}, 0x1006, 0x0FE5,
       {{0x0FF0, kOnlyB}, {0x1005, kOnlyA}, {0x1006, kSame}}},
      {"below 0: the rows start at B's", 0x10, 0x13, {{0x10, "a"}}, {{0x2, "q"}, {0x10, "b"}}, 0x10, 0x2,
       {{0x2, kOnlyB}, {0x10, kDifferent}}},
  };
  for (const auto& c : cases) {
    MapFiller fill_a;
    MapFiller fill_b;
    for (const auto& [filler, blocks] : {std::pair{&fill_a, &c.a}, std::pair{&fill_b, &c.b}}) {
      for (const Block& block : *blocks) {
        filler->Take(block.address, static_cast<std::int32_t>(block.bytes.size()),
                     reinterpret_cast<const std::uint8_t*>(block.bytes.data()));
      }
    }
    MapGrid a;
    fill_a.Finish(a, c.lowest, c.highest, std::nullopt);
    a.FindRegions();
    const AddressRange rows = CoveringRange(RowsRange(a), c.b.front().address, c.b_highest);
    EXPECT_EQ(rows.first, c.first_row) << c.name;
    MapGrid b;
    fill_b.Finish(b, rows.first, rows.last, std::nullopt);
    a.Widen(rows.first, rows.last);
    EXPECT_EQ(a.RowCount(), b.RowCount()) << c.name;
    for (const auto& [address, kind] : c.cells) {
      const CellPos cell = a.AddressToCell(address);
      const RowDiff diff = CompareRow(a.Row(cell.row), b.Row(cell.row));
      const std::uint32_t bit = 1u << (cell.column - 1);
      const Kind found = (diff.only_in_a & bit)   ? kOnlyA
                         : (diff.only_in_b & bit) ? kOnlyB
                         : (diff.different & bit) ? kDifferent
                         : a.ByteAt(cell.column, cell.row).filled ? kSame
                                                                  : kNeither;
      EXPECT_EQ(found, kind) << c.name << " at " << address;
    }
  }
}

}  // namespace
}  // namespace varnok
