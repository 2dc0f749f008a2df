// The TTY emulator: what it does with received bytes and typed characters, how it pairs
// with terminal windows, and the shapes it draws for line and block characters.
#include <QApplication>
#include <QPainter>
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "terminal/terminal_emulator.h"
#include "terminal/terminal_widget.h"
#include "support/qt_test_app.h"

namespace mirte {
namespace {

QApplication& App() { return mirte::testing::TestApp(); }

std::string RowText(const TTerminalBuffer& buffer, int row, int length) {
  const auto chars = buffer.GetCharRow(row);
  return std::string(chars.begin(), chars.begin() + length);
}

class TTYEmulatorTest : public ::testing::Test {
protected:
  void SetUp() override {
    App();
    term.SetEmulator(&emulator);
  }
  void Feed(const std::string& bytes) {
    emulator.ProcessBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                          false);
  }

  QApplication& app = App();  // before any widget
  TTTYEmulator emulator;
  TTerminal term;
};

TEST_F(TTYEmulatorTest, ActsOnTheTeletypeControlsAndShowsEveryOtherByte) {
  const struct {
    const char* name;
    std::string bytes;
    std::string row1;
    std::string row2;
    int cursorCol;
  } cases[] = {
      {"plain text", "abc", "abc  ", "     ", 4},
      {"CR LF", "ab\r\ncd", "ab   ", "cd   ", 3},
      {"backspace overwrites", "abc\bX", "abX  ", "     ", 4},
      {"backspace stops at column 1", "\b\bq", "q    ", "     ", 2},
      {"tab to the next stop", "a\tb", "a       b", "         ", 10},
      {"other controls are ignored", "a\x01\x1b\x0c" "b", "ab   ", "     ", 3},
      {"high bytes and DEL are characters", "\x7f\xdb\xc9", "\x7f\xdb\xc9  ", "     ", 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    emulator.ClearAll();
    Feed(c.bytes);
    EXPECT_EQ(RowText(emulator.Buffer(), 1, int(c.row1.size())), c.row1);
    EXPECT_EQ(RowText(emulator.Buffer(), 2, int(c.row2.size())), c.row2);
    EXPECT_EQ(emulator.Buffer().GetCursorCol(), c.cursorCol);
  }
}

TEST_F(TTYEmulatorTest, ProcessCharHandlerCanQueueCommandsAndRewriteTheText) {
  emulator.OnProcessChar = [](TTerminalEmulator&, std::uint8_t byte, bool, TCommandList& commands,
                              std::string& text) {
    if (byte == '!') {
      commands.push_back([](TTerminalBuffer& buffer) { buffer.GotoRowCol(3, 5); });
      text = "<>";
    }
  };
  Feed("a!b");
  EXPECT_EQ(RowText(emulator.Buffer(), 1, 2), "a ");
  EXPECT_EQ(RowText(emulator.Buffer(), 3, 7), "    <>b");
}

TEST_F(TTYEmulatorTest, SendsTypedCharactersOnlyThroughAnOpenPort) {
  struct Port : ITerminalPort {
    bool Open() const override { return open; }
    void WriteChar(std::uint8_t ch) override { sent.push_back(char(ch)); }
    bool open = false;
    std::string sent;
  } port;
  std::uint8_t ch = 'x';
  emulator.KeyPress(ch);  // no port: nothing, and no failure
  term.SetComPort(&port);
  emulator.KeyPress(ch);
  EXPECT_EQ(port.sent, "");
  port.open = true;
  ch = 8;
  emulator.KeyPress(ch);
  emulator.SendChar('y', true);
  EXPECT_EQ(port.sent, "\x7fy");
  EXPECT_EQ(RowText(emulator.Buffer(), 1, 1), " ");  // full duplex: the board echoes

  TTTYEmulator alone;
  alone.SendChar('z', true);  // without a window nothing happens
  EXPECT_EQ(port.sent, "\x7fy");
}

TEST_F(TTYEmulatorTest, PairsOneEmulatorWithOneWindow) {
  EXPECT_EQ(term.Emulator(), &emulator);
  EXPECT_EQ(emulator.Terminal(), &term);
  EXPECT_EQ(&term.Buffer(), &emulator.Buffer());

  TTerminal other;
  emulator.SetTerminal(&other);
  EXPECT_EQ(other.Emulator(), &emulator);
  EXPECT_NE(term.Emulator(), &emulator);  // the first window went back to its own
  EXPECT_TRUE(term.Emulator()->Internal());

  {
    TTTYEmulator shortLived;
    other.SetEmulator(&shortLived);
    EXPECT_EQ(emulator.Terminal(), nullptr);
  }
  ASSERT_NE(other.Emulator(), nullptr);
  EXPECT_TRUE(other.Emulator()->Internal());
  other.Buffer().PutChar('k');  // the window still works with its own buffer

  auto window = std::make_unique<TTerminal>();
  emulator.SetTerminal(window.get());
  window.reset();
  EXPECT_EQ(emulator.Terminal(), nullptr);
  emulator.Buffer().PutChar('q');  // nobody left to notify
}

TEST_F(TTYEmulatorTest, PaintsNothingWithoutAWindow) {
  TTTYEmulator alone;
  QImage canvas(40, 40, QImage::Format_RGB32);
  canvas.fill(Qt::magenta);
  QPainter painter(&canvas);
  alone.Paint(painter, QRect(0, 0, 40, 40));
  EXPECT_FALSE(alone.LazyPaint(painter));
  painter.end();
  EXPECT_EQ(canvas.pixel(5, 5), QColor(Qt::magenta).rgb());
  EXPECT_EQ(alone.PaintedRowCount(), 0);
}

// Line characters must join their neighbours: no gap at any cell edge, in any font size.
TEST_F(TTYEmulatorTest, LineCharactersJoinAcrossCellEdges) {
  term.SetColor(0x000000);
  term.SetFontColor(0xFFFFFF);
  for (const int points : {8, 10, 12, 16}) {
    SCOPED_TRACE(points);
    term.SetFontSize(points);
    term.resize(term.sizeHint());
    TTerminalBuffer& buffer = emulator.Buffer();
    buffer.ClearScreenHome();
    buffer.PutString("\xc4\xc4\xcd\xcd");  // ── ══
    buffer.GotoRowCol(2, 1);
    buffer.PutChar(0xb3);  // │ over │
    buffer.GotoRowCol(3, 1);
    buffer.PutChar(0xb3);
    QImage canvas(term.TextArea().size(), QImage::Format_RGB32);
    canvas.fill(Qt::magenta);
    QPainter painter(&canvas);
    emulator.Paint(painter, QRect(QPoint(0, 0), canvas.size()));
    painter.end();
    const int cw = term.CellWidth();
    const int ch = term.CellHeight();
    auto lit = [&](int x, int y) { return canvas.pixel(x, y) == qRgb(255, 255, 255); };
    int single = 0;
    while (single < ch && !lit(0, single)) ++single;
    ASSERT_LT(single, ch);
    for (int x = 0; x < 2 * cw; ++x) EXPECT_TRUE(lit(x, single)) << x;
    int tracks = 0;
    for (int y = 0; y < ch; ++y) tracks += lit(2 * cw, y) && !lit(2 * cw, y - 1 < 0 ? 0 : y - 1);
    EXPECT_EQ(tracks, 2);  // a double line is two strokes
    int column = 0;
    while (column < cw && !lit(column, ch + 1)) ++column;
    ASSERT_LT(column, cw);
    for (int y = ch; y < 3 * ch; ++y) EXPECT_TRUE(lit(column, y)) << y;
  }
}

}  // namespace
}  // namespace mirte
