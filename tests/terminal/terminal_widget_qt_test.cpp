// The terminal window as the main window uses it: rendered pixels, damage-only repaints,
// the caret, mouse selection with copying, and the order in which keys reach the owner.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "terminal/terminal_emulator.h"
#include "terminal/terminal_widget.h"
#include "support/qt_test_app.h"

namespace mirte {
namespace {

constexpr TColor kNavy = 0x800000;    // 0x00BBGGRR
constexpr TColor kSilver = 0xC0C0C0;
constexpr TColor kWhite = 0xFFFFFF;
constexpr TColor kBlack = 0x000000;
constexpr TColor kGreen = 0x00FF00;
constexpr std::uint8_t kFullBlock = 0xDB;

QApplication& App() { return mirte::testing::TestApp(); }

TColor Rgb(QRgb pixel) {
  return TColor(qRed(pixel)) | TColor(qGreen(pixel)) << 8 | TColor(qBlue(pixel)) << 16;
}

// A terminal set up as the main window sets up its own, shown on the offscreen platform.
class TerminalWidgetTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    term.SetFont(QFont("Courier New", 10));
    term.SetColor(kNavy);
    term.SetFontColor(kSilver);
    term.SetUseLazyDisplay(false);
    term.SetAutoCopy(false);
    term.SetScrollbackRows(24);
    term.SetCursorType(TCursorType::ctUnderline);
    term.SetCaretBlinkTime(0);
    term.SetRepaintInterval(0);  // every write painted at the next event-loop pass
    term.OnKeyDown = [this](int& key, Qt::KeyboardModifiers shift) {
      keyDowns.push_back({key, shift});
    };
    term.OnKeyPress = [this](std::uint8_t& ch) {
      chars.push_back(char(ch));
      ch = 0;  // the owner sends typed characters to the board and consumes them
    };
    term.resize(term.sizeHint());
    term.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&term));
    Flush();
    QGuiApplication::clipboard()->clear();
  }

  TTerminalBuffer& Buffer() { return term.Buffer(); }
  TTTYEmulator& Emulator() { return static_cast<TTTYEmulator&>(*term.Emulator()); }

  void Flush() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
    }
  }

  void Write(int row, int col, const std::string& bytes, std::uint8_t attr = 0) {
    Buffer().GotoRowCol(row, col);
    Buffer().SetCurrentAttributes(attr);
    Buffer().PutString(bytes);
    Buffer().SetCurrentAttributes(0);
    Flush();
  }

  QImage Grab() { return term.grab().toImage(); }

  // Pixel (dx, dy) of a 1-based cell, in the widget's image.
  TColor CellPixel(const QImage& image, int col, int row, int dx, int dy) {
    const QPoint origin = term.ClientRect().topLeft();
    return Rgb(image.pixel(origin.x() + (col - 1) * term.CellWidth() + dx,
                           origin.y() + (row - 1) * term.CellHeight() + dy));
  }
  TColor CellCentre(const QImage& image, int col, int row) {
    return CellPixel(image, col, row, term.CellWidth() / 2, term.CellHeight() / 2);
  }

  QPoint CellPoint(int col, int row) {
    return term.ClientRect().topLeft() +
           QPoint((col - 1) * term.CellWidth() + term.CellWidth() / 2,
                  (row - 1) * term.CellHeight() + term.CellHeight() / 2);
  }
  void Mouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), QPointF(term.mapToGlobal(at)), Qt::LeftButton, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(&term, &event);
  }
  void Drag(QPoint from, QPoint to) {
    Mouse(QEvent::MouseButtonPress, CellPoint(from.x(), from.y()), Qt::LeftButton);
    Mouse(QEvent::MouseMove, CellPoint(to.x(), to.y()), Qt::LeftButton);
    Mouse(QEvent::MouseButtonRelease, CellPoint(to.x(), to.y()), Qt::NoButton);
    Flush();
  }
  void Key(int key, Qt::KeyboardModifiers mods, const QString& text = {}) {
    QKeyEvent event(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(&term, &event);
  }
  void Focus() {
    term.activateWindow();
    term.setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&term));
    Flush();
  }

  struct KeyDown {
    int Key;
    Qt::KeyboardModifiers Shift;
  };
  QApplication& app = App();  // before any widget
  TTerminal term;
  std::vector<KeyDown> keyDowns;
  std::string chars;
};

TEST_F(TerminalWidgetTest, CellSizeComesFromTheFontAndFramesTheBuffer) {
  EXPECT_EQ(term.PaintFont().family(), "Liberation Mono");
  for (const int points : {8, 10, 12, 16}) {
    term.SetFontSize(points);
    const QFontMetrics metrics(term.PaintFont());
    EXPECT_EQ(term.CellWidth(), metrics.maxWidth()) << points;
    EXPECT_EQ(term.CellHeight(), metrics.height() + metrics.leading()) << points;
    term.resize(term.sizeHint());
    EXPECT_EQ(term.TextArea().size(), QSize(80 * term.CellWidth(), 24 * term.CellHeight()));
  }
  term.SetFontSize(16);
  term.SetFontSize(8);
  EXPECT_LT(term.CellWidth(), 8);
}

struct AttributeCase {
  const char* name;
  std::uint8_t attr;
  TColor textColor;  // the window's font colour
  TColor backColor;  // the window's colour
  TColor glyph;      // what a full-block character shows
  TColor background; // what a blank shows
};

TEST_F(TerminalWidgetTest, DrawsEachAttributeModeInItsColours) {
  const AttributeCase cases[] = {
      {"plain", 0, kSilver, kNavy, kSilver, kNavy},
      {"bold silver", TAttr::Bold, kSilver, kNavy, kWhite, kNavy},
      {"bold navy", TAttr::Bold, kNavy, kBlack, 0xFF8080, kBlack},
      {"reverse", TAttr::Reverse, kSilver, kNavy, kNavy, kSilver},
      {"selected", TAttr::Selected, kSilver, kNavy, kNavy, kSilver},
      {"reverse and selected", TAttr::Reverse | TAttr::Selected, kSilver, kNavy, kSilver, kNavy},
      {"bold reverse brightens the background", TAttr::Bold | TAttr::Reverse, kSilver, kNavy,
       kNavy, kWhite},
      {"invisible", TAttr::Invisible, kSilver, kNavy, kNavy, kNavy},
      {"invisible reverse", TAttr::Invisible | TAttr::Reverse, kSilver, kNavy, kSilver, kSilver},
      {"blink is not drawn", TAttr::Blink, kSilver, kNavy, kSilver, kNavy},
  };
  for (const AttributeCase& c : cases) {
    SCOPED_TRACE(c.name);
    term.SetFontColor(c.textColor);
    term.SetColor(c.backColor);
    Flush();
    Write(3, 10, std::string(1, char(kFullBlock)) + " ", c.attr);
    const QImage image = Grab();
    EXPECT_EQ(CellCentre(image, 10, 3), c.glyph);
    EXPECT_EQ(CellCentre(image, 11, 3), c.background);
  }
}

TEST_F(TerminalWidgetTest, UnderlineAndStrikeThroughAreLinesInTheTextColour) {
  Write(2, 1, "  ", TAttr::Underline);
  Write(2, 3, "  ", TAttr::Strikethrough);
  Write(2, 5, "  ", TAttr::Underline | TAttr::Invisible);
  const QImage image = Grab();
  const int ch = term.CellHeight();
  for (int dx = 0; dx < term.CellWidth(); ++dx) {
    EXPECT_EQ(CellPixel(image, 2, 2, dx, ch - 2), kSilver) << dx;
    EXPECT_EQ(CellPixel(image, 2, 2, dx, ch - 3), kNavy) << dx;
    EXPECT_EQ(CellPixel(image, 4, 2, dx, ch / 2), kSilver) << dx;
    EXPECT_EQ(CellPixel(image, 6, 2, dx, ch - 2), kNavy) << dx;  // invisible hides it too
  }
}

TEST_F(TerminalWidgetTest, ColourChangeRecoloursOnlyDefaultColouredCells) {
  Write(1, 1, "A");
  Buffer().SetCurrentBackColor(kGreen);
  Write(1, 2, "B");
  Buffer().SetCurrentBackColor(kNavy);
  Flush();
  term.SetColor(kBlack);
  Flush();
  QImage image = Grab();
  EXPECT_EQ(CellPixel(image, 1, 1, 0, 0), kBlack);
  EXPECT_EQ(CellPixel(image, 2, 1, 0, 0), kGreen);
  EXPECT_EQ(CellPixel(image, 40, 20, 0, 0), kBlack);
  // The margin right of the cells follows the window's colour as well.
  const QRect client = term.ClientRect();
  term.resize(term.width() + 7, term.height());
  Flush();
  image = Grab();
  EXPECT_EQ(Rgb(image.pixel(term.ClientRect().right() - 1, client.top() + 3)), kBlack);
}

TEST_F(TerminalWidgetTest, RepaintsOnlyTheChangedRowsAfterAWrite) {
  term.clearFocus();  // a caret moving between rows would repaint the cells it leaves
  Flush();
  const long before = Emulator().PaintedRowCount();
  Write(5, 10, "hello");
  EXPECT_EQ(Emulator().PaintedRowCount() - before, 1);
  // Two changes between paints come back merged: the rows between them are painted too.
  const long middle = Emulator().PaintedRowCount();
  Buffer().GotoRowCol(7, 1);
  Buffer().PutChar('x');
  Buffer().GotoRowCol(9, 1);
  Buffer().PutChar('y');
  Flush();
  EXPECT_EQ(Emulator().PaintedRowCount() - middle, 3);
}

TEST_F(TerminalWidgetTest, StreamOfChangesIsPaintedAtMostOncePerInterval) {
  term.clearFocus();
  term.SetRepaintInterval(300);
  QTest::qWait(320);
  Write(1, 1, "a");  // after a quiet spell: painted at once
  const long first = Emulator().PaintedRowCount();
  Write(3, 1, "b");
  Write(5, 1, "c");
  EXPECT_EQ(Emulator().PaintedRowCount(), first);  // waiting for the interval to end
  QTest::qWait(400);
  Flush();
  EXPECT_EQ(Emulator().PaintedRowCount() - first, 3);  // rows 3 to 5 in one paint
}

TEST_F(TerminalWidgetTest, RowsRepaintedAfterScrollsLookAsIfDrawnAfresh) {
  term.clearFocus();  // no caret over the cells
  // Lines with attributes and box glyphs scroll past several times; rows coming back with
  // the same bytes but other attributes must not be shown as they looked before.
  for (int line = 0; line < 60; ++line) {
    const std::uint8_t attrs[] = {0, TAttr::Bold, TAttr::Underline | TAttr::Reverse, 0};
    Buffer().SetCurrentAttributes(attrs[line % 4]);
    Buffer().PutString("line " + std::to_string(line % 7) + " \xC9\xCD\xBB text");
    Buffer().SetCurrentAttributes(0);
    Buffer().CarriageReturn();
    Buffer().LineFeed();
    if (line % 5 == 0) Flush();
  }
  Flush();
  const QImage shown = Grab();

  // Drawn directly, one column short of whole rows.
  const QRect area = term.TextArea();
  QImage fresh(area.size(), QImage::Format_RGB32);
  fresh.fill(Qt::magenta);
  {
    QPainter painter(&fresh);
    Emulator().Paint(painter, QRect(0, 0, area.width() - term.CellWidth(), area.height()));
  }
  const QPoint origin = term.ClientRect().topLeft();
  for (int y = 0; y < area.height(); ++y) {
    for (int x = 0; x < area.width() - term.CellWidth(); ++x) {
      ASSERT_EQ(Rgb(shown.pixel(origin + QPoint(x, y))), Rgb(fresh.pixel(x, y)))
          << "pixel " << x << "," << y << " in row " << (y / term.CellHeight() + 1);
    }
  }
}

// Streaming text scrolls the screen with nearly every burst: the window moves the pixels it
// has instead of painting every row again, and shows exactly what a fresh paint shows, the
// caret included.
TEST_F(TerminalWidgetTest, ScrolledTextIsMovedNotRepaintedAndLooksDrawnAfresh) {
  Focus();
  term.SetCursorType(TCursorType::ctBlock);
  auto writeLines = [&](int count, const std::string& text) {
    for (int line = 0; line < count; ++line) {
      Buffer().PutString(text + std::to_string(line) + " \xC9\xCD\xBB");
      Buffer().CarriageReturn();
      Buffer().LineFeed();
    }
    Flush();
  };
  // What the window holds, against the whole window painted again.
  auto expectHeldAsFresh = [&] {
    const QImage held = QGuiApplication::primaryScreen()->grabWindow(term.winId()).toImage();
    const QImage fresh = Grab();
    ASSERT_EQ(held.size(), fresh.size());
    for (int y = 0; y < fresh.height(); ++y) {
      for (int x = 0; x < fresh.width(); ++x) {
        ASSERT_EQ(Rgb(held.pixel(x, y)), Rgb(fresh.pixel(x, y))) << "pixel " << x << "," << y;
      }
    }
  };
  writeLines(30, "line ");
  for (int lines : {1, 3, 23, 24, 40}) {
    SCOPED_TRACE(lines);
    const long before = Emulator().PaintedRowCount();
    writeLines(lines, "more " + std::to_string(lines) + " ");
    // The rows written and the blank one the last line feed brought in.
    EXPECT_LE(Emulator().PaintedRowCount() - before, std::min(lines + 1, 24));
    expectHeldAsFresh();
  }
  // A line feed on the blank bottom row, then a jump away: the caret moved up with the
  // pixels over a row that did not change.
  Buffer().LineFeed();
  Buffer().GotoRowCol(5, 5);
  Flush();
  expectHeldAsFresh();
}

TEST_F(TerminalWidgetTest, HalfCellClipPaintsTheWholeCell) {
  QImage canvas(term.TextArea().size(), QImage::Format_RGB32);
  canvas.fill(Qt::magenta);
  Buffer().GotoRowCol(1, 1);
  Buffer().PutChar(kFullBlock);
  {
    QPainter painter(&canvas);
    Emulator().Paint(painter, QRect(term.CellWidth() / 2, term.CellHeight() / 2, 1, 1));
  }
  for (int y = 0; y < term.CellHeight(); ++y) {
    for (int x = 0; x < term.CellWidth(); ++x) ASSERT_EQ(Rgb(canvas.pixel(x, y)), kSilver);
  }
  EXPECT_EQ(canvas.pixel(term.CellWidth(), 0), QColor(Qt::magenta).rgb());
  EXPECT_EQ(canvas.pixel(0, term.CellHeight()), QColor(Qt::magenta).rgb());
}

struct CaretCase {
  TCursorType type;
  int dy;
  int height;  // in cells' pixels; 0 = whole cell, -1 = no caret
};

TEST_F(TerminalWidgetTest, CaretTakesTheShapeOfTheCursorType) {
  Focus();
  Buffer().GotoRowCol(3, 10);
  Flush();
  const int cw = term.CellWidth();
  const int ch = term.CellHeight();
  const CaretCase cases[] = {
      {TCursorType::ctUnderline, ch - 2, 2},
      {TCursorType::ctBlock, 0, ch},
      {TCursorType::ctNone, 0, -1},
  };
  for (const CaretCase& c : cases) {
    SCOPED_TRACE(int(c.type));
    term.SetCursorType(c.type);
    Flush();
    const QImage image = Grab();
    if (c.height < 0) {
      EXPECT_TRUE(term.CaretRect().isEmpty());
      EXPECT_EQ(CellPixel(image, 10, 3, 0, ch - 1), kNavy);
      EXPECT_EQ(CellPixel(image, 10, 3, 0, 0), kNavy);
      continue;
    }
    EXPECT_EQ(term.CaretRect(), QRect(9 * cw, 2 * ch + c.dy, cw, c.height));
    // The caret inverts the cell's pixels (navy becomes 0x7FFFFF); outside it they stay.
    EXPECT_EQ(CellPixel(image, 10, 3, cw - 1, ch - 1), 0x7FFFFF);
    EXPECT_EQ(CellPixel(image, 10, 3, 0, c.dy), 0x7FFFFF);
    if (c.dy > 0) {
      EXPECT_EQ(CellPixel(image, 10, 3, 0, c.dy - 1), kNavy);
    }
    EXPECT_EQ(CellPixel(image, 11, 3, 0, ch - 1), kNavy);
  }
  // The caret follows the cursor and leaves nothing behind.
  term.SetCursorType(TCursorType::ctBlock);
  Buffer().GotoRowCol(4, 1);
  Flush();
  const QImage image = Grab();
  EXPECT_EQ(CellCentre(image, 10, 3), kNavy);
  EXPECT_EQ(CellCentre(image, 1, 4), 0x7FFFFF);
}

TEST_F(TerminalWidgetTest, CaretExistsOnlyWhileFocused) {
  term.clearFocus();
  EXPECT_TRUE(term.CaretRect().isEmpty());
  Focus();
  EXPECT_FALSE(term.CaretRect().isEmpty());
  QFocusEvent out(QEvent::FocusOut);
  QApplication::sendEvent(&term, &out);
  EXPECT_TRUE(term.CaretRect().isEmpty());
}

// Row 5 holds A..Z repeated, row 6 a..z repeated.
void FillSelectionRows(TTerminalBuffer& buffer) {
  std::string upper, lower;
  for (int i = 0; i < 80; ++i) {
    upper += char('A' + i % 26);
    lower += char('a' + i % 26);
  }
  buffer.GotoRowCol(5, 1);
  buffer.PutString(upper);
  buffer.GotoRowCol(6, 1);
  buffer.PutString(lower);
}

TEST_F(TerminalWidgetTest, DragSelectsWholeLinesInReadingOrderEitherWay) {
  FillSelectionRows(Buffer());
  const struct {
    QPoint from, to;
  } drags[] = {{{70, 5}, {3, 6}}, {{3, 6}, {70, 5}}};
  for (const auto& drag : drags) {
    SCOPED_TRACE(drag.from.x());
    Drag(drag.from, drag.to);
    ASSERT_TRUE(term.HasSelection());
    EXPECT_EQ(term.SelectionStart(), QPoint(70, 5));
    EXPECT_EQ(term.SelectionEnd(), QPoint(3, 6));
    const auto row5 = Buffer().GetAttrRow(5);
    const auto row6 = Buffer().GetAttrRow(6);
    EXPECT_EQ(row5[68] & TAttr::Selected, 0);
    EXPECT_NE(row5[69] & TAttr::Selected, 0);
    EXPECT_NE(row5[79] & TAttr::Selected, 0);
    EXPECT_NE(row6[2] & TAttr::Selected, 0);
    EXPECT_EQ(row6[3] & TAttr::Selected, 0);
    const QImage image = Grab();
    EXPECT_EQ(CellPixel(image, 80, 5, 0, 0), kSilver);  // selected: colours swapped
    EXPECT_EQ(CellPixel(image, 4, 6, 0, 0), kNavy);
    term.CopySelectedText();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "RSTUVWXYZAB\r\nabc\r\n");
    EXPECT_TRUE(term.HasSelection());  // copying keeps it
  }
  term.DropSelection();
  EXPECT_FALSE(term.HasSelection());
  for (const int row : {5, 6}) {
    for (const std::uint8_t attr : Buffer().GetAttrRow(row)) EXPECT_EQ(attr & TAttr::Selected, 0);
  }
  EXPECT_EQ(CellPixel(Grab(), 80, 5, 0, 0), kNavy);
}

TEST_F(TerminalWidgetTest, ShrinkingDragReleasesCellsAndKeepsTrailingBlanks) {
  Write(2, 1, "ab");
  Mouse(QEvent::MouseButtonPress, CellPoint(1, 2), Qt::LeftButton);
  Mouse(QEvent::MouseMove, CellPoint(10, 4), Qt::LeftButton);
  Mouse(QEvent::MouseMove, CellPoint(5, 2), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, CellPoint(5, 2), Qt::NoButton);
  EXPECT_EQ(term.SelectedText(), "ab   \r\n");
  for (const int row : {3, 4}) {
    for (const std::uint8_t attr : Buffer().GetAttrRow(row)) EXPECT_EQ(attr & TAttr::Selected, 0);
  }
}

TEST_F(TerminalWidgetTest, DroppingASelectionThatScrolledAwayLeavesNoCellSelected) {
  FillSelectionRows(Buffer());
  Drag({70, 5}, {3, 6});
  Buffer().GotoRowCol(24, 1);
  Buffer().LineFeed();
  Buffer().LineFeed();  // the selected cells are now on rows 3 and 4
  Flush();
  term.DropSelection();
  for (int row = 1; row <= 24; ++row) {
    for (const std::uint8_t attr : Buffer().GetAttrRow(row)) ASSERT_EQ(attr & TAttr::Selected, 0);
  }
  EXPECT_EQ(CellPixel(Grab(), 80, 3, 0, 0), kNavy);
}

TEST_F(TerminalWidgetTest, ClickWithoutMovementSelectsNothing) {
  int clicks = 0;
  term.OnClick = [&] { ++clicks; };
  FillSelectionRows(Buffer());
  Drag({70, 5}, {3, 6});
  ASSERT_TRUE(term.HasSelection());
  Mouse(QEvent::MouseButtonPress, CellPoint(10, 10), Qt::LeftButton);
  Mouse(QEvent::MouseButtonRelease, CellPoint(10, 10), Qt::NoButton);
  EXPECT_FALSE(term.HasSelection());  // the click also removed the old selection
  EXPECT_EQ(clicks, 2);
  for (int row = 1; row <= 24; ++row) {
    for (const std::uint8_t attr : Buffer().GetAttrRow(row)) ASSERT_EQ(attr & TAttr::Selected, 0);
  }
  term.CopySelectedText();
  EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
}

TEST_F(TerminalWidgetTest, EscapeOrLosingTheWindowDuringADragCancelsIt) {
  FillSelectionRows(Buffer());
  Mouse(QEvent::MouseButtonPress, CellPoint(1, 5), Qt::LeftButton);
  Mouse(QEvent::MouseMove, CellPoint(5, 5), Qt::LeftButton);
  Key(Qt::Key_Escape, Qt::NoModifier, "\x1b");
  EXPECT_FALSE(term.HasSelection());
  EXPECT_TRUE(keyDowns.empty());  // Esc went no further
  EXPECT_TRUE(chars.empty());
  Mouse(QEvent::MouseMove, CellPoint(9, 5), Qt::LeftButton);
  EXPECT_FALSE(term.HasSelection());  // the drag is over

  Mouse(QEvent::MouseButtonPress, CellPoint(1, 5), Qt::LeftButton);
  Mouse(QEvent::MouseMove, CellPoint(5, 5), Qt::LeftButton);
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(&term, &deactivate);
  EXPECT_FALSE(term.HasSelection());
  EXPECT_EQ(Buffer().GetAttrRow(5)[2] & TAttr::Selected, 0);
}

TEST_F(TerminalWidgetTest, CopyKeyCopiesOnlyWithASelection) {
  FillSelectionRows(Buffer());
  // No selection: Ctrl+C is an ordinary key and its character 0x03 reaches the owner,
  // whether or not the platform already turned the text into the control code.
  Key(Qt::Key_C, Qt::ControlModifier, "\x03");
  Key(Qt::Key_C, Qt::ControlModifier, "c");
  ASSERT_EQ(keyDowns.size(), 2u);
  EXPECT_EQ(keyDowns[0].Key, Qt::Key_C);
  EXPECT_EQ(keyDowns[0].Shift, Qt::ControlModifier);
  EXPECT_EQ(chars, "\x03\x03");

  Drag({1, 5}, {3, 5});
  keyDowns.clear();
  chars.clear();
  Key(Qt::Key_C, Qt::ControlModifier, "\x03");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "ABC\r\n");
  QGuiApplication::clipboard()->clear();
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "ABC\r\n");
  EXPECT_TRUE(keyDowns.empty());
  EXPECT_TRUE(chars.empty());

  // With Shift or Alt as well it is not the copy key.
  QGuiApplication::clipboard()->clear();
  Key(Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier, "\x03");
  EXPECT_TRUE(QGuiApplication::clipboard()->text().isEmpty());
  EXPECT_EQ(keyDowns.size(), 1u);
}

struct KeyCase {
  const char* name;
  int key;
  Qt::KeyboardModifiers mods;
  QString text;
  std::string chars;  // what reaches the owner's character handler
  int reported = 0;   // the key the owner sees, when it is not the key itself
};

TEST_F(TerminalWidgetTest, KeysReachTheOwnerKeyDownFirstThenAsCharacters) {
  const KeyCase cases[] = {
      {"letter", Qt::Key_A, Qt::NoModifier, "a", "a"},
      {"enter", Qt::Key_Return, Qt::NoModifier, "\r", "\r"},
      {"backspace", Qt::Key_Backspace, Qt::NoModifier, "\b", "\b"},
      {"tab", Qt::Key_Tab, Qt::NoModifier, "\t", "\t"},
      {"shift+tab", Qt::Key_Backtab, Qt::ShiftModifier, "\t", "\t", Qt::Key_Tab},
      {"escape", Qt::Key_Escape, Qt::NoModifier, "\x1b", "\x1b"},
      {"ctrl+z", Qt::Key_Z, Qt::ControlModifier, "", "\x1a"},
      {"left arrow", Qt::Key_Left, Qt::NoModifier, "", ""},
      {"delete", Qt::Key_Delete, Qt::NoModifier, "\x7f", ""},
      {"f1", Qt::Key_F1, Qt::NoModifier, "", ""},
      {"alt+x", Qt::Key_X, Qt::AltModifier, "x", ""},
      {"shift alone", Qt::Key_Shift, Qt::NoModifier, "", ""},
      {"e acute", Qt::Key_Eacute, Qt::NoModifier, QString(QChar(0xE9)), "\xE9"},
      {"euro sign", Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)), "\x80"},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    keyDowns.clear();
    chars.clear();
    Key(c.key, c.mods, c.text);
    ASSERT_EQ(keyDowns.size(), 1u);
    EXPECT_EQ(keyDowns[0].Key, c.reported != 0 ? c.reported : c.key);
    // Shift pressed alone counts as held, as the system reports it on its key-down.
    EXPECT_EQ(keyDowns[0].Shift, c.key == Qt::Key_Shift ? Qt::ShiftModifier : c.mods);
    EXPECT_EQ(chars, c.chars);
  }
  // Typed characters are the owner's business: nothing shows locally.
  EXPECT_EQ(Buffer().GetCharRow(1)[0], ' ');
}

TEST_F(TerminalWidgetTest, TabAndShortcutsStayWithTheTerminal) {
  Focus();
  QWidget* focused = QApplication::focusWidget();
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, "\t");
  QApplication::sendEvent(&term, &tab);
  EXPECT_EQ(QApplication::focusWidget(), focused);
  ASSERT_EQ(keyDowns.size(), 1u);
  EXPECT_EQ(keyDowns[0].Key, Qt::Key_Tab);
  QKeyEvent shortcut(QEvent::ShortcutOverride, Qt::Key_C, Qt::ControlModifier);
  shortcut.ignore();
  QApplication::sendEvent(&term, &shortcut);
  EXPECT_TRUE(shortcut.isAccepted());
}

TEST_F(TerminalWidgetTest, OwnerLeavingACharacterHandsItToTheEmulator) {
  struct Port : ITerminalPort {
    bool Open() const override { return true; }
    void WriteChar(std::uint8_t ch) override { sent.push_back(char(ch)); }
    std::string sent;
  } port;
  term.SetComPort(&port);
  term.SetHalfDuplex(true);
  term.OnKeyPress = nullptr;
  Key(Qt::Key_A, Qt::NoModifier, "a");
  Key(Qt::Key_Backspace, Qt::NoModifier, "\b");
  EXPECT_EQ(port.sent, "a\x7f");
  EXPECT_EQ(Buffer().GetCharRow(1)[0], 'a');  // echoed locally
}

}  // namespace
}  // namespace mirte

namespace mirte {
namespace {

// --- History view -------------------------------------------------------------------------

TColor LineColour(int n) { return TColor(n) << 8; }  // a green of its own for each line

// Lines 1 .. count, each a full row of blanks in its own colour, as the board scrolls them.
void ColouredLines(TTerminalBuffer& buffer, int count) {
  for (int n = 1; n <= count; ++n) {
    buffer.SetCurrentBackColor(LineColour(n));
    buffer.PutString(std::string(80, ' '));
    buffer.SetCurrentBackColor(kNavy);
    buffer.CarriageReturn();
    buffer.LineFeed();
  }
}

TEST_F(TerminalWidgetTest, HistoryViewShowsOlderRowsUntilAKeyReturnsToLive) {
  ColouredLines(Buffer(), 100);  // lines 1 .. 77 scrolled into the history
  Flush();
  EXPECT_TRUE(term.ViewIsLive());
  EXPECT_EQ(CellCentre(Grab(), 40, 1), LineColour(78));

  Key(Qt::Key_PageUp, Qt::ShiftModifier);
  EXPECT_EQ(term.ViewRowsBack(), 24);
  QWheelEvent wheel(QPointF(CellPoint(10, 10)), QPointF(term.mapToGlobal(CellPoint(10, 10))),
                    QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(&term, &wheel);
  EXPECT_EQ(term.ViewRowsBack(), 27);
  term.ScrollViewBy(-23);
  ASSERT_EQ(term.ViewRowsBack(), 50);
  EXPECT_TRUE(keyDowns.empty());  // paging the view sends nothing
  EXPECT_TRUE(chars.empty());
  Flush();

  QImage image = Grab();
  EXPECT_EQ(CellCentre(image, 40, 1), LineColour(28));
  EXPECT_EQ(CellCentre(image, 40, 24), LineColour(51));
  const QRect marker = term.ViewMarkerRect().translated(term.ClientRect().topLeft());
  ASSERT_FALSE(marker.isEmpty());
  EXPECT_EQ(Rgb(image.pixel(marker.topLeft() + QPoint(1, 1))), kSilver);

  Key(Qt::Key_PageDown, Qt::ShiftModifier);
  EXPECT_EQ(term.ViewRowsBack(), 26);
  Key(Qt::Key_A, Qt::NoModifier, "a");
  EXPECT_TRUE(term.ViewIsLive());
  EXPECT_EQ(chars, "a");
  Flush();
  image = Grab();
  EXPECT_EQ(CellCentre(image, 40, 1), LineColour(78));
  EXPECT_EQ(Rgb(image.pixel(marker.topLeft() + QPoint(1, 1))), LineColour(78));
}

TEST_F(TerminalWidgetTest, HistoryViewStopsAtBothEndsAndBoardOutputReturnsIt) {
  ColouredLines(Buffer(), 30);
  term.ScrollViewBy(-1000);
  EXPECT_EQ(term.ViewRowsBack(), 7);
  term.ScrollViewBy(1000);
  EXPECT_TRUE(term.ViewIsLive());
  term.ScrollViewBy(-5);
  Buffer().PutChar('x');
  EXPECT_TRUE(term.ViewIsLive());
  term.ScrollViewBy(-5);
  Buffer().ResetBuffer();  // a cleared terminal has no history to show
  Flush();
  EXPECT_TRUE(term.ViewIsLive());
  term.ScrollViewBy(-5);
  EXPECT_TRUE(term.ViewIsLive());
}

TEST_F(TerminalWidgetTest, SelectionSpansHistoryAndScreenAndStaysOnItsText) {
  for (int n = 1; n <= 30; ++n) {
    Buffer().PutString("line " + std::to_string(n));
    Buffer().CarriageReturn();
    Buffer().LineFeed();
  }
  term.ScrollViewBy(-2);  // view rows 1 .. 3 show lines 6, 7 (history) and 8 (screen)
  Flush();
  Drag({1, 1}, {6, 3});
  ASSERT_TRUE(term.HasSelection());
  EXPECT_EQ(term.SelectionStart(), QPoint(1, -1));
  EXPECT_EQ(term.SelectionEnd(), QPoint(6, 1));
  const QString blanks(74, ' ');
  const QString expected = "line 6" + blanks + "\r\nline 7" + blanks + "\r\nline 8\r\n";
  EXPECT_EQ(term.SelectedText(), expected);
  EXPECT_EQ(CellPixel(Grab(), 70, 1, 0, 0), kSilver);  // a selected history cell

  Buffer().GotoRowCol(24, 1);
  Buffer().LineFeed();  // every row moves up one; the selection goes with its text
  EXPECT_EQ(term.SelectionStart(), QPoint(1, -2));
  EXPECT_EQ(term.SelectedText(), expected);
  term.DropSelection();
  for (int row = 1 - Buffer().RowsAbove(); row <= 24; ++row) {
    for (const std::uint8_t attr : Buffer().GetAttrRow(row)) ASSERT_EQ(attr & TAttr::Selected, 0);
  }
}

}  // namespace
}  // namespace mirte
