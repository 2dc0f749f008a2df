#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/board_service.h"
#include "support/fake_board_window.h"
#include "support/screen_rows.h"
#include "terminal/terminal_buffer.h"

namespace mirte {
namespace {

using namespace std::string_literals;

// Each case runs twice: with the bytes arriving in one burst, and one byte per burst with
// the terminal painting (draining the changed area) in between.
class ConsoleInterpreterTest : public ::testing::TestWithParam<bool> {
protected:
  ConsoleInterpreterTest() {
    buffer.tbSetSVRowCount(24);
    service.ResetConsole();
    window.calls.clear();
  }

  void Feed(std::string_view bytes) {
    for (char byte : bytes) {
      service.ProcessBoardByte(std::uint8_t(byte));
      if (GetParam()) {
        TInvalidRect painted;
        buffer.GetInvalidRect(painted);
      }
    }
  }
  std::string Row(int row) const { return testing::RowText(buffer, row); }
  std::string Screen() const {
    std::string out;
    for (int row = 1; row <= 24; ++row)
      if (const auto text = Row(row); !text.empty()) out += std::to_string(row) + ":" + text + "\n";
    return out;
  }
  void ExpectCursor(int row, int col) const {
    EXPECT_EQ(buffer.GetCursorRow(), row);
    EXPECT_EQ(buffer.GetCursorCol(), col);
  }
  // Moves the cursor as the board does: ESC Y with row and column offset by 32.
  static std::string At(int row, int col) {
    return "\x1bY"s + char(row + 31) + char(col + 31);
  }

  TTerminalBuffer buffer;
  testing::FakeBoardWindow window;
  TBoardService service{buffer, window};
};

struct TConsoleCase {
  const char* name;
  std::string bytes;
  std::string screen;  // rows that are not blank, "row:text\n" each
  int row, col;        // cursor afterwards
};

TEST_P(ConsoleInterpreterTest, ControlCodesActOnTheScreen) {
  const TConsoleCase cases[] = {
      {"plain text with CR LF", "ab\r\ncd", "1:ab\n2:cd\n", 2, 3},
      {"SOH homes", "abc\x01", "1:abc\n", 1, 1},
      {"ACK moves right without writing", "a\x06" "b", "1:a b\n", 1, 4},
      {"ACK at the right edge wraps", At(3, 80) + "\x06", "", 4, 1},
      {"BS and NAK step left without erasing", "abcd\x08\x15", "1:abcd\n", 1, 3},
      {"BS at column 1 stays", "\x08\x08", "", 1, 1},
      {"LF keeps the column", "ab\ncd", "1:ab\n2:  cd\n", 2, 5},
      {"FF clears and homes", "abc\r\ndef\x0c", "", 1, 1},
      {"CR", "abc\rX", "1:Xbc\n", 1, 2},
      {"EM blanks the whole row", "abcdef\x08\x08\x19", "", 1, 1},
      {"SUB on the first row stays", "ab\x1a", "1:ab\n", 1, 3},
      {"SUB moves up", At(5, 7) + "\x1a", "", 4, 7},
      {"GS starts a new line", "ab\x1d" "cd", "1:ab\n2:cd\n", 2, 3},
      {"DLE and a byte other than DC1 show nothing", "\x10" "Ab", "1:b\n", 1, 2},
      {"ESC ESC shows nothing", "\x1b\x1bx", "1:x\n", 1, 2},
      {"unknown ESC letter is dropped", "\x1bZx", "1:x\n", 1, 2},
      {"ESC K erases to the end of the row", "abcdef" + At(1, 3) + "\x1bK", "1:ab\n", 1, 3},
      {"ESC k erases to the end of the screen",
       "abcdef\r\nghi" + At(1, 3) + "\x1bk", "1:ab\n", 1, 3},
      {"TAB, NUL and high bytes are characters", "\x09\x00\xff\x1c"s, "1:\x09\x00\xff\x1c\n"s,
       1, 5},
      {"unknown command type, then console output", "\x10\x11\x07xy", "1:xy\n", 1, 3},
  };
  for (const auto& c : cases) {
    service.ResetConsole();
    Feed(c.bytes);
    EXPECT_EQ(Screen(), c.screen) << c.name;
    EXPECT_EQ(buffer.GetCursorRow(), c.row) << c.name;
    EXPECT_EQ(buffer.GetCursorCol(), c.col) << c.name;
    EXPECT_EQ(service.GetState(), TBoardService::Console) << c.name;
  }
}

TEST_P(ConsoleInterpreterTest, CursorAddressesInRangeMoveAndOthersAreIgnored) {
  struct TAddress {
    std::string bytes;
    int row, col;
  };
  const TAddress cases[] = {
      {"\x1bY\x20\x20", 1, 1},
      {"\x1bY\x37\x6f", 24, 80},
      {"\x1bY\x38\x20", 10, 10},     // row byte 56: below the screen
      {"\x1bY\x20\x70", 10, 10},     // column byte 112: right of the screen
      {"\x1bY\x1f\x20", 10, 10},     // row byte 31
      {"\x1bY\x00\x21\x22"s, 2, 3},  // a row byte 0 counts as no row yet
      {"\x1bY\x1b\x10", 10, 10},     // ESC and DLE are plain address bytes here
      {"\x1bY\xff\xff", 10, 10},
  };
  for (const auto& c : cases) {
    service.ResetConsole();
    Feed(At(10, 10));
    Feed(c.bytes);
    ExpectCursor(c.row, c.col);
    EXPECT_EQ(service.GetState(), TBoardService::Console);
    EXPECT_EQ(service.GetPendingRow(), 0);
    EXPECT_EQ(Screen(), "");
  }
}

TEST_P(ConsoleInterpreterTest, AttributeModesChooseWhatSoAndSiApply) {
  struct TMode {
    char letter;
    std::uint8_t on, off;
  };
  const TMode modes[] = {
      {'@', 0x01, 0x00}, {'A', 0x00, 0x01}, {'B', 0x05, 0x00}, {'C', 0x04, 0x00},
      {'D', 0x20, 0x00}, {'P', 0x11, 0x00}, {'Q', 0x10, 0x00}, {'R', 0x15, 0x00},
      {'S', 0x14, 0x00}, {'`', 0x03, 0x00}, {'a', 0x02, 0x00}, {'b', 0x07, 0x00},
      {'c', 0x06, 0x00},
  };
  for (const auto& m : modes) {
    service.ResetConsole();
    // The letter alone changes nothing; text keeps the reset's bright attribute.
    Feed("\x1b"
         "0"s + m.letter + "x\x0ey\x0fz");
    EXPECT_EQ(buffer.GetCell(1, 1).Attr, TAttr::Bold) << m.letter;
    EXPECT_EQ(buffer.GetCell(1, 2).Attr, m.on) << m.letter;
    EXPECT_EQ(buffer.GetCell(1, 3).Attr, m.off) << m.letter;
    EXPECT_EQ(Row(1), "xyz") << m.letter;
  }

  // An unknown letter keeps the mode chosen before.
  service.ResetConsole();
  Feed("\x1b"
       "0Q\x1b"
       "0Z\x0ex\x1b"
       "0\x0f");
  EXPECT_EQ(buffer.GetCell(1, 1).Attr, TAttr::Reverse);
  EXPECT_EQ(Row(1), "x");
  EXPECT_EQ(service.GetAttributeMode(), 5);
}

TEST_P(ConsoleInterpreterTest, AfterResetSoDimsAndSiBrightens) {
  Feed("a\x0e" "b\x0f" "c");
  EXPECT_EQ(buffer.GetCell(1, 1).Attr, TAttr::Bold);
  EXPECT_EQ(buffer.GetCell(1, 2).Attr, 0);
  EXPECT_EQ(buffer.GetCell(1, 3).Attr, TAttr::Bold);
  // Erasing while dim leaves dim blanks.
  Feed("\x0e\x19");
  EXPECT_EQ(buffer.GetCell(1, 1).Attr, 0);
}

TEST_P(ConsoleInterpreterTest, TheScreenScrollsAtTheBottomRightCorner) {
  Feed("top" + At(24, 80) + "\x06");
  ExpectCursor(24, 1);
  EXPECT_EQ(Row(1), "");

  service.ResetConsole();
  Feed("top" + At(24, 80) + "xy");
  ExpectCursor(24, 2);
  EXPECT_EQ(Screen(), "23:" + std::string(79, ' ') + "x\n24:y\n");

  service.ResetConsole();
  Feed("top" + At(24, 1) + "\n");
  EXPECT_EQ(Screen(), "");
}

TEST_P(ConsoleInterpreterTest, EscapeLettersSetTheCursorShape) {
  Feed("\x1bP\x1bQ\x1bM");
  EXPECT_EQ(window.calls,
            (std::vector<std::string>{"cursor none", "cursor block", "cursor underline"}));
  EXPECT_EQ(Screen(), "");
}

TEST_P(ConsoleInterpreterTest, BellBeepsAndShowsNothing) {
  Feed("\x07\x07");
  EXPECT_EQ(window.beepCount, 2);
  EXPECT_EQ(Screen(), "");
  ExpectCursor(1, 1);
}

TEST_P(ConsoleInterpreterTest, ResetAbandonsAnySequenceAndRestoresTheConsole) {
  const std::string unfinished[] = {"\x1b", "\x1b" "0", "\x1bY", "\x1bY\x28", "\x10",
                                    "\x10\x11"};
  for (const auto& prefix : unfinished) {
    Feed("\x1b" "0Q\x0ejunk\x1bP");
    Feed(prefix);
    window.statusText = "Document waits for printing";
    window.calls.clear();
    service.ResetConsole();
    EXPECT_EQ(window.calls, (std::vector<std::string>{"remove select", "cursor underline",
                                                      "status "}));
    EXPECT_EQ(service.GetState(), TBoardService::Console);
    EXPECT_EQ(service.GetAttributeMode(), 1);
    EXPECT_EQ(Screen(), "");
    Feed("x\x0ey");
    EXPECT_EQ(Row(1), "xy");
    EXPECT_EQ(buffer.GetCell(1, 1).Attr, TAttr::Bold);
    EXPECT_EQ(buffer.GetCell(1, 2).Attr, 0);
  }
}

TEST_P(ConsoleInterpreterTest, FormFeedKeepsThePageInTheHistoryAndClearTerminalDropsIt) {
  Feed("first page\r\nsecond row\x0cnext page");
  EXPECT_EQ(Screen(), "1:next page\n");
  ExpectCursor(1, 10);
  ASSERT_EQ(buffer.RowsAbove(), 2);
  EXPECT_EQ(Row(-1), "first page");
  EXPECT_EQ(Row(0), "second row");
  service.ResetConsole();  // Clear Terminal
  EXPECT_EQ(buffer.RowsAbove(), 0);
  EXPECT_EQ(Screen(), "");
}

INSTANTIATE_TEST_SUITE_P(Bursts, ConsoleInterpreterTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PaintedBetweenBytes"
                                                                  : "OneBurst"; });

}  // namespace
}  // namespace mirte
