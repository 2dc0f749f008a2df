#pragma once
// What the terminal targets check of a buffer after each input step: the cursor inside the
// screen (or the region, with relative coordinates), the region inside the screen, a pending
// wrap only at the last column, the invalid rectangle inside the screen, and, in the full
// check, every row from the oldest history row to the last screen row as wide as the screen
// in every item array. A broken invariant aborts through FUZZ_CHECK.
#include <cstddef>
#include <span>

#include "fuzz_check.h"
#include "terminal/terminal_buffer.h"

namespace mirte::fuzzing {

FUZZ_TARGET_CODE inline void CheckCursorInShape(const TTerminalBuffer& buffer) {
  const int history = buffer.SVRowCount() - buffer.RowCount();
  FUZZ_CHECK(history >= 0);
  FUZZ_CHECK(buffer.GetRegionTop() >= 1 && buffer.GetRegionTop() <= buffer.GetRegionBottom());
  FUZZ_CHECK(buffer.GetRegionBottom() <= buffer.RowCount());
  if (buffer.GetAbsoluteCoordinates()) {
    FUZZ_CHECK(buffer.GetCursorRow() >= 1 - history && buffer.GetCursorRow() <= buffer.RowCount());
    FUZZ_CHECK(buffer.GetCursorCol() >= 1 && buffer.GetCursorCol() <= buffer.ColCount());
    FUZZ_CHECK(!buffer.GetPendingWrap() || buffer.GetCursorCol() == buffer.ColCount());
  }
}

// Drains the invalid rectangle, which must lie on the screen.
FUZZ_TARGET_CODE inline void CheckInvalidRect(TTerminalBuffer& buffer) {
  TInvalidRect rect;
  if (buffer.GetInvalidRect(rect)) {
    FUZZ_CHECK(rect.Left >= 1 && rect.Left <= rect.Right && rect.Right <= buffer.ColCount());
    FUZZ_CHECK(rect.Top >= 1 && rect.Top <= rect.Bottom && rect.Bottom <= buffer.RowCount());
  }
}

// A row's items as wide as the screen's; its first and last item are read, so that the
// address sanitizer stops any row whose span claims storage the buffer does not have.
template <typename Item>
FUZZ_TARGET_CODE void CheckItems(std::span<const Item> items, std::size_t width) {
  FUZZ_CHECK(items.size() == width);
  if (items.empty()) return;
  volatile Item first = items.front();
  volatile Item last = items.back();
  (void)first;
  (void)last;
}

FUZZ_TARGET_CODE inline void CheckRow(const TTerminalBuffer& buffer, int row) {
  const std::size_t width = std::size_t(buffer.ColCount());
  const std::size_t charWidth = buffer.GetWideChars() ? 2 : 1;
  CheckItems(buffer.GetCharRow(row), width * charWidth);
  CheckItems(buffer.GetCharSetRow(row), width);
  CheckItems(buffer.GetAttrRow(row), width);
  CheckItems(buffer.GetForeColorRow(row), width);
  CheckItems(buffer.GetBackColorRow(row), width);
}

// Screen rows and the rows above read like screen rows; nothing lies above the oldest or
// below the last, and the history never holds more than its capacity.
// Every row is read, not only each block's first and last: a history that wraps maps the
// rows between them through its ring, and that mapping is what this check is here to catch.
FUZZ_TARGET_CODE inline void CheckEveryRow(const TTerminalBuffer& buffer) {
  CheckCursorInShape(buffer);
  FUZZ_CHECK(buffer.History().Count() <= buffer.History().Capacity());
  FUZZ_CHECK(buffer.RowsAbove() >= buffer.History().Count());
  for (int row = 1 - buffer.RowsAbove(); row <= buffer.RowCount(); ++row) CheckRow(buffer, row);
  FUZZ_CHECK(buffer.GetCharRow(-buffer.RowsAbove()).empty());
  FUZZ_CHECK(buffer.GetCharRow(buffer.RowCount() + 1).empty());
}

// The cheap form for every step: the cursor and the rows at the edges only.
FUZZ_TARGET_CODE inline void CheckEdgeRows(const TTerminalBuffer& buffer) {
  CheckCursorInShape(buffer);
  CheckRow(buffer, 1);
  CheckRow(buffer, buffer.RowCount());
  if (buffer.RowsAbove() > 0) {
    CheckRow(buffer, 0);
    CheckRow(buffer, 1 - buffer.RowsAbove());
  }
  FUZZ_CHECK(buffer.GetCharRow(-buffer.RowsAbove()).empty());
}

}  // namespace mirte::fuzzing
