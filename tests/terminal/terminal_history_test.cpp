// The rows the screen scrolls off: kept apart from the 24 rows the board addresses, read
// back as rows 0, -1, ... and turned into text for saving.
#include <gtest/gtest.h>

#include <string>

#include "terminal/console_text.h"
#include "terminal/terminal_buffer.h"

namespace mirte {
namespace {

// A buffer as the main window has it: 24 rows, no rows of its own above the screen.
class TerminalHistoryTest : public ::testing::Test {
protected:
  TerminalHistoryTest() { buffer.tbSetSVRowCount(24); }

  void Lines(int first, int last) {
    for (int n = first; n <= last; ++n) {
      buffer.PutString("line " + std::to_string(n));
      buffer.CarriageReturn();
      buffer.LineFeed();
    }
  }
  std::string Row(int row) const {
    const auto chars = buffer.GetCharRow(row);
    const auto attrs = buffer.GetAttrRow(row);
    return RowText(chars, attrs);
  }

  TTerminalBuffer buffer;
};

TEST_F(TerminalHistoryTest, KeepsScrolledRowsWithoutChangingWhatTheBoardAddresses) {
  Lines(1, 100);
  // Lines 78 .. 100 are on rows 1 .. 23; 1 .. 77 went to the history, newest nearest.
  EXPECT_EQ(buffer.RowsAbove(), 77);
  EXPECT_EQ(Row(1), "line 78");
  EXPECT_EQ(Row(0), "line 77");
  EXPECT_EQ(Row(-49), "line 28");
  EXPECT_EQ(Row(-76), "line 1");
  EXPECT_TRUE(buffer.GetCharRow(-77).empty());
  EXPECT_EQ(buffer.GetCell(-76, 6).Char, '1');

  // The board's addressing still ends at the screen's edges.
  buffer.GotoRowCol(0, 0);
  EXPECT_EQ(buffer.GetCursorRow(), 1);
  buffer.SetCursorRow(-50);
  EXPECT_EQ(buffer.GetCursorRow(), 1);
  buffer.CursorUp(false);
  EXPECT_EQ(buffer.GetCursorRow(), 1);
  buffer.CursorUp(true);  // scrolls the screen down: nothing comes back from the history
  EXPECT_EQ(Row(1), "");
  EXPECT_EQ(Row(2), "line 78");
  EXPECT_EQ(buffer.RowsAbove(), 77);
}

TEST_F(TerminalHistoryTest, BoardClearPushesWhatTheScreenHeldResetAndNewWidthDropIt) {
  Lines(1, 30);
  buffer.ClearScreenHome();
  // Lines 8 .. 30 were on screen; the blank row under them stays out.
  EXPECT_EQ(buffer.RowsAbove(), 30);
  EXPECT_EQ(Row(0), "line 30");
  EXPECT_EQ(Row(-29), "line 1");
  EXPECT_EQ(Row(1), "");
  buffer.ClearScreenHome();
  EXPECT_EQ(buffer.RowsAbove(), 30) << "a clear of a blank screen adds nothing";

  // Blank rows between rows that hold something are part of the page; a row of blanks in
  // reverse video holds something.
  buffer.GotoRowCol(3, 1);
  buffer.PutString("title");
  buffer.GotoRowCol(6, 1);
  buffer.SetCurrentAttributes(TAttr::Reverse);
  buffer.PutString("   ");
  buffer.SetCurrentAttributes(0);
  buffer.ClearScreenHome();
  EXPECT_EQ(buffer.RowsAbove(), 34);
  EXPECT_EQ(Row(-3), "title");
  EXPECT_EQ(Row(-2), "");
  EXPECT_EQ(buffer.GetCell(0, 1).Attr, TAttr::Reverse);

  buffer.ResetBuffer();
  EXPECT_EQ(buffer.RowsAbove(), 0);
  EXPECT_TRUE(buffer.GetCharRow(0).empty());

  Lines(1, 30);
  buffer.tbSetColCount(40);
  EXPECT_EQ(buffer.RowsAbove(), 0);
}

TEST_F(TerminalHistoryTest, OnlyWholeScreenScrollsAndScreenErasesFeedIt) {
  buffer.SetScrollRegion(5, 10);
  Lines(1, 20);  // scrolls rows 5 .. 10 only
  EXPECT_EQ(buffer.RowsAbove(), 0);
  buffer.SetScrollRegion(1, 24);

  buffer.GotoRowCol(1, 1);
  buffer.PutString("top");
  buffer.EraseScreen();  // the whole screen moves up into the history
  EXPECT_EQ(buffer.RowsAbove(), 24);
  EXPECT_EQ(Row(-23), "top");
  EXPECT_EQ(Row(1), "");
}

TEST_F(TerminalHistoryTest, HoldsAtMostItsCapacityAndCountsEveryPushedRow) {
  buffer.SetHistoryCapacity(10);
  Lines(1, 50);  // 27 rows scrolled off
  EXPECT_EQ(buffer.RowsAbove(), 10);
  EXPECT_EQ(buffer.History().Pushed(), 27);
  EXPECT_EQ(Row(0), "line 27");
  EXPECT_EQ(Row(-9), "line 18");
  buffer.SetHistoryCapacity(3);  // the newest rows stay
  EXPECT_EQ(Row(-2), "line 25");
  EXPECT_TRUE(buffer.GetCharRow(-3).empty());
  buffer.SetHistoryCapacity(0);
  Lines(51, 60);
  EXPECT_EQ(buffer.RowsAbove(), 0);
}

TEST_F(TerminalHistoryTest, RowsKeepTheirLookAndFollowDefaultColourChanges) {
  buffer.SetCurrentAttributes(TAttr::Reverse);
  buffer.SetCurrentForeColor(0x00FF00);
  buffer.PutString("green");
  buffer.SetCurrentForeColor(kColorSilver);
  buffer.SetCurrentAttributes(0);
  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();
  EXPECT_EQ(buffer.GetCell(0, 1).Attr, TAttr::Reverse);
  EXPECT_EQ(buffer.GetCell(0, 1).Fore, 0x00FF00u);
  EXPECT_EQ(buffer.GetCell(0, 6).Fore, kColorSilver);
  EXPECT_EQ(buffer.GetCell(0, 6).Back, kColorBlack);

  buffer.SetDefaultBackColor(0x800000);
  EXPECT_EQ(buffer.GetCell(0, 6).Back, 0x800000u);
  EXPECT_EQ(buffer.GetCell(0, 1).Fore, 0x00FF00u);  // not a default colour: kept

  buffer.SetCellAttributes(0, 2, TAttr::Selected);  // the selection marks history cells too
  EXPECT_EQ(buffer.GetAttrRow(0)[1], TAttr::Selected);
}

TEST_F(TerminalHistoryTest, ADefaultColourChangeReachesEveryRowHeldBeforeAndAfterTheRingWraps) {
  buffer.SetHistoryCapacity(5);
  for (const int last : {26, 40}) {  // 3 rows held, then 5 in a ring that has wrapped
    buffer.SetCurrentBackColor(buffer.GetDefaultBackColor());
    Lines(1, last);
    const TColor next = buffer.GetDefaultBackColor() + 1;
    buffer.SetDefaultBackColor(next);
    for (int row = 1 - buffer.History().Count(); row <= 0; ++row)
      EXPECT_EQ(buffer.GetCell(row, 80).Back, next) << "row " << row << " after " << last;
  }
}

// Copies keep the storage they overwrite where they can; what was there must never show.
TEST_F(TerminalHistoryTest, ACopiedBufferReadsAsItsSourceAndNothingOfWhatItOverwrote) {
  TTerminalBuffer fresh;
  fresh.tbSetSVRowCount(24);
  Lines(1, 40);
  TTerminalBuffer withHistory = buffer;
  buffer = fresh;
  EXPECT_EQ(buffer.RowsAbove(), 0);
  EXPECT_EQ(buffer.History().Pushed(), 0);
  EXPECT_EQ(ConsoleText(buffer), "");
  Lines(100, 125);  // rows pushed into the storage the old history left
  EXPECT_EQ(buffer.RowsAbove(), 3);
  EXPECT_EQ(Row(-2), "line 100");
  EXPECT_EQ(Row(0), "line 102");
  EXPECT_EQ(Row(1), "line 103");

  buffer = withHistory;
  EXPECT_EQ(buffer.RowsAbove(), 17);
  EXPECT_EQ(Row(-16), "line 1");
  EXPECT_EQ(Row(1), "line 18");
  EXPECT_EQ(Row(23), "line 40");
  EXPECT_EQ(ConsoleText(buffer), ConsoleText(withHistory));
}

TEST_F(TerminalHistoryTest, ConsoleTextIsHistoryThenScreenAsTheGlyphsShown) {
  EXPECT_EQ(ConsoleText(buffer), "");
  buffer.PutString("\xc9\xcd\xbb caff\x82   ");
  buffer.CarriageReturn();
  buffer.LineFeed();
  buffer.SetCurrentAttributes(TAttr::Invisible);
  buffer.PutString("hidden");
  buffer.SetCurrentAttributes(0);
  buffer.PutString("shown");
  buffer.GotoRowCol(24, 1);
  buffer.LineFeed();  // the first row goes to the history
  buffer.GotoRowCol(3, 1);
  buffer.PutChar(0);  // NUL shows as a blank
  buffer.PutChar('!');
  EXPECT_EQ(ConsoleText(buffer),
            "\u2554\u2550\u2557 caff\u00e9\n"
            "      shown\n"
            "\n"
            " !\n");
}

}  // namespace
}  // namespace mirte
