#pragma once
// How the program's windows sit on the desk, whatever its screen.
// A tool window opens beside its owner where the screen has room for it whole, otherwise
// centred over its owner but below the owner's menu bar, and always inside the screen's
// available area; one bigger than that area keeps its top-left corner on screen.
// The main window's terminal font is the largest of the offered sizes, up to the chosen
// one, at which the window fits the available area; the smallest when none does.
#include <QRect>
#include <QSize>
#include <functional>
#include <vector>

class QWidget;

namespace mirte {

// `owner` and the result are frame rectangles in screen pixels; `menuBottom` is the last
// screen row of the owner's menu bar; `size` is the tool window's frame size.
QRect PlaceBesideOwner(const QRect& owner, int menuBottom, QSize size, const QRect& available);

// `sizes` ascending; `outerSizeAt` tells the main window's frame size at a font size.
int LargestFittingFontSize(int wanted, const std::vector<int>& sizes,
                           const std::function<QSize(int)>& outerSizeAt, QSize available);

// Keeps a tool window out of the task bar and the pager from its next show on; a window
// manager that keeps no task bar ignores it, and off X11 nothing happens.
void KeepOffTaskbar(QWidget* window);

// Opens `window` (not yet shown) beside or over its parent window as above.
void PlaceToolWindow(QWidget* window);

}  // namespace mirte
