#include "terminal/terminal_history.h"

#include <algorithm>
#include <cstring>

namespace mirte {

namespace {

template <typename Item>
void CopyRow(std::vector<Item>& to, std::size_t at, std::span<const Item> from, std::size_t width,
             Item blank) {
  const std::size_t n = std::min(from.size(), width);
  if (n > 0) std::memcpy(to.data() + at, from.data(), n * sizeof(Item));
  std::fill(to.begin() + std::ptrdiff_t(at + n), to.begin() + std::ptrdiff_t(at + width), blank);
}

}  // namespace

TTerminalHistory::TTerminalHistory(int columns, int charBytes, int capacity)
    : columns_(std::max(columns, 0)),
      charBytes_(charBytes == 2 ? 2 : 1),
      capacity_(std::max(capacity, 0)) {}

TTerminalHistory& TTerminalHistory::operator=(const TTerminalHistory& other) {
  if (this == &other) return *this;
  // Storage beyond the rows held is never read (Push writes a row whole before it counts),
  // so with no rows to copy only the counts are taken.
  const bool keepStorage = other.count_ == 0 && columns_ == other.columns_ &&
                           charBytes_ == other.charBytes_ && capacity_ == other.capacity_;
  if (!keepStorage) return *this = TTerminalHistory(other);
  count_ = 0;
  first_ = 0;
  pushed_ = other.pushed_;
  return *this;
}

void TTerminalHistory::Allocate() {
  // Only called on empty vectors: resizing them zeroes the new items in one run each, and
  // storage kept from before (Reset keeps it) is reused.
  const std::size_t cells = std::size_t(capacity_) * std::size_t(columns_);
  chars_.resize(cells * std::size_t(charBytes_));
  charSets_.resize(cells);
  attrs_.resize(cells);
  fores_.resize(cells);
  backs_.resize(cells);
}

void TTerminalHistory::SetCapacity(int rows) {
  rows = std::max(rows, 0);
  if (rows == capacity_) return;
  // Keep the newest rows, oldest first, in a fresh ring of the new size.
  TTerminalHistory resized(columns_, charBytes_, rows);
  for (int i = std::max(0, count_ - rows); i < count_; ++i) {
    resized.Push(CharRow(i), CharSetRow(i), AttrRow(i), ForeRow(i), BackRow(i));
  }
  resized.pushed_ = pushed_;
  *this = std::move(resized);
}

void TTerminalHistory::Reset(int columns) {
  columns_ = std::max(columns, 0);
  chars_.clear();
  charSets_.clear();
  attrs_.clear();
  fores_.clear();
  backs_.clear();
  Clear();
}

void TTerminalHistory::Clear() {
  count_ = 0;
  first_ = 0;
}

void TTerminalHistory::Push(std::span<const std::uint8_t> chars,
                            std::span<const std::uint8_t> charSets,
                            std::span<const std::uint8_t> attrs,
                            std::span<const std::uint32_t> fores,
                            std::span<const std::uint32_t> backs) {
  ++pushed_;
  if (capacity_ == 0 || columns_ == 0) return;
  if (attrs_.empty()) Allocate();
  int slot;
  if (count_ < capacity_) {
    slot = (first_ + count_) % capacity_;
    ++count_;
  } else {
    slot = first_;
    first_ = (first_ + 1) % capacity_;
  }
  const std::size_t width = std::size_t(columns_);
  const std::size_t at = std::size_t(slot) * width;
  const std::uint8_t blank = ' ';
  if (charBytes_ == 1) {
    CopyRow(chars_, at, chars, width, blank);
  } else {
    // Wide characters: two bytes per cell, a blank is ' ' in native order.
    const std::size_t n = std::min(chars.size(), width * 2);
    std::uint8_t* row = chars_.data() + at * 2;
    if (n > 0) std::memcpy(row, chars.data(), n);
    const std::uint16_t wideBlank = ' ';
    for (std::size_t b = n & ~std::size_t(1); b < width * 2; b += 2) std::memcpy(row + b, &wideBlank, 2);
  }
  CopyRow(charSets_, at, charSets, width, std::uint8_t(0));
  CopyRow(attrs_, at, attrs, width, std::uint8_t(0));
  CopyRow(fores_, at, fores, width, fores.empty() ? 0u : fores.back());
  CopyRow(backs_, at, backs, width, backs.empty() ? 0u : backs.back());
}

int TTerminalHistory::Slot(int index) const {
  if (index < 0 || index >= count_) return -1;
  return (first_ + index) % capacity_;
}

std::span<const std::uint8_t> TTerminalHistory::CharRow(int index) const {
  const int slot = Slot(index);
  if (slot < 0) return {};
  const std::size_t width = std::size_t(columns_) * std::size_t(charBytes_);
  return {chars_.data() + std::size_t(slot) * width, width};
}

std::span<const std::uint8_t> TTerminalHistory::CharSetRow(int index) const {
  const int slot = Slot(index);
  if (slot < 0) return {};
  return {charSets_.data() + std::size_t(slot) * std::size_t(columns_), std::size_t(columns_)};
}

std::span<const std::uint8_t> TTerminalHistory::AttrRow(int index) const {
  const int slot = Slot(index);
  if (slot < 0) return {};
  return {attrs_.data() + std::size_t(slot) * std::size_t(columns_), std::size_t(columns_)};
}

std::span<const std::uint32_t> TTerminalHistory::ForeRow(int index) const {
  const int slot = Slot(index);
  if (slot < 0) return {};
  return {fores_.data() + std::size_t(slot) * std::size_t(columns_), std::size_t(columns_)};
}

std::span<const std::uint32_t> TTerminalHistory::BackRow(int index) const {
  const int slot = Slot(index);
  if (slot < 0) return {};
  return {backs_.data() + std::size_t(slot) * std::size_t(columns_), std::size_t(columns_)};
}

void TTerminalHistory::SetAttr(int index, int col, std::uint8_t attr) {
  const int slot = Slot(index);
  if (slot < 0 || col < 0 || col >= columns_) return;
  attrs_[std::size_t(slot) * std::size_t(columns_) + std::size_t(col)] = attr;
}

std::size_t TTerminalHistory::HeldCells() const {
  // Until the ring is full no row has been dropped, so the oldest row is still in slot 0
  // and the rows held are the first count_ slots.
  return std::min(std::size_t(count_) * std::size_t(columns_), attrs_.size());
}

void TTerminalHistory::ReplaceFore(std::uint32_t oldColor, std::uint32_t newColor) {
  std::replace(fores_.begin(), fores_.begin() + std::ptrdiff_t(HeldCells()), oldColor, newColor);
}

void TTerminalHistory::ReplaceBack(std::uint32_t oldColor, std::uint32_t newColor) {
  std::replace(backs_.begin(), backs_.begin() + std::ptrdiff_t(HeldCells()), oldColor, newColor);
}

}  // namespace mirte
