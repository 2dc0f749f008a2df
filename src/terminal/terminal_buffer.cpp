#include "terminal/terminal_buffer.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

namespace mirte {

namespace {

int ValidItemSize(int size) { return (size == 1 || size == 2 || size == 4) ? size : 1; }

// Repeats the first `filled` bytes at `at` up to `total` bytes, doubling what is copied each
// time, so a pattern of any item size costs a few copies rather than a loop over items.
void Replicate(std::byte* at, std::size_t filled, std::size_t total) {
  while (filled < total) {
    const std::size_t chunk = std::min(filled, total - filled);
    std::memcpy(at + filled, at, chunk);
    filled += chunk;
  }
}

// Moves the first `by` of `count` row slots to the end. Rows scroll a few at a time, so the
// few are set aside and the rest moved in one copy, where an element-wise rotation would
// swap every slot of the range.
void RotateLeft(int* at, std::size_t count, std::size_t by) {
  constexpr std::size_t kAside = 64;
  int aside[kAside];
  const std::size_t rest = count - by;
  if (by <= kAside) {
    std::memcpy(aside, at, by * sizeof(int));
    std::memmove(at, at + by, rest * sizeof(int));
    std::memcpy(at + rest, aside, by * sizeof(int));
  } else if (rest <= kAside) {
    std::memcpy(aside, at + by, rest * sizeof(int));
    std::memmove(at + rest, at, by * sizeof(int));
    std::memcpy(at, aside, rest * sizeof(int));
  } else {
    std::rotate(at, at + by, at + count);
  }
}

// Board bytes drive these conversions, so clamp in 64 bits before narrowing.
int ClampToRange(long long value, int low, int high) {
  return int(std::clamp<long long>(value, low, high));
}

}  // namespace

// --- TTerminalArray -------------------------------------------------------------------------

TTerminalArray::TTerminalArray(int itemSize, int columns, int rows, std::uint32_t defaultItem)
    : itemSize_(ValidItemSize(itemSize)),
      columns_(std::max(columns, 0)),
      rows_(std::max(rows, 0)),
      defaultItem_(defaultItem) {
  allocatedWords_ = StorageWords();
  storage_ = std::make_unique_for_overwrite<std::uint32_t[]>(allocatedWords_);
  // The bytes after the last row, up to a whole word, belong to no item; zeroed so that
  // copies copy defined bytes.
  if (StorageWords() > 0) storage_[StorageWords() - 1] = 0;
  // One row filled, then copied over the rest in doubling runs: a 4-byte colour is no
  // repeated byte, so filling item by item would stay a loop over every cell.
  if (rows_ > 0 && columns_ > 0) {
    Fill(Bytes(), columns_, defaultItem);
    Replicate(Bytes(), RowBytes(), std::size_t(rows_) * RowBytes());
  }
  rowSlots_.resize(std::size_t(rows_));
  std::iota(rowSlots_.begin(), rowSlots_.end(), 0);
  cleanItem_ = AsItem(defaultItem);
  writtenFirst_ = rows_;
}

TTerminalArray::TTerminalArray(const TTerminalArray& other)
    : itemSize_(other.itemSize_),
      columns_(other.columns_),
      rows_(other.rows_),
      defaultItem_(other.defaultItem_),
      storage_(std::make_unique_for_overwrite<std::uint32_t[]>(other.StorageWords())),
      allocatedWords_(other.StorageWords()),
      rowSlots_(other.rowSlots_),
      writtenFirst_(other.writtenFirst_),
      writtenLast_(other.writtenLast_),
      cleanItem_(other.cleanItem_) {
  std::memcpy(storage_.get(), other.storage_.get(), StorageWords() * 4);
}

TTerminalArray& TTerminalArray::operator=(const TTerminalArray& other) {
  if (this == &other) return *this;
  // A moved-from array has no storage, whatever its counts say.
  const bool sameShape = storage_ != nullptr && itemSize_ == other.itemSize_ &&
                         columns_ == other.columns_ && rows_ == other.rows_ &&
                         cleanItem_ == other.cleanItem_;
  if (sameShape) {
    // Slots outside both bands hold cleanItem_ on both sides; an empty band is (rows_, -1),
    // so the union is one run of slots.
    const int first = std::min(writtenFirst_, other.writtenFirst_);
    const int last = std::max(writtenLast_, other.writtenLast_);
    if (first <= last) {
      std::memcpy(Bytes() + std::size_t(first) * RowBytes(),
                  other.Bytes() + std::size_t(first) * RowBytes(),
                  std::size_t(last - first + 1) * RowBytes());
    }
  } else {
    if (storage_ == nullptr || allocatedWords_ < other.StorageWords()) {
      allocatedWords_ = other.StorageWords();
      storage_ = std::make_unique_for_overwrite<std::uint32_t[]>(allocatedWords_);
    }
    std::memcpy(storage_.get(), other.storage_.get(), other.StorageWords() * 4);
  }
  TakeShape(other);
  return *this;
}

void TTerminalArray::TakeShape(const TTerminalArray& other) {
  itemSize_ = other.itemSize_;
  columns_ = other.columns_;
  rows_ = other.rows_;
  defaultItem_ = other.defaultItem_;
  rowSlots_ = other.rowSlots_;
  writtenFirst_ = other.writtenFirst_;
  writtenLast_ = other.writtenLast_;
  cleanItem_ = other.cleanItem_;
}

void TTerminalArray::Fill(std::byte* at, int count, std::uint32_t value) {
  if (count <= 0) return;
  if (itemSize_ == 1) {
    std::memset(at, int(value & 0xFF), std::size_t(count));
    return;
  }
  // One item, then copies of it.
  const std::size_t size = std::size_t(itemSize_);
  if (size == 2) {
    const auto item = std::uint16_t(value);
    std::memcpy(at, &item, 2);
  } else {
    std::memcpy(at, &value, 4);
  }
  Replicate(at, size, std::size_t(count) * size);
}

void TTerminalArray::ClearAll() {
  // A screen cleared again, or a reset after a few lines of output, writes only the band
  // in use; the rest of the storage already holds the default unless the default changed.
  int first = writtenFirst_;
  int last = writtenLast_;
  if (cleanItem_ != AsItem(defaultItem_)) {
    first = 0;
    last = rows_ - 1;
  }
  for (int slot = first; slot <= last; ++slot) Fill(Bytes() + std::size_t(slot) * RowBytes(), columns_, defaultItem_);
  cleanItem_ = AsItem(defaultItem_);
  writtenFirst_ = rows_;
  writtenLast_ = -1;
}

bool TTerminalArray::RowIsDefault(int row) const {
  if (row < 0 || row >= rows_) return true;
  const std::uint32_t blank = AsItem(defaultItem_);
  if (!SlotWritten(rowSlots_[std::size_t(row)])) return cleanItem_ == blank;
  if (columns_ == 0) return true;
  // The first item is the default and every item equals the one before it.
  const std::byte* at = RowPtr(row);
  return Get(row, 0) == blank && std::memcmp(at, at + itemSize_, RowBytes() - std::size_t(itemSize_)) == 0;
}

void TTerminalArray::ClearSpan(int row, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, columns_ - 1);
  if (row < 0 || row >= rows_ || first > last) return;
  Fill(TouchRow(row) + std::size_t(first) * itemSize_, last - first + 1, defaultItem_);
}

void TTerminalArray::Delete(int n, int row, int col) {
  if (!Contains(row, col) || n <= 0) return;
  n = std::min(n, columns_ - col);
  std::byte* at = TouchRow(row) + std::size_t(col) * itemSize_;
  std::memmove(at, at + std::size_t(n) * itemSize_, std::size_t(columns_ - col - n) * itemSize_);
  Fill(RowPtr(row) + std::size_t(columns_ - n) * itemSize_, n, defaultItem_);
}

void TTerminalArray::Insert(int n, int row, int col) {
  if (!Contains(row, col) || n <= 0) return;
  n = std::min(n, columns_ - col);
  std::byte* at = TouchRow(row) + std::size_t(col) * itemSize_;
  std::memmove(at + std::size_t(n) * itemSize_, at, std::size_t(columns_ - col - n) * itemSize_);
  Fill(at, n, defaultItem_);
}

void TTerminalArray::Replace(std::uint32_t oldItem, std::uint32_t newItem) {
  // Which row a slot holds does not matter here, so slots are walked in storage order. Those
  // outside the written band hold only cleanItem_: refilled whole when that is the item
  // replaced (a new default colour), else left alone.
  const bool cleanReplaced = cleanItem_ == AsItem(oldItem);
  if (cleanReplaced && columns_ > 0) {
    // The slots outside the band are the runs before and after it, each filled at once.
    const auto fillSlots = [&](int first, int end) {
      if (first >= end) return;
      std::byte* at = Bytes() + std::size_t(first) * RowBytes();
      Fill(at, columns_, newItem);
      Replicate(at, RowBytes(), std::size_t(end - first) * RowBytes());
    };
    const bool empty = writtenFirst_ > writtenLast_;
    fillSlots(0, empty ? rows_ : writtenFirst_);
    if (!empty) fillSlots(writtenLast_ + 1, rows_);
  }
  for (int slot = writtenFirst_; slot <= writtenLast_; ++slot) {
    std::byte* row = Bytes() + std::size_t(slot) * RowBytes();
    for (int col = 0; col < columns_; ++col) {
      std::byte* at = row + std::size_t(col) * itemSize_;
      if (Load(at) == AsItem(oldItem)) Store(at, newItem);
    }
  }
  if (cleanReplaced) cleanItem_ = AsItem(newItem);
}

void TTerminalArray::ScrollRows(int n, int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, rows_ - 1);
  if (first > last || n == 0 || columns_ == 0) return;
  const long long span = last - first;
  const long long distance = n > 0 ? (long long)n : -(long long)n;
  if (distance > span) {
    for (int row = first; row <= last; ++row) Fill(TouchRow(row), columns_, defaultItem_);
    return;
  }
  const int moved = int(span + 1 - distance);
  const int d = int(distance);
  int* const slots = rowSlots_.data() + first;
  const std::size_t count = std::size_t(span) + 1;
  if (n > 0) {
    RotateLeft(slots, count, std::size_t(d));
    for (int row = last - d + 1; row <= last; ++row) Fill(TouchRow(row), columns_, defaultItem_);
  } else {
    RotateLeft(slots, count, std::size_t(moved));
    for (int row = first; row < first + d; ++row) Fill(TouchRow(row), columns_, defaultItem_);
  }
}

void TTerminalArray::Write(const void* items, int count, int col, int row) {
  if (!Contains(row, col) || count <= 0 || items == nullptr) return;
  count = std::min(count, columns_ - col);
  std::memcpy(TouchRow(row) + std::size_t(col) * itemSize_, items, std::size_t(count) * itemSize_);
}

void TTerminalArray::Resize(int rows, int columns) {
  TTerminalArray resized(itemSize_, columns, rows, defaultItem_);
  const int keptRows = std::min(rows_, resized.rows_);
  const int keptBytes = std::min(columns_, resized.columns_) * itemSize_;
  for (int i = 0; i < keptRows; ++i)
    std::memcpy(resized.TouchRow(resized.rows_ - keptRows + i), RowPtr(rows_ - keptRows + i),
                std::size_t(keptBytes));
  // Storage large enough is kept, so that a grid shrunk and grown again, or copied over
  // by a larger one, allocates nothing.
  if (storage_ == nullptr || allocatedWords_ < resized.StorageWords()) {
    *this = std::move(resized);
    return;
  }
  std::memcpy(storage_.get(), resized.storage_.get(), resized.StorageWords() * 4);
  TakeShape(resized);
}

std::byte* TTerminalArray::GetItemPtr(int row, int col) {
  // The caller may write through it.
  return Contains(row, col) ? TouchRow(row) + std::size_t(col) * itemSize_ : nullptr;
}

const std::byte* TTerminalArray::GetItemPtr(int row, int col) const {
  return Contains(row, col) ? RowPtr(row) + std::size_t(col) * itemSize_ : nullptr;
}

std::uint32_t TTerminalArray::Load(const std::byte* at) const {
  switch (itemSize_) {
    case 1:
      return std::uint32_t(*at);
    case 2: {
      std::uint16_t item;
      std::memcpy(&item, at, 2);
      return item;
    }
    default: {
      std::uint32_t item;
      std::memcpy(&item, at, 4);
      return item;
    }
  }
}

void TTerminalArray::Store(std::byte* at, std::uint32_t value) {
  switch (itemSize_) {
    case 1:
      *at = std::byte(value & 0xFF);
      break;
    case 2: {
      const auto item = std::uint16_t(value);
      std::memcpy(at, &item, 2);
      break;
    }
    default:
      std::memcpy(at, &value, 4);
      break;
  }
}

std::uint32_t TTerminalArray::Get(int row, int col) const {
  const std::byte* at = GetItemPtr(row, col);
  return at == nullptr ? defaultItem_ : Load(at);
}

void TTerminalArray::Set(int row, int col, std::uint32_t value) {
  if (std::byte* at = GetItemPtr(row, col)) Store(at, value);
}

// --- TTerminalBuffer ------------------------------------------------------------------------

TTerminalBuffer::TTerminalBuffer(bool wideChars)
    : wideChars_(wideChars),
      chars_(wideChars ? 2 : 1, 80, 200, ' '),
      charSets_(1, 80, 200, 0),
      attributes_(1, 80, 200, 0),
      foreColors_(4, 80, 200, kColorSilver),
      backColors_(4, 80, 200, kColorBlack),
      history_(80, wideChars ? 2 : 1) {
  regionTop_ = FirstScreenRow();
  horzTabStops_.assign(std::size_t(columns_), 0);
  vertTabStops_.assign(std::size_t(totalRows_), 0);
  SetDefaultTabStops();
  GotoRowCol(1, 1);
  InvalidateScreen();
}

template <typename Operation>
void TTerminalBuffer::ForEachArray(Operation operation) {
  operation(chars_);
  operation(charSets_);
  operation(attributes_);
  operation(foreColors_);
  operation(backColors_);
}

void TTerminalBuffer::CursorChanged() {
  cursorMoved_ = true;
  if (OnCursorMoved) OnCursorMoved(*this, GetCursorRow(), GetCursorCol());
}

void TTerminalBuffer::SetDefaultTabStops() {
  for (int col = 0; col < columns_; col += 8) horzTabStops_[std::size_t(col)] = 1;
}

// --- Cursor ---------------------------------------------------------------------------------

void TTerminalBuffer::GotoRowCol(int row, int col) {
  const long long base = absoluteCoordinates_ ? FirstScreenRow() : regionTop_;
  const long long left = absoluteCoordinates_ ? 0 : regionLeft_;
  cursorRow_ = ClampToRange(base + row - 1, 0, totalRows_ - 1);
  cursorCol_ = ClampToRange(left + col - 1, 0, columns_ - 1);
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::SetCursorRow(int row) {
  const long long base = absoluteCoordinates_ ? FirstScreenRow() : regionTop_;
  cursorRow_ = ClampToRange(base + row - 1, 0, totalRows_ - 1);
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::SetCursorCol(int col) {
  const long long left = absoluteCoordinates_ ? 0 : regionLeft_;
  cursorCol_ = ClampToRange(left + col - 1, 0, columns_ - 1);
  pendingWrap_ = false;
  CursorChanged();
}

int TTerminalBuffer::GetCursorRow() const {
  return cursorRow_ - (absoluteCoordinates_ ? FirstScreenRow() : regionTop_) + 1;
}

int TTerminalBuffer::GetCursorCol() const {
  return cursorCol_ - (absoluteCoordinates_ ? 0 : regionLeft_) + 1;
}

void TTerminalBuffer::CarriageReturn() {
  cursorCol_ = RegionLeft();
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::CursorBackspace() {
  if (cursorCol_ > RegionLeft()) --cursorCol_;
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::LineFeed() {
  if (newLineMode_) CarriageReturn();
  CursorDown(true);
}

void TTerminalBuffer::ScrollUpAtBottom() {
  // Without a region the whole buffer above the bottom moves, so the top screen row enters
  // the history.
  if (!regionActive_) PushToHistory(0);
  ScrollAllRows(1, regionActive_ ? RegionTopRow() : 0, RegionBottomRow());
  if (windowScrolls_ && !regionActive_ && scrolledRows_ < visibleRows_) {
    ++scrolledRows_;
    MoveInvalidRectUp();
    InvalidateInternal(0, RegionBottomRow(), columns_ - 1, RegionBottomRow());
    return;
  }
  InvalidateInternal(0, RegionTopRow(), columns_ - 1, RegionBottomRow());
}

void TTerminalBuffer::MoveInvalidRectUp() {
  if (!invalidPending_) return;
  invalidRect_.Top = std::max(invalidRect_.Top - 1, 1);
  --invalidRect_.Bottom;
  if (invalidRect_.Bottom < invalidRect_.Top) invalidPending_ = false;
}

void TTerminalBuffer::ScrollDownAtTop() {
  ScrollAllRows(-1, RegionTopRow(), RegionBottomRow());
  InvalidateInternal(0, RegionTopRow(), columns_ - 1, RegionBottomRow());
}

void TTerminalBuffer::CursorDown(bool scroll) {
  const int bottom = RegionBottomRow();
  if (cursorRow_ < bottom) {
    ++cursorRow_;
  } else if (cursorRow_ == bottom) {
    if (scroll) ScrollUpAtBottom();
  } else if (cursorRow_ < totalRows_ - 1) {
    // Below an active region nothing scrolls; the cursor just walks down.
    ++cursorRow_;
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::CursorUp(bool scroll) {
  const int top = RegionTopRow();
  if (cursorRow_ > top) {
    --cursorRow_;
  } else if (cursorRow_ == top) {
    if (scroll) ScrollDownAtTop();
  } else if (cursorRow_ > 0) {
    --cursorRow_;
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::CursorRight(bool wrap, bool scroll) {
  const int right = RegionRight();
  const int bottom = RegionBottomRow();
  if (cursorCol_ < right) {
    ++cursorCol_;
  } else if (wrap) {
    if (cursorRow_ < bottom) {
      cursorCol_ = RegionLeft();
      ++cursorRow_;
    } else if (cursorRow_ == bottom) {
      if (scroll) {
        ScrollUpAtBottom();
        cursorCol_ = RegionLeft();
      }
    } else if (cursorRow_ < totalRows_ - 1) {
      cursorCol_ = RegionLeft();
      ++cursorRow_;
    }
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::CursorLeft(bool wrap, bool scroll) {
  const int left = RegionLeft();
  const int top = RegionTopRow();
  if (cursorCol_ > left) {
    --cursorCol_;
  } else if (wrap) {
    if (cursorRow_ > top) {
      cursorCol_ = RegionRight();
      --cursorRow_;
    } else if (cursorRow_ == top) {
      if (scroll) {
        ScrollDownAtTop();
        cursorCol_ = RegionRight();
      }
    } else if (cursorRow_ > 0) {
      cursorCol_ = RegionRight();
      --cursorRow_;
    }
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::TabForward() {
  int col = cursorCol_ + 1;
  while (col < RegionRight() && !horzTabStops_[std::size_t(col)]) ++col;
  cursorCol_ = std::min(col, RegionRight());
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::TabBackward() {
  int col = cursorCol_ - 1;
  while (col > RegionLeft() && !horzTabStops_[std::size_t(col)]) --col;
  cursorCol_ = std::max(col, RegionLeft());
  // A wrap still pending from the last column would push the next character one column
  // past the tab stop the cursor now stands on.
  pendingWrap_ = false;
  CursorChanged();
}

// Vertical tabs stay inside the region; from outside it they do not move the cursor.
void TTerminalBuffer::VTabForward() {
  const int bottom = RegionBottomRow();
  if (cursorRow_ >= RegionTopRow() && cursorRow_ < bottom) {
    int row = cursorRow_ + 1;
    while (row < bottom && !vertTabStops_[std::size_t(row)]) ++row;
    cursorRow_ = row;
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::VTabBackward() {
  const int top = RegionTopRow();
  if (cursorRow_ > top && cursorRow_ <= RegionBottomRow()) {
    int row = cursorRow_ - 1;
    while (row > top && !vertTabStops_[std::size_t(row)]) --row;
    cursorRow_ = row;
  }
  pendingWrap_ = false;
  CursorChanged();
}

void TTerminalBuffer::SetTabStop() { horzTabStops_[std::size_t(cursorCol_)] = 1; }
void TTerminalBuffer::ClearTabStop() { horzTabStops_[std::size_t(cursorCol_)] = 0; }
void TTerminalBuffer::ClearAllTabStops() {
  std::fill(horzTabStops_.begin(), horzTabStops_.end(), std::uint8_t(0));
}
void TTerminalBuffer::SetVTabStop() { vertTabStops_[std::size_t(cursorRow_)] = 1; }
void TTerminalBuffer::ClearVTabStop() { vertTabStops_[std::size_t(cursorRow_)] = 0; }
void TTerminalBuffer::ClearAllVTabStops() {
  std::fill(vertTabStops_.begin(), vertTabStops_.end(), std::uint8_t(0));
}

// --- Writing and editing --------------------------------------------------------------------

void TTerminalBuffer::PutChar(std::uint16_t ch) {
  if (pendingWrap_) {
    CursorRight(wrapAtMargin_, true);
    pendingWrap_ = false;
  }
  const int row = cursorRow_;
  const int col = cursorCol_;
  if (insertMode_) ForEachArray([&](TTerminalArray& array) { array.Insert(1, row, col); });
  // The cursor always lies inside the arrays, so the cell is written without checks: this
  // is the path every displayed board byte takes.
  if (wideChars_) {
    chars_.Set(row, col, ch);
  } else {
    chars_.PutByte(row, col, std::uint8_t(ch));
  }
  charSets_.PutByte(row, col, currentCharSet_);
  attributes_.PutByte(row, col, currentAttributes_);
  foreColors_.PutWord(row, col, currentForeColor_);
  backColors_.PutWord(row, col, currentBackColor_);
  // An inserted character shifts the rest of the row, which must be repainted too.
  const int screenRow = row - FirstScreenRow() + 1;
  const bool insidePending = invalidPending_ && !insertMode_ && screenRow >= invalidRect_.Top &&
                             screenRow <= invalidRect_.Bottom && col + 1 >= invalidRect_.Left &&
                             col + 1 <= invalidRect_.Right;
  if (!insidePending) InvalidateInternal(col, row, insertMode_ ? RegionRight() : col, row);
  if (autoWrap_ && RegionLeft() + regionWidth_ == col + 1) {
    pendingWrap_ = true;
  } else if (col < RegionRight()) {
    cursorCol_ = col + 1;
    CursorChanged();
  } else {
    CursorRight(wrapAtMargin_, true);
  }
}

void TTerminalBuffer::PutString(std::string_view text) {
  for (char ch : text) PutChar(std::uint8_t(ch));
}

void TTerminalBuffer::InsertChars(int n) {
  pendingWrap_ = false;
  n = std::min(n, RegionLeft() + regionWidth_ - cursorCol_);
  if (n <= 0) return;
  const int row = cursorRow_;
  const int col = cursorCol_;
  ForEachArray([&](TTerminalArray& array) { array.Insert(n, row, col); });
  InvalidateInternal(col, row, RegionRight(), row);
}

void TTerminalBuffer::DeleteChars(int n) {
  pendingWrap_ = false;
  n = std::min(n, RegionLeft() + regionWidth_ - cursorCol_);
  if (n <= 0) return;
  const int row = cursorRow_;
  const int col = cursorCol_;
  ForEachArray([&](TTerminalArray& array) { array.Delete(n, row, col); });
  InvalidateInternal(col, row, RegionRight(), row);
}

void TTerminalBuffer::InsertLines(int n) {
  pendingWrap_ = false;
  const int bottom = RegionBottomRow();
  if (n <= 0 || cursorRow_ < RegionTopRow() || cursorRow_ > bottom) return;
  n = std::min(n, bottom - cursorRow_ + 1);
  ScrollAllRows(-n, cursorRow_, bottom);
  InvalidateInternal(RegionLeft(), cursorRow_, RegionRight(), bottom);
}

void TTerminalBuffer::DeleteLines(int n) {
  pendingWrap_ = false;
  const int bottom = RegionBottomRow();
  if (n <= 0 || cursorRow_ < RegionTopRow() || cursorRow_ > bottom) return;
  n = std::min(n, bottom - cursorRow_ + 1);
  ScrollAllRows(n, cursorRow_, bottom);
  InvalidateInternal(RegionLeft(), cursorRow_, RegionRight(), bottom);
}

void TTerminalBuffer::EraseCells(int row, int first, int last) {
  if (first > last) return;
  ForEachArray([&](TTerminalArray& array) { array.ClearSpan(row, first, last); });
  InvalidateInternal(first, row, last, row);
}

void TTerminalBuffer::EraseChars(int n) {
  pendingWrap_ = false;
  const int lastRow = std::max(RegionBottomRow(), cursorRow_);
  long long remaining = n;
  int col = cursorCol_;
  for (int row = cursorRow_; remaining > 0 && row <= lastRow; ++row) {
    const int count = int(std::min<long long>(remaining, RegionRight() - col + 1));
    EraseCells(row, col, col + count - 1);
    remaining -= count;
    col = RegionLeft();
  }
}

void TTerminalBuffer::EraseLineFromCursor() {
  pendingWrap_ = false;
  EraseCells(cursorRow_, cursorCol_, RegionRight());
}

void TTerminalBuffer::EraseLineToCursor() {
  pendingWrap_ = false;
  EraseCells(cursorRow_, RegionLeft(), cursorCol_);
}

void TTerminalBuffer::EraseWholeLine() {
  pendingWrap_ = false;
  EraseCells(cursorRow_, RegionLeft(), RegionRight());
}

void TTerminalBuffer::EraseScreenFromCursor() {
  pendingWrap_ = false;
  EraseCells(cursorRow_, cursorCol_, columns_ - 1);
  const int first = cursorRow_ + 1;
  const int last = totalRows_ - 1;
  if (first > last) return;
  ScrollAllRows(last - first + 1, first, last);
  InvalidateInternal(0, first, columns_ - 1, last);
}

void TTerminalBuffer::EraseScreenToCursor() {
  pendingWrap_ = false;
  EraseCells(cursorRow_, 0, cursorCol_);
  const int first = FirstScreenRow();
  const int last = cursorRow_ - 1;
  if (first > last) return;
  ScrollAllRows(last - first + 1, first, last);
  InvalidateInternal(0, first, columns_ - 1, last);
}

void TTerminalBuffer::EraseScreen() {
  pendingWrap_ = false;
  for (int row = 0; row < std::min(visibleRows_, totalRows_); ++row) PushToHistory(row);
  ScrollAllRows(visibleRows_, 0, totalRows_ - 1);
  InvalidateScreen();
}

void TTerminalBuffer::ClearScreenHome() {
  // The board clears its screen before every new page of output: what it showed stays
  // readable in the history, as it would after a scroll.
  int first = 0;
  int last = totalRows_ - 1;
  // A screen cleared again, as a reset does, has no row to keep.
  if (AllRowsBlank()) first = last + 1;
  while (first <= last && RowIsBlank(first)) ++first;
  while (last >= first && RowIsBlank(last)) --last;
  for (int row = first; row <= last; ++row) PushToHistory(row);
  ForEachArray([](TTerminalArray& array) { array.ClearAll(); });
  GotoRowCol(1, 1);
  InvalidateScreen();
}

void TTerminalBuffer::ResetBuffer() {
  currentAttributes_ = defaultAttributes_;
  currentForeColor_ = defaultForeColor_;
  currentBackColor_ = defaultBackColor_;
  currentCharSet_ = defaultCharSet_;
  chars_.SetDefault(wideChars_ ? defaultWideChar_ : defaultChar_);
  charSets_.SetDefault(defaultCharSet_);
  attributes_.SetDefault(defaultAttributes_);
  foreColors_.SetDefault(defaultForeColor_);
  backColors_.SetDefault(defaultBackColor_);

  ForEachArray([](TTerminalArray& array) { array.ClearAll(); });
  history_.Clear();
  ClearAllTabStops();
  ClearAllVTabStops();
  SetDefaultTabStops();

  absoluteCoordinates_ = true;
  wrapAtMargin_ = true;
  autoWrap_ = true;
  insertMode_ = false;
  newLineMode_ = false;
  UseScrollRegion(false);
  pendingWrap_ = false;
  GotoRowCol(1, 1);
}

// --- Attributes, character set and colours --------------------------------------------------

void TTerminalBuffer::SetCurrentAttributes(std::uint8_t attr) {
  currentAttributes_ = attr;
  attributes_.SetDefault(attr);
}

void TTerminalBuffer::SetCurrentCharSet(std::uint8_t charSet) {
  currentCharSet_ = charSet;
  charSets_.SetDefault(charSet);
}

void TTerminalBuffer::SetCurrentForeColor(TColor color) {
  if (color == currentForeColor_) return;
  currentForeColor_ = color;
  foreColors_.SetDefault(color);
}

void TTerminalBuffer::SetCurrentBackColor(TColor color) {
  if (color == currentBackColor_) return;
  currentBackColor_ = color;
  backColors_.SetDefault(color);
}

void TTerminalBuffer::SetDefaultForeColor(TColor color) {
  if (color == defaultForeColor_) return;
  foreColors_.Replace(defaultForeColor_, color);
  history_.ReplaceFore(defaultForeColor_, color);
  defaultForeColor_ = color;
  InvalidateScreen();
}

void TTerminalBuffer::SetDefaultBackColor(TColor color) {
  if (color == defaultBackColor_) return;
  backColors_.Replace(defaultBackColor_, color);
  history_.ReplaceBack(defaultBackColor_, color);
  defaultBackColor_ = color;
  InvalidateScreen();
}

void TTerminalBuffer::SetDefaultChar(std::uint8_t ch) {
  defaultChar_ = ch;
  chars_.SetDefault(ch);
}

// --- Region and size ------------------------------------------------------------------------

void TTerminalBuffer::SetScrollRegion(int top, int bottom) {
  if (top > bottom) std::swap(top, bottom);
  if ((long long)bottom - top < 1) return;
  storedRegionTop_ = std::clamp(top, 1, visibleRows_);
  storedRegionBottom_ = std::clamp(bottom, 1, visibleRows_);
  if (regionActive_) UseScrollRegion(false);
  if (storedRegionTop_ != 1 || storedRegionBottom_ != visibleRows_) UseScrollRegion(true);
}

void TTerminalBuffer::UseScrollRegion(bool on) {
  if (on == regionActive_) return;
  regionLeft_ = 0;
  regionWidth_ = columns_;
  if (on) {
    // Rows stored before the screen shrank, or never stored, are kept inside the screen.
    const int top = std::clamp(storedRegionTop_, 1, visibleRows_);
    const int bottom = std::clamp(storedRegionBottom_, top, visibleRows_);
    regionTop_ = FirstScreenRow() + top - 1;
    regionHeight_ = bottom - top + 1;
  } else {
    regionTop_ = FirstScreenRow();
    regionHeight_ = visibleRows_;
  }
  cursorRow_ = regionTop_;
  cursorCol_ = regionLeft_;
  pendingWrap_ = false;
  regionActive_ = on;
  CursorChanged();
}

void TTerminalBuffer::tbSetColCount(int n) {
  if (n == columns_) return;
  if (n < 2) throw ETerminalError("TTerminalBuffer.tbSetColCount: new count too small");
  horzTabStops_.resize(std::size_t(n), 0);
  ForEachArray([&](TTerminalArray& array) { array.Resize(totalRows_, n); });
  history_.Reset(n);
  columns_ = n;
  InvalidateResizedScreen();
  if (regionActive_) {
    UseScrollRegion(false);
  } else {
    cursorRow_ = FirstScreenRow();
    cursorCol_ = 0;
    pendingWrap_ = false;
    CursorChanged();
  }
  regionWidth_ = n;
}

void TTerminalBuffer::tbSetRowCount(int n) {
  if (n == visibleRows_ || n > totalRows_) return;
  if (n < 2) throw ETerminalError("TTerminalBuffer.tbSetRowCount: new count too small");
  if (regionActive_) UseScrollRegion(false);
  regionTop_ = totalRows_ - n;
  if (cursorRow_ < regionTop_) cursorRow_ = regionTop_;
  visibleRows_ = n;
  regionHeight_ = n;
  CursorChanged();
  InvalidateResizedScreen();
}

void TTerminalBuffer::tbSetSVRowCount(int n) {
  if (n == totalRows_) return;
  if (n < 2) throw ETerminalError("TTerminalBuffer.tbSetSVRowCount: new count too small");
  if (n < visibleRows_) {
    visibleRows_ = n;
    regionHeight_ = n;
  }
  regionTop_ = n - visibleRows_;
  cursorRow_ = std::clamp(cursorRow_ + n - totalRows_, 0, n - 1);
  ForEachArray([&](TTerminalArray& array) { array.Resize(n, columns_); });
  vertTabStops_.resize(std::size_t(n), 0);
  totalRows_ = n;
  CursorChanged();
  InvalidateResizedScreen();
}

// --- For the painter and the terminal control -----------------------------------------------

int TTerminalBuffer::HistoryIndex(int row) const {
  const long long internal = (long long)row - 1 + FirstScreenRow();
  if (internal >= 0) return -1;
  const long long index = history_.Count() + internal;
  return index >= 0 ? int(index) : -1;
}

bool TTerminalBuffer::AllRowsBlank() const {
  return chars_.AllDefault() && charSets_.AllDefault() && attributes_.AllDefault() && foreColors_.AllDefault() &&
         backColors_.AllDefault();
}

bool TTerminalBuffer::RowIsBlank(int internalRow) const {
  return chars_.RowIsDefault(internalRow) && charSets_.RowIsDefault(internalRow) &&
         attributes_.RowIsDefault(internalRow) && foreColors_.RowIsDefault(internalRow) &&
         backColors_.RowIsDefault(internalRow);
}

void TTerminalBuffer::PushToHistory(int internalRow) {
  const auto bytes = [&](const TTerminalArray& array) {
    const std::byte* at = array.GetItemPtr(internalRow, 0);
    return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(at),
                                         at == nullptr ? 0 : std::size_t(columns_) * std::size_t(array.ItemSize()));
  };
  const auto words = [&](const TTerminalArray& array) {
    const auto row = bytes(array);
    return std::span<const std::uint32_t>(reinterpret_cast<const std::uint32_t*>(row.data()),
                                          row.size() / 4);
  };
  history_.Push(bytes(chars_), bytes(charSets_), bytes(attributes_), words(foreColors_),
                words(backColors_));
}

std::span<const std::uint8_t> TTerminalBuffer::ByteRow(const TTerminalArray& array,
                                                       int row) const {
  if (row > visibleRows_) return {};
  const long long internal = (long long)row - 1 + FirstScreenRow();
  if (internal < 0) return {};
  const std::byte* at = array.GetItemPtr(int(internal), RegionLeft());
  if (at == nullptr) return {};
  return {reinterpret_cast<const std::uint8_t*>(at),
          std::size_t(columns_ - RegionLeft()) * std::size_t(array.ItemSize())};
}

std::span<const std::uint8_t> TTerminalBuffer::GetCharRow(int row) const {
  if (const int index = HistoryIndex(row); index >= 0) return history_.CharRow(index);
  return ByteRow(chars_, row);
}

std::span<const std::uint8_t> TTerminalBuffer::GetCharSetRow(int row) const {
  if (const int index = HistoryIndex(row); index >= 0) return history_.CharSetRow(index);
  return ByteRow(charSets_, row);
}

std::span<const std::uint8_t> TTerminalBuffer::GetAttrRow(int row) const {
  if (const int index = HistoryIndex(row); index >= 0) return history_.AttrRow(index);
  return ByteRow(attributes_, row);
}

std::span<const TColor> TTerminalBuffer::GetForeColorRow(int row) const {
  if (const int index = HistoryIndex(row); index >= 0) return history_.ForeRow(index);
  const auto bytes = ByteRow(foreColors_, row);
  return {reinterpret_cast<const TColor*>(bytes.data()), bytes.size() / sizeof(TColor)};
}

std::span<const TColor> TTerminalBuffer::GetBackColorRow(int row) const {
  if (const int index = HistoryIndex(row); index >= 0) return history_.BackRow(index);
  const auto bytes = ByteRow(backColors_, row);
  return {reinterpret_cast<const TColor*>(bytes.data()), bytes.size() / sizeof(TColor)};
}

TTerminalCell TTerminalBuffer::GetCell(int row, int col) const {
  // Computed wide: a caller's column of INT_MIN must read as outside, not wrap around.
  const long long c = (long long)col - 1;
  if (const int index = HistoryIndex(row); index >= 0 && c >= 0 && c < columns_) {
    const std::size_t i = std::size_t(c);
    const auto chars = history_.CharRow(index);
    std::uint16_t ch = chars[i];
    if (wideChars_) std::memcpy(&ch, chars.data() + 2 * i, 2);
    return {ch, history_.CharSetRow(index)[i], history_.AttrRow(index)[i],
            history_.ForeRow(index)[i], history_.BackRow(index)[i]};
  }
  const long long internal = (long long)row - 1 + FirstScreenRow();
  if (internal < 0 || row > visibleRows_ || c < 0 || c >= columns_) {
    return {std::uint16_t(chars_.DefaultItem()), std::uint8_t(charSets_.DefaultItem()),
            std::uint8_t(attributes_.DefaultItem()), foreColors_.DefaultItem(),
            backColors_.DefaultItem()};
  }
  const int r = int(internal);
  const int k = int(c);
  return {std::uint16_t(chars_.Get(r, k)), std::uint8_t(charSets_.Get(r, k)),
          std::uint8_t(attributes_.Get(r, k)), foreColors_.Get(r, k), backColors_.Get(r, k)};
}

void TTerminalBuffer::SetCellAttributes(int row, int col, std::uint8_t attr) {
  if (col < 1 || col > columns_) return;
  if (const int index = HistoryIndex(row); index >= 0) {
    history_.SetAttr(index, col - 1, attr);
    return;
  }
  const long long internal = (long long)row - 1 + FirstScreenRow();
  if (internal < 0 || row > visibleRows_) return;
  attributes_.Set(int(internal), col - 1, attr);
  Invalidate(col, row, col, row);
}

void TTerminalBuffer::Invalidate(int left, int top, int right, int bottom) {
  left = std::max(left, 1);
  top = std::max(top, 1);
  right = std::min(right, columns_);
  bottom = std::min(bottom, visibleRows_);
  if (left > right || top > bottom) return;
  if (invalidPending_) {
    invalidRect_.Left = std::min(invalidRect_.Left, left);
    invalidRect_.Top = std::min(invalidRect_.Top, top);
    invalidRect_.Right = std::max(invalidRect_.Right, right);
    invalidRect_.Bottom = std::max(invalidRect_.Bottom, bottom);
    return;
  }
  invalidRect_ = {left, top, right, bottom};
  invalidPending_ = true;
  if (window_ != nullptr) window_->CellsChanged();
}

void TTerminalBuffer::InvalidateInternal(int firstCol, int firstRow, int lastCol, int lastRow) {
  const int shift = 1 - FirstScreenRow();
  Invalidate(firstCol + 1, firstRow + shift, lastCol + 1, lastRow + shift);
}

void TTerminalBuffer::InvalidateScreen() { Invalidate(1, 1, columns_, visibleRows_); }

void TTerminalBuffer::InvalidateResizedScreen() {
  // A pending area may lie outside the new size; the whole new screen replaces it.
  if (invalidPending_) {
    invalidRect_ = {1, 1, columns_, visibleRows_};
  } else {
    InvalidateScreen();
  }
}

void TTerminalBuffer::ScrollAllRows(int n, int first, int last) {
  ForEachArray([&](TTerminalArray& array) { array.ScrollRows(n, first, last); });
  if (OnScroll) {
    const int shift = 1 - FirstScreenRow();
    OnScroll(*this, n, first + shift, last + shift);
  }
}

bool TTerminalBuffer::GetInvalidRect(TInvalidRect& rect) {
  if (!invalidPending_) return false;
  rect = invalidRect_;
  invalidPending_ = false;
  return true;
}

void TTerminalBuffer::SetWindowScrolls(bool on) {
  windowScrolls_ = on;
  if (!on && scrolledRows_ > 0) {
    scrolledRows_ = 0;
    InvalidateScreen();
  }
}

bool TTerminalBuffer::GetCursorMoved() {
  return std::exchange(cursorMoved_, false);
}

void TTerminalBuffer::SetWindowHandle(ITerminalNotify* window) {
  window_ = window;
  if (window_ != nullptr && invalidPending_) window_->CellsChanged();
}

}  // namespace mirte
