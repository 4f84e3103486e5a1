// A map whose memory runs out while it is filled stays consistent: every page holds either its former bytes or the
// new ones, the pages of a block are written in order up to the one that failed, and nothing leaks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "memmap/map_grid.h"
#include "support/failing_allocation.h"

namespace varnok {
namespace {

TEST(MapAllocationTest, RunningOutOfMemoryLeavesEveryPageWholeAndLeaksNothing) {
  // Writes that take every way a page grows: into its record, into a buffer of its own, dense, and growing leaves.
  struct Step {
    std::uint32_t offset;
    std::uint32_t length;
  };
  std::vector<Step> steps;
  for (std::uint32_t k = 0; k < 40; ++k) steps.push_back({0x3000 + 97 * k, 40});   // one page turns big, then dense
  for (std::uint32_t k = 0; k < 300; ++k) steps.push_back({4096 * k + 4090, 12});  // records across page borders
  steps.push_back({0x100000 - 5000, 20000});                                       // pages across a leaf border
  for (std::uint32_t k = 0; k < 60; ++k) steps.push_back({0x3010 + 61 * k, 30});   // rewrites over all of them
  constexpr std::uint32_t kSpan = 0x130000;
  std::vector<std::uint8_t> source(20000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(i * 7 + 1);
  const auto apply = [&](std::vector<int>& plain, const Step& step) {
    std::copy(source.begin(), source.begin() + step.length, plain.begin() + step.offset);
  };
  const long live_before = test::LiveAllocations();
  // Fail the n-th allocation of the whole sequence, for every n until one runs through without failing.
  bool completed = false;
  long fail_at = 0;
  for (; !completed; ++fail_at) {
    {
      MapGrid grid;
      grid.Build(0, kSpan - 1);
      std::vector<int> before(kSpan, -1);  // the byte, or -1 where nothing was written
      test::FailAllocationAfter(fail_at);
      std::size_t step = 0;
      try {
        for (; step < steps.size(); ++step) {
          grid.FillBlock(steps[step].offset, static_cast<std::int32_t>(steps[step].length), source.data());
          apply(before, steps[step]);
        }
        completed = true;
      } catch (const std::bad_alloc&) {
      }
      test::StopFailingAllocations();
      std::vector<int> after = before;
      if (!completed) apply(after, steps[step]);
      // The failed block reached its pages in order: a leading part of them holds its bytes, the rest the former.
      bool past_failure = false;
      for (std::uint32_t page = 0; page < kSpan / 4096; ++page) {
        bool as_before = true;
        bool as_after = true;
        for (std::uint32_t row = page * 128; row < (page + 1) * 128; ++row) {
          const RowCells cells = grid.Row(static_cast<std::int32_t>(row) + 1);
          for (std::uint32_t c = 0; c < 32; ++c) {
            const int shown = (cells.filled >> c) & 1u ? cells.bytes[c] : -1;
            as_before = as_before && shown == before[row * 32 + c];
            as_after = as_after && shown == after[row * 32 + c];
          }
        }
        past_failure = past_failure || !as_after;
        ASSERT_TRUE(past_failure ? as_before : as_after) << "failing allocation " << fail_at << ", page " << page;
      }
    }
    ASSERT_EQ(test::LiveAllocations(), live_before) << "failing allocation " << fail_at;
  }
  EXPECT_GT(fail_at, 20);  // the sequence took many allocations, and each of them failed once
}

}  // namespace
}  // namespace varnok
