#include "memmap/grid_layout.h"

#include <gtest/gtest.h>

namespace varnok {
namespace {

// The map window's layout: address column 64, 32 byte columns of 16, ASCII column 264, rows of 24 with 1-pixel
// lines; the viewport shows the header row and data rows from the top row down.
GridLayout MapLayout(std::int32_t rows, int viewport_height, std::int32_t top_row = 1) {
  GridLayout layout;
  layout.SetColumnWidth(0, 64);
  layout.SetColumnWidth(33, 264);
  layout.SetRowCount(rows);
  layout.SetViewportHeight(viewport_height);
  layout.SetTopRow(top_row);
  return layout;
}

TEST(GridLayoutTest, ColumnsAddUpToTheDesignedGridWidth) {
  const GridLayout layout = MapLayout(2, 200);
  EXPECT_EQ(layout.ColumnsRight(), 874);  // 64 + 32 * 16 + 264 + 34 lines
  EXPECT_EQ(layout.ColumnLeft(1), 65);
  EXPECT_EQ(layout.ColumnLeft(33), 65 + 32 * 17);
}

TEST(GridLayoutTest, HitTestCountsGridLinesToTheCellBefore) {
  const GridLayout layout = MapLayout(100, 300, 40);
  const struct {
    int x, y;
    CellPos expected;
  } cases[] = {
      {0, 0, {0, 0}},          {64, 24, {0, 0}},      {65, 25, {1, 40}},     {65 + 16, 49, {1, 40}},
      {65 + 17, 50, {2, 41}},  {873, 30, {33, 40}},   {874, 30, {-1, 40}},   {-1, -1, {-1, -1}},
      {90, 25 * 60, {2, 99}}, {90, 25 * 61, {2, -1}},
  };
  for (const auto& c : cases) {
    const CellPos pos = layout.HitTest(c.x, c.y);
    EXPECT_EQ(pos.column, c.expected.column) << c.x << "," << c.y;
    EXPECT_EQ(pos.row, c.expected.row) << c.x << "," << c.y;
  }
}

TEST(GridLayoutTest, RowsInViewAndScrollRange) {
  const struct {
    std::int32_t rows;
    int height;
    std::int32_t top;
    std::int32_t visible, last_in_view;
    ScrollRange range;
  } cases[] = {
      {2, 234, 1, 8, 1, {1, 1, 8}},             // one data row: nothing to scroll
      {100, 234, 1, 8, 9, {1, 92, 8}},          // a partly shown ninth row counts as in view
      {100, 225, 1, 8, 8, {1, 92, 8}},          // exactly eight rows below the header
      {100, 10, 1, 1, 0, {1, 99, 1}},           // at least one row counts as visible, none is in view
      {134217729, 1000, 134217728 - 38, 39, 134217728, {1, 134217728 - 39 + 1, 39}},
  };
  for (const auto& c : cases) {
    const GridLayout layout = MapLayout(c.rows, c.height, c.top);
    EXPECT_EQ(layout.VisibleRowCount(), c.visible) << c.rows << "/" << c.height;
    EXPECT_EQ(layout.LastRowInView(), c.last_in_view) << c.rows << "/" << c.height;
    EXPECT_EQ(layout.ScrollBarRange(), c.range) << c.rows << "/" << c.height;
  }
}

TEST(GridLayoutTest, CellRectsAndTheTopRowThatShowsARow) {
  const GridLayout layout = MapLayout(100, 225, 10);
  EXPECT_EQ(layout.CellRect(0, 0), (PixelRect{0, 0, 64, 24}));
  EXPECT_EQ(layout.CellRect(1, 10), (PixelRect{65, 25, 16, 24}));
  EXPECT_EQ(layout.CellRect(33, 17), (PixelRect{65 + 32 * 17, 25 * 8, 264, 24}));
  EXPECT_TRUE(layout.CellRect(1, 9).Empty());
  EXPECT_TRUE(layout.CellRect(1, 18).Empty());
  EXPECT_TRUE(layout.CellRect(34, 10).Empty());
  EXPECT_EQ(layout.TopRowShowing(5), 5);
  EXPECT_EQ(layout.TopRowShowing(12), 10);
  EXPECT_EQ(layout.TopRowShowing(30), 23);
}

TEST(GridLayoutTest, DirtyBandsMapToColumnsAndDataRows) {
  const GridLayout layout = MapLayout(100, 225, 10);
  const IndexSpan columns = layout.ColumnsIn(65, 82);
  EXPECT_EQ(columns.first, 1);
  EXPECT_EQ(columns.last, 2);
  const IndexSpan all = layout.DataRowsIn(0, 224);
  EXPECT_EQ(all.first, 10);
  EXPECT_EQ(all.last, 17);
  const IndexSpan header_only = layout.DataRowsIn(0, 24);
  EXPECT_GT(header_only.first, header_only.last);
  const IndexSpan one = layout.DataRowsIn(60, 60);
  EXPECT_EQ(one.first, 11);
  EXPECT_EQ(one.last, 11);
}

}  // namespace
}  // namespace varnok
