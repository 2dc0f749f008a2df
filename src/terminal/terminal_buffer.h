#pragma once
// The cell grid behind the terminal window: characters, attributes, character sets and
// colours per cell, the cursor, the scroll region, tab stops and the area changed since the
// last paint. Positions given to and returned by the operations are 1-based; positions out
// of range are clamped and counts larger than the space left are cut, so no board byte can
// push the buffer out of shape. Only counts below 2 for the grid's size are refused, with
// an exception naming the operation.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "terminal/terminal_history.h"

namespace mirte {

// A colour as the board's host stores it: red in the low byte, then green, then blue
// (0x00BBGGRR). The painter turns it into a toolkit colour.
using TColor = std::uint32_t;

constexpr TColor kColorBlack = 0x000000;
constexpr TColor kColorSilver = 0xC0C0C0;

// Bits of a cell's attribute byte (TAttr::Bold, ...). The buffer only stores them; the
// painter gives them meaning.
struct TAttr {
  static constexpr std::uint8_t Bold = 0x01;
  static constexpr std::uint8_t Underline = 0x02;
  static constexpr std::uint8_t Strikethrough = 0x04;
  static constexpr std::uint8_t Blink = 0x08;
  static constexpr std::uint8_t Reverse = 0x10;
  static constexpr std::uint8_t Invisible = 0x20;
  static constexpr std::uint8_t Selected = 0x40;
};

// Thrown for grid sizes below 2; the buffer is left as it was.
class ETerminalError : public std::invalid_argument {
public:
  using std::invalid_argument::invalid_argument;
};

// A rows x columns array of items of 1, 2 or 4 bytes (any other size becomes 1), one per
// cell property. Rows and columns here are 0-based; requests outside the array are cut to
// it or ignored. The default item is what clearing and newly exposed cells receive.
// The array knows the band of storage rows written since it was last cleared whole, so that
// clearing, the blank-row test and replacing an item cost the rows in use, not the array.
class TTerminalArray {
public:
  TTerminalArray(int itemSize, int columns, int rows, std::uint32_t defaultItem);
  TTerminalArray(const TTerminalArray& other);
  TTerminalArray(TTerminalArray&&) noexcept = default;
  // Onto an array of the same shape and clean item, only the written bands are copied: the
  // rest of both storages already holds that item.
  TTerminalArray& operator=(const TTerminalArray& other);
  TTerminalArray& operator=(TTerminalArray&&) noexcept = default;

  int ItemSize() const { return itemSize_; }
  int ColCount() const { return columns_; }
  int RowCount() const { return rows_; }
  std::uint32_t DefaultItem() const { return defaultItem_; }
  void SetDefault(std::uint32_t value) { defaultItem_ = value; }

  void ClearAll();
  void ClearSpan(int row, int first, int last);
  // True when every item of the row is the default item (true outside the array).
  bool RowIsDefault(int row) const;
  // True when nothing was written since the last clear and the default is what clearing
  // left: every row is the default, known without reading one.
  bool AllDefault() const { return writtenFirst_ > writtenLast_ && cleanItem_ == AsItem(defaultItem_); }
  // Items from col + n move left by n; the last n items of the row take the default.
  void Delete(int n, int row, int col);
  // Items from col move right by n (the last n fall off); col .. col + n - 1 take the default.
  void Insert(int n, int row, int col);
  void Replace(std::uint32_t oldItem, std::uint32_t newItem);
  // n > 0 moves rows first + n .. last up to first; n < 0 moves them down by -n. When |n|
  // exceeds last - first nothing moves. The rows left behind (all of them when nothing
  // moved) take the default.
  void ScrollRows(int n, int first, int last);
  // Copies min(count, columns - col) items of this array's item size into the row.
  void Write(const void* items, int count, int col, int row);
  void Resize(int rows, int columns);

  // Address of an item; nullptr outside the array.
  std::byte* GetItemPtr(int row, int col);
  const std::byte* GetItemPtr(int row, int col) const;
  std::uint32_t Get(int row, int col) const;
  void Set(int row, int col, std::uint32_t value);
  // Unchecked writes for arrays of 1- and 4-byte items; row and col must lie inside.
  void PutByte(int row, int col, std::uint8_t value) {
    TouchRow(row)[col] = std::byte(value);
  }
  void PutWord(int row, int col, std::uint32_t value) {
    std::memcpy(TouchRow(row) + std::size_t(col) * 4, &value, 4);
  }

private:
  // Every field but the storage.
  void TakeShape(const TTerminalArray& other);
  void Fill(std::byte* at, int count, std::uint32_t value);
  std::uint32_t Load(const std::byte* at) const;
  void Store(std::byte* at, std::uint32_t value);
  std::byte* Bytes() { return reinterpret_cast<std::byte*>(storage_.get()); }
  const std::byte* Bytes() const { return reinterpret_cast<const std::byte*>(storage_.get()); }
  std::size_t StorageWords() const { return (std::size_t(rows_) * RowBytes() + 3) / 4; }
  std::byte* RowPtr(int row) { return Bytes() + std::size_t(rowSlots_[row]) * RowBytes(); }
  const std::byte* RowPtr(int row) const {
    return Bytes() + std::size_t(rowSlots_[row]) * RowBytes();
  }
  std::size_t RowBytes() const { return std::size_t(columns_) * std::size_t(itemSize_); }
  bool Contains(int row, int col) const {
    return row >= 0 && row < rows_ && col >= 0 && col < columns_;
  }
  // Widens the written band to the row's storage slot and gives the row's items, with one
  // look-up of the slot: every character put on screen takes this path five times.
  std::byte* TouchRow(int row) {
    const int slot = rowSlots_[std::size_t(row)];
    if (slot < writtenFirst_) writtenFirst_ = slot;
    if (slot > writtenLast_) writtenLast_ = slot;
    return Bytes() + std::size_t(slot) * RowBytes();
  }
  std::uint32_t AsItem(std::uint32_t value) const {
    return itemSize_ == 1 ? value & 0xFF : itemSize_ == 2 ? value & 0xFFFF : value;
  }
  bool SlotWritten(int slot) const { return slot >= writtenFirst_ && slot <= writtenLast_; }

  int itemSize_;
  int columns_;
  int rows_;
  std::uint32_t defaultItem_;
  // Held in 32-bit words so rows of 4-byte items can be read as colours in place; allocated
  // unfilled, since the constructor and the copies write every item themselves.
  std::unique_ptr<std::uint32_t[]> storage_;
  // Words allocated, at least StorageWords(): a copy from a smaller array keeps the storage.
  std::size_t allocatedWords_ = 0;
  // The storage slot of each row. Scrolling rotates this map instead of moving the cells,
  // so a line feed at the bottom costs one cleared row, not a copy of the whole screen.
  std::vector<int> rowSlots_;
  // Storage slots outside writtenFirst_ .. writtenLast_ hold only cleanItem_ (an empty band
  // when first > last). Slots, not rows, because scrolling moves rows between slots.
  int writtenFirst_ = 0;
  int writtenLast_ = -1;
  std::uint32_t cleanItem_ = 0;
};

// A block of changed cells in 1-based screen coordinates, bounds included.
struct TInvalidRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TInvalidRect&) const = default;
};

// The window that shows the buffer. CellsChanged is called when cells change while no
// change is pending; later changes join the pending area without another call until the
// window drains it with GetInvalidRect. It must not paint from inside the call (post an
// event instead): the buffer is in the middle of an operation.
class ITerminalNotify {
public:
  virtual ~ITerminalNotify() = default;
  virtual void CellsChanged() = 0;
};

// One cell as the painter and the selection read it.
struct TTerminalCell {
  std::uint16_t Char = ' ';
  std::uint8_t CharSet = 0;
  std::uint8_t Attr = 0;
  TColor Fore = kColorSilver;
  TColor Back = kColorBlack;
};

class TTerminalBuffer {
public:
  // Called after every row scroll with the count and the first and last row in 1-based
  // screen coordinates (history rows come out as 0 or less).
  using TScrollEvent = std::function<void(TTerminalBuffer&, int count, int first, int last)>;
  // Called after every cursor change with the 1-based cursor row and column.
  using TCursorEvent = std::function<void(TTerminalBuffer&, int row, int col)>;

  // Starts at 80 columns, 200 rows of which 24 visible; the owner applies its own counts.
  explicit TTerminalBuffer(bool wideChars = false);

  // --- Cursor -----------------------------------------------------------------------
  void GotoRowCol(int row, int col);
  void SetCursorRow(int row);
  void SetCursorCol(int col);
  int GetCursorRow() const;
  int GetCursorCol() const;
  void CarriageReturn();
  void CursorBackspace();
  void LineFeed();
  void CursorUp(bool scroll);
  void CursorDown(bool scroll);
  void CursorLeft(bool wrap, bool scroll);
  void CursorRight(bool wrap, bool scroll);
  void TabForward();
  void TabBackward();
  void VTabForward();
  void VTabBackward();
  void SetTabStop();
  void ClearTabStop();
  void ClearAllTabStops();
  void SetVTabStop();
  void ClearVTabStop();
  void ClearAllVTabStops();

  // --- Writing and editing --------------------------------------------------------------
  void PutChar(std::uint16_t ch);
  // Each byte is one character.
  void PutString(std::string_view text);
  void InsertChars(int n);
  void DeleteChars(int n);
  void InsertLines(int n);
  void DeleteLines(int n);
  void EraseChars(int n);
  void EraseLineFromCursor();
  void EraseLineToCursor();
  void EraseWholeLine();
  void EraseScreenFromCursor();
  void EraseScreenToCursor();
  void EraseScreen();
  void ClearScreenHome();
  void ResetBuffer();

  // --- Attributes, character set and colours --------------------------------------------
  void SetCurrentAttributes(std::uint8_t attr);
  std::uint8_t GetCurrentAttributes() const { return currentAttributes_; }
  void SetDefaultAttributes(std::uint8_t attr) { defaultAttributes_ = attr; }
  std::uint8_t GetDefaultAttributes() const { return defaultAttributes_; }
  void SetCurrentCharSet(std::uint8_t charSet);
  std::uint8_t GetCurrentCharSet() const { return currentCharSet_; }
  void SetCurrentForeColor(TColor color);
  void SetCurrentBackColor(TColor color);
  TColor GetCurrentForeColor() const { return currentForeColor_; }
  TColor GetCurrentBackColor() const { return currentBackColor_; }
  // Cells in the old default colour take the new one; the erase item stays as it is.
  void SetDefaultForeColor(TColor color);
  void SetDefaultBackColor(TColor color);
  TColor GetDefaultForeColor() const { return defaultForeColor_; }
  TColor GetDefaultBackColor() const { return defaultBackColor_; }
  void SetDefaultChar(std::uint8_t ch);
  std::uint8_t GetDefaultChar() const { return defaultChar_; }

  // --- Modes ----------------------------------------------------------------------------
  // On: 1-based positions count from the screen's top left; off: from the region's.
  bool GetAbsoluteCoordinates() const { return absoluteCoordinates_; }
  void SetAbsoluteCoordinates(bool on) { absoluteCoordinates_ = on; }
  bool GetWrapAtMargin() const { return wrapAtMargin_; }
  void SetWrapAtMargin(bool on) { wrapAtMargin_ = on; }
  bool GetAutoWrap() const { return autoWrap_; }
  void SetAutoWrap(bool on) { autoWrap_ = on; }
  bool GetInsertMode() const { return insertMode_; }
  void SetInsertMode(bool on) { insertMode_ = on; }
  bool GetNewLineMode() const { return newLineMode_; }
  void SetNewLineMode(bool on) { newLineMode_ = on; }
  // The last character went into the region's last column and the cursor stayed there.
  bool GetPendingWrap() const { return pendingWrap_; }

  // --- Region and size ------------------------------------------------------------------
  void SetScrollRegion(int top, int bottom);
  void UseScrollRegion(bool on);
  bool GetRegionActive() const { return regionActive_; }
  // 1-based screen rows of the region in force.
  int GetRegionTop() const { return regionTop_ - FirstScreenRow() + 1; }
  int GetRegionBottom() const { return regionTop_ + regionHeight_ - FirstScreenRow(); }
  void tbSetColCount(int n);
  void tbSetRowCount(int n);
  void tbSetSVRowCount(int n);
  int ColCount() const { return columns_; }
  int RowCount() const { return visibleRows_; }
  int SVRowCount() const { return totalRows_; }
  bool GetWideChars() const { return wideChars_; }

  // --- History --------------------------------------------------------------------------
  // Rows that leave the top of the buffer (a scroll of the whole screen, EraseScreen) are
  // kept in the history; a scroll region never feeds it. The board cannot address these
  // rows: they are only read, as screen rows 0, -1, -2 ... (0 the newest), by the row
  // accessors below. ClearScreenHome adds the rows it clears (from the first to the last
  // row that holds anything, so that a run of clears adds nothing), ResetBuffer and a new
  // column count drop them all.
  const TTerminalHistory& History() const { return history_; }
  void SetHistoryCapacity(int rows) { history_.SetCapacity(rows); }
  // Rows above screen row 1 that can be read: the history's and any unused buffer rows'.
  int RowsAbove() const { return FirstScreenRow() + history_.Count(); }

  // --- For the painter and the terminal control -----------------------------------------
  // Items of a 1-based screen row from the region's left column on; rows 0 and less are
  // the rows above the screen (see History), empty beyond them and below the screen.
  // Characters are one byte per cell (two, native order, with wide characters).
  std::span<const std::uint8_t> GetCharRow(int row) const;
  std::span<const std::uint8_t> GetCharSetRow(int row) const;
  std::span<const std::uint8_t> GetAttrRow(int row) const;
  std::span<const TColor> GetForeColorRow(int row) const;
  std::span<const TColor> GetBackColorRow(int row) const;
  // One cell at a 1-based screen position (rows above the screen included); an erased
  // cell outside them.
  TTerminalCell GetCell(int row, int col) const;
  // Changes one cell's attribute byte (the selection's 0x40 bit), rows above the screen
  // included, and marks it changed.
  void SetCellAttributes(int row, int col, std::uint8_t attr);
  // Marks a block of 1-based screen cells changed, cut to the screen.
  void Invalidate(int left, int top, int right, int bottom);

  // Takes the bounding rectangle of every change since the last call; false if none.
  bool GetInvalidRect(TInvalidRect& rect);
  // For a window that moves its own pixels when the whole screen scrolls up: such a scroll
  // then marks changed only the row it brings in (changes before it move up with their
  // cells) and is counted, for the window to take before it repaints the changes.
  void SetWindowScrolls(bool on);
  // Whole-screen scrolls up since the last call, at most the screen's height; at that
  // height the whole screen is marked changed as well.
  int TakeScrolledRows() { return std::exchange(scrolledRows_, 0); }
  bool HasInvalidRect() const { return invalidPending_; }
  // True once after any cursor change.
  bool GetCursorMoved();

  // The window told about changes; it is told at once if changes are already pending.
  void SetWindowHandle(ITerminalNotify* window);
  void ClearWindowHandle() { window_ = nullptr; }

  TScrollEvent OnScroll;
  TCursorEvent OnCursorMoved;

private:
  int FirstScreenRow() const { return totalRows_ - visibleRows_; }
  int RegionLeft() const { return regionLeft_; }
  int RegionRight() const { return regionLeft_ + regionWidth_ - 1; }
  int RegionTopRow() const { return regionTop_; }
  int RegionBottomRow() const { return regionTop_ + regionHeight_ - 1; }
  int ScreenRowToInternal(int row) const { return row - 1 + FirstScreenRow(); }

  template <typename Operation>
  void ForEachArray(Operation operation);
  void CursorChanged();
  void InvalidateInternal(int firstCol, int firstRow, int lastCol, int lastRow);
  void InvalidateScreen();
  void InvalidateResizedScreen();
  void ScrollAllRows(int n, int first, int last);
  void ScrollUpAtBottom();
  void MoveInvalidRectUp();
  void ScrollDownAtTop();
  void EraseCells(int row, int first, int last);
  void SetDefaultTabStops();
  std::span<const std::uint8_t> ByteRow(const TTerminalArray& array, int row) const;
  // The history index of a screen row above the buffer's own rows, or -1.
  int HistoryIndex(int row) const;
  void PushToHistory(int internalRow);
  // Every cell of the row as clearing leaves it.
  bool RowIsBlank(int internalRow) const;
  // Every cell of every row so, known from the arrays alone.
  bool AllRowsBlank() const;

  std::uint8_t currentAttributes_ = 0;
  TColor currentBackColor_ = kColorBlack;
  bool pendingWrap_ = false;
  std::uint8_t currentCharSet_ = 0;
  int columns_ = 80;
  int cursorCol_ = 0;
  bool cursorMoved_ = true;
  int cursorRow_ = 0;
  std::uint8_t defaultChar_ = ' ';
  std::uint8_t defaultAttributes_ = 0;
  std::uint8_t defaultCharSet_ = 0;
  TColor defaultBackColor_ = kColorBlack;
  TColor defaultForeColor_ = kColorSilver;
  std::uint16_t defaultWideChar_ = ' ';
  int regionLeft_ = 0;
  int regionTop_ = 0;
  int regionWidth_ = 80;
  int regionHeight_ = 24;
  TColor currentForeColor_ = kColorSilver;
  // Tab stops one byte each (1: set), so that copying a buffer copies them in one block.
  std::vector<std::uint8_t> horzTabStops_;
  bool invalidPending_ = false;
  TInvalidRect invalidRect_;
  bool windowScrolls_ = false;
  int scrolledRows_ = 0;
  int visibleRows_ = 24;
  int storedRegionTop_ = 0;
  int storedRegionBottom_ = 0;
  int totalRows_ = 200;
  bool absoluteCoordinates_ = true;
  bool wrapAtMargin_ = true;
  bool autoWrap_ = true;
  bool insertMode_ = false;
  bool newLineMode_ = false;
  bool regionActive_ = false;
  bool wideChars_ = false;
  // Looked up by internal row, so sized to all rows rather than the visible ones.
  std::vector<std::uint8_t> vertTabStops_;
  TTerminalArray chars_;
  TTerminalArray charSets_;
  TTerminalArray attributes_;
  TTerminalArray foreColors_;
  TTerminalArray backColors_;
  TTerminalHistory history_;
  ITerminalNotify* window_ = nullptr;
};

}  // namespace mirte
