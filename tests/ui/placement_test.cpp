#include "ui/placement.h"

#include <gtest/gtest.h>

namespace varnok::ui {
namespace {

TEST(TitleBarOnScreen, PullsAWindowWhoseTitleBarNoScreenShowsOntoTheNearestScreen) {
  const QRect one(0, 0, 1024, 768);
  const QRect right(1024, 0, 1280, 1024);
  const QSize size(269, 419);
  const struct {
    const char* what;
    QPoint stored;
    QList<QRect> areas;
    QPoint placed;
  } cases[] = {
      {"on the screen", {495, 296}, {one}, {495, 296}},
      {"title bar partly above the top edge", {495, -20}, {one}, {495, -20}},
      {"title bar wholly above the top edge", {495, -30}, {one}, {495, 0}},
      {"title bar partly left of the screen", {-250, 100}, {one}, {-250, 100}},
      {"title bar wholly left of the screen", {-269, 100}, {one}, {0, 100}},
      {"far below and right", {5000, 3000}, {one}, {1024 - 269, 768 - 419}},
      {"far below and right of two screens", {5000, 3000}, {one, right}, {1024 + 1280 - 269, 1024 - 419}},
      {"on the second screen", {1500, 900}, {one, right}, {1500, 900}},
      {"below the first screen only", {100, 800}, {one, right}, {100, 768 - 419}},
      {"far left of two screens", {-3000, 50}, {right, one}, {0, 50}},
      {"no screen at all", {5000, 3000}, {}, {5000, 3000}},
  };
  for (const auto& c : cases) {
    const QPoint placed = TitleBarOnScreen(QRect(c.stored, size), c.areas);
    EXPECT_EQ(placed.x(), c.placed.x()) << c.what;
    EXPECT_EQ(placed.y(), c.placed.y()) << c.what;
  }
}

}  // namespace
}  // namespace varnok::ui
