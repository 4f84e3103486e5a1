#include "image/image_compare.h"

#include <gtest/gtest.h>

#include <string>
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
  const struct {
    const char* name;
    std::vector<Block> a;
    std::vector<Block> b;
    std::vector<DiffRange> ranges;
  } cases[] = {
      {"same bytes, other records", {{0x100, "abcdef"}}, {{0x103, "def"}, {0x100, "abc"}}, {}},
      {"last write wins in both", {{0x100, "abcd"}, {0x101, "X"}}, {{0x100, "aXcd"}}, {}},
      {"one byte", {{0x100, "abcd"}}, {{0x100, "abXd"}}, {{kDiff, {0x102, 0x102}}}},
      {"two runs apart", {{0x100, "abcdef"}}, {{0x100, "XbcdYY"}},
       {{kDiff, {0x100, 0x100}}, {kDiff, {0x104, 0x105}}}},
      {"only in one", {{0x10, "ab"}, {0x40, "cd"}}, {{0x11, "b"}, {0x80, "e"}},
       {{kA, {0x10, 0x10}}, {kA, {0x40, 0x41}}, {kB, {0x80, 0x80}}}},
      {"other bases", {{0x1000, "abc"}}, {{0x0, "z"}, {0x1001, "bc"}}, {{kB, {0, 0}}, {kA, {0x1000, 0x1000}}}},
      {"across a page border", {{0xF00, page}}, {{0xF00, std::string(4096, 'q')}}, {{kDiff, {0xF00, 0x1EFF}}}},
      {"a longer than b", {{0x0, page}}, {{0x0, page.substr(0, 10)}}, {{kA, {10, 0xFFF}}}},
      {"a record past 0xFFFFFFFF against none", {{0x100, "ab"}, {0xFFFFFFFC, "wxyz1234"}}, {{0x100, "ab"}},
       {{kA, {0x0, 0x3}}, {kA, {0xFFFFFFFC, 0xFFFFFFFF}}}},
      {"one record past 0xFFFFFFFF against two", {{0x100, "ab"}, {0xFFFFFFFC, "wxyz1234"}},
       {{0x0, "1234"}, {0x100, "ab"}, {0xFFFFFFFC, "wxyz"}}, {}},
  };
  for (const auto& c : cases) {
    std::vector<DiffRange> found;
    CompareImages(GridOf(c.a), GridOf(c.b), [&](const DiffRange& range) {
      found.push_back(range);
      return true;
    });
    EXPECT_EQ(found, c.ranges) << c.name;
  }
}

}  // namespace
}  // namespace varnok
