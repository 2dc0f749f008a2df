// Offscreen timings of the terminal window. Goals: a full repaint of the 24 x 80 screen in
// under 2 ms (also when every row is new), and console text processed and painted at over 5 MB/s when it arrives in
// 256-byte chunks (the handling of every change notification included).
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <string>

#include "terminal/terminal_emulator.h"
#include "terminal/terminal_widget.h"

namespace mirte {
namespace {

// Owns the terminal set up as the main window sets it up, shown offscreen.
struct Screen {
  Screen() {
    term.SetEmulator(&emulator);
    term.SetFont(QFont("Courier New", 10));
    term.SetColor(0x800000);
    term.SetFontColor(0xC0C0C0);
    term.SetUseLazyDisplay(false);
    term.SetScrollbackRows(24);
    term.SetCaretBlinkTime(0);
    term.resize(term.sizeHint());
    term.show();
    Settle();
  }
  void Settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
  }
  // Every row full of text, with attribute changes every few words so each row has runs.
  void FillMixed() {
    TTerminalBuffer& buffer = emulator.Buffer();
    const std::uint8_t attrs[] = {0x00, 0x01, 0x02, 0x10, 0x00, 0x04, 0x11, 0x00};
    for (int row = 1; row <= 24; ++row) {
      buffer.GotoRowCol(row, 1);
      for (int col = 0; col < 80; ++col) {
        if (col % 10 == 0) buffer.SetCurrentAttributes(attrs[(row + col / 10) % 8]);
        buffer.PutChar(std::uint8_t(col % 10 == 9 ? ' ' : 'A' + (row * 7 + col) % 26));
      }
    }
    buffer.SetCurrentAttributes(0);
    buffer.GotoRowCol(1, 1);
    Settle();
  }

  TTTYEmulator emulator;
  TTerminal term;
};

void BM_FullRepaintIntoCanvas(benchmark::State& state) {
  Screen screen;
  screen.FillMixed();
  QImage canvas(screen.term.TextArea().size(), QImage::Format_RGB32);
  const QRect all(QPoint(0, 0), canvas.size());
  for (auto _ : state) {
    QPainter painter(&canvas);
    screen.emulator.Paint(painter, all);
  }
}
BENCHMARK(BM_FullRepaintIntoCanvas)->Unit(benchmark::kMicrosecond);

// Streaming text: every row holds text the screen has not shown before, so no row image
// can be reused and each row is built afresh.
void BM_NewRowsIntoCanvas(benchmark::State& state) {
  Screen screen;
  QImage canvas(screen.term.TextArea().size(), QImage::Format_RGB32);
  const QRect all(QPoint(0, 0), canvas.size());
  TTerminalBuffer& buffer = screen.emulator.Buffer();
  long serial = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int row = 1; row <= 24; ++row) {
      std::string text = std::to_string(++serial) + " The quick brown fox jumps over the lazy dog";
      text.resize(79, '.');
      buffer.GotoRowCol(row, 1);
      for (char c : text) buffer.PutChar(std::uint8_t(c));
    }
    state.ResumeTiming();
    QPainter painter(&canvas);
    screen.emulator.Paint(painter, all);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 24);
}
BENCHMARK(BM_NewRowsIntoCanvas)->Unit(benchmark::kMicrosecond);

void BM_FullRepaintOfTheWindow(benchmark::State& state) {
  Screen screen;
  screen.FillMixed();
  for (auto _ : state) screen.term.repaint();
}
BENCHMARK(BM_FullRepaintOfTheWindow)->Unit(benchmark::kMicrosecond);

void BM_Burst64KIn256ByteChunks(benchmark::State& state) {
  Screen screen;
  std::string burst;
  for (int line = 0; burst.size() < 64 * 1024; ++line) {
    std::string text = "A> " + std::to_string(line) + " The quick brown fox jumps over the lazy dog";
    text.resize(78, '.');
    burst += text + "\r\n";
  }
  burst.resize(64 * 1024);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(burst.data());
  for (auto _ : state) {
    for (std::size_t at = 0; at < burst.size(); at += 256) {
      screen.emulator.ProcessBlock(bytes + at, 256, false);
      screen.Settle();
    }
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(burst.size()));
}
BENCHMARK(BM_Burst64KIn256ByteChunks)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mirte

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
