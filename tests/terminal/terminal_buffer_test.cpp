#include "terminal/terminal_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/screen_rows.h"

namespace mirte {
namespace {

// --- TTerminalArray -------------------------------------------------------------------------

// Rows of a one-byte array as text, '|' between rows.
std::string Dump(const TTerminalArray& array) {
  std::string out;
  for (int row = 0; row < array.RowCount(); ++row) {
    if (row > 0) out += '|';
    for (int col = 0; col < array.ColCount(); ++col) out += char(array.Get(row, col));
  }
  return out;
}

TTerminalArray Letters(int columns, int rows) {
  TTerminalArray array(1, columns, rows, '.');
  for (int row = 0; row < rows; ++row)
    for (int col = 0; col < columns; ++col) array.Set(row, col, 'a' + row * columns + col);
  return array;
}

TEST(TerminalArrayTest, EditsRowsAndCutsCountsToTheArray) {
  struct TCase {
    const char* name;
    void (*edit)(TTerminalArray&);
    const char* expected;
  };
  // Starts as "abcd|efgh|ijkl".
  const TCase cases[] = {
      {"delete", [](TTerminalArray& a) { a.Delete(2, 0, 1); }, "ad..|efgh|ijkl"},
      {"delete beyond the row", [](TTerminalArray& a) { a.Delete(99, 1, 2); }, "abcd|ef..|ijkl"},
      {"insert", [](TTerminalArray& a) { a.Insert(1, 0, 1); }, "a.bc|efgh|ijkl"},
      {"insert beyond the row", [](TTerminalArray& a) { a.Insert(9, 2, 0); }, "abcd|efgh|...."},
      {"clear span cut to the row", [](TTerminalArray& a) { a.ClearSpan(1, 2, 40); },
       "abcd|ef..|ijkl"},
      {"scroll up", [](TTerminalArray& a) { a.ScrollRows(1, 0, 2); }, "efgh|ijkl|...."},
      {"scroll down", [](TTerminalArray& a) { a.ScrollRows(-1, 0, 2); }, "....|abcd|efgh"},
      {"scroll part", [](TTerminalArray& a) { a.ScrollRows(-1, 1, 2); }, "abcd|....|efgh"},
      {"scroll more than the range", [](TTerminalArray& a) { a.ScrollRows(3, 0, 2); },
       "....|....|...."},
      {"write cut to the row", [](TTerminalArray& a) { a.Write("XYZ", 3, 2, 1); },
       "abcd|efXY|ijkl"},
      {"replace", [](TTerminalArray& a) { a.Replace('f', 'F'); }, "abcd|eFgh|ijkl"},
      {"outside the array",
       [](TTerminalArray& a) {
         a.Delete(1, 3, 0);
         a.Insert(1, 0, 4);
         a.ClearSpan(-1, 0, 3);
         a.Write("Q", 1, -1, 0);
         a.Set(5, 5, 'Q');
       },
       "abcd|efgh|ijkl"},
  };
  for (const auto& c : cases) {
    auto array = Letters(4, 3);
    c.edit(array);
    EXPECT_EQ(Dump(array), c.expected) << c.name;
  }
}

TEST(TerminalArrayTest, ResizeKeepsTheLastRowsAndTheFirstColumns) {
  auto array = Letters(4, 3);
  array.Resize(2, 5);
  EXPECT_EQ(Dump(array), "efgh.|ijkl.");
  array.Resize(4, 2);
  EXPECT_EQ(Dump(array), "..|..|ef|ij");
}

TEST(TerminalArrayTest, KeepsWideItemsAndTurnsOddSizesIntoBytes) {
  TTerminalArray colors(4, 3, 2, 0xC0C0C0);
  colors.Set(1, 2, 0x00FF8040);
  colors.Insert(1, 1, 0);
  EXPECT_EQ(colors.Get(1, 0), 0xC0C0C0u);
  EXPECT_EQ(colors.Get(1, 2), 0xC0C0C0u);
  colors.Set(1, 2, 0x00FF8040);
  EXPECT_EQ(colors.Get(1, 2), 0x00FF8040u);

  EXPECT_EQ(TTerminalArray(3, 2, 2, 0).ItemSize(), 1);
  EXPECT_EQ(TTerminalArray(2, 2, 2, 0).ItemSize(), 2);
  TTerminalArray empty(1, 0, 0, 0);
  empty.ClearAll();
  empty.ScrollRows(1, 0, 5);
  EXPECT_EQ(empty.GetItemPtr(0, 0), nullptr);
}

// Clearing, the blank-row test and Replace skip the rows never written since the last
// clear: each case writes one cell, moves rows about, changes the default or not, and the
// array must then read as if every row had been looked at.
TEST(TerminalArrayTest, ClearsTestsAndReplacesRowsWrittenAfterAScrollOrADefaultChange) {
  struct TCase {
    const char* name;
    void (*edit)(TTerminalArray&);
    const char* beforeClear;
    const char* afterClear;
  };
  const TCase cases[] = {
      {"written row scrolled up", [](TTerminalArray& a) { a.Set(3, 0, 'x'); a.ScrollRows(2, 0, 3); },
       "..|x.|..|..", "..|..|..|.."},
      {"written row scrolled down", [](TTerminalArray& a) { a.Write("yz", 2, 0, 0); a.ScrollRows(-3, 0, 3); },
       "..|..|..|yz", "..|..|..|.."},
      {"written by pointer", [](TTerminalArray& a) { *a.GetItemPtr(2, 1) = std::byte('p'); },
       "..|..|.p|..", "..|..|..|.."},
      {"byte put after a rotation", [](TTerminalArray& a) { a.ScrollRows(1, 0, 3); a.PutByte(0, 1, 'q'); },
       ".q|..|..|..", "..|..|..|.."},
      {"default changed with nothing written", [](TTerminalArray& a) { a.SetDefault('-'); },
       "..|..|..|..", "--|--|--|--"},
      {"default changed, then a scroll", [](TTerminalArray& a) { a.SetDefault('-'); a.ScrollRows(1, 0, 3); },
       "..|..|..|--", "--|--|--|--"},
      {"replace of the clean item", [](TTerminalArray& a) { a.Set(1, 1, 'k'); a.Replace('.', '+'); a.SetDefault('+'); },
       "++|+k|++|++", "++|++|++|++"},
      {"replace of another item", [](TTerminalArray& a) { a.Set(1, 1, 'k'); a.Replace('k', '.'); },
       "..|..|..|..", "..|..|..|.."},
  };
  for (const auto& c : cases) {
    TTerminalArray array(1, 2, 4, '.');
    array.ClearAll();
    c.edit(array);
    EXPECT_EQ(Dump(array), c.beforeClear) << c.name;
    for (int row = 0; row < 4; ++row) {
      bool blank = true;
      for (int col = 0; col < 2; ++col) blank = blank && array.Get(row, col) == array.DefaultItem();
      EXPECT_EQ(array.RowIsDefault(row), blank) << c.name << " row " << row;
    }
    array.ClearAll();
    EXPECT_EQ(Dump(array), c.afterClear) << c.name;
    for (int row = 0; row < 4; ++row) EXPECT_TRUE(array.RowIsDefault(row)) << c.name << " row " << row;
  }
}

TEST(TerminalArrayTest, ResizedArrayClearsTheRowsItKept) {
  auto array = Letters(3, 3);
  array.ClearAll();
  array.Set(2, 0, 'z');
  array.Resize(5, 3);
  EXPECT_FALSE(array.RowIsDefault(4));
  EXPECT_TRUE(array.RowIsDefault(0));
  array.ClearAll();
  EXPECT_EQ(Dump(array), "...|...|...|...|...");
}

// A copy onto an array of the same shape writes only the rows either side wrote; whatever
// each side did before, the copy must read as the source and go on clearing as it would.
TEST(TerminalArrayTest, CopyReadsAsTheSourceWhateverEitherSideWroteBefore) {
  using TEdit = void (*)(TTerminalArray&);
  struct TCase {
    const char* name;
    TEdit target;
    TEdit source;
  };
  const TEdit nothing = [](TTerminalArray&) {};
  const TCase cases[] = {
      {"written target, clean source", [](TTerminalArray& a) { a.Write("ab", 2, 0, 0); a.Set(1, 1, 'c'); },
       nothing},
      {"clean target, source scrolled after a write",
       nothing, [](TTerminalArray& a) { a.Set(3, 0, 'x'); a.ScrollRows(2, 0, 3); }},
      {"bands apart", [](TTerminalArray& a) { a.Set(0, 0, 'p'); },
       [](TTerminalArray& a) { a.Set(3, 1, 'q'); }},
      {"source cleared to another default",
       [](TTerminalArray& a) { a.Set(2, 0, 'r'); }, [](TTerminalArray& a) { a.SetDefault('-'); a.ClearAll(); }},
      {"target cleared to another default",
       [](TTerminalArray& a) { a.SetDefault('-'); a.ClearAll(); }, [](TTerminalArray& a) { a.Set(1, 0, 's'); }},
      {"another shape", [](TTerminalArray& a) { a.Resize(2, 3); }, [](TTerminalArray& a) { a.Set(0, 1, 't'); }},
  };
  for (const auto& c : cases) {
    TTerminalArray target(1, 2, 4, '.');
    TTerminalArray source(1, 2, 4, '.');
    c.target(target);
    c.source(source);
    target = source;
    EXPECT_EQ(Dump(target), Dump(source)) << c.name;
    target.SetDefault('.');
    source.SetDefault('.');
    target.Set(2, 1, 'u');
    source.Set(2, 1, 'u');
    for (int row = 0; row < 4; ++row)
      EXPECT_EQ(target.RowIsDefault(row), source.RowIsDefault(row)) << c.name << " row " << row;
    target.ClearAll();
    EXPECT_EQ(Dump(target), "..|..|..|..") << c.name;
  }
  // Onto a larger array, and back onto one that was moved from.
  TTerminalArray large = Letters(3, 5);
  const TTerminalArray small = Letters(2, 2);
  const TTerminalArray three = Letters(2, 3);
  large = small;
  EXPECT_EQ(Dump(large), "ab|cd");
  large = three;
  EXPECT_EQ(Dump(large), "ab|cd|ef");
  TTerminalArray taken = std::move(large);
  large = three;
  EXPECT_EQ(Dump(large), "ab|cd|ef");
  EXPECT_EQ(Dump(taken), "ab|cd|ef");

  TTerminalArray self = Letters(2, 2);
  auto& alias = self;
  self = alias;
  EXPECT_EQ(Dump(self), "ab|cd");
}

// --- TTerminalBuffer ------------------------------------------------------------------------

class CountingWindow : public ITerminalNotify {
public:
  void CellsChanged() override { ++calls; }
  int calls = 0;
};

// The buffer as the program uses it: 80 x 24 with no history rows.
class TerminalBufferTest : public ::testing::Test {
protected:
  TerminalBufferTest() { buffer.tbSetSVRowCount(24); }

  std::string Row(int row) const { return testing::RowText(buffer, row); }
  std::string Screen() const {
    std::string out;
    for (int row = 1; row <= buffer.RowCount(); ++row) out += Row(row) + "\n";
    return out;
  }
  void Expect(int row, int col, bool pendingWrap = false) const {
    EXPECT_EQ(buffer.GetCursorRow(), row);
    EXPECT_EQ(buffer.GetCursorCol(), col);
    EXPECT_EQ(buffer.GetPendingWrap(), pendingWrap);
  }
  // Rows 1..24 start with "A".."X" followed by the row's letter in lower case.
  void FillScreen() {
    for (int row = 1; row <= 24; ++row) {
      buffer.GotoRowCol(row, 1);
      buffer.PutChar('A' + row - 1);
      buffer.PutString(std::string(9, char('a' + row - 1)));
    }
  }

  TTerminalBuffer buffer;
};

TEST_F(TerminalBufferTest, AFullRowWaitsAtTheLastColumnForTheNextCharacter) {
  buffer.PutString(std::string(80, 'x'));
  Expect(1, 80, true);
  buffer.CarriageReturn();
  buffer.LineFeed();
  Expect(2, 1);

  buffer.GotoRowCol(5, 1);
  buffer.PutString(std::string(80, 'y') + "z");
  Expect(6, 2);
  EXPECT_EQ(Row(6), "z");
}

TEST_F(TerminalBufferTest, WritingPastTheBottomRightCornerScrollsOnlyWhenTheNextCharacterComes) {
  FillScreen();
  buffer.GotoRowCol(24, 80);
  buffer.PutChar('!');
  Expect(24, 80, true);
  EXPECT_EQ(Row(1), "Aaaaaaaaaa");
  buffer.PutChar('?');
  Expect(24, 2);
  EXPECT_EQ(Row(1), "Bbbbbbbbbb");
  EXPECT_EQ(Row(23), "Xxxxxxxxxx" + std::string(69, ' ') + "!");
  EXPECT_EQ(Row(24), "?");
}

TEST_F(TerminalBufferTest, LineFeedAtTheBottomBringsBlanksInTheCurrentAttributesAndColours) {
  FillScreen();
  buffer.SetCurrentAttributes(TAttr::Reverse);
  buffer.SetCurrentBackColor(0x800000);
  buffer.GotoRowCol(24, 5);
  buffer.LineFeed();
  Expect(24, 5);
  EXPECT_EQ(Row(1), "Bbbbbbbbbb");
  EXPECT_EQ(Row(24), "");
  const auto blank = buffer.GetCell(24, 80);
  EXPECT_EQ(blank.Attr, TAttr::Reverse);
  EXPECT_EQ(blank.Back, 0x800000u);
  EXPECT_EQ(blank.Fore, kColorSilver);
}

TEST_F(TerminalBufferTest, CursorMovesStopOrScrollAtTheEdgesAsAsked) {
  FillScreen();
  struct TCase {
    const char* name;
    int row, col;
    void (*move)(TTerminalBuffer&);
    int toRow, toCol;
    const char* topRow;
  };
  const TCase cases[] = {
      {"up without scroll", 1, 5, [](TTerminalBuffer& b) { b.CursorUp(false); }, 1, 5,
       "Aaaaaaaaaa"},
      {"up with scroll", 1, 5, [](TTerminalBuffer& b) { b.CursorUp(true); }, 1, 5, ""},
      {"down without scroll", 24, 5, [](TTerminalBuffer& b) { b.CursorDown(false); }, 24, 5,
       "Aaaaaaaaaa"},
      {"backspace at column 1", 3, 1, [](TTerminalBuffer& b) { b.CursorBackspace(); }, 3, 1,
       "Aaaaaaaaaa"},
      {"right wraps to the next row", 3, 80,
       [](TTerminalBuffer& b) { b.CursorRight(true, true); }, 4, 1, "Aaaaaaaaaa"},
      {"right without wrap stays", 3, 80, [](TTerminalBuffer& b) { b.CursorRight(false, true); },
       3, 80, "Aaaaaaaaaa"},
      {"right at the corner scrolls", 24, 80,
       [](TTerminalBuffer& b) { b.CursorRight(true, true); }, 24, 1, "Bbbbbbbbbb"},
      {"right at the corner without scroll", 24, 80,
       [](TTerminalBuffer& b) { b.CursorRight(true, false); }, 24, 80, "Aaaaaaaaaa"},
      {"left wraps to the previous row", 3, 1,
       [](TTerminalBuffer& b) { b.CursorLeft(true, false); }, 2, 80, "Aaaaaaaaaa"},
      {"left at the top scrolls down", 1, 1, [](TTerminalBuffer& b) { b.CursorLeft(true, true); },
       1, 80, ""},
      {"carriage return", 7, 44, [](TTerminalBuffer& b) { b.CarriageReturn(); }, 7, 1,
       "Aaaaaaaaaa"},
  };
  for (const auto& c : cases) {
    TTerminalBuffer saved = buffer;
    buffer.GotoRowCol(c.row, c.col);
    c.move(buffer);
    EXPECT_EQ(buffer.GetCursorRow(), c.toRow) << c.name;
    EXPECT_EQ(buffer.GetCursorCol(), c.toCol) << c.name;
    EXPECT_EQ(Row(1), c.topRow) << c.name;
    buffer = saved;
  }
}

TEST_F(TerminalBufferTest, GotoRowColClampsToTheScreen) {
  struct TCase {
    int row, col, toRow, toCol;
  };
  const TCase cases[] = {{0, 0, 1, 1},     {1, 1, 1, 1},       {99, 999, 24, 80},
                         {-5, 40, 1, 40},  {24, 80, 24, 80},   {12, -1000000, 12, 1},
                         {INT32_MIN, INT32_MAX, 1, 80}};
  for (const auto& c : cases) {
    buffer.GotoRowCol(c.row, c.col);
    EXPECT_EQ(buffer.GetCursorRow(), c.toRow) << c.row << "," << c.col;
    EXPECT_EQ(buffer.GetCursorCol(), c.toCol) << c.row << "," << c.col;
  }
}

TEST_F(TerminalBufferTest, CellsOutsideTheScreenReadAsBlanks) {
  FillScreen();
  const int outside[][2] = {{1, 0}, {1, 81}, {0, 1}, {25, 1}, {1, INT32_MIN}, {INT32_MIN, 1},
                            {INT32_MAX, INT32_MAX}};
  for (const auto& at : outside) {
    EXPECT_EQ(buffer.GetCell(at[0], at[1]).Char, ' ') << at[0] << "," << at[1];
  }
}

TEST_F(TerminalBufferTest, EraseOperationsClearTheirCellsAndLeaveTheCursor) {
  struct TCase {
    const char* name;
    void (*erase)(TTerminalBuffer&);
    const char* rows4to6;
    const char* row1;
    const char* row24;
  };
  // Cursor at row 5, column 4 on a filled screen.
  const TCase cases[] = {
      {"line from cursor", [](TTerminalBuffer& b) { b.EraseLineFromCursor(); },
       "Dddddddddd|Eee|Ffffffffff", "Aaaaaaaaaa", "Xxxxxxxxxx"},
      {"line to cursor", [](TTerminalBuffer& b) { b.EraseLineToCursor(); },
       "Dddddddddd|    eeeeee|Ffffffffff", "Aaaaaaaaaa", "Xxxxxxxxxx"},
      {"whole line", [](TTerminalBuffer& b) { b.EraseWholeLine(); }, "Dddddddddd||Ffffffffff",
       "Aaaaaaaaaa", "Xxxxxxxxxx"},
      {"screen from cursor", [](TTerminalBuffer& b) { b.EraseScreenFromCursor(); },
       "Dddddddddd|Eee|", "Aaaaaaaaaa", ""},
      {"screen to cursor", [](TTerminalBuffer& b) { b.EraseScreenToCursor(); },
       "|    eeeeee|Ffffffffff", "", "Xxxxxxxxxx"},
      {"whole screen", [](TTerminalBuffer& b) { b.EraseScreen(); }, "||", "", ""},
      {"chars within the row", [](TTerminalBuffer& b) { b.EraseChars(2); },
       "Dddddddddd|Eee  eeeee|Ffffffffff", "Aaaaaaaaaa", "Xxxxxxxxxx"},
      {"chars on into the next row", [](TTerminalBuffer& b) { b.EraseChars(77 + 3); },
       "Dddddddddd|Eee|   fffffff", "Aaaaaaaaaa", "Xxxxxxxxxx"},
      {"chars beyond the screen", [](TTerminalBuffer& b) { b.EraseChars(1 << 30); },
       "Dddddddddd|Eee|", "Aaaaaaaaaa", ""},
      {"no chars", [](TTerminalBuffer& b) { b.EraseChars(-3); },
       "Dddddddddd|Eeeeeeeeee|Ffffffffff", "Aaaaaaaaaa", "Xxxxxxxxxx"},
  };
  FillScreen();
  for (const auto& c : cases) {
    TTerminalBuffer saved = buffer;
    buffer.GotoRowCol(5, 4);
    c.erase(buffer);
    EXPECT_EQ(Row(4) + "|" + Row(5) + "|" + Row(6), c.rows4to6) << c.name;
    EXPECT_EQ(Row(1), c.row1) << c.name;
    EXPECT_EQ(Row(24), c.row24) << c.name;
    Expect(5, 4);
    buffer = saved;
  }
}

TEST_F(TerminalBufferTest, ErasedCellsTakeTheCurrentAttributesUntilReset) {
  buffer.PutString("text");
  buffer.SetCurrentAttributes(TAttr::Reverse);
  buffer.CarriageReturn();
  buffer.EraseLineFromCursor();
  EXPECT_EQ(buffer.GetCell(1, 1).Attr, TAttr::Reverse);
  EXPECT_EQ(buffer.GetCell(1, 80).Attr, TAttr::Reverse);

  buffer.SetDefaultAttributes(TAttr::Bold);
  buffer.ResetBuffer();
  EXPECT_EQ(buffer.GetCurrentAttributes(), TAttr::Bold);
  buffer.ClearScreenHome();
  EXPECT_EQ(buffer.GetCell(10, 10).Attr, TAttr::Bold);
}

TEST_F(TerminalBufferTest, InsertsAndDeletesCharactersAndLinesAtTheCursor) {
  FillScreen();
  buffer.GotoRowCol(2, 2);
  buffer.InsertChars(3);
  EXPECT_EQ(Row(2), "B   bbbbbbbbb");
  buffer.DeleteChars(4);
  EXPECT_EQ(Row(2), "Bbbbbbbbb");
  buffer.DeleteChars(1000);
  EXPECT_EQ(Row(2), "B");
  buffer.GotoRowCol(3, 80);
  buffer.InsertChars(5);
  EXPECT_EQ(Row(3), "Cccccccccc");

  buffer.GotoRowCol(22, 7);
  buffer.InsertLines(1);
  EXPECT_EQ(Row(22) + "|" + Row(23) + "|" + Row(24), "|Vvvvvvvvvv|Wwwwwwwwww");
  buffer.DeleteLines(2);
  EXPECT_EQ(Row(22) + "|" + Row(23) + "|" + Row(24), "Wwwwwwwwww||");
  buffer.GotoRowCol(1, 1);
  buffer.DeleteLines(999);
  EXPECT_EQ(Screen(), std::string(24, '\n'));
}

TEST_F(TerminalBufferTest, InsertModeShiftsTheRestOfTheRow) {
  buffer.PutString("ace");
  buffer.GotoRowCol(1, 2);
  buffer.SetInsertMode(true);
  buffer.PutChar('b');
  EXPECT_EQ(Row(1), "abce");
  Expect(1, 3);
}

TEST_F(TerminalBufferTest, TabBackwardFromAPendingWrapWritesAtTheTabStop) {
  buffer.GotoRowCol(1, 80);
  buffer.PutChar('x');
  ASSERT_TRUE(buffer.GetPendingWrap());
  buffer.TabBackward();
  EXPECT_FALSE(buffer.GetPendingWrap());
  buffer.PutChar('t');
  EXPECT_EQ(buffer.GetCell(1, 73).Char, 't');
  Expect(1, 74);
}

TEST_F(TerminalBufferTest, TabsStopEveryEightColumnsAndAtTheEdges) {
  buffer.TabForward();
  Expect(1, 9);
  buffer.GotoRowCol(1, 75);
  buffer.TabForward();
  Expect(1, 80);
  buffer.TabBackward();
  Expect(1, 73);
  buffer.SetCursorCol(5);
  buffer.TabBackward();
  Expect(1, 1);
  buffer.TabBackward();
  Expect(1, 1);

  buffer.SetCursorCol(12);
  buffer.SetTabStop();
  buffer.SetCursorCol(1);
  buffer.TabForward();
  Expect(1, 9);
  buffer.TabForward();
  Expect(1, 12);
  buffer.ClearAllTabStops();
  buffer.TabForward();
  Expect(1, 80);

  buffer.ClearScreenHome();
  buffer.SetCursorRow(6);
  buffer.SetVTabStop();
  buffer.SetCursorRow(1);
  buffer.VTabForward();
  Expect(6, 1);
  buffer.VTabForward();
  Expect(24, 1);
  buffer.VTabBackward();
  Expect(6, 1);
}

TEST_F(TerminalBufferTest, ScrollRegionConfinesScrollingAndHomesTheCursor) {
  FillScreen();
  buffer.SetScrollRegion(5, 5);
  EXPECT_FALSE(buffer.GetRegionActive());

  buffer.SetScrollRegion(10, 5);
  ASSERT_TRUE(buffer.GetRegionActive());
  EXPECT_EQ(buffer.GetRegionTop(), 5);
  EXPECT_EQ(buffer.GetRegionBottom(), 10);
  Expect(5, 1);
  buffer.GotoRowCol(10, 3);
  buffer.LineFeed();
  EXPECT_EQ(Row(4) + "|" + Row(5) + "|" + Row(9) + "|" + Row(10) + "|" + Row(11),
            "Dddddddddd|Ffffffffff|Jjjjjjjjjj||Kkkkkkkkkk");

  buffer.SetAbsoluteCoordinates(false);
  buffer.GotoRowCol(1, 1);
  EXPECT_EQ(buffer.GetCursorRow(), 1);
  buffer.SetAbsoluteCoordinates(true);
  EXPECT_EQ(buffer.GetCursorRow(), 5);

  buffer.SetScrollRegion(1, 24);
  EXPECT_FALSE(buffer.GetRegionActive());
  buffer.SetScrollRegion(-40, 400);
  EXPECT_FALSE(buffer.GetRegionActive());
}

TEST_F(TerminalBufferTest, SizesBelowTwoAreRefusedAndChangeNothing) {
  struct TCase {
    void (TTerminalBuffer::*set)(int);
    const char* message;
  };
  const TCase cases[] = {
      {&TTerminalBuffer::tbSetColCount, "TTerminalBuffer.tbSetColCount: new count too small"},
      {&TTerminalBuffer::tbSetRowCount, "TTerminalBuffer.tbSetRowCount: new count too small"},
      {&TTerminalBuffer::tbSetSVRowCount, "TTerminalBuffer.tbSetSVRowCount: new count too small"},
  };
  for (const auto& c : cases) {
    for (int n : {1, 0, -7}) {
      try {
        (buffer.*c.set)(n);
        ADD_FAILURE() << c.message << " not raised for " << n;
      } catch (const ETerminalError& error) {
        EXPECT_STREQ(error.what(), c.message);
      }
      EXPECT_EQ(buffer.ColCount(), 80);
      EXPECT_EQ(buffer.RowCount(), 24);
      EXPECT_EQ(buffer.SVRowCount(), 24);
    }
  }
}

TEST_F(TerminalBufferTest, ResizingKeepsContentAndTabStops) {
  FillScreen();
  buffer.tbSetColCount(20);
  EXPECT_EQ(Row(3), "Cccccccccc");
  Expect(1, 1);
  buffer.TabForward();
  Expect(1, 9);
  buffer.TabForward();
  Expect(1, 17);
  buffer.TabForward();
  Expect(1, 20);

  // Columns that come back are empty and have no tab stops.
  buffer.tbSetColCount(5);
  buffer.tbSetColCount(20);
  EXPECT_EQ(Row(3), "Ccccc");
  buffer.TabForward();
  Expect(1, 20);

  // More rows come in above: the bottom rows stay where they were.
  buffer.tbSetSVRowCount(30);
  buffer.tbSetRowCount(30);
  EXPECT_EQ(Row(30), "Xxxxx");
  EXPECT_EQ(Row(7), "Aaaaa");
  EXPECT_EQ(Row(6), "");
  buffer.tbSetRowCount(31);  // more than the total is ignored
  EXPECT_EQ(buffer.RowCount(), 30);
}

TEST_F(TerminalBufferTest, ShrinkingKeepsThePendingChangeInsideTheNewSize) {
  TInvalidRect rect;
  while (buffer.GetInvalidRect(rect)) {
  }
  buffer.GotoRowCol(24, 80);
  buffer.PutChar('x');
  buffer.tbSetColCount(40);
  buffer.tbSetSVRowCount(10);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 1, 40, 10}));
  EXPECT_EQ(buffer.RowCount(), 10);
}

TEST(TerminalBufferHistoryTest, ScrolledRowsGoIntoTheHistoryAndAreReported) {
  TTerminalBuffer buffer;  // 200 rows, 24 of them on screen
  std::vector<std::vector<int>> scrolls;
  buffer.OnScroll = [&](TTerminalBuffer&, int count, int first, int last) {
    scrolls.push_back({count, first, last});
  };
  buffer.PutString("top");
  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();
  ASSERT_EQ(scrolls.size(), 1u);
  EXPECT_EQ(scrolls[0], (std::vector<int>{1, -175, 24}));
  EXPECT_EQ(buffer.GetCharRow(1)[0], ' ');

  // Row 0 lands in the history, one row above the screen.
  buffer.GotoRowCol(0, 1);
  EXPECT_EQ(buffer.GetCursorRow(), 0);
  buffer.SetCursorRow(-1000);
  EXPECT_EQ(buffer.GetCursorRow(), -175);
  buffer.tbSetSVRowCount(24);
  EXPECT_EQ(buffer.GetCursorRow(), 1);
  // The buffer's own rows above the screen are gone; what remains above is the one row
  // that left the buffer's top when it scrolled.
  EXPECT_EQ(buffer.RowsAbove(), 1);
  EXPECT_TRUE(buffer.GetCharRow(-1).empty());
}

TEST_F(TerminalBufferTest, ChangesMergeIntoOneRectangleAndNotifyOncePerDrain) {
  CountingWindow window;
  TInvalidRect rect;
  buffer.SetWindowHandle(&window);
  EXPECT_EQ(window.calls, 1);  // the screen is pending since construction
  while (buffer.GetInvalidRect(rect)) {
  }

  buffer.GotoRowCol(2, 79);
  buffer.PutChar('a');
  buffer.GotoRowCol(23, 3);
  buffer.PutChar('b');
  EXPECT_EQ(window.calls, 2);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{3, 2, 79, 23}));
  EXPECT_FALSE(buffer.GetInvalidRect(rect));
  EXPECT_FALSE(buffer.HasInvalidRect());

  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();
  EXPECT_EQ(window.calls, 3);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 1, 80, 24}));

  // Moving the cursor changes no cells.
  buffer.GotoRowCol(4, 4);
  buffer.CursorRight(true, true);
  EXPECT_FALSE(buffer.HasInvalidRect());
  EXPECT_TRUE(buffer.GetCursorMoved());
  EXPECT_FALSE(buffer.GetCursorMoved());

  buffer.ClearWindowHandle();
  buffer.PutChar('c');
  EXPECT_EQ(window.calls, 3);
}

// A window that moves its pixels on a whole-screen scroll is told only of the new row; the
// changes made before the scroll move up with their cells, and a scroll inside a region is
// painted as before.
TEST_F(TerminalBufferTest, AWindowThatMovesPixelsGetsScrollCountsAndMovedChanges) {
  TInvalidRect rect;
  buffer.SetWindowScrolls(true);
  while (buffer.GetInvalidRect(rect)) {
  }
  buffer.GotoRowCol(10, 5);
  buffer.PutString("ab");
  buffer.GotoRowCol(24, 1);
  buffer.PutChar('c');
  buffer.LineFeed();
  buffer.LineFeed();
  EXPECT_EQ(buffer.TakeScrolledRows(), 2);
  EXPECT_EQ(buffer.TakeScrolledRows(), 0);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 8, 80, 24}));

  // Changes that scroll off the top are gone; a scroll of the whole height marks it all.
  buffer.GotoRowCol(1, 1);
  buffer.PutChar('d');
  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();
  EXPECT_EQ(buffer.TakeScrolledRows(), 1);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 24, 80, 24}));
  for (int i = 0; i < 30; ++i) buffer.LineFeed();
  EXPECT_EQ(buffer.TakeScrolledRows(), 24);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 1, 80, 24}));

  buffer.SetScrollRegion(5, 10);
  buffer.UseScrollRegion(true);
  while (buffer.GetInvalidRect(rect)) {
  }
  buffer.GotoRowCol(10, 1);
  buffer.LineFeed();
  EXPECT_EQ(buffer.TakeScrolledRows(), 0);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 5, 80, 10}));
  buffer.UseScrollRegion(false);

  // A window that stops moving pixels has the scrolls it never took painted instead.
  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();
  while (buffer.GetInvalidRect(rect)) {
  }
  buffer.SetWindowScrolls(false);
  EXPECT_EQ(buffer.TakeScrolledRows(), 0);
  ASSERT_TRUE(buffer.GetInvalidRect(rect));
  EXPECT_EQ(rect, (TInvalidRect{1, 1, 80, 24}));
}

TEST_F(TerminalBufferTest, DefaultColourChangesRecolourOnlyCellsInTheOldDefault) {
  buffer.PutChar('a');
  buffer.SetCurrentForeColor(0x0000FF);
  buffer.PutChar('b');
  buffer.SetDefaultForeColor(0x00FF00);
  EXPECT_EQ(buffer.GetCell(1, 1).Fore, 0x00FF00u);
  EXPECT_EQ(buffer.GetCell(1, 2).Fore, 0x0000FFu);
  EXPECT_EQ(buffer.GetCell(1, 3).Fore, 0x00FF00u);
  EXPECT_EQ(buffer.GetForeColorRow(1).size(), 80u);
  EXPECT_EQ(buffer.GetForeColorRow(1)[1], 0x0000FFu);
  // The erase item stays the current colour until a reset.
  buffer.EraseWholeLine();
  EXPECT_EQ(buffer.GetCell(1, 1).Fore, 0x0000FFu);
  buffer.ResetBuffer();
  buffer.ClearScreenHome();
  EXPECT_EQ(buffer.GetCell(1, 1).Fore, 0x00FF00u);
}

TEST_F(TerminalBufferTest, ResetRestoresModesWithoutMarkingCellsChanged) {
  TInvalidRect rect;
  buffer.SetScrollRegion(3, 8);
  buffer.SetInsertMode(true);
  buffer.SetAutoWrap(false);
  buffer.SetAbsoluteCoordinates(false);
  buffer.SetCursorCol(30);
  buffer.ClearAllTabStops();
  while (buffer.GetInvalidRect(rect)) {
  }
  buffer.ResetBuffer();
  EXPECT_FALSE(buffer.HasInvalidRect());
  EXPECT_FALSE(buffer.GetRegionActive());
  EXPECT_FALSE(buffer.GetInsertMode());
  EXPECT_TRUE(buffer.GetAutoWrap());
  EXPECT_TRUE(buffer.GetAbsoluteCoordinates());
  Expect(1, 1);
  buffer.TabForward();
  Expect(1, 9);
}

TEST_F(TerminalBufferTest, ReportsEveryCursorChange) {
  std::vector<std::pair<int, int>> moves;
  buffer.OnCursorMoved = [&](TTerminalBuffer&, int row, int col) { moves.emplace_back(row, col); };
  buffer.GotoRowCol(3, 4);
  buffer.PutChar('x');
  buffer.LineFeed();
  EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{3, 4}, {3, 5}, {4, 5}}));
}

TEST(TerminalBufferWideTest, KeepsTwoByteCharacters) {
  TTerminalBuffer buffer(true);
  buffer.PutChar(0x263A);
  EXPECT_EQ(buffer.GetCell(1, 1).Char, 0x263A);
  EXPECT_EQ(buffer.GetCharRow(1).size(), 160u);
}

}  // namespace
}  // namespace mirte
