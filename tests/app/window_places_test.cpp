// Where a tool window is put: inside the screen's available area whatever it asks for.
#include "app/window_places.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

TEST(WindowPlacesTest, AWindowIsMovedAndShrunkIntoTheAvailableArea) {
  const QRect screen(0, 30, 1024, 738);
  const struct {
    QRect wanted, placed;
  } cases[] = {
      {{100, 100, 500, 400}, {100, 100, 500, 400}},   // fits: left alone
      {{-15, 100, 1100, 520}, {0, 100, 1024, 520}},   // too wide and off the left edge
      {{900, 600, 400, 300}, {624, 468, 400, 300}},   // off the bottom right corner
      {{10, 0, 300, 900}, {10, 30, 300, 738}},        // too tall, above the panel
      {{3000, -500, 200, 200}, {824, 30, 200, 200}},  // on a screen no longer there
  };
  for (const auto& c : cases) EXPECT_EQ(FitInside(c.wanted, screen), c.placed) << c.wanted.x() << "," << c.wanted.y();
  EXPECT_EQ(FitInside({5, 5, 10, 10}, QRect()), QRect(5, 5, 10, 10)) << "no screen known";
}

}  // namespace
}  // namespace mirte
