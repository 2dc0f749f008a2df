// Bytes per second through ProcessBoardByte into the terminal buffer, for the three kinds of
// board output that matter: running text, full-screen redraws, and streams of one-byte
// cursor moves. The serial line brings about 10 KB/s; the goal is 50 MB/s for the first
// two on one core, so the console never holds the line back.
#include <benchmark/benchmark.h>

#include <string>

#include "board/board_service.h"
#include "terminal/terminal_buffer.h"

namespace {

using namespace mirte;

class QuietWindow : public IBoardWindow {
public:
  TShellFlags& Flags() override { return flags_; }
  int Language() const override { return 2; }
  void SetCursorShape(TCursorType) override {}
  void RemoveSelect() override {}
  void Beep() override {}
  std::string StatusText() const override { return {}; }
  void SetStatusText(std::string_view) override {}
  void RestartDeSelectTimer() override {}
  void SetPrintJobOpen(bool) override {}
  void WaitForPortNews() override {}
  void ProcessPendingEvents() override {}

private:
  TShellFlags flags_;
};

// The terminal window only counts: the buffer tells it once per drained change.
class CountingTerminal : public ITerminalNotify {
public:
  void CellsChanged() override { ++changes; }
  long changes = 0;
};

constexpr std::size_t kStreamSize = 64 * 1024;

std::string Repeat(const std::string& piece) {
  std::string stream;
  while (stream.size() < kStreamSize) stream += piece;
  return stream;
}

std::string PlainText() {
  std::string page;
  for (int line = 0; line < 30; ++line) {
    for (int col = 0; col < 72; ++col) page += char('!' + (line * 7 + col) % 90);
    page += "\r\n";
  }
  return Repeat(page);
}

// Every row addressed with ESC Y, a highlighted field between SO and SI, then plain text
// and an erase to the end of the row: what a board's full-screen form sends.
std::string ScreenRedraws() {
  std::string screen = "\x0c";
  for (int row = 1; row <= 24; ++row) {
    screen += "\x1bY";
    screen += char(row + 31);
    screen += char(32);
    screen += "\x1b" "0";
    screen += row % 2 ? 'Q' : 'a';
    screen += "\x0e";
    screen += "FIELD " + std::to_string(row) + ":    ";
    screen += "\x0f";
    for (int col = 0; col < 50; ++col) screen += char('a' + (row + col) % 26);
    screen += "\x1bK";
  }
  return Repeat(screen);
}

// ACK, BS, SUB, LF, CR and SOH: every byte moves the cursor and nothing is written.
std::string CursorMoves() { return Repeat("\x06\x06\x06\x08\x0a\x1a\x06\x0a\x0d\x06\x01"); }

// historyRows: the rows kept when they scroll off the screen (each costs one row copy).
void Run(benchmark::State& state, const std::string& stream,
         int historyRows = TTerminalHistory::kDefaultCapacity) {
  TTerminalBuffer buffer;
  buffer.tbSetSVRowCount(24);
  buffer.SetHistoryCapacity(historyRows);
  CountingTerminal terminal;
  buffer.SetWindowHandle(&terminal);
  QuietWindow window;
  TBoardService service(buffer, window);
  service.ResetConsole();
  TInvalidRect painted;
  for (auto _ : state) {
    for (char byte : stream) service.ProcessBoardByte(std::uint8_t(byte));
    buffer.GetInvalidRect(painted);
    benchmark::DoNotOptimize(painted);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(stream.size()));
}

void BM_PlainTextWithCrLf(benchmark::State& state) { Run(state, PlainText()); }
void BM_PlainTextWithCrLfNoHistory(benchmark::State& state) { Run(state, PlainText(), 0); }
void BM_FullScreenRedraw(benchmark::State& state) { Run(state, ScreenRedraws()); }
void BM_SingleByteCursorMoves(benchmark::State& state) { Run(state, CursorMoves()); }

BENCHMARK(BM_PlainTextWithCrLf);
BENCHMARK(BM_PlainTextWithCrLfNoHistory);
BENCHMARK(BM_FullScreenRedraw);
BENCHMARK(BM_SingleByteCursorMoves);

}  // namespace

BENCHMARK_MAIN();
