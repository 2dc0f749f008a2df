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

inline void CheckCursorInShape(const TTerminalBuffer& buffer) {
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
inline void CheckInvalidRect(TTerminalBuffer& buffer) {
  TInvalidRect rect;
  if (buffer.GetInvalidRect(rect)) {
    FUZZ_CHECK(rect.Left >= 1 && rect.Left <= rect.Right && rect.Right <= buffer.ColCount());
    FUZZ_CHECK(rect.Top >= 1 && rect.Top <= rect.Bottom && rect.Bottom <= buffer.RowCount());
  }
}

// A row's items as wide as the screen's; its first and last item are read, so that the
// address sanitizer stops any row whose span claims storage the buffer does not have.
template <typename Item>
void CheckItems(std::span<const Item> items, std::size_t width) {
  FUZZ_CHECK(items.size() == width);
  if (items.empty()) return;
  volatile Item first = items.front();
  volatile Item last = items.back();
  (void)first;
  (void)last;
}

inline void CheckRow(const TTerminalBuffer& buffer, int row) {
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
// The rows come from two blocks: the buffer's own rows (screen rows and the unused ones
// above them, each property one rows x columns array) and, above those, the history (one
// capacity x columns ring per property). Every accessor takes a row's width from its
// block, never from the row, and finds a row by one bounds test per block, so the rows
// between a block's first and last row read like those two. Checking the first and last
// row of each block and the rows just outside therefore checks every row, in four rows
// instead of all of them (a default buffer with its history has over 260).
inline void CheckEveryRow(const TTerminalBuffer& buffer) {
  CheckCursorInShape(buffer);
  FUZZ_CHECK(buffer.History().Count() <= buffer.History().Capacity());
  FUZZ_CHECK(buffer.RowsAbove() >= buffer.History().Count());
  const int ownRowsAbove = buffer.RowsAbove() - buffer.History().Count();
  // The buffer's own rows: screen rows 1 - ownRowsAbove .. RowCount().
  CheckRow(buffer, 1 - ownRowsAbove);
  CheckRow(buffer, buffer.RowCount());
  if (buffer.History().Count() > 0) {
    CheckRow(buffer, 1 - buffer.RowsAbove());
    CheckRow(buffer, -ownRowsAbove);
  }
  FUZZ_CHECK(buffer.GetCharRow(-buffer.RowsAbove()).empty());
  FUZZ_CHECK(buffer.GetCharRow(buffer.RowCount() + 1).empty());
}

// The cheap form for every step: the cursor and the rows at the edges only.
inline void CheckEdgeRows(const TTerminalBuffer& buffer) {
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
