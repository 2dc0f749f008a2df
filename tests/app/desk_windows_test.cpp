#include "app/desk_windows.h"

#include <gtest/gtest.h>

#include <map>

namespace mirte {
namespace {

const QRect kScreen(0, 0, 1024, 768);
const QSize kEpix(575, 453);

struct PlacementCase {
  const char* what;
  QRect owner;
  int menuBottom;
  QRect expected;
};

TEST(DeskWindowsTest, ToolWindowOpensBesideItsOwnerOrOverItBelowTheMenuBar) {
  const PlacementCase cases[] = {
      {"room on the right", QRect(0, 100, 400, 300), 140, QRect(400, 100, 575, 453)},
      {"room only on the left", QRect(600, 100, 420, 300), 140, QRect(25, 100, 575, 453)},
      {"beside, pulled up to stay on screen", QRect(0, 500, 400, 200), 540, QRect(400, 315, 575, 453)},
      {"no room beside: centred, below the menu bar", QRect(185, 160, 655, 470), 197,
       QRect(225, 198, 575, 453)},
      {"centred already clears the menu bar", QRect(100, 0, 800, 768), 40, QRect(212, 157, 575, 453)},
      {"below the menu bar would leave the screen", QRect(0, 300, 1024, 468), 340, QRect(224, 315, 575, 453)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlaceBesideOwner(c.owner, c.menuBottom, kEpix, kScreen), c.expected) << c.what;
  }
}

TEST(DeskWindowsTest, WindowBiggerThanTheScreenKeepsItsTopLeftCornerOnIt) {
  const QRect available(0, 30, 800, 570);
  const QRect placed = PlaceBesideOwner(QRect(-50, -20, 700, 500), 10, QSize(900, 700), available);
  EXPECT_EQ(placed.topLeft(), QPoint(0, 30));
}

TEST(DeskWindowsTest, FontIsTheLargestUpToTheChosenOneThatFits) {
  // The main window's frame sizes at each font size, as measured on a real desk.
  const std::map<int, QSize> outer = {{8, QSize(573, 425)}, {10, QSize(654, 475)}, {12, QSize(816, 550)},
                                      {16, QSize(1059, 650)}};
  auto at = [&](int size) { return outer.at(size); };
  const std::vector<int> sizes = {8, 10, 12, 16};
  EXPECT_EQ(LargestFittingFontSize(16, sizes, at, QSize(1024, 768)), 12);
  EXPECT_EQ(LargestFittingFontSize(16, sizes, at, QSize(1280, 1024)), 16);
  EXPECT_EQ(LargestFittingFontSize(10, sizes, at, QSize(1280, 1024)), 10) << "never larger than chosen";
  EXPECT_EQ(LargestFittingFontSize(12, sizes, at, QSize(800, 600)), 10);
  EXPECT_EQ(LargestFittingFontSize(16, sizes, at, QSize(1024, 549)), 10) << "height decides too";
  EXPECT_EQ(LargestFittingFontSize(12, sizes, at, QSize(320, 240)), 8) << "the smallest when none fits";
}

}  // namespace
}  // namespace mirte
