#pragma once
// The rows that have scrolled off the top of the terminal buffer, oldest first, up to a
// capacity (2,000 rows unless set otherwise); once full, each new row pushes the oldest
// out. Every row keeps the five cell properties the screen has, so a history row paints
// and copies exactly as it looked on screen. Rows are addressed 0 (oldest) to Count() - 1
// (newest); an index outside that gives empty rows, and writes to it are ignored.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mirte {

class TTerminalHistory {
public:
  static constexpr int kDefaultCapacity = 2000;

  // charBytes is 1, or 2 for wide characters.
  explicit TTerminalHistory(int columns, int charBytes = 1, int capacity = kDefaultCapacity);
  TTerminalHistory(const TTerminalHistory&) = default;
  TTerminalHistory(TTerminalHistory&&) noexcept = default;
  // Copying a history that holds no rows onto one of the same shape keeps this one's
  // storage, which then need not be allocated and cleared again at the next push.
  TTerminalHistory& operator=(const TTerminalHistory& other);
  TTerminalHistory& operator=(TTerminalHistory&&) noexcept = default;

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  int Columns() const { return columns_; }
  // Rows ever pushed, dropped ones included: lets a caller follow a row as newer ones
  // arrive (its index falls by one each time the history is full and a row is pushed).
  std::int64_t Pushed() const { return pushed_; }

  // Fewer rows drop the oldest ones. Negative counts are taken as 0 (no history).
  void SetCapacity(int rows);
  // Empties the history and takes a new row width.
  void Reset(int columns);
  void Clear();

  // Copies one row in as the newest. Each span holds at least Columns() items; shorter
  // ones are padded with `blank` cells. The selected bit of the attributes is kept.
  void Push(std::span<const std::uint8_t> chars, std::span<const std::uint8_t> charSets,
            std::span<const std::uint8_t> attrs, std::span<const std::uint32_t> fores,
            std::span<const std::uint32_t> backs);

  std::span<const std::uint8_t> CharRow(int index) const;
  std::span<const std::uint8_t> CharSetRow(int index) const;
  std::span<const std::uint8_t> AttrRow(int index) const;
  std::span<const std::uint32_t> ForeRow(int index) const;
  std::span<const std::uint32_t> BackRow(int index) const;
  void SetAttr(int index, int col, std::uint8_t attr);
  // Every stored colour equal to oldColor becomes newColor.
  void ReplaceFore(std::uint32_t oldColor, std::uint32_t newColor);
  void ReplaceBack(std::uint32_t oldColor, std::uint32_t newColor);

private:
  // The storage slot of row `index`, or -1 outside the rows held.
  int Slot(int index) const;
  // Items per property in the slots that hold rows: the rest was never pushed or belongs
  // to rows given up, and is never read.
  std::size_t HeldCells() const;
  void Allocate();

  int columns_;
  int charBytes_;
  int capacity_;
  int count_ = 0;
  int first_ = 0;  // slot of the oldest row
  std::int64_t pushed_ = 0;
  // Rows one after the other, capacity_ slots each; allocated on the first push, so a
  // terminal that never scrolls costs nothing.
  std::vector<std::uint8_t> chars_;
  std::vector<std::uint8_t> charSets_;
  std::vector<std::uint8_t> attrs_;
  std::vector<std::uint32_t> fores_;
  std::vector<std::uint32_t> backs_;
};

}  // namespace mirte
