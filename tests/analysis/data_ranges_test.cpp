#include "analysis/data_ranges.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "support/range_list.h"

namespace varnok {
namespace {

using Records = std::vector<std::pair<std::uint32_t, std::uint32_t>>;  // address, length

TEST(DataRanges, MergeAdjacentAndOverlappingRecords) {
  const struct {
    const char* name;
    Records records;
    std::vector<AddressRange> ranges;
  } cases[] = {
      {"one byte", {{0x1234, 1}}, {{0x1234, 0x1234}}},
      {"no bytes", {{0x1234, 0}}, {}},
      {"adjacent", {{0x318, 16}, {0x328, 12}}, {{0x318, 0x333}}},
      {"adjacent, later record first", {{0x328, 12}, {0x318, 16}}, {{0x318, 0x333}}},
      {"one address apart", {{0, 4}, {5, 4}}, {{0, 3}, {5, 8}}},
      {"overlapping", {{0x100, 16}, {0x108, 16}}, {{0x100, 0x117}}},
      {"contained", {{0x100, 32}, {0x108, 4}}, {{0x100, 0x11F}}},
      {"one record joins three", {{0, 2}, {4, 2}, {8, 2}, {1, 8}}, {{0, 9}}},
      {"past 0xFFFFFFFF", {{0xFFFFFFFC, 8}}, {{0, 3}, {0xFFFFFFFC, 0xFFFFFFFF}}},
      {"last address", {{0xFFFFFFFF, 1}, {0xFFFFFFFE, 1}}, {{0xFFFFFFFE, 0xFFFFFFFF}}},
      {"first and last address stay apart", {{0, 1}, {0xFFFFFFFF, 1}}, {{0, 0}, {0xFFFFFFFF, 0xFFFFFFFF}}},
  };
  for (const auto& c : cases) {
    DataRanges ranges;
    for (const auto& [address, length] : c.records) ranges.Add(address, length);
    EXPECT_EQ(test::ListOf(ranges), c.ranges) << c.name;
  }
}

// Against the addresses themselves: random records over a small space, in and out of order.
TEST(DataRanges, EqualTheSetOfWrittenAddresses) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    constexpr std::uint32_t kSpace = 600;
    std::vector<bool> written(kSpace, false);
    DataRanges ranges;
    const int records = 1 + static_cast<int>(random() % 40);
    std::uint32_t next = static_cast<std::uint32_t>(random() % 100);
    for (int r = 0; r < records; ++r) {
      // Mostly one after another, as files are written, sometimes anywhere.
      const std::uint32_t address = random() % 3 == 0 ? static_cast<std::uint32_t>(random() % 500) : next;
      const std::uint32_t length = static_cast<std::uint32_t>(random() % 20);
      for (std::uint32_t a = address; a < address + length && a < kSpace; ++a) written[a] = true;
      ranges.Add(address, length);
      next = address + length + static_cast<std::uint32_t>(random() % 3);
    }
    std::vector<AddressRange> expected;
    for (std::uint32_t a = 0; a < kSpace; ++a) {
      if (!written[a]) continue;
      if (!expected.empty() && expected.back().last + 1 == a) {
        expected.back().last = a;
      } else {
        expected.push_back({a, a});
      }
    }
    ASSERT_EQ(test::ListOf(ranges), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace varnok
