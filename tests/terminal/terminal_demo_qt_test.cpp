// Renders a demonstration screen (every attribute mode, line and block characters of the
// board's character set, a mouse selection) to terminal_demo.png in the build folder, so
// that a person can look at what the board's screen looks like.
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

#include "terminal/terminal_widget.h"
#include "support/qt_test_app.h"

namespace mirte {
namespace {

QApplication& App() { return mirte::testing::TestApp(); }

void Put(TTerminalBuffer& buffer, int row, int col, const std::string& text,
         std::uint8_t attr = 0) {
  buffer.GotoRowCol(row, col);
  buffer.SetCurrentAttributes(attr);
  buffer.PutString(text);
  buffer.SetCurrentAttributes(0);
}

std::string Repeat(char ch, int count) { return std::string(std::size_t(count), ch); }

void DrawDemoScreen(TTerminalBuffer& buffer) {
  // A double frame around the whole screen with a title bar.
  Put(buffer, 1, 1, "\xc9" + Repeat('\xcd', 78) + "\xbb");
  Put(buffer, 2, 1, "\xba");
  Put(buffer, 2, 3, " SOLVAX 3.1   drive N:   64 KB free ", 0x10);
  Put(buffer, 2, 80, "\xba");
  Put(buffer, 3, 1, "\xcc" + Repeat('\xcd', 78) + "\xb9");
  for (int row = 4; row <= 22; ++row) {
    Put(buffer, row, 1, "\xba");
    Put(buffer, row, 80, "\xba");
  }
  Put(buffer, 23, 1, "\xc8" + Repeat('\xcd', 78) + "\xbc");

  const struct {
    const char* label;
    std::uint8_t attr;
  } modes[] = {
      {"plain", 0x00},     {"bold", 0x01},      {"underline", 0x02}, {"strike", 0x04},
      {"reverse", 0x10},   {"bold+rev", 0x11},  {"under+bold", 0x03}, {"invisible", 0x20},
  };
  int row = 5;
  for (const auto& mode : modes) {
    Put(buffer, row, 3, mode.label);
    Put(buffer, row, 15, "The quick brown fox 0123456789", mode.attr);
    ++row;
  }

  // A single-line table with mixed joins, and the shades and blocks.
  Put(buffer, 5, 48, "\xda\xc4\xc4\xc4\xc4\xc4\xc2\xc4\xc4\xc4\xc4\xc4\xbf");
  Put(buffer, 6, 48, "\xb3 FILE\xb3 SIZE\xb3");
  Put(buffer, 7, 48, "\xc3\xc4\xc4\xc4\xc4\xc4\xc5\xc4\xc4\xc4\xc4\xc4\xb4");
  Put(buffer, 8, 48, "\xb3" "A.SVX\xb3  128\xb3");
  Put(buffer, 9, 48, "\xc0\xc4\xc4\xc4\xc4\xc4\xc1\xc4\xc4\xc4\xc4\xc4\xd9");
  Put(buffer, 5, 64, "\xd5\xcd\xd1\xcd\xb8 \xd6\xc4\xd2\xc4\xb7");
  Put(buffer, 6, 64, "\xc6\xcd\xd8\xcd\xb5 \xc7\xc4\xd7\xc4\xb6");
  Put(buffer, 7, 64, "\xd4\xcd\xcf\xcd\xbe \xd3\xc4\xd0\xc4\xbd");
  Put(buffer, 8, 64, "\xc9\xcd\xcb\xcd\xbb \xda\xc4\xc2\xc4\xbf");
  Put(buffer, 9, 64, "\xcc\xcd\xce\xcd\xb9 \xc3\xc4\xc5\xc4\xb4");
  Put(buffer, 10, 64, "\xc8\xcd\xca\xcd\xbc \xc0\xc4\xc1\xc4\xd9");
  Put(buffer, 11, 48, "\xb0\xb0\xb0\xb1\xb1\xb1\xb2\xb2\xb2\xdb\xdb\xdb \xdc\xdc\xdf\xdf \xdd\xde \xfe");

  Put(buffer, 14, 3, "Accents: \x85 \x8a \x97 \x82 \x87 \x81  Greek: \xe0\xe1\xe2\xe3\xe4  Maths: "
                     "\xf1\xf6\xfb\xfc\xfd\xf8  Symbols: \x01\x02\x03\x04\x05\x06\x0e\x0f");
  Put(buffer, 16, 3, "A>DIR");
  Put(buffer, 17, 3, "A: MIRTE    COM : ROMDISK  SVX : EPIX     BIN : TERMINAL CAP");
  Put(buffer, 18, 3, "A: README   TXT : SETUP    SVX : CONFIG   SYS");
  Put(buffer, 20, 3, "A>");
  buffer.GotoRowCol(20, 5);
}

TEST(TerminalDemo, RendersADemonstrationScreenToAPng) {
  App();
  for (const int points : {10, 16}) {
    TTerminal term;
    term.SetFont(QFont("Courier New", points));
    term.SetColor(0x800000);
    term.SetFontColor(0xC0C0C0);
    term.SetUseLazyDisplay(false);
    term.SetScrollbackRows(24);
    term.SetCursorType(TCursorType::ctUnderline);
    term.SetCaretBlinkTime(0);
    term.resize(term.sizeHint());
    term.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&term));
    DrawDemoScreen(term.Buffer());
    // Select from the middle of row 17 to the start of row 18 with the mouse.
    auto at = [&](int col, int row) {
      return QPointF(term.ClientRect().topLeft() +
                     QPoint((col - 1) * term.CellWidth() + 1, (row - 1) * term.CellHeight() + 1));
    };
    QMouseEvent press(QEvent::MouseButtonPress, at(24, 17), at(24, 17), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&term, &press);
    QMouseEvent move(QEvent::MouseMove, at(14, 18), at(14, 18), Qt::LeftButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&term, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, at(14, 18), at(14, 18), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&term, &release);
    term.setFocus();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const QImage image = term.grab().toImage();
    const QString name = QStringLiteral("terminal_demo_%1pt.png").arg(points);
    EXPECT_TRUE(image.save(name)) << name.toStdString();
    EXPECT_TRUE(term.HasSelection());
  }
}

}  // namespace
}  // namespace mirte
